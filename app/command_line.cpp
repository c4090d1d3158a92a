#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/app.h"

namespace {

// "--name=value": returns the value, or null when arg is not that option.
const char* option_value(const char* arg, const char* name)
{
    size_t n = strlen(name);
    if (strncmp(arg, name, n) != 0 || arg[n] != '=')
        return nullptr;
    return arg + n + 1;
}

bool read_int(const char* text, char stop, int32_t min, int32_t max, int32_t* value, const char** end_out)
{
    errno = 0;
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != stop || v < min || v > max)
        return false;
    *value = int32_t(v);
    if (end_out)
        *end_out = end;
    return true;
}

bool parse_size(const char* text, CommandLine* cl)
{
    const char* x = nullptr;
    if (!read_int(text, 'x', 1, 16384, &cl->width, &x))
        return false;
    return read_int(x + 1, 0, 1, 16384, &cl->height, nullptr);
}

bool parse_snapshot(const char* text, CommandLine* cl)
{
    Snapshot snapshot;
    const char* colon = nullptr;
    if (!read_int(text, ':', 0, INT32_MAX, &snapshot.at_ms, &colon) || colon[1] == 0)
        return false;
    snapshot.path = colon + 1;
    cl->snapshots.push_back(snapshot);
    return true;
}

bool parse_option(const char* arg, CommandLine* cl)
{
    const char* v;
    if (strcmp(arg, "--headless") == 0)
        cl->headless = true;
    else if (strcmp(arg, "--version") == 0)
        cl->show_version = true;
    else if (strcmp(arg, "--help") == 0)
        cl->show_help = true;
    else if (strcmp(arg, "--quit-at-end") == 0)
        cl->quit_at_end = true;
    else if (strcmp(arg, "--no-settings") == 0)
        cl->no_settings = true;
    else if (strcmp(arg, "--gpu") == 0)
        cl->gpu = 1;
    else if (strcmp(arg, "--no-gpu") == 0)
        cl->gpu = -1;
    else if ((v = option_value(arg, "--audio")))
        return (strcmp(v, "sdl") == 0 || strcmp(v, "null") == 0 || (strncmp(v, "wav:", 4) == 0 && v[4])) &&
               (cl->audio = v, true);
    else if ((v = option_value(arg, "--input")))
        return *v && (cl->input_path = v, true);
    else if ((v = option_value(arg, "--stats")))
        return *v && (cl->stats_path = v, true);
    else if ((v = option_value(arg, "--copy-to")))
        return *v && (cl->copy_to = v, true);
    else if ((v = option_value(arg, "--size")))
        return parse_size(v, cl);
    else if ((v = option_value(arg, "--snapshot")))
        return parse_snapshot(v, cl);
    else
        return false;
    return true;
}

} // namespace

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
        else if (!parse_option(arg, &cl) && cl.error.empty())
            cl.error = std::string("cannot understand the option ") + arg;
    }
    return cl;
}

const char* command_line_help()
{
    return "Usage: moravista [OPTION]... [FILE|FOLDER|/key=value|/title=TITLE]...\n"
           "A small, fast media player.\n"
           "\n"
           "  --headless            run without a window (ends on SIGINT or SIGTERM)\n"
           "  --audio=sdl|null|wav:FILE\n"
           "                        sound output (default: sdl with a window, null headless)\n"
           "  --quit-at-end         end the program when the list has played\n"
           "  --input=FILE          timed actions, one per line: <ms> <action> [argument]\n"
           "  --stats=FILE          write playback statistics as JSON at exit\n"
           "  --no-settings         neither read nor write the settings file\n"
           "  --size=WxH            client size without a window (default 960x540)\n"
           "  --snapshot=MS:FILE.png\n"
           "                        write the picture at position MS as PNG (may repeat)\n"
           "  --copy-to=FILE.png    picture copies go to this file instead of the clipboard\n"
           "  --gpu                 draw video with OpenGL even where it runs in software;\n"
           "                        without a window, draw it off-screen (snapshots read it back)\n"
           "  --no-gpu              draw every picture on the CPU\n"
           "  --version             print the version and exit\n"
           "  --help                print this help and exit\n";
}
