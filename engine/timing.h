// Monotonic millisecond timer and the relative sleeps every engine thread polls with.
#pragma once
#include <cstdint>

// Relative sleep periods in 100 ns units (negative means relative).
constexpr int64_t SLEEP_1MS = -10000;
constexpr int64_t SLEEP_10MS = -100000;
constexpr int64_t SLEEP_30MS = -300000;

// CLOCK_MONOTONIC in milliseconds, wrapping like a 32-bit system tick counter.
uint32_t now_ms();

// Sleeps for |units| * 100 ns; negative and positive values both mean relative.
void delay_100ns(int64_t units);
