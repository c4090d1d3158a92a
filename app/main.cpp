// The program entry: one block holding the window header and the player
// context for the life of the process, the engine threads, then the window
// thread's loop (the desktop window, or the headless loop).
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/app.h"
#include "core/core.h"
#include "decode/decode.h"
#include "engine/engine.h"
#include "render/render.h"
#include "settings/settings.h"
#include "stats/stats.h"
#include "ui/ui.h"

namespace {

const char* stats_path;

void write_stats(PlayerContext* ctx, int exit_code)
{
    if (stats_path)
        stats_write_json(ctx, stats_path, exit_code == 0 ? "quit" : "nothing_played");
}

// A headless run has no window to show why it ended badly.
void report_failed_run(PlayerContext* ctx, int exit_code)
{
    if (exit_code == 0)
        return;
    if (ctx->memory_short.load(std::memory_order_relaxed) != 0)
        fputs("moravista: not enough memory to play; playback stopped\n", stderr);
    else
        fputs("moravista: nothing in the list could be played\n", stderr);
}

void save_settings(PlayerContext* ctx, int exit_code)
{
    settings_save(ctx);
}

void record_notice(PlayerContext* ctx, const char* text)
{
    stats_notice_shown(ctx, text);
}

// The state's settings in --stats: every number of the settings file.
void write_settings_json(PlayerContext* ctx, std::string* json)
{
    SettingsValue values[SETTINGS_VALUE_COUNT];
    size_t count = settings_values(ctx, values, SETTINGS_VALUE_COUNT);
    for (size_t i = 0; i < count && i < SETTINGS_VALUE_COUNT; i++) {
        if (i)
            json->push_back(',');
        stats_append_json_string(json, values[i].key);
        *json += ":" + std::to_string(values[i].value);
    }
}

void close_sound(PlayerContext* ctx, int exit_code)
{
    audio_shutdown();
}

int run_headless(PlayerContext* ctx, const CommandLine& cl, uint32_t start_ms)
{
    InputScript script{};
    if (!cl.input_path.empty() && !input_script_load(&script, cl.input_path.c_str())) {
        fprintf(stderr, "moravista: cannot read the input script %s\n", cl.input_path.c_str());
        return 2;
    }
    render_set_client_size(ctx, cl.width ? cl.width : 960, cl.height ? cl.height : 540);
    for (const Snapshot& s : cl.snapshots)
        render_add_snapshot(ctx, s.at_ms, s.path.c_str());
    if (!cl.copy_to.empty())
        render_set_copy_target(cl.copy_to.c_str());
    if (!cl.copy_text_to.empty())
        render_set_copy_text_target(cl.copy_text_to.c_str());
    // The window's input finds its regions in the client size.
    MainWindow* w = main_window_of(ctx);
    w->client_width = cl.width ? cl.width : 960;
    w->client_height = cl.height ? cl.height : 540;
    command_line_to_player(ctx, cl.items);
    settings_load(ctx); // restores options and, with an empty list, the saved one; opens the first item
    return headless_loop_run(ctx, cl.input_path.empty() ? nullptr : &script, start_ms);
}

// The first file the command line names, as the playlist will hold it, when
// it comes before any option and is a plain file (a folder is expanded into
// entries; options change how an item opens). Empty otherwise.
std::string first_plain_file(const std::vector<std::string>& items)
{
    if (items.empty() || items[0].empty() || command_line_is_option(items[0].c_str()))
        return std::string();
    char folder[4096];
    if (!getcwd(folder, sizeof folder))
        return std::string();
    std::string path = command_line_absolute_path(items[0], folder);
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::string();
    return path;
}

// Nothing has been read or written yet (the settings are loaded later), so
// ending here loses nothing.
[[noreturn]] void engine_start_failed()
{
    fputs("moravista: cannot start the player's threads: not enough memory or address space\n", stderr);
    fflush(nullptr);
    _exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    memory_setup();
    uint32_t start_ms = now_ms();
    CommandLine cl = parse_command_line(argc, argv);
    if (!cl.error.empty()) {
        fprintf(stderr, "moravista: %s\n\n%s", cl.error.c_str(), command_line_help());
        return 2;
    }
    if (cl.show_help) {
        fputs(command_line_help(), stdout);
        return 0;
    }
    if (cl.show_version) {
        printf("moravista %s\n", MV_VERSION);
        return 0;
    }
    // Client mode talks to another player and starts nothing of its own.
    if (cl.send)
        return run_send(cl);
    process_environment_setup();
    // Blocked before any thread starts, so every thread inherits the mask and
    // only the loop's own signal handling sees them.
    sigset_t set;
    closing_signals(&set);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    const char* audio = cl.audio.empty() ? (cl.headless ? "null" : "pulse") : cl.audio.c_str();
    if (!audio_select_backend(audio)) {
        fprintf(stderr, "moravista: unknown sound output %s\n", audio);
        return 2;
    }
    if (cl.no_settings)
        settings_disable();

    PlayerContext* ctx = player_context_new();
    if (!ctx) {
        fputs("moravista: out of memory\n", stderr);
        return 1;
    }
    ctx->quit_at_end.store(cl.quit_at_end ? 1 : 0, std::memory_order_relaxed);
    // Video on the GPU: with a window where OpenGL runs on graphics hardware
    // (or always, asked for); without one only when asked for.
    if (cl.gpu < 0)
        render_set_gpu_mode(ctx, RENDER_GPU_OFF);
    else if (cl.headless)
        render_set_gpu_mode(ctx, cl.gpu > 0 ? RENDER_GPU_OFFSCREEN : RENDER_GPU_OFF);
    else
        render_set_gpu_mode(ctx, cl.gpu > 0 ? RENDER_GPU_ON : RENDER_GPU_AUTO);
    if (!cl.stats_path.empty()) {
        stats_path = cl.stats_path.c_str();
        stats_enable(ctx, start_ms);
        add_notice_observer(record_notice);
        stats_set_settings_writer(write_settings_json);
    }
    exit_sequence_add(save_settings);
    exit_sequence_add(close_sound);
    exit_sequence_add(write_stats);
    if (cl.headless)
        exit_sequence_add(report_failed_run);

    int exit_code;
    if (cl.headless) {
        headless_loop_install(ctx);
        const bool looked_at = !cl.snapshots.empty() || !cl.copy_to.empty();
        if (!looked_at)
            render_leave_out_text(ctx);
        if (!player_init(ctx))
            engine_start_failed();
        // Pictures someone looks at carry the clock overlay's text.
        if (looked_at)
            osd_fonts_setup(ctx);
        exit_code = run_headless(ctx, cl, start_ms);
    } else {
        InputScript script{};
        if (!cl.input_path.empty() && !input_script_load(&script, cl.input_path.c_str())) {
            fprintf(stderr, "moravista: cannot read the input script %s\n", cl.input_path.c_str());
            return 2;
        }
        // The engine starts first; it reaches the window only once the
        // creation sequence has asked for an item.
        if (!player_init(ctx))
            engine_start_failed();
        input_script_schedule(ctx, &script, start_ms);
        if (!start_deferred_setup(ctx))
            osd_fonts_setup(ctx);
        // Opened while the window is made, so the first picture waits for
        // whichever of the two is slower, not for both one after the other.
        std::string first = first_plain_file(cl.items);
        if (!first.empty())
            open_early(ctx, first.c_str());
        exit_code = run_player_window(ctx, cl.items);
    }
    // The engine threads are never stopped: ending the process ends them.
    fflush(nullptr);
    _exit(exit_code);
}
