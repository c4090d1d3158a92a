// The window thread's loop without a window: a plain message queue on the
// main thread that answers the engine's messages, runs the timed actions of
// an input script and ends on MSG_CLOSE, SIGINT or SIGTERM.
#pragma once
#include <cstdint>

struct PlayerContext;
struct InputScript;

// Installs the loop as the engine's message bridge; call before the engine
// can send anything (before player_init).
void headless_loop_install(PlayerContext* ctx);
// Runs until MSG_CLOSE; returns the exit code. SIGINT and SIGTERM must be
// blocked in every thread before the engine starts; they close the program
// with exit code 0. start_ms is the program's start on the engine's clock;
// script may be null.
int headless_loop_run(PlayerContext* ctx, InputScript* script, uint32_t start_ms);
