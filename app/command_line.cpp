#include "app/command_line.h"

#include <cstring>

CommandLine parse_command_line(int argc, char** argv)
{
    CommandLine cl{};
    bool options_done = false;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (options_done || strncmp(arg, "--", 2) != 0) {
            cl.items.emplace_back(arg);
            continue;
        }
        if (strcmp(arg, "--") == 0)
            options_done = true;
        else if (strcmp(arg, "--headless") == 0)
            cl.headless = true;
        else if (strcmp(arg, "--version") == 0)
            cl.show_version = true;
        else if (strcmp(arg, "--help") == 0)
            cl.show_help = true;
        else if (cl.error.empty())
            cl.error = std::string("unknown option ") + arg;
    }
    return cl;
}

const char* command_line_help()
{
    return "Usage: moravista [OPTION]... [FILE|FOLDER|/key=value]...\n"
           "A small, fast media player.\n"
           "\n"
           "  --headless   run without a window; ends on SIGINT or SIGTERM\n"
           "  --version    print the version and exit\n"
           "  --help       print this help and exit\n";
}
