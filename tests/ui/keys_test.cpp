// The key table, the Alt keys, the hot keys and the held-key rule, driven
// through the window procedure with synthetic key messages.
#include <chrono>
#include <functional>

#include "ui/input_support.h"

namespace {

using namespace input_test;

struct KeyCase {
    const char* name;
    std::function<void(InputTest*)> setup;
    int32_t key;
    intptr_t modifiers;
    std::function<void(InputTest*, PlayerContext*)> check;
};

class Keys : public InputTest {
public:
    void run(const std::vector<KeyCase>& cases, bool hotkey = false)
    {
        for (const KeyCase& c : cases) {
            TearDown();
            SetUp();
            open_item(60000, true, 10000);
            ctx->seek_forward.store(7); // only the actions that choose a seek mode change it
            if (c.setup)
                c.setup(this);
            clear_notice();
            if (hotkey)
                send(MSG_HOTKEY, uintptr_t(c.key));
            else
                key(c.key, c.modifiers);
            SCOPED_TRACE(c.name);
            c.check(this, ctx);
        }
    }
};

void expect_seek(PlayerContext* ctx, int32_t target, int32_t mode = 7)
{
    EXPECT_EQ(ctx->seek_target_ms.load(), target);
    EXPECT_EQ(ctx->seek_forward.load(), mode);
}

const auto nothing_open = [](InputTest* t) { t->ctx->format.store(nullptr); };
const auto three_entries = [](InputTest* t) { t->add_entries(3); };

TEST_F(Keys, each_key_writes_its_request_or_shows_its_notice)
{
    // The window thread reads the chapters the media thread published for the menu.
    auto chapters = [](InputTest* t) {
        delete t->ctx->menu_source;
        t->ctx->menu_source = new MenuSource{{}, {{0, 5000, ""}, {5000, 20000, ""}, {20000, 60000, ""}}};
        t->ctx->chapter_count.store(3);
    };
    run({
        {"space pauses", nullptr, KEY_SPACE, 0, [](auto*, auto* c) { EXPECT_EQ(c->playing.load(), 0); }},
        {"space resumes", [](auto* t) { t->ctx->playing.store(0); }, KEY_SPACE, 0,
         [](auto*, auto* c) { EXPECT_EQ(c->playing.load(), 1); }},
        {"space with nothing open opens entry 0 when the current index is beyond the list",
         [](auto* t) { nothing_open(t); three_entries(t); t->ctx->current_item.store(9); }, KEY_SPACE, 0,
         [](auto*, auto* c) { EXPECT_EQ(c->open_index.load(), 0); EXPECT_EQ(c->open_play.load(), 1); }},
        {"media play/pause is space", nullptr, KEY_MEDIA_PLAY_PAUSE, 0,
         [](auto*, auto* c) { EXPECT_EQ(c->playing.load(), 0); }},
        {"media stop is space", nullptr, KEY_MEDIA_STOP, 0, [](auto*, auto* c) { EXPECT_EQ(c->playing.load(), 0); }},
        {"browser stop is space", nullptr, KEY_BROWSER_STOP, 0,
         [](auto*, auto* c) { EXPECT_EQ(c->playing.load(), 0); }},
        {"right seeks 5 s on", nullptr, KEY_RIGHT, 0, [](auto*, auto* c) { expect_seek(c, 15000); }},
        {"left seeks 5 s back", nullptr, KEY_LEFT, 0, [](auto*, auto* c) { expect_seek(c, 5000); }},
        {"left near the start seeks to 0", [](auto* t) { t->ctx->clock_ms.store(3000); }, KEY_LEFT, 0,
         [](auto*, auto* c) { expect_seek(c, 0); }},
        {"right while an item starts counts from its start", [](auto* t) { t->ctx->clock_ms.store(-30); }, KEY_RIGHT,
         0, [](auto*, auto* c) { expect_seek(c, 5000); }},
        {"browser forward is right", nullptr, KEY_BROWSER_FORWARD, 0, [](auto*, auto* c) { expect_seek(c, 15000); }},
        {"browser back is left", nullptr, KEY_BROWSER_BACK, 0, [](auto*, auto* c) { expect_seek(c, 5000); }},
        {"ctrl+right steps one frame on in mode 1", nullptr, KEY_RIGHT, KEY_MOD_CTRL,
         [](auto*, auto* c) { expect_seek(c, 10040, 1); EXPECT_EQ(c->playing.load(), 0); }},
        {"ctrl+left steps one frame back in mode 1", nullptr, KEY_LEFT, KEY_MOD_CTRL,
         [](auto*, auto* c) { expect_seek(c, 9960, 1); }},
        {"ctrl+left before the first frame pauses without seeking", [](auto* t) { t->ctx->clock_ms.store(20); },
         KEY_LEFT, KEY_MOD_CTRL, [](auto*, auto* c) { expect_seek(c, -1); EXPECT_EQ(c->playing.load(), 0); }},
        {"d steps one frame back in mode 0", nullptr, 'D', 0, [](auto*, auto* c) { expect_seek(c, 9960, 0); }},
        {"d without video steps 300 ms", [](auto* t) { t->ctx->slots[SLOT_VIDEO].stream_index.store(-1); }, 'D', 0,
         [](auto*, auto* c) { expect_seek(c, 9700, 0); }},
        {"d at 30000/1001 fps steps 33 ms",
         [](auto* t) { t->ctx->frame_rate_num.store(30000), t->ctx->frame_rate_den.store(1001); }, 'D', 0,
         [](auto*, auto* c) { expect_seek(c, 9967, 0); }},
        {"d with an unknown frame rate steps 40 ms", [](auto* t) { t->ctx->frame_rate_num.store(0); }, 'D', 0,
         [](auto*, auto* c) { expect_seek(c, 9960, 0); }},
        {"f asks for the next frame", nullptr, 'F', 0, [](auto*, auto* c) { EXPECT_EQ(c->step_frame.load(), 1); }},
        {"ctrl+home seeks to the start", nullptr, KEY_HOME, KEY_MOD_CTRL, [](auto*, auto* c) { expect_seek(c, 0); }},
        {"home alone does nothing", nullptr, KEY_HOME, 0, [](auto*, auto* c) { expect_seek(c, -1); }},
        {"ctrl+page down seeks 30 s on", nullptr, KEY_PAGE_DOWN, KEY_MOD_CTRL,
         [](auto*, auto* c) { expect_seek(c, 40000); }},
        {"ctrl+page up seeks 30 s back, not below 0", nullptr, KEY_PAGE_UP, KEY_MOD_CTRL,
         [](auto*, auto* c) { expect_seek(c, 0); }},
        {"seeks with nothing open stay unasked", nothing_open, KEY_RIGHT, 0,
         [](auto*, auto* c) { expect_seek(c, -1); }},
        {"page down opens the next entry", three_entries, KEY_PAGE_DOWN, 0,
         [](auto*, auto* c) { EXPECT_EQ(c->open_index.load(), 1); }},
        {"page up wraps to the last entry", three_entries, KEY_PAGE_UP, 0,
         [](auto*, auto* c) { EXPECT_EQ(c->open_index.load(), 2); }},
        {"page down with one entry does nothing", [](auto* t) { t->add_entries(1); }, KEY_PAGE_DOWN, 0,
         [](auto*, auto* c) { EXPECT_EQ(c->open_index.load(), -1); }},
        {"media next is page down", three_entries, KEY_MEDIA_NEXT, 0,
         [](auto*, auto* c) { EXPECT_EQ(c->open_index.load(), 1); }},
        {"media previous is page up", three_entries, KEY_MEDIA_PREVIOUS, 0,
         [](auto*, auto* c) { EXPECT_EQ(c->open_index.load(), 2); }},
        {"shift+page down goes to the next chapter", chapters, KEY_PAGE_DOWN, KEY_MOD_SHIFT,
         [](auto*, auto* c) { expect_seek(c, 20000, 0); }},
        {"shift+page up 5 s into a chapter goes back to its start", chapters, KEY_PAGE_UP, KEY_MOD_SHIFT,
         [](auto*, auto* c) { expect_seek(c, 5000, 0); }},
        {"up raises the volume with its notice", nullptr, KEY_UP, 0,
         [](auto* t, auto* c) { EXPECT_EQ(c->audio.volume.load(), 120u); EXPECT_EQ(t->notice(), " 设置音量 120 [扩大] "); }},
        {"down lowers it", nullptr, KEY_DOWN, 0,
         [](auto* t, auto* c) { EXPECT_EQ(c->audio.volume.load(), 100u); EXPECT_EQ(t->notice(), " 设置音量 100 [原始] "); }},
        {"ctrl+c asks for the picture", nullptr, 'C', KEY_MOD_CTRL,
         [](auto*, auto* c) { EXPECT_EQ(c->copy_request.load(), 2); }},
        {"alt+c asks for the picture with subtitles", nullptr, 'C', KEY_MOD_ALT,
         [](auto*, auto* c) { EXPECT_EQ(c->copy_request.load(), 3); }},
        {"c alone copies the subtitle text (none here)", nullptr, 'C', 0,
         [](auto* t, auto*) { EXPECT_EQ(t->notice(), " 没有字幕! "); }},
        {"r shuffles", three_entries, 'R', 0, [](auto* t, auto*) { EXPECT_EQ(t->notice(), " 列表已被打乱! "); }},
        {"s sorts", three_entries, 'S', 0, [](auto* t, auto*) { EXPECT_EQ(t->notice(), " 列表排序完成! "); }},
        {"tab toggles the title line", nullptr, KEY_TAB, 0, [](auto* t, auto*) {
             EXPECT_EQ(settings.show_title.load(), 1);
             EXPECT_EQ(t->notice(), " 顶部显示标题信息 ");
         }},
        {"esc in a normal window pauses a video and minimises", nullptr, KEY_ESCAPE, 0, [](auto*, auto* c) {
             EXPECT_EQ(c->playing.load(), 0);
             EXPECT_EQ(record->desktop, std::vector<std::string>{"minimize"});
         }},
        {"esc always on top does not minimise", [](auto*) { settings.always_on_top.store(1); }, KEY_ESCAPE, 0,
         [](auto*, auto* c) { EXPECT_EQ(c->playing.load(), 1); EXPECT_TRUE(record->desktop.empty()); }},
        {"esc in full screen leaves it only", [](auto* t) { t->w->screen_mode = 1; }, KEY_ESCAPE, 0,
         [](auto* t, auto* c) {
             EXPECT_EQ(c->playing.load(), 1);
             EXPECT_EQ(t->w->screen_mode, 0);
             EXPECT_EQ(record->desktop, std::vector<std::string>{"move"}); // back to the windowed rectangle
         }},
        {"another key only redraws", [](auto* t) { t->ctx->copy_request.store(0); }, 'Q', 0,
         [](auto*, auto* c) { expect_seek(c, -1); EXPECT_EQ(c->copy_request.load(), 1); }},
    });
}

TEST_F(Keys, hot_keys_act_as_the_table_says)
{
    run({
        {"P plays or pauses", nullptr, 'P', 0, [](auto*, auto* c) { EXPECT_EQ(c->playing.load(), 0); }},
        {"S stops", nullptr, 'S', 0, [](auto*, auto* c) { EXPECT_EQ(c->open_index.load(), OPEN_INDEX_STOP); }},
        {"N opens the next entry", three_entries, 'N', 0, [](auto*, auto* c) { EXPECT_EQ(c->open_index.load(), 1); }},
        {"page down opens the next entry", three_entries, KEY_PAGE_DOWN, 0,
         [](auto*, auto* c) { EXPECT_EQ(c->open_index.load(), 1); }},
        {"B opens the previous one", three_entries, 'B', 0,
         [](auto*, auto* c) { EXPECT_EQ(c->open_index.load(), 2); }},
        {"R shuffles", three_entries, 'R', 0, [](auto* t, auto*) { EXPECT_EQ(t->notice(), " 列表已被打乱! "); }},
        {"right seeks even while a seek is pending", [](auto* t) { request_seek(t->ctx, 30000, 0); }, KEY_RIGHT,
         0, [](auto*, auto* c) { expect_seek(c, 15000, 0); }},
        {"left seeks back", nullptr, KEY_LEFT, 0, [](auto*, auto* c) { expect_seek(c, 5000); }},
        {"up raises the volume", nullptr, KEY_UP, 0, [](auto*, auto* c) { EXPECT_EQ(c->audio.volume.load(), 120u); }},
        {"down lowers it", nullptr, KEY_DOWN, 0, [](auto*, auto* c) { EXPECT_EQ(c->audio.volume.load(), 100u); }},
    }, true);
}

TEST_F(Keys, volume_steps_stop_at_0_and_300_with_their_labels)
{
    const struct {
        uint32_t from;
        int32_t key;
        uint32_t to;
        const char* notice;
    } cases[] = {
        {5, KEY_DOWN, 0, " 设置音量 0 [静音] "},      {10, KEY_DOWN, 0, " 设置音量 0 [静音] "},
        {50, KEY_DOWN, 40, " 设置音量 40 [缩小] "},   {90, KEY_UP, 100, " 设置音量 100 [原始] "},
        {100, KEY_UP, 110, " 设置音量 110 [自动调节] "}, {295, KEY_UP, 300, " 设置音量 300 [扩大] "},
        {290, KEY_UP, 300, " 设置音量 300 [扩大] "},  {300, KEY_UP, 300, " 设置音量 300 [扩大] "},
        {0, KEY_DOWN, 0, " 设置音量 0 [静音] "},
    };
    for (const auto& c : cases) {
        audio_set_volume(&ctx->audio, c.from);
        key(c.key);
        EXPECT_EQ(ctx->audio.volume.load(), c.to) << c.from;
        EXPECT_EQ(notice(), c.notice) << c.from;
    }
}

TEST_F(Keys, a_held_arrow_waits_100_ms_and_is_dropped_while_a_seek_is_pending)
{
    open_item(60000, true, 10000);
    add_entries(3);
    const struct {
        const char* name;
        int32_t key;
        intptr_t modifiers;
        bool dropped;
    } cases[] = {
        {"right", KEY_RIGHT, 0, true},
        {"ctrl+left", KEY_LEFT, KEY_MOD_CTRL, true},
        {"ctrl+page down", KEY_PAGE_DOWN, KEY_MOD_CTRL, true},
        {"page down alone is never dropped", KEY_PAGE_DOWN, 0, false},
    };
    for (const auto& c : cases) {
        request_seek(ctx, 30000, 0);
        ctx->open_index.store(-1);
        auto start = std::chrono::steady_clock::now();
        key(c.key, c.modifiers);
        auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(ctx->seek_target_ms.load(), 30000) << c.name;
        if (c.dropped) {
            EXPECT_GE(waited, std::chrono::milliseconds(99)) << c.name;
            EXPECT_EQ(ctx->open_index.load(), -1) << c.name;
        } else {
            EXPECT_LT(waited, std::chrono::milliseconds(90)) << c.name;
            EXPECT_EQ(ctx->open_index.load(), 1) << c.name;
        }
    }
}

TEST_F(Keys, any_key_shows_a_hidden_pointer_and_restarts_the_idle_count)
{
    for (int32_t code : {int32_t(KEY_NONE), int32_t('Q'), int32_t(KEY_SPACE), int32_t('C')}) {
        w->cursor_hidden.store(1);
        w->idle_ticks.store(25);
        record->desktop.clear();
        key(code, code == 'C' ? KEY_MOD_ALT : 0);
        EXPECT_EQ(w->cursor_hidden.load(), 0) << code;
        EXPECT_EQ(w->idle_ticks.load(), 0) << code;
        EXPECT_EQ(record->desktop, std::vector<std::string>{"pointer shown"}) << code;
    }
}

TEST(ChapterStep, finds_the_chapter_holding_the_clock_and_steps_from_it)
{
    Chapter chapters[5]{};
    for (int i = 0; i < 5; i++) {
        chapters[i].start_ms = i * 60000;
        chapters[i].end_ms = (i + 1) * 60000;
    }
    const struct {
        const char* name;
        int32_t clock_ms;
        int forward;
        int32_t target;
    } cases[] = {
        {"3 s into chapter 4 goes back to chapter 3", 4 * 60000 + 3000, 0, 3},
        {"8 s into chapter 4 goes to its start", 4 * 60000 + 8000, 0, 4},
        {"exactly 5 s in counts as past the start", 60000 + 5000, 0, 1},
        {"in the first chapter there is none before", 1000, 0, -1},
        {"forward goes to the next", 60000 + 100, 1, 2},
        {"forward from the last goes nowhere", 4 * 60000 + 100, 1, -1},
        {"past the last chapter's end there is none", 5 * 60000, 1, -1},
        {"a chapter's end belongs to the next", 2 * 60000, 1, 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(chapter_step_target(chapters, 5, c.clock_ms, c.forward), c.target) << c.name;
    EXPECT_EQ(chapter_step_target(chapters, 0, 1000, 1), -1);
}

} // namespace
