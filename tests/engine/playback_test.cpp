// The whole engine on real clips: the media, decoder and presentation
// threads with the playlist answering MSG_PLAYLIST and sound through the
// null device. Each item plays in real time, so clips are short.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixfmt.h>
}

#include "engine/engine_harness.h"
#include "render/render_internal.h"

using namespace engine_test;

namespace {

struct ItemCase {
    const char* file;
    const char* video_codec; // "" for none
    const char* audio_codec; // "" for none
    int64_t min_pictures;    // shown or dropped as late
    int64_t max_pictures;
    int32_t channels;        // of the stream; 0 without sound
};

// Every kind of item plays to its end with its pictures and sound, and the
// run ends with exit code 0.
TEST(Playback, each_kind_of_item_plays_to_its_end)
{
    const ItemCase cases[] = {
        {"h264_aac.mp4", "h264", "aac", 70, 76, 1},
        {"vp9_opus.webm", "vp9", "opus", 70, 76, 1},
        {"mpeg2_offset.ts", "mpeg2video", "mp2", 70, 76, 1},
        {"hevc10.mkv", "hevc", "", 45, 51, 0},
        {"cover.mp3", "", "mp3", 0, 0, 1},
        {"surround51.mka", "", "aac", 0, 0, 6},
        {"surround71.mka", "", "aac", 0, 0, 8},
        {"raw.h264", "h264", "", 45, 51, 0},
        {"alpha.png", "png", "", 1, 1, 0},
        {"still.jpg", "mjpeg", "", 1, 1, 0},
        {"anim.gif", "gif", "", 9, 10, 0},
    };
    PlayerContext* ctx = engine();
    for (const ItemCase& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(play_to_end(ctx, {fixture_path(c.file)}), 0);
        StatsCopy s = stats_copy(ctx);
        ASSERT_EQ(s.items.size(), 1u);
        EXPECT_TRUE(s.items[0].opened);
        EXPECT_STREQ(s.items[0].video_codec, c.video_codec);
        EXPECT_STREQ(s.items[0].audio_codec, c.audio_codec);
        EXPECT_EQ(s.items[0].channels, c.channels);
        int64_t pictures = stats_of(ctx)->video_frames_presented.load() + stats_of(ctx)->video_frames_dropped.load();
        EXPECT_GE(pictures, c.min_pictures);
        EXPECT_LE(pictures, c.max_pictures);
        EXPECT_GE(stats_of(ctx)->video_frames_presented.load(), c.min_pictures > 0 ? 1 : 0);
        if (c.channels) {
            EXPECT_GT(stats_of(ctx)->audio_chunks_written.load(), 30); // two seconds or more in chunks of two frames
        }
    }
}

TEST(Playback, a_stream_with_a_start_offset_counts_time_from_its_first_frame)
{
    PlayerContext* ctx = engine();
    ASSERT_EQ(play_to_end(ctx, {fixture_path("mpeg2_offset.ts")}), 0);
    EXPECT_GE(ctx->start_offset_ms.load(), 11000);
    EXPECT_LE(ctx->start_offset_ms.load(), 11500);
    EXPECT_EQ(ctx->start_offset_text[0], '+');
    // The last picture lies about three seconds into the item, not at 14 s.
    EXPECT_GT(ctx->duration_ms.load(), 2500);
    EXPECT_LT(ctx->duration_ms.load(), 3500);
}

TEST(Playback, a_stream_without_a_duration_grows_it_as_pictures_arrive)
{
    PlayerContext* ctx = engine();
    ASSERT_EQ(play_to_end(ctx, {fixture_path("raw.h264")}), 0);
    EXPECT_EQ(stats_copy(ctx).items[0].duration_ms, 100);
    EXPECT_GE(ctx->duration_ms.load(), 1800);
}

TEST(Playback, a_cover_picture_is_never_chosen_as_the_video)
{
    PlayerContext* ctx = engine();
    ASSERT_EQ(play_to_end(ctx, {fixture_path("cover.mp3")}), 0);
    EXPECT_EQ(stats_of(ctx)->video_frames_presented.load(), 0);
    EXPECT_GT(ctx->audio_only_position_ms.load(), 2500);
}

TEST(Playback, seven_one_sound_plays_on_six_device_channels)
{
    PlayerContext* ctx = engine();
    ASSERT_EQ(play_to_end(ctx, {fixture_path("surround71.mka")}), 0);
    EXPECT_EQ(ctx->audio.audio_channels, 6);
    EXPECT_EQ(ctx->audio.audio_block_align, 12);
}

TEST(Playback, chapters_and_the_embedded_subtitle_track_are_read)
{
    PlayerContext* ctx = engine();
    ASSERT_EQ(play_to_end(ctx, {fixture_path("tracks.mkv")}), 0);
    StatsCopy s = stats_copy(ctx);
    ASSERT_EQ(s.items.size(), 1u);
    EXPECT_EQ(s.items[0].chapters, 2);
    EXPECT_EQ(s.items[0].subtitle_source, STATS_SUB_EMBEDDED);
    EXPECT_EQ(s.items[0].subtitle_events, 2);
    EXPECT_NE(strstr(s.items[0].subtitle_first_text, "第一句字幕"), nullptr);
    ASSERT_EQ(ctx->chapter_count.load(), 2u);
    int32_t offset = int32_t(ctx->start_offset_ms.load());
    EXPECT_EQ(ctx->chapters[1].start_ms, 1500 - offset);
    EXPECT_EQ(ctx->chapters[1].end_ms, 3000 - offset);
    EXPECT_STREQ(ctx->chapters[0].title, "开始");
    EXPECT_STREQ(ctx->chapters[1].title, "Second");
}

// ---- the end of an item ----

TEST(Playback, a_still_picture_stays_on_screen_as_premultiplied_bgra)
{
    PlayerContext* ctx = engine();
    load_list(ctx, {fixture_path("alpha.png"), fixture_path("still.jpg")}, false);
    open_entry(ctx, 0, 1, 0);
    ASSERT_TRUE(wait_for([&] { return presented(ctx) >= 1; }, 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    // Still the first item, its one picture, no request for the next one.
    EXPECT_EQ(presented(ctx), 1);
    EXPECT_EQ(window().items_ended.load(), 0);
    EXPECT_EQ(ctx->current_item.load(), 0u);
    StreamSlot* video = &ctx->slots[SLOT_VIDEO];
    AVFrame* frame = video->frames[current_frame_index(video)].frame;
    ASSERT_EQ(frame->format, AV_PIX_FMT_BGRA);
    // Red at half opacity: (255, 0, 0, 127) becomes B 0, G 0, R 255 * 128 >> 8, A 127.
    const uint8_t* p = frame->data[0];
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ(p[2], 127);
    EXPECT_EQ(p[3], 127);
    // Nothing is left pending that would keep the engine polling every millisecond.
    EXPECT_EQ(ctx->seek_target_ms.load(), -1);
}

TEST(Playback, an_animated_picture_loops)
{
    PlayerContext* ctx = engine();
    load_list(ctx, {fixture_path("anim.gif"), fixture_path("still.jpg")}, false);
    open_entry(ctx, 0, 1, 0);
    // Ten pictures a second: after three seconds it has gone round more than once.
    ASSERT_TRUE(wait_for([&] { return presented(ctx) > 15; }, 15000));
    EXPECT_EQ(ctx->current_item.load(), 0u);
    StatsCopy s = stats_copy(ctx);
    ASSERT_FALSE(s.seeks.empty());
    EXPECT_EQ(s.seeks[0].target_ms, 0);
    EXPECT_EQ(s.seeks[0].origin, SEEK_BY_LOOP);
}

TEST(Playback, a_single_item_repeats_and_a_list_moves_on_once)
{
    PlayerContext* ctx = engine();
    load_list(ctx, {fixture_path("h264_aac.mp4")}, false);
    open_entry(ctx, 0, 1, 0);
    ASSERT_TRUE(wait_for([&] { return presented(ctx) > 80; }, 20000));
    EXPECT_EQ(window().items_ended.load(), 0);
    EXPECT_EQ(stats_copy(ctx).seeks.at(0).origin, SEEK_BY_LOOP);

    load_list(ctx, {fixture_path("still.jpg"), fixture_path("h264_aac.mp4"), fixture_path("alpha.png")}, false);
    open_entry(ctx, 1, 1, 0);
    ASSERT_TRUE(wait_for([&] { return ctx->current_item.load() == 2; }, 20000));
    EXPECT_EQ(window().items_ended.load(), 1);
}

// While the media thread holds presentation (it rewrites the item's texts),
// no picture is being drawn and none starts; a hold taken in the middle of a
// slow drawing waits for it to finish.
namespace {
std::atomic<int> blits_in_progress{0};
std::atomic<int> blits_done{0};
void slow_blit(void*, const uint8_t*, int, int, int)
{
    blits_in_progress.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
    blits_in_progress.fetch_sub(1);
    blits_done.fetch_add(1);
}
} // namespace

TEST(Playback, a_held_presentation_draws_nothing_until_released)
{
    PlayerContext* ctx = engine();
    render_set_blit_hook(slow_blit, nullptr);
    load_list(ctx, {fixture_path("h264_aac.mp4")}, false);
    open_entry(ctx, 0, 1, 0);
    ASSERT_TRUE(wait_for([&] { return blits_done.load() > 3; }, 10000));
    for (int round = 0; round < 20; round++) {
        hold_presentation(ctx);
        EXPECT_EQ(blits_in_progress.load(), 0);
        int done = blits_done.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        EXPECT_EQ(blits_done.load(), done);
        EXPECT_EQ(blits_in_progress.load(), 0);
        release_presentation(ctx);
        int after = blits_done.load();
        ASSERT_TRUE(wait_for([&] { return blits_done.load() > after; }, 5000)) << "drawing never resumed";
    }
    render_set_blit_hook(nullptr, nullptr);
}

// ---- broken entries ----

TEST(Playback, broken_entries_are_skipped_and_the_next_one_plays)
{
    PlayerContext* ctx = engine();
    int code = play_to_end(ctx, {fixture_path("empty.mp4"), fixture_path("text.mkv"), fixture_path("h264_aac.mp4"),
                                 fixture_path("random.avi")});
    EXPECT_EQ(code, 0);
    StatsCopy s = stats_copy(ctx);
    ASSERT_GE(s.items.size(), 3u);
    EXPECT_FALSE(s.items[0].opened);
    EXPECT_FALSE(s.items[1].opened);
    EXPECT_TRUE(s.items[2].opened);
    EXPECT_GT(presented(ctx), 50);
}

TEST(Playback, a_list_where_nothing_plays_shows_one_notice_and_ends_with_code_1)
{
    PlayerContext* ctx = engine();
    int code = play_to_end(ctx, {fixture_path("empty.mp4"), fixture_path("text.mkv"), fixture_path("random.avi"),
                                 "/nonexistent/film.mkv"});
    EXPECT_EQ(code, 1);
    ASSERT_EQ(notices_containing("无法播放").size(), 1u);
    // It names the entry asked for, not the last one tried.
    EXPECT_EQ(notices_containing("无法播放")[0], " 无法播放 1 / 4 - " + fixture_path("empty.mp4") + " ");
    EXPECT_EQ(ctx->format.load(), nullptr);
    for (const StreamSlot& slot : ctx->slots)
        EXPECT_EQ(slot.stream_index.load(), -1);
}

TEST(Playback, a_truncated_file_plays_what_it_has_and_ends)
{
    PlayerContext* ctx = engine();
    EXPECT_EQ(play_to_end(ctx, {fixture_path("truncated.mkv")}), 0);
    EXPECT_GT(presented(ctx), 10);
    EXPECT_LT(presented(ctx), 76);
}

TEST(Playback, requesting_a_missing_entry_opens_the_following_one)
{
    PlayerContext* ctx = engine();
    load_list(ctx, {fixture_path("still.jpg"), "/nonexistent/film.mkv", fixture_path("alpha.png")}, false);
    open_entry(ctx, 1, 1, 0);
    ASSERT_TRUE(wait_for([&] { return presented(ctx) >= 1; }, 10000));
    EXPECT_EQ(ctx->current_item.load(), 2u);
}

TEST(Playback, a_stop_request_leaves_the_engine_idle)
{
    PlayerContext* ctx = engine();
    load_list(ctx, {fixture_path("h264_aac.mp4")}, false);
    open_entry(ctx, 0, 1, 0);
    ASSERT_TRUE(wait_for([&] { return presented(ctx) > 5; }, 10000));
    on_window([&] { playlist_request_stop(ctx); });
    ASSERT_TRUE(wait_for([&] { return ctx->format.load() == nullptr; }, 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (const StreamSlot& slot : ctx->slots) {
        EXPECT_EQ(slot.stream_index.load(), -1);
        EXPECT_EQ(slot.packets_head.load(), nullptr);
    }
    EXPECT_EQ(ctx->packets_in_flight.load(), -1); // no spare node left behind
    EXPECT_EQ(ctx->seek_target_ms.load(), -1) << "a stopped engine would poll every millisecond";
    // The empty screen draws progress markers only for an item with a duration.
    EXPECT_LE(ctx->duration_ms.load(), 100) << "the closed item's markers would stay on the empty screen";
    // A seek asked for while nothing plays is dropped, not left pending.
    on_window([&] { ::request_seek(ctx, 4000, 0); });
    EXPECT_TRUE(wait_for([&] { return ctx->seek_target_ms.load() == -1; }, 2000));
}

// A source that stalls while it is being opened (a slow network share, a
// pipe nobody writes to yet) holds up only the media thread: notices and
// redraws are still drawn meanwhile, and the item is skipped once the
// source gives up.
TEST(Playback, an_item_that_stalls_while_opening_does_not_stop_the_drawing)
{
    PlayerContext* ctx = engine();
    render_set_blit_hook(slow_blit, nullptr);
    std::string fifo = "/tmp/mv-stalled-" + std::to_string(getpid()) + ".mkv";
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    load_list(ctx, {fifo}, false);
    open_entry(ctx, 0, 1, 0);
    ASSERT_TRUE(wait_for([&] { return ctx->open_index.load() < 0; }, 5000)) << "the request was not taken";
    // A writer can join only once the media thread has the pipe open for
    // reading: from then on its open waits for data that does not come.
    int fd = -1;
    ASSERT_TRUE(wait_for([&] { return (fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) >= 0; }, 5000))
        << "the open never reached the pipe";
    for (int round = 0; round < 3; round++) {
        int before = blits_done.load();
        show_notice(ctx, " 第 %d 条 ", round);
        EXPECT_TRUE(wait_for([&] { return blits_done.load() > before; }, 3000)) << "nothing drawn during the open";
        EXPECT_EQ(ctx->presentation_hold.load(), 0);
    }
    EXPECT_EQ(ctx->format.load(), nullptr) << "the open should still be waiting";
    // The writer sends nothing usable: the open fails and the item is skipped.
    (void)!write(fd, "not a film", 10);
    close(fd);
    EXPECT_TRUE(wait_for([&] { return !notices_containing("无法播放").empty(); }, 10000));
    unlink(fifo.c_str());
    render_set_blit_hook(nullptr, nullptr);
}

} // namespace
