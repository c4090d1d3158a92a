// Time: the monotonic millisecond timer, the relative sleeps every engine
// thread polls with, media-time conversions and the text of a time.
#pragma once
#include <cstdint>

struct PlayerContext;
struct AVStream;

// Relative sleep periods in 100 ns units (negative means relative).
constexpr int64_t SLEEP_1MS = -10000;
constexpr int64_t SLEEP_10MS = -100000;
constexpr int64_t SLEEP_30MS = -300000;

// CLOCK_MONOTONIC in milliseconds, wrapping like a 32-bit system tick counter.
uint32_t now_ms();

// Sleeps for |units| * 100 ns; negative and positive values both mean relative.
void delay_100ns(int64_t units);

// Waiting for another thread without stealing its core: a few yields, then
// short sleeps (on two cores a spin would take the core the other thread
// needs to finish).
struct Backoff {
    int32_t tries;
};
void backoff_pause(Backoff* backoff);

// The idle poll of the engine threads: 10 ms, but 1 ms while a seek waits,
// so that it starts as soon as the other threads have let go, and after it
// until its first picture is taken (at most SEEK_SETTLE_LIMIT_MS).
void engine_poll_sleep(const PlayerContext* ctx);
constexpr uint32_t SEEK_SETTLE_LIMIT_MS = 1000;
// Whether a seek is asked for, carried out, or waiting for its first picture.
bool seek_in_progress(const PlayerContext* ctx);

// ts x num x 1000 / den in 64-bit arithmetic, truncating; a product that
// would overflow (a broken timestamp) saturates instead.
int64_t timestamp_to_ms(int64_t ts, int num, int den);
// Media time conversions with the item's start offset (64-bit, truncating);
// results outside the 32-bit range saturate.
int32_t stream_to_media_ms(const PlayerContext* ctx, const AVStream* stream, int64_t ts);
int64_t media_ms_to_stream(const PlayerContext* ctx, const AVStream* stream, int64_t ms);

// Writes ms as "%02d:%02d:%02d.%03d" at the cursor and returns the cursor
// past the text. The caller's buffer holds at least 24 bytes beyond it.
char* format_time_ms(char* cursor, int32_t ms);
