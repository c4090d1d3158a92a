// Sizes for stress tests: sanitizers slow every access tenfold or more.
#pragma once
#include <cstdint>

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr uint32_t STRESS_SCALE = 20;
#else
constexpr uint32_t STRESS_SCALE = 1;
#endif
