#include <cctype>
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
        return (strcmp(v, "pulse") == 0 || strcmp(v, "sdl") == 0 || strcmp(v, "null") == 0 ||
                (strncmp(v, "wav:", 4) == 0 && v[4])) &&
               (cl->audio = v, true);
    else if ((v = option_value(arg, "--input")))
        return *v && (cl->input_path = v, true);
    else if ((v = option_value(arg, "--stats")))
        return *v && (cl->stats_path = v, true);
    else if ((v = option_value(arg, "--copy-to")))
        return *v && (cl->copy_to = v, true);
    else if ((v = option_value(arg, "--copy-text-to")))
        return *v && (cl->copy_text_to = v, true);
    else if ((v = option_value(arg, "--size")))
        return parse_size(v, cl);
    else if ((v = option_value(arg, "--snapshot")))
        return parse_snapshot(v, cl);
    else
        return false;
    return true;
}

// "--send PID CODE PAYLOAD": the three arguments after it.
bool parse_send(int argc, char** argv, int* i, CommandLine* cl)
{
    if (*i + 3 >= argc)
        return false;
    cl->send = true;
    bool ok = read_int(argv[*i + 1], 0, 1, INT32_MAX, &cl->send_pid, nullptr) &&
              parse_send_code(argv[*i + 2], &cl->send_code);
    cl->send_payload = argv[*i + 3];
    *i += 3;
    return ok;
}

} // namespace

bool parse_send_code(const char* text, uint64_t* code)
{
    bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = hex ? text + 2 : text;
    // strtoull would take a sign or leading blanks; a code has neither.
    if (!((*digits >= '0' && *digits <= '9') || (hex && isxdigit(static_cast<unsigned char>(*digits)))))
        return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long value = strtoull(digits, &end, hex ? 16 : 10);
    if (errno != 0 || *end != 0)
        return false;
    *code = value;
    return true;
}

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
        else if (strcmp(arg, "--send") == 0) {
            if (!parse_send(argc, argv, &i, &cl) && cl.error.empty())
                cl.error = "--send takes a process id, a code (decimal or 0x hexadecimal) and a payload";
        } else if (!parse_option(arg, &cl) && cl.error.empty())
            cl.error = std::string("cannot understand the option ") + arg;
    }
    if (cl.send && !cl.items.empty() && cl.error.empty())
        cl.error = "--send hands over one payload; put the others in calls of their own";
    return cl;
}

const char* command_line_help()
{
    return "Usage: moravista [OPTION]... [FILE|FOLDER|/key=value|/title=TITLE]...\n"
           "A small, fast media player.\n"
           "\n"
           "  --headless            run without a window (ends on SIGINT or SIGTERM)\n"
           "  --audio=pulse|sdl|null|wav:FILE\n"
           "                        sound output (default: pulse with a window, null headless;\n"
           "                        pulse is SDL where no PulseAudio or PipeWire server answers)\n"
           "  --quit-at-end         end the program when the list has played\n"
           "  --input=FILE          timed actions, one per line: <ms> <action> [argument]:\n"
           "                        seek MS, pause, play, step, volume 0..300, track ID, open INDEX,\n"
           "                        next, prev, stop, quit, key [ctrl+][shift+][alt+]NAME (X key\n"
           "                        names: space, Left, Prior, Return, a...), click X Y\n"
           "                        left|right|middle|double, move X Y, leave, wheel N (N > 0 away\n"
           "                        from the user; after a move), command ID\n"
           "  --stats=FILE          write playback statistics as JSON at exit\n"
           "  --no-settings         neither read nor write the settings file\n"
           "  --size=WxH            client size without a window (default 960x540)\n"
           "  --snapshot=MS:FILE.png\n"
           "                        write the picture at position MS as PNG (may repeat)\n"
           "  --copy-to=FILE.png    picture copies go to this file instead of the clipboard\n"
           "  --copy-text-to=FILE   copied text goes to this file (UTF-8) instead of the clipboard\n"
           "  --send PID CODE PAYLOAD\n"
           "                        hand a data message to the running player PID and print\n"
           "                        its result: 0x6170 appends PAYLOAD as an entry,\n"
           "                        0x7374XXXX titles entry XXXX, 0x7370XXXX sets its parameters\n"
           "  --gpu                 draw video with OpenGL even where it runs in software;\n"
           "                        without a window, draw it off-screen (snapshots read it back)\n"
           "  --no-gpu              draw every picture on the CPU\n"
           "  --version             print the version and exit\n"
           "  --help                print this help and exit\n";
}
