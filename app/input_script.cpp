#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <glib.h>

#include "app/app.h"
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
    for (const ActionName& n : ACTION_NAMES) {
        if (strlen(n.name) != word || strncmp(cursor, n.name, word) != 0)
            continue;
        cursor += word;
        long long argument = 0;
        if (n.needs_argument && (!read_number(&cursor, &argument) || argument < n.min || argument > n.max))
            return false;
        while (*cursor == ' ' || *cursor == '\t' || *cursor == '\r' || *cursor == '\n')
            cursor++;
        if (*cursor != 0)
            return false; // trailing words
        *action = InputAction{uint32_t(at), n.kind, int32_t(argument)};
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
