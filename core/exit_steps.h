// The exit sequence of the window thread: every step that must run before the
// process ends (settings written, statistics, sound device closed, desktop
// state restored), whichever way the program is closed. The program adds its
// steps at start-up; the window procedure runs them on MSG_CLOSE.
#pragma once

struct PlayerContext;

using ExitStep = void (*)(PlayerContext* ctx, int exit_code);

// Steps run in the order they were added; at most 8.
void exit_sequence_add(ExitStep step);
// Runs the steps once; later calls do nothing.
void exit_sequence_run(PlayerContext* ctx, int exit_code);
