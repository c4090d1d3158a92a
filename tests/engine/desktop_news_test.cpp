// What the engine tells the window for the desktop services: whether each
// item it opens has a picture (the screensaver is held for those), that
// playback stopped, and, while memory trimming is on, that a trim is due a
// second after an item opened or a seek was carried out.
#include <algorithm>

#include "engine/engine_harness.h"
#include "settings/settings.h"

using namespace engine_test;

namespace {

using News = std::vector<std::pair<unsigned, uintptr_t>>;

News news()
{
    TestWindow& w = window();
    std::lock_guard<std::mutex> lock(w.notices_mutex);
    return w.desktop_news;
}

void forget_news()
{
    TestWindow& w = window();
    std::lock_guard<std::mutex> lock(w.notices_mutex);
    w.desktop_news.clear();
}

bool has_news(unsigned message, uintptr_t value)
{
    News all = news();
    return std::find(all.begin(), all.end(), std::make_pair(message, value)) != all.end();
}

bool news_has(size_t count)
{
    return wait_for([&] { return news().size() >= count; }, 20000);
}

TEST(DesktopNews, opened_items_say_whether_they_have_video_and_ask_for_trims_only_while_the_option_is_on)
{
    PlayerContext* ctx = engine();
    const struct {
        int trim;
        News expected;
    } cases[] = {
        {1,
         {{MSG_MEDIA_STATE, MEDIA_OPENED_VIDEO},
          {MSG_TRIM_SOON, 0},
          {MSG_TRIM_SOON, 0}, // the seek
          {MSG_MEDIA_STATE, MEDIA_OPENED_SOUND},
          {MSG_TRIM_SOON, 0},
          {MSG_MEDIA_STATE, MEDIA_STOPPED}}},
        {0,
         {{MSG_MEDIA_STATE, MEDIA_OPENED_VIDEO},
          {MSG_MEDIA_STATE, MEDIA_OPENED_SOUND},
          {MSG_MEDIA_STATE, MEDIA_STOPPED}}},
    };
    for (const auto& c : cases) {
        load_list(ctx, {fixture_path("services_minute.mp4"), fixture_path("services_tone.mka")}, false);
        settings.trim_memory.store(c.trim);
        forget_news();
        open_entry(ctx, 0, 1, 0);
        ASSERT_TRUE(wait_for([&] { return ctx->pictures_shown.load() > 0 && ctx->format.load(); }, 20000));
        request_seek(ctx, 20000, 0);
        ASSERT_TRUE(wait_for([&] { return ctx->seek_target_ms.load() < 0; }, 20000));
        open_entry(ctx, 1, 1, 0);
        // The stop only once the sound item is open: asked for sooner, it
        // would replace the open request, as the last request wins.
        ASSERT_TRUE(wait_for([&] { return has_news(MSG_MEDIA_STATE, MEDIA_OPENED_SOUND); }, 20000));
        on_window([&] { playlist_request_stop(ctx); });
        ASSERT_TRUE(news_has(c.expected.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(news(), c.expected) << "trimming " << c.trim;
    }
    settings.trim_memory.store(0);
}

} // namespace
