// The program itself: its own command-line options, the window thread's
// loop without a window, and the timed input script of headless runs. The
// entry (main.cpp) starts the engine and then the window or the headless
// loop; nothing below this folder includes it.
#pragma once
#include <signal.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/core.h"

// ---- the command line ----
// The program's own options (those with two dashes). Paths,
// slash options and titles are left, in order, for the playlist intake.
struct Snapshot {
    int32_t at_ms;
    std::string path;
};

struct CommandLine {
    bool headless;
    bool show_version;
    bool show_help;
    bool quit_at_end;
    bool no_settings;
    int32_t gpu; // --gpu 1, --no-gpu -1, else 0 (the mode's default)
    std::string audio;      // "sdl", "null" or "wav:PATH"; empty: the mode's default
    std::string input_path; // --input
    std::string stats_path; // --stats
    std::string copy_to;    // --copy-to
    std::string copy_text_to; // --copy-text-to
    int32_t width, height;  // --size, 0 when not given
    std::vector<Snapshot> snapshots;
    std::string error;      // non-empty when an option was not understood
    std::vector<std::string> items; // everything that is not a "--" option, in order

    // ---- client mode: --send PID CODE PAYLOAD ----
    bool send;
    int32_t send_pid;
    uint64_t send_code;
    std::string send_payload;
};

CommandLine parse_command_line(int argc, char** argv);
const char* command_line_help();

// ---- client mode ----
// Hands one data message to the running player with that process id and
// prints its result. Returns the exit code: 0 when the player answered, 2
// when there is no such player (or no session bus), 1 when it refused.
int run_send(const CommandLine& cl);
// CODE of --send: decimal, or hexadecimal after "0x". False when it is neither.
bool parse_send_code(const char* text, uint64_t* code);

// ---- the input script ----
// Timed actions for headless runs, one per line: "<ms> <action> [argument]",
// ms counted from program start. They act on the window thread exactly as
// the window's own input would.
enum InputActionKind {
    INPUT_SEEK, INPUT_PAUSE, INPUT_PLAY, INPUT_STEP, INPUT_VOLUME, INPUT_TRACK,
    INPUT_OPEN, INPUT_NEXT, INPUT_PREV, INPUT_STOP, INPUT_QUIT,
    // The window's own input, through the window procedure.
    INPUT_KEY, INPUT_CLICK, INPUT_MOVE, INPUT_LEAVE, INPUT_WHEEL, INPUT_COMMAND,
    // The context menu and the file dialog, as a right click and O raise them.
    INPUT_MENU, INPUT_DIALOG,
};

enum InputButton { BUTTON_LEFT, BUTTON_RIGHT, BUTTON_MIDDLE, BUTTON_DOUBLE };

struct InputAction {
    uint32_t at_ms;
    InputActionKind kind;
    int32_t argument;  // the number of the action; key: the key code; click: the InputButton
    int32_t x, y;      // click and move: client coordinates
    int32_t modifiers; // key: KEY_MOD_*
};

struct InputScript {
    std::vector<InputAction> actions; // sorted by time, stable
    size_t next;                      // the first action not yet applied
};

// Reads the script; a line it cannot understand is reported on stderr with
// its number and skipped. Returns false when the file cannot be read.
bool input_script_load(InputScript* script, const char* path);
bool input_script_parse_line(const char* line, InputAction* action);
// Applies one action on the window thread. Returns true for quit.
bool input_action_apply(PlayerContext* ctx, const InputAction* action);
// With a window: the actions run on the window's loop at their times; quit
// closes the window as its close button does.
void input_script_schedule(PlayerContext* ctx, InputScript* script, uint32_t start_ms);

// ---- the headless loop ----
// The window thread's loop without a window: a plain message queue on the
// main thread that answers the engine's messages, runs the timed actions of
// an input script and ends on MSG_CLOSE, SIGINT or SIGTERM.
// Installs the loop as the engine's message bridge; call before the engine
// can send anything (before player_init).
void headless_loop_install(PlayerContext* ctx);
// Runs until MSG_CLOSE; returns the exit code. SIGINT and SIGTERM must be
// blocked in every thread before the engine starts; they close the program
// with exit code 0. start_ms is the program's start on the engine's clock;
// script may be null.
int headless_loop_run(PlayerContext* ctx, InputScript* script, uint32_t start_ms);

// SIGINT and SIGTERM: the signals that close the program like the window
// manager's close.
void closing_signals(sigset_t* set);

// ---- the process ----
// The environment and the locale, changed once and only here: call in main
// before any thread starts (nothing may write either afterwards).
void process_environment_setup();

// ---- memory ----
// Few malloc arenas, large blocks straight from the system, smaller thread
// stacks. Call first thing in main, before any thread starts.
void memory_setup();
