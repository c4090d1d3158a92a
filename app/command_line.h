// The program's own command-line options (those with two dashes). Paths,
// slash options and titles are left, in order, for the playlist intake.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

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
    std::string audio;      // "sdl", "null" or "wav:PATH"; empty: the mode's default
    std::string input_path; // --input
    std::string stats_path; // --stats
    std::string copy_to;    // --copy-to
    int32_t width, height;  // --size, 0 when not given
    std::vector<Snapshot> snapshots;
    std::string error;      // non-empty when an option was not understood
    std::vector<std::string> items; // everything that is not a "--" option, in order
};

CommandLine parse_command_line(int argc, char** argv);
const char* command_line_help();
