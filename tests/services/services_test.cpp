// The window's desktop services without a display or a bus: which moment
// trims, holds or lets go of the screensaver, binds the hot keys; what the
// media-player interface reports and how each of its calls acts, bad input
// included.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/core.h"
#include "engine/engine.h"
#include "platform/mpris_internal.h"
#include "playlist/playlist.h"
#include "settings/settings.h"
#include "ui/services_internal.h"
#include "ui/ui.h"

namespace {

// What the window asked of its desktop services, in order.
std::vector<std::string> calls;
int trims;
std::vector<std::string> notices;

void note(const std::string& s) { calls.push_back(s); }
int fake_bind(void*, int on)
{
    note(on ? "bind" : "unbind");
    return on ? PLATFORM_HOTKEY_COUNT : 0;
}
void fake_timer_start(void*, unsigned n, unsigned ms) { note("timer " + std::to_string(n) + " " + std::to_string(ms)); }
void fake_timer_stop(void*, unsigned n) { note("stop timer " + std::to_string(n)); }
std::string info_title, info_text;
void fake_info(void*, const char* title, const char* text)
{
    note("information");
    info_title = title;
    info_text = text;
}
void fake_power(void*, int on) { note(on ? "hold" : "let go"); }
void fake_release(void*) { note("release at exit"); }
const DesktopServices fake_services{nullptr,   fake_bind,  fake_timer_start, fake_timer_stop,
                                    fake_info, fake_power, fake_release};

void count_trim() { trims++; }
void record_notice(PlayerContext*, const char* text) { notices.emplace_back(text); }

class ServicesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        calls.clear();
        notices.clear();
        trims = 0;
        set_trim_hook(count_trim);
        set_notice_hook(record_notice);
        settings_reset(&settings);
        ctx = player_context_new();
        player_setup(ctx);
        w = main_window_of(ctx);
        desktop_services_use(w, &fake_services);
    }
    void TearDown() override
    {
        ctx->format.store(nullptr);
        intake_release(w);
        playlist_free(ctx);
        player_context_free(ctx);
        set_trim_hook(nullptr);
        set_notice_hook(nullptr);
        settings_reset(&settings);
    }
    intptr_t send(unsigned msg, uintptr_t a = 0, intptr_t b = 0) { return window_procedure(w, msg, a, b); }

    // An item that counts as open: the window never looks inside it.
    void pretend_open(int32_t clock_ms, int32_t duration_ms, bool playing)
    {
        static int dummy;
        ctx->format.store(reinterpret_cast<AVFormatContext*>(&dummy));
        ctx->clock_ms.store(clock_ms);
        ctx->duration_ms.store(duration_ms);
        ctx->playing.store(playing ? 1 : 0);
        ctx->seek_target_ms.store(-1);
        ctx->open_index.store(-1);
    }
    void add_entries(std::initializer_list<const char*> paths)
    {
        for (const char* p : paths)
            playlist_add_entry(ctx, p, 0);
    }

    PlayerContext* ctx = nullptr;
    MainWindow* w = nullptr;
};

TEST_F(ServicesTest, memory_is_trimmed_at_its_moments_only_while_the_option_is_on_and_timer_0_trims_once)
{
    const struct {
        const char* name;
        int option;
        std::vector<std::pair<unsigned, uintptr_t>> messages;
        int trims;
        std::vector<std::string> calls;
    } cases[] = {
        {"playback stops", 1, {{MSG_MEDIA_STATE, MEDIA_STOPPED}}, 1, {}},
        {"playback stops, option off", 0, {{MSG_MEDIA_STATE, MEDIA_STOPPED}}, 0, {}},
        {"the window is minimised", 1, {{MSG_SIZE, SIZE_MINIMIZED}}, 1, {}},
        {"minimised, option off", 0, {{MSG_SIZE, SIZE_MINIMIZED}}, 0, {}},
        {"restored", 1, {{MSG_SIZE, SIZE_RESTORED}}, 0, {}},
        {"an opened item asks: the trim waits for timer 0", 1, {{MSG_TRIM_SOON, 0}}, 0, {"timer 0 1000"}},
        {"timer 0 trims and stops itself",
         1,
         {{MSG_TRIM_SOON, 0}, {MSG_TIMER, 0}},
         1,
         {"timer 0 1000", "stop timer 0"}},
        {"timer 0 trims whatever the option says now", 0, {{MSG_TIMER, 0}}, 1, {"stop timer 0"}},
        {"another timer trims nothing", 1, {{MSG_TIMER, 3}}, 0, {}},
    };
    for (const auto& c : cases) {
        trims = 0;
        calls.clear();
        settings.trim_memory.store(c.option);
        for (auto [msg, a] : c.messages)
            send(msg, a);
        EXPECT_EQ(trims, c.trims) << c.name;
        // Opening an item also decides the power hold; only the timers count here.
        std::vector<std::string> timer_calls;
        for (const std::string& s : calls)
            if (s.find("timer") != std::string::npos)
                timer_calls.push_back(s);
        EXPECT_EQ(timer_calls, c.calls) << c.name;
    }
    // Without a desktop there is no timer: the trim happens at once.
    desktop_services_use(w, nullptr);
    trims = 0;
    send(MSG_TRIM_SOON);
    EXPECT_EQ(trims, 1);
}

TEST_F(ServicesTest, the_screensaver_is_held_while_a_video_item_is_open_and_the_option_is_on)
{
    const struct {
        const char* step;
        int option;
        int state; // -1: the option's own command with the current item's video
        std::vector<std::string> calls;
    } steps[] = {
        {"a video opens", 1, MEDIA_OPENED_VIDEO, {"hold"}},
        {"a second video keeps the hold without asking again", 1, MEDIA_OPENED_VIDEO, {}},
        {"a sound item lets go", 1, MEDIA_OPENED_SOUND, {"let go"}},
        {"stopping with nothing held asks nothing", 1, MEDIA_STOPPED, {}},
        {"another video", 1, MEDIA_OPENED_VIDEO, {"hold"}},
        {"the option switched off lets go at once", 0, -1, {"let go"}},
        {"a video with the option off holds nothing", 0, MEDIA_OPENED_VIDEO, {}},
        {"the option switched on holds for the open video", 1, -1, {"hold"}},
        {"stop lets go", 1, MEDIA_STOPPED, {"let go"}},
    };
    for (const auto& s : steps) {
        calls.clear();
        settings.block_screensaver.store(s.option);
        if (s.state < 0)
            set_power_blocking(w, 1);
        else
            send(MSG_MEDIA_STATE, uintptr_t(s.state));
        EXPECT_EQ(calls, s.calls) << s.step;
    }
}

TEST_F(ServicesTest, hot_keys_follow_the_option_and_turning_them_on_explains_them)
{
    settings.hotkeys_enabled.store(1);
    register_hotkeys_hook(ctx); // the settings found the option on
    settings.hotkeys_enabled.store(0);
    apply_hotkeys(w);
    settings.hotkeys_enabled.store(1);
    apply_hotkeys(w);
    show_hotkey_help(w);
    EXPECT_EQ(calls, (std::vector<std::string>{"bind", "unbind", "bind", "information"}));
    EXPECT_EQ(info_title, "已开启全局热键");
    EXPECT_EQ(info_text, "\t全局热键说明\n\nCtrl+Alt+M\t\t显示/隐藏窗口\nCtrl+Alt+R\t\t随机打乱列表\n"
                         "Ctrl+Alt+B/PageUp\t播放上一个\nCtrl+Alt+N/PageDown\t播放下一个\nCtrl+Alt+P\t\t播放/暂停\n"
                         "Ctrl+Alt+S\t\t停止播放\nCtrl+Alt+←\t\t后退五秒\nCtrl+Alt+→\t\t快进五秒\n"
                         "Ctrl+Alt+↑\t\t加大音量\nCtrl+Alt+↓\t\t降低音量");
    // Headless: nothing to bind, nothing shown, nothing breaks.
    desktop_services_use(w, nullptr);
    calls.clear();
    apply_hotkeys(w);
    show_hotkey_help(w);
    set_power_blocking(w, 1);
    EXPECT_TRUE(calls.empty());
}

TEST_F(ServicesTest, the_interface_reports_the_item_the_list_and_what_can_be_done)
{
    MprisState s;
    remote_read_state(w, &s);
    EXPECT_EQ(s.status, MPRIS_STOPPED);
    EXPECT_EQ(s.track, 0u);
    EXPECT_FALSE(s.can_play || s.can_pause || s.can_seek || s.can_go_next || s.can_go_previous);

    add_entries({"/media/film.mkv", "/media/other.mkv"});
    ctx->current_item.store(0);
    ctx->items_opened.store(7);
    set_item_label(ctx, 0, 2, "电影 1");
    pretend_open(-30, 60000, true);
    ctx->audio.volume.store(150);
    remote_read_state(w, &s);
    EXPECT_EQ(s.status, MPRIS_PLAYING);
    EXPECT_EQ(s.position_us, 0) << "the clock before the first picture is not a position";
    EXPECT_EQ(s.length_us, 60000000);
    EXPECT_EQ(s.volume, 150);
    EXPECT_EQ(s.track, 7u);
    EXPECT_STREQ(s.title, "电影 1");
    EXPECT_STREQ(s.path, "/media/film.mkv");
    EXPECT_TRUE(s.can_play && s.can_pause && s.can_seek && s.can_go_next && s.can_go_previous);

    ctx->playing.store(0);
    ctx->clock_ms.store(12345);
    ctx->duration_ms.store(100); // no known length: no seeking
    remote_read_state(w, &s);
    EXPECT_EQ(s.status, MPRIS_PAUSED);
    EXPECT_EQ(s.position_us, 12345000);
    EXPECT_FALSE(s.can_seek);
}

TEST_F(ServicesTest, each_call_of_the_interface_acts_as_the_window_would_and_bad_input_changes_nothing)
{
    char tone[] = "/tmp/moravista-services-XXXXXX";
    int fd = mkstemp(tone);
    ASSERT_GE(fd, 0);
    close(fd);
    const struct {
        const char* name;
        int entries;
        bool open, playing;
        int action;
        int64_t value;
        const char* path;
        int result;
        int32_t playing_after, seek_after, open_index_after, volume_after, count_after;
    } cases[] = {
        // name, entries, open, playing, action, value, path, result, playing, seek, open index, volume, count
        {"Play resumes a paused item", 2, true, false, MPRIS_PLAY, 0, nullptr, 0, 1, -1, -1, 100, 2},
        {"Play leaves a playing item", 2, true, true, MPRIS_PLAY, 0, nullptr, 0, 1, -1, -1, 100, 2},
        {"Play with nothing open starts the current entry", 2, false, false, MPRIS_PLAY, 0, nullptr, 0, 0, -1, 0,
         100, 2},
        {"Pause pauses", 2, true, true, MPRIS_PAUSE, 0, nullptr, 0, 0, -1, -1, 100, 2},
        {"Pause leaves a paused item", 2, true, false, MPRIS_PAUSE, 0, nullptr, 0, 0, -1, -1, 100, 2},
        {"Pause with nothing open opens nothing", 2, false, false, MPRIS_PAUSE, 0, nullptr, 0, 0, -1, -1, 100, 2},
        {"PlayPause toggles", 2, true, true, MPRIS_PLAY_PAUSE, 0, nullptr, 0, 0, -1, -1, 100, 2},
        {"Stop asks for a stop", 2, true, true, MPRIS_STOP, 0, nullptr, 0, 1, -1, OPEN_INDEX_STOP, 100, 2},
        {"Next opens the next entry", 2, true, true, MPRIS_NEXT, 0, nullptr, 0, 1, -1, 1, 100, 2},
        {"Next with one entry is refused", 1, true, true, MPRIS_NEXT, 0, nullptr, -1, 1, -1, -1, 100, 1},
        {"Previous wraps to the last entry", 3, true, true, MPRIS_PREVIOUS, 0, nullptr, 0, 1, -1, 2, 100, 3},
        {"Seek forward 5 s", 2, true, true, MPRIS_SEEK_BY, 5000000, nullptr, 0, 1, 15000, -1, 100, 2},
        {"Seek back past the start lands at 0", 2, true, true, MPRIS_SEEK_BY, -INT64_MAX, nullptr, 0, 1, 0, -1, 100,
         2},
        {"Seek past the end is Next", 2, true, true, MPRIS_SEEK_BY, INT64_MAX, nullptr, 0, 1, -1, 1, 100, 2},
        {"Seek past the end of the only entry is refused", 1, true, true, MPRIS_SEEK_BY, 60000000, nullptr, -1, 1,
         -1, -1, 100, 1},
        {"Seek with nothing open is refused", 2, false, false, MPRIS_SEEK_BY, 1000000, nullptr, -1, 0, -1, -1, 100,
         2},
        {"SetPosition 30 s", 2, true, true, MPRIS_SET_POSITION, 30000000, nullptr, 0, 1, 30000, -1, 100, 2},
        {"SetPosition negative is refused", 2, true, true, MPRIS_SET_POSITION, -1, nullptr, -1, 1, -1, -1, 100, 2},
        {"SetPosition at the end is refused", 2, true, true, MPRIS_SET_POSITION, 60000000, nullptr, -1, 1, -1, -1,
         100, 2},
        {"Volume 0.5", 2, true, true, MPRIS_SET_VOLUME, 50, nullptr, 0, 1, -1, -1, 50, 2},
        {"Volume beyond 300 is 300", 2, true, true, MPRIS_SET_VOLUME, 100000, nullptr, 0, 1, -1, -1, 300, 2},
        {"OpenUri of a new file adds and plays it", 2, true, true, MPRIS_OPEN, 0, tone, 0, 1, -1, 2, 100, 3},
        {"OpenUri of a missing file is refused", 2, true, true, MPRIS_OPEN, 0, "/nonexistent/x.mkv", -1, 1, -1, -1,
         100, 2},
        {"an unknown action is refused", 2, true, true, 999, 0, nullptr, -1, 1, -1, -1, 100, 2},
    };
    for (const auto& c : cases) {
        playlist_free(ctx);
        for (int i = 0; i < c.entries; i++)
            playlist_add_entry(ctx, ("/media/" + std::to_string(i) + ".mkv").c_str(), 0);
        ctx->current_item.store(0);
        pretend_open(10000, 60000, c.playing);
        if (!c.open)
            ctx->format.store(nullptr);
        ctx->audio.volume.store(100);
        EXPECT_EQ(remote_act(w, c.action, c.value, c.path), c.result) << c.name;
        EXPECT_EQ(ctx->playing.load(), c.playing_after) << c.name;
        EXPECT_EQ(ctx->seek_target_ms.load(), c.seek_after) << c.name;
        EXPECT_EQ(ctx->open_index.load(), c.open_index_after) << c.name;
        EXPECT_EQ(int32_t(ctx->audio.volume.load()), c.volume_after) << c.name;
        EXPECT_EQ(ctx->item_count.load(), uint32_t(c.count_after)) << c.name;
    }
    // The volume is confirmed as a key would confirm it; a file already
    // listed plays from its entry instead of being added twice.
    EXPECT_NE(std::find(notices.begin(), notices.end(), " 设置音量 50 [缩小] "), notices.end());
    playlist_free(ctx);
    add_entries({"/media/a.mkv", tone, "/media/b.mkv"});
    ctx->open_index.store(-1);
    EXPECT_EQ(remote_act(w, MPRIS_OPEN, 0, tone), 0);
    EXPECT_EQ(ctx->item_count.load(), 3u);
    EXPECT_EQ(ctx->open_index.load(), 1);
    // A name that differs only in letter case is another file here.
    std::string upper = std::string(tone) + "A", lower = std::string(tone) + "a";
    fclose(fopen(upper.c_str(), "wb"));
    add_entries({lower.c_str()});
    EXPECT_EQ(remote_act(w, MPRIS_OPEN, 0, upper.c_str()), 0);
    EXPECT_EQ(ctx->item_count.load(), 5u);
    EXPECT_EQ(ctx->open_index.load(), 4);
    unlink(upper.c_str());
    unlink(tone);
}

TEST(MprisValues, volumes_are_clamped_and_only_local_file_uris_are_taken)
{
    const struct {
        double volume;
        int64_t level;
    } volumes[] = {{-5, 0},   {-INFINITY, 0}, {0, 0},        {0.5, 50},        {1.0, 100},
                   {1.1, 110}, {2.999, 300},  {3.0, 300},    {1e300, 300},     {INFINITY, 300}};
    for (const auto& v : volumes)
        EXPECT_EQ(mpris_volume_level(v.volume), v.level) << v.volume;

    const struct {
        const char* uri;
        const char* path; // null: refused
    } uris[] = {
        {"file:///tmp/a%20b.mkv", "/tmp/a b.mkv"},
        {"FILE:///tmp/x.mkv", "/tmp/x.mkv"},
        {"file://localhost/tmp/x.mkv", "/tmp/x.mkv"},
        {"file:///tmp/%E7%94%B5%E5%BD%B1.mkv", "/tmp/电影.mkv"},
        {"file:///tmp/%FF.mkv", "/tmp/\xFF.mkv"},
        {"file://other.host/tmp/x.mkv", nullptr},
        {"http://example.com/x.mkv", nullptr},
        {"/tmp/x.mkv", nullptr},
        {"file:relative.mkv", nullptr},
        {"", nullptr},
        {"file:///tmp/%zz", nullptr},
    };
    for (const auto& u : uris) {
        char* path = mpris_path_of_uri(u.uri);
        if (u.path)
            EXPECT_STREQ(path, u.path) << u.uri;
        else
            EXPECT_EQ(path, nullptr) << u.uri;
        g_free(path);
    }
}

std::string metadata_text(const MprisState& s)
{
    GVariant* v = mpris_metadata(s);
    gchar* text = g_variant_print(v, TRUE);
    std::string out = text;
    g_free(text);
    g_variant_unref(g_variant_ref_sink(v));
    return out;
}

TEST(MprisValues, metadata_names_the_open_item_and_only_the_track_while_stopped)
{
    MprisState s{};
    EXPECT_EQ(metadata_text(s), "{'mpris:trackid': <objectpath '/org/mpris/MediaPlayer2/TrackList/NoTrack'>}");
    s.status = MPRIS_PAUSED;
    s.track = 3;
    s.length_us = 60000000;
    snprintf(s.title, sizeof s.title, "电影 \xFF");
    snprintf(s.path, sizeof s.path, "/media/a b#.mkv");
    std::string text = metadata_text(s);
    EXPECT_NE(text.find("'mpris:trackid': <objectpath '/org/moravista/track/3'>"), std::string::npos) << text;
    EXPECT_NE(text.find("'mpris:length': <int64 60000000>"), std::string::npos) << text;
    EXPECT_NE(text.find("'xesam:title': <'电影 \uFFFD'>"), std::string::npos) << text;
    EXPECT_NE(text.find("'xesam:url': <'file:///media/a%20b%23.mkv'>"), std::string::npos) << text;
    snprintf(s.path, sizeof s.path, "http://example.com/live");
    EXPECT_NE(metadata_text(s).find("'xesam:url': <'http://example.com/live'>"), std::string::npos);
    // The tags it has, a list where the interface lists; none given empty.
    EXPECT_EQ(text.find("xesam:artist"), std::string::npos) << text;
    EXPECT_EQ(text.find("mpris:artUrl"), std::string::npos) << text;
    snprintf(s.artist, sizeof s.artist, "歌手 \xFF");
    snprintf(s.album_artist, sizeof s.album_artist, "Band");
    snprintf(s.genre, sizeof s.genre, "Jazz");
    snprintf(s.date, sizeof s.date, "2019");
    snprintf(s.art_path, sizeof s.art_path, "/cache/a b.jpg");
    s.track_number = 3;
    text = metadata_text(s);
    for (const char* entry : {"'xesam:artist': <['歌手 \uFFFD']>", "'xesam:albumArtist': <['Band']>",
                              "'xesam:genre': <['Jazz']>", "'xesam:contentCreated': <'2019'>",
                              "'xesam:trackNumber': <3>", "'mpris:artUrl': <'file:///cache/a%20b.jpg'>"})
        EXPECT_NE(text.find(entry), std::string::npos) << entry << " in " << text;
    EXPECT_EQ(text.find("xesam:album'"), std::string::npos) << text;
}

TEST(MprisValues, changes_are_announced_for_what_changed_and_jumps_of_the_position_are_seeks)
{
    MprisState a{};
    a.status = MPRIS_PLAYING;
    a.track = 1;
    a.volume = 100;
    a.position_us = 10000000;
    const struct {
        const char* name;
        void (*change)(MprisState*);
        std::vector<std::string> changed;
    } cases[] = {
        {"nothing", [](MprisState*) {}, {}},
        {"the position alone is never announced", [](MprisState* s) { s->position_us += 5000000; }, {}},
        {"pause", [](MprisState* s) { s->status = MPRIS_PAUSED; }, {"PlaybackStatus"}},
        {"stop", [](MprisState* s) { s->status = MPRIS_STOPPED; }, {"PlaybackStatus", "Metadata"}},
        {"another item", [](MprisState* s) { s->track = 2; }, {"Metadata"}},
        {"its cover came", [](MprisState* s) { snprintf(s->art_path, sizeof s->art_path, "/c.jpg"); }, {"Metadata"}},
        {"its tags changed", [](MprisState* s) { snprintf(s->album, sizeof s->album, "Live"); }, {"Metadata"}},
        {"volume and list", [](MprisState* s) { s->volume = 50, s->can_go_next = 1; }, {"Volume", "CanGoNext"}},
    };
    for (const auto& c : cases) {
        MprisState b = a;
        c.change(&b);
        std::vector<std::string> names;
        for (const char* n : mpris_changed_properties(a, b))
            if (n)
                names.push_back(n);
        EXPECT_EQ(names, c.changed) << c.name;
    }
    const struct {
        const char* name;
        int32_t status_after;
        int64_t position_after_us;
        bool jumped;
    } jumps[] = {
        {"played on for the 200 ms that passed", MPRIS_PLAYING, 10200000, false},
        {"a little behind while catching up", MPRIS_PLAYING, 9900000, false},
        {"sought forward", MPRIS_PLAYING, 30000000, true},
        {"sought back", MPRIS_PLAYING, 2000000, true},
        {"paused in between", MPRIS_PAUSED, 10100000, false},
    };
    for (const auto& j : jumps) {
        MprisState b = a;
        b.status = j.status_after;
        b.position_us = j.position_after_us;
        EXPECT_EQ(mpris_position_jumped(a, 0, b, 200000, 1000000), j.jumped) << j.name;
    }
}

TEST(MprisValues, the_mime_types_are_those_of_the_desktop_entry)
{
    std::ifstream in(MV_SOURCE_DIR "/data/moravista.desktop");
    std::string line, listed;
    while (std::getline(in, line))
        if (line.rfind("MimeType=", 0) == 0)
            listed = line.substr(9);
    ASSERT_FALSE(listed.empty());
    std::string ours;
    for (int i = 0; MPRIS_MIME_TYPES[i]; i++)
        ours += std::string(MPRIS_MIME_TYPES[i]) + ";";
    EXPECT_EQ(ours, listed);
}

} // namespace
