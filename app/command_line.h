// The program's own command-line options (those with two dashes). Paths and
// slash options are left for the playlist intake.
#pragma once
#include <string>
#include <vector>

struct CommandLine {
    bool headless;
    bool show_version;
    bool show_help;
    std::string error; // non-empty when an option was not understood
    std::vector<std::string> items; // everything that is not a "--" option, in order
};

CommandLine parse_command_line(int argc, char** argv);
const char* command_line_help();
