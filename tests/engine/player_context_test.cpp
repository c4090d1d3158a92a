// Start-up defaults, closing an item, and the small text helpers of the context.
#include <gtest/gtest.h>

#include <cstring>

extern "C" {
#include <ass/ass.h>
#include <libavutil/dict.h>
}

#include "core/core.h"
#include "engine/engine_internal.h"
#include "support/engine_exit.h"

namespace {

TEST(PlayerSetup, starts_with_no_item_and_the_documented_defaults)
{
    PlayerContext* ctx = player_context_new();
    player_setup(ctx);
    for (const StreamSlot& slot : ctx->slots)
        EXPECT_EQ(slot.stream_index.load(), -1);
    EXPECT_EQ(ctx->video_choice.load(), -1);
    EXPECT_EQ(ctx->audio_choice.load(), -1);
    EXPECT_EQ(ctx->subtitle_choice.load(), -1);
    EXPECT_EQ(ctx->open_index.load(), -1);
    EXPECT_EQ(ctx->duration_ms.load(), 1);
    EXPECT_EQ(ctx->tick_ms, 2000);
    EXPECT_EQ(ctx->audio.volume.load(), 110u);
    EXPECT_EQ(ctx->audio.audio_gain.load(), 281u);
    EXPECT_EQ(ctx->seek_target_ms.load(), -1);
    player_context_free(ctx);
}

TEST(PlayerSetup, osd_track_holds_style_T_and_one_event_for_the_clock)
{
    PlayerContext* ctx = player_context_new();
    player_setup(ctx);
    ASSERT_NE(ctx->subtitles.ass_library, nullptr);
    ASSERT_NE(ctx->osd_renderer, nullptr);
    ASSERT_NE(ctx->osd_track, nullptr);
    ASS_Track* track = ctx->osd_track;
    ASSERT_GE(track->n_styles, 1);
    const ASS_Style& style = track->styles[track->n_styles - 1];
    EXPECT_STREQ(style.Name, "T");
    EXPECT_STREQ(style.FontName, "Verdana");
    EXPECT_EQ(style.FontSize, 13);
    EXPECT_EQ(style.PrimaryColour, 0x00FF00A0u); // &HA000FF00 read as AABBGGRR
    EXPECT_EQ(style.Alignment, 7); // top right, held by libass in the legacy numbering
    ASSERT_EQ(track->n_events, 1);
    EXPECT_EQ(track->events[0].Style, track->n_styles - 1);
    EXPECT_EQ(track->events[0].Start, 0);
    EXPECT_EQ(track->events[0].Duration, 1);
    EXPECT_EQ(track->events[0].Text, ctx->osd_event_text);
    player_context_free(ctx);
}

TEST(CloseItem, is_safe_twice_on_a_context_without_an_item)
{
    PlayerContext* ctx = player_context_new();
    player_setup(ctx);
    ctx->chapter_count = 4;
    ctx->subtitles.external_count = 2;
    ctx->track_switch_request = 1020;
    close_item(ctx);
    close_item(ctx);
    EXPECT_EQ(ctx->format.load(), nullptr);
    EXPECT_EQ(ctx->chapter_count.load(), 0u);
    EXPECT_EQ(ctx->subtitles.external_count.load(), 0u);
    EXPECT_EQ(ctx->track_switch_request.load(), -1);
    for (const StreamSlot& slot : ctx->slots)
        EXPECT_EQ(slot.stream_index.load(), -1);
    player_context_free(ctx);
}

TEST(FormatTime, writes_hours_minutes_seconds_and_milliseconds)
{
    struct Case {
        int32_t ms;
        const char* text;
    } cases[] = {{3723004, "01:02:03.004"}, {0, "00:00:00.000"}, {59999, "00:00:59.999"}, {360000000, "100:00:00.000"}};
    for (const Case& c : cases) {
        char buffer[32] = "";
        char* end = format_time_ms(buffer, c.ms);
        EXPECT_STREQ(buffer, c.text);
        EXPECT_EQ(end, buffer + strlen(c.text));
    }
}

TEST(TitleFromMetadata, converts_utf8_and_legacy_text_and_reports_a_missing_title)
{
    AVDictionary* dict = nullptr;
    EXPECT_EQ(title_from_metadata(dict), nullptr);
    av_dict_set(&dict, "artist", "x", 0);
    EXPECT_EQ(title_from_metadata(dict), nullptr);
    av_dict_set(&dict, "title", "\xe7\x94\xb5\xe5\xbd\xb1 Film", 0); // "电影 Film" in UTF-8
    EXPECT_STREQ(title_from_metadata(dict), "\xe7\x94\xb5\xe5\xbd\xb1 Film");
    av_dict_set(&dict, "title", "\xb5\xe7\xd3\xb0", 0); // "电影" in GBK
    EXPECT_STREQ(title_from_metadata(dict), "\xe7\x94\xb5\xe5\xbd\xb1");
    av_dict_free(&dict);
}

TEST(EngineThreads, idle_after_start_and_take_a_stop_request)
{
    // The threads run for the life of the process, so this context is never freed.
    end_with_engine();
    PlayerContext* ctx = player_init(player_context_new());
    uint32_t first = ctx->clock_wall_ms.load();
    delay_100ns(SLEEP_30MS * 2);
    EXPECT_NE(ctx->clock_wall_ms.load(), first) << "the presentation thread is not running its passes";
    ctx->open_index.store(OPEN_INDEX_STOP, std::memory_order_release);
    for (int i = 0; i < 200 && ctx->open_index.load() != -1; i++)
        delay_100ns(SLEEP_10MS);
    EXPECT_EQ(ctx->open_index.load(), -1) << "the media thread did not take the request";
    EXPECT_EQ(ctx->format.load(), nullptr);
}

} // namespace

// The seek request word: the last request wins, a finished seek clears only
// itself, and the engine's own seek of a track switch never replaces one
// the user asked for.
TEST(SeekRequest, the_last_request_wins_and_the_engines_own_seek_waits_its_turn)
{
    struct Step {
        const char* what;
        void (*act)(PlayerContext*);
        int32_t target, forward; // the order the demux loop reads afterwards
        int32_t target_ms;       // seek_target_ms afterwards
    };
    static SeekOrder taken;
    const Step steps[] = {
        {"none at start", [](PlayerContext* c) { seek_clear(c); }, -1, -1, -1},
        {"a switch while idle asks", [](PlayerContext* c) { request_seek_unless_pending(c, 700, 0); }, 700, 0, 700},
        {"a user seek replaces it", [](PlayerContext* c) { request_seek(c, 1200, 1); }, 1200, 1, 1200},
        {"a later switch keeps the user's", [](PlayerContext* c) { request_seek_unless_pending(c, 2021, 0); }, 1200, 1,
         1200},
        {"the loop takes it", [](PlayerContext* c) { taken = seek_order_read(c); }, 1200, 1, 1200},
        {"a newer one meanwhile", [](PlayerContext* c) { request_seek(c, 300, SEEK_KEEP_FORWARD); }, 300, 1, 300},
        {"the taken one done leaves the newer", [](PlayerContext* c) { seek_order_done(c, taken); }, 300, 1, 300},
        {"the newer one done clears", [](PlayerContext* c) { seek_order_done(c, SeekOrder{300, 1}); }, -1, -1, -1},
    };
    PlayerContext* ctx = player_context_new();
    player_setup(ctx);
    for (const Step& s : steps) {
        s.act(ctx);
        SeekOrder order = seek_order_read(ctx);
        EXPECT_EQ(order.target_ms, s.target) << s.what;
        if (s.target >= 0) {
            EXPECT_EQ(order.forward, s.forward) << s.what;
        }
        EXPECT_EQ(ctx->seek_target_ms.load(), s.target_ms) << s.what;
    }
    player_context_free(ctx);
}
