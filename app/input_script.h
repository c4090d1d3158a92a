// Timed actions for headless runs, one per line: "<ms> <action> [argument]",
// ms counted from program start. They act on the window thread exactly as
// the window's own input would.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct PlayerContext;

enum InputActionKind {
    INPUT_SEEK, INPUT_PAUSE, INPUT_PLAY, INPUT_STEP, INPUT_VOLUME, INPUT_TRACK,
    INPUT_OPEN, INPUT_NEXT, INPUT_PREV, INPUT_STOP, INPUT_QUIT,
};

struct InputAction {
    uint32_t at_ms;
    InputActionKind kind;
    int32_t argument;
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
