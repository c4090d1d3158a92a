#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <glib.h>

#include "app/app.h"
#include "platform/platform.h"
#include "playlist/playlist.h"
#include "ui/ui.h"

namespace {

struct ActionName {
    const char* name;
    InputActionKind kind;
    bool needs_argument;
    int32_t min, max;
};

const ActionName ACTION_NAMES[] = {
    {"seek", INPUT_SEEK, true, 0, INT32_MAX},     {"pause", INPUT_PAUSE, false, 0, 0},
    {"play", INPUT_PLAY, false, 0, 0},            {"step", INPUT_STEP, false, 0, 0},
    {"volume", INPUT_VOLUME, true, 0, 300},       {"track", INPUT_TRACK, true, 1019, 4022},
    {"open", INPUT_OPEN, true, 0, INT32_MAX},     {"next", INPUT_NEXT, false, 0, 0},
    {"prev", INPUT_PREV, false, 0, 0},            {"stop", INPUT_STOP, false, 0, 0},
    {"quit", INPUT_QUIT, false, 0, 0},            {"menu", INPUT_MENU, false, 0, 0},
    {"dialog", INPUT_DIALOG, false, 0, 0},
};

bool read_number(const char** cursor, long long* value)
{
    const char* s = *cursor;
    while (*s == ' ' || *s == '\t')
        s++;
    if (!(*s >= '0' && *s <= '9'))
        return false;
    errno = 0;
    char* end = nullptr;
    *value = strtoll(s, &end, 10);
    if (errno != 0 || end == s)
        return false;
    *cursor = end;
    return true;
}

bool read_signed(const char** cursor, int32_t min, int32_t max, int32_t* value)
{
    const char* s = *cursor;
    while (*s == ' ' || *s == '\t')
        s++;
    bool negative = *s == '-';
    if (negative)
        s++;
    long long magnitude = 0;
    if (!read_number(&s, &magnitude))
        return false;
    long long v = negative ? -magnitude : magnitude;
    if (v < min || v > max)
        return false;
    *value = int32_t(v);
    *cursor = s;
    return true;
}

// The next word (up to white space) into out; false when there is none.
bool read_word(const char** cursor, char* out, size_t out_size)
{
    const char* s = *cursor;
    while (*s == ' ' || *s == '\t')
        s++;
    size_t n = strcspn(s, " \t\r\n");
    if (n == 0 || n >= out_size)
        return false;
    memcpy(out, s, n);
    out[n] = 0;
    *cursor = s + n;
    return true;
}

// "[ctrl+][shift+][alt+]NAME" with an X key name.
bool parse_key(const char** cursor, InputAction* action)
{
    char word[64];
    if (!read_word(cursor, word, sizeof word))
        return false;
    const char* name = word;
    const struct {
        const char* prefix;
        int32_t modifier;
    } prefixes[] = {{"ctrl+", int32_t(KEY_MOD_CTRL)}, {"shift+", int32_t(KEY_MOD_SHIFT)}, {"alt+", int32_t(KEY_MOD_ALT)}};
    for (bool found = true; found;) {
        found = false;
        for (const auto& p : prefixes) {
            size_t n = strlen(p.prefix);
            if (strncmp(name, p.prefix, n) == 0 && name[n]) {
                action->modifiers |= p.modifier;
                name += n;
                found = true;
            }
        }
    }
    uint32_t keysym = keysym_of_name(name);
    if (!keysym)
        return false;
    action->argument = key_code_of_keysym(keysym);
    return true;
}

bool parse_button(const char** cursor, int32_t* button)
{
    const char* names[] = {"left", "right", "middle", "double"};
    char word[16];
    if (!read_word(cursor, word, sizeof word))
        return false;
    for (int32_t i = 0; i < 4; i++) {
        if (strcmp(word, names[i]) == 0) {
            *button = i;
            return true;
        }
    }
    return false;
}

// Coordinates travel as 16-bit values, as the desktop's do.
bool parse_point(const char** cursor, InputAction* action)
{
    return read_signed(cursor, -32768, 32767, &action->x) && read_signed(cursor, -32768, 32767, &action->y);
}

bool parse_window_input(InputActionKind kind, const char** cursor, InputAction* action)
{
    switch (kind) {
    case INPUT_KEY: return parse_key(cursor, action);
    case INPUT_CLICK: return parse_point(cursor, action) && parse_button(cursor, &action->argument);
    case INPUT_MOVE: return parse_point(cursor, action);
    case INPUT_LEAVE: return true;
    case INPUT_WHEEL: return read_signed(cursor, -1000, 1000, &action->argument) && action->argument != 0;
    case INPUT_COMMAND: return read_signed(cursor, 0, INT32_MAX, &action->argument);
    default: return false;
    }
}

const struct {
    const char* name;
    InputActionKind kind;
} WINDOW_INPUT_NAMES[] = {
    {"key", INPUT_KEY},     {"click", INPUT_CLICK}, {"move", INPUT_MOVE},
    {"leave", INPUT_LEAVE}, {"wheel", INPUT_WHEEL}, {"command", INPUT_COMMAND},
};

bool at_line_end(const char* cursor)
{
    while (*cursor == ' ' || *cursor == '\t' || *cursor == '\r' || *cursor == '\n')
        cursor++;
    return *cursor == 0;
}

} // namespace

bool input_script_parse_line(const char* line, InputAction* action)
{
    const char* cursor = line;
    long long at = 0;
    if (!read_number(&cursor, &at) || at > UINT32_MAX)
        return false;
    while (*cursor == ' ' || *cursor == '\t')
        cursor++;
    size_t word = strcspn(cursor, " \t\r\n");
    for (const auto& n : WINDOW_INPUT_NAMES) {
        if (strlen(n.name) != word || strncmp(cursor, n.name, word) != 0)
            continue;
        cursor += word;
        InputAction parsed{uint32_t(at), n.kind, 0, 0, 0, 0};
        if (!parse_window_input(n.kind, &cursor, &parsed) || !at_line_end(cursor))
            return false;
        *action = parsed;
        return true;
    }
    for (const ActionName& n : ACTION_NAMES) {
        if (strlen(n.name) != word || strncmp(cursor, n.name, word) != 0)
            continue;
        cursor += word;
        long long argument = 0;
        if (n.needs_argument && (!read_number(&cursor, &argument) || argument < n.min || argument > n.max))
            return false;
        if (!at_line_end(cursor))
            return false; // trailing words
        *action = InputAction{uint32_t(at), n.kind, int32_t(argument), 0, 0, 0};
        return true;
    }
    return false;
}

bool input_script_load(InputScript* script, const char* path)
{
    FILE* file = fopen(path, "r");
    if (!file)
        return false;
    char line[512];
    unsigned number = 0;
    while (fgets(line, sizeof line, file)) {
        number++;
        size_t length = strlen(line);
        bool whole = length > 0 && line[length - 1] == '\n';
        if (!whole && !feof(file)) {
            // A line longer than the buffer: skip the rest of it.
            int c;
            while ((c = fgetc(file)) != EOF && c != '\n') {
            }
        }
        const char* s = line + strspn(line, " \t\r\n");
        if (*s == 0 || *s == '#')
            continue;
        InputAction action;
        if (whole || feof(file) ? input_script_parse_line(line, &action) : false)
            script->actions.push_back(action);
        else
            fprintf(stderr, "moravista: %s:%u: cannot understand \"%.*s\", line skipped\n", path, number,
                    int(strcspn(line, "\r\n")), line);
    }
    fclose(file);
    std::stable_sort(script->actions.begin(), script->actions.end(),
                     [](const InputAction& x, const InputAction& y) { return x.at_ms < y.at_ms; });
    script->next = 0;
    return true;
}

namespace {

intptr_t to_window(PlayerContext* ctx, unsigned msg, uintptr_t a, intptr_t b)
{
    return window_procedure(main_window_of(ctx), msg, a, b);
}

// A click as the desktop delivers one: the pointer arrives, then the
// button goes down and up (a double click: down, up, double, up).
void click(PlayerContext* ctx, const InputAction* action)
{
    intptr_t at = mouse_position(action->x, action->y);
    to_window(ctx, MSG_MOUSE_MOVE, 0, at);
    switch (action->argument) {
    case BUTTON_LEFT:
        to_window(ctx, MSG_LEFT_DOWN, MOUSE_LEFT, at);
        to_window(ctx, MSG_LEFT_UP, 0, at);
        break;
    case BUTTON_RIGHT:
        to_window(ctx, MSG_RIGHT_DOWN, MOUSE_RIGHT, at);
        to_window(ctx, MSG_RIGHT_UP, 0, at);
        break;
    case BUTTON_MIDDLE: to_window(ctx, MSG_MIDDLE_DOWN, MOUSE_MIDDLE, at); break;
    default:
        to_window(ctx, MSG_LEFT_DOWN, MOUSE_LEFT, at);
        to_window(ctx, MSG_LEFT_UP, 0, at);
        to_window(ctx, MSG_LEFT_DOUBLE, MOUSE_LEFT, at);
        to_window(ctx, MSG_LEFT_UP, 0, at);
        break;
    }
}

void window_input(PlayerContext* ctx, const InputAction* action)
{
    MainWindow* w = main_window_of(ctx);
    switch (action->kind) {
    case INPUT_KEY:
        to_window(ctx, action->modifiers & KEY_MOD_ALT ? MSG_SYS_KEY_DOWN : MSG_KEY_DOWN, uintptr_t(action->argument),
                  action->modifiers);
        break;
    case INPUT_CLICK: click(ctx, action); break;
    case INPUT_MOVE: to_window(ctx, MSG_MOUSE_MOVE, 0, mouse_position(action->x, action->y)); break;
    case INPUT_LEAVE: to_window(ctx, MSG_MOUSE_LEAVE, 0, 0); break;
    case INPUT_WHEEL:
        for (int32_t i = 0; i < (action->argument < 0 ? -action->argument : action->argument); i++)
            to_window(ctx, MSG_MOUSE_WHEEL, uintptr_t(action->argument < 0 ? -WHEEL_NOTCH : WHEEL_NOTCH),
                      intptr_t(w->last_mouse_pos));
        break;
    case INPUT_COMMAND: to_window(ctx, MSG_COMMAND, uintptr_t(action->argument), 0); break;
    default: break;
    }
}

} // namespace

bool input_action_apply(PlayerContext* ctx, const InputAction* action)
{
    switch (action->kind) {
    case INPUT_SEEK:
        command_seek_to(ctx, action->argument);
        break;
    case INPUT_PAUSE:
        command_play_pause(ctx, 0);
        break;
    case INPUT_PLAY:
        command_play_pause(ctx, 1);
        break;
    case INPUT_STEP:
        command_step(ctx);
        break;
    case INPUT_VOLUME:
        command_set_volume(ctx, action->argument);
        break;
    case INPUT_TRACK:
        command_track(ctx, action->argument);
        break;
    case INPUT_OPEN:
        playlist_open_request(ctx, action->argument, 1, -1);
        break;
    case INPUT_NEXT:
        playlist_next(ctx);
        break;
    case INPUT_PREV:
        playlist_previous(ctx);
        break;
    case INPUT_STOP:
        command_stop(ctx);
        break;
    case INPUT_QUIT:
        return true;
    case INPUT_MENU:
        show_context_menu(main_window_of(ctx));
        break;
    case INPUT_DIALOG:
        open_files_dialog(main_window_of(ctx), 0, 0);
        break;
    default:
        window_input(ctx, action);
        break;
    }
    return false;
}

namespace {

struct ScheduledScript {
    PlayerContext* ctx;
    InputScript* script;
    uint32_t start_ms;
};

guint delay_to_next(const ScheduledScript* s)
{
    int32_t wait = int32_t(s->start_ms + s->script->actions[s->script->next].at_ms - now_ms());
    return wait > 0 ? guint(wait) : 0;
}

gboolean run_due_actions(gpointer data)
{
    auto* s = static_cast<ScheduledScript*>(data);
    InputScript* script = s->script;
    while (script->next < script->actions.size() && delay_to_next(s) == 0) {
        if (input_action_apply(s->ctx, &script->actions[script->next++])) {
            window_post(MSG_CLOSE, 0, 0);
            return G_SOURCE_REMOVE;
        }
    }
    if (script->next < script->actions.size())
        g_timeout_add(delay_to_next(s), run_due_actions, s);
    return G_SOURCE_REMOVE;
}

} // namespace

void input_script_schedule(PlayerContext* ctx, InputScript* script, uint32_t start_ms)
{
    if (script->actions.empty())
        return;
    // The desktop window's loop runs GLib's default main context.
    static ScheduledScript scheduled;
    scheduled = ScheduledScript{ctx, script, start_ms};
    g_timeout_add(delay_to_next(&scheduled), run_due_actions, &scheduled);
}
