// Sizes for stress tests: sanitizers slow every access tenfold or more.
#pragma once
#include <cstdint>

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr uint32_t STRESS_SCALE = 20;
#else
constexpr uint32_t STRESS_SCALE = 1;
#endif

// How much longer a timed expectation may take: the sanitizers slow the
// player and the toolkit threefold to tenfold.
#if defined(__SANITIZE_THREAD__)
constexpr int TIME_SCALE = 5;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int TIME_SCALE = 3;
#else
constexpr int TIME_SCALE = 1;
#endif
