// Regions, region tracking, the buttons by region and the wheel, driven
// through the window procedure with synthetic mouse messages.
#include <functional>

#include "ui/input_support.h"

namespace {

using namespace input_test;

TEST(ScreenRegion, every_point_belongs_to_the_region_the_table_gives)
{
    const struct {
        int32_t x, y, width, height, region;
    } cases[] = {
        {480, 270, 960, 540, REGION_PICTURE},  {49, 31, 960, 540, REGION_LEFT_STRIP},
        {49, 30, 960, 540, REGION_TOP_BAR},    {49, 509, 960, 540, REGION_LEFT_STRIP},
        {49, 510, 960, 540, REGION_PROGRESS},  {50, 200, 960, 540, REGION_PICTURE},
        {911, 200, 960, 540, REGION_RIGHT_STRIP}, {910, 200, 960, 540, REGION_PICTURE},
        {959, 0, 960, 540, REGION_CLOSE},      {935, 26, 960, 540, REGION_CLOSE},
        {934, 26, 960, 540, REGION_MAXIMIZE},  {910, 0, 960, 540, REGION_MAXIMIZE},
        {909, 0, 960, 540, REGION_MINIMIZE},   {884, 26, 960, 540, REGION_MINIMIZE},
        {883, 0, 960, 540, REGION_TOP_BAR},    {935, 27, 960, 540, REGION_TOP_BAR},
        {0, 539, 960, 540, REGION_PROGRESS},   {-5, -5, 960, 540, REGION_TOP_BAR},
        {-5, 200, 960, 540, REGION_LEFT_STRIP}, {5000, 5000, 960, 540, REGION_PROGRESS},
        {0, 0, 1, 1, REGION_CLOSE},            {-32768, 32767, 1, 1, REGION_PROGRESS},
    };
    for (const auto& c : cases)
        EXPECT_EQ(screen_region(c.x, c.y, c.width, c.height), c.region) << c.x << "," << c.y << " in " << c.width;
}

TEST(ProgressPosition, is_the_share_of_the_bar_between_its_4_pixel_margins)
{
    const struct {
        int32_t duration, x, width, position;
    } cases[] = {
        {60000, 4, 960, 0},          {60000, 0, 960, 0},      {60000, 956, 960, 59999},
        {60000, 959, 960, 59999},    {60000, 480, 960, 29999}, // 59999 x 476 / 952
        {60000, -300, 960, 0},       {0, 480, 960, 0},         {60000, 5, 8, 0},
        {60000, 5, 1, 0},            {INT32_MAX, 900, 960, int32_t(int64_t(INT32_MAX - 1) * 896 / 952)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(progress_position_ms(c.duration, c.x, c.width), c.position) << c.x << " of " << c.width;
}

class Mouse : public InputTest {};

TEST_F(Mouse, moving_tracks_the_region_the_position_on_the_bar_and_shows_the_pointer)
{
    open_item(60000, true);
    w->cursor_hidden.store(1);
    ctx->clock_ticks.store(5);
    move(480, 530);
    EXPECT_EQ(ctx->hover_region.load(), REGION_PROGRESS);
    EXPECT_EQ(ctx->hover_position_ms.load(), 29999); // 59999 x 476 / 952
    EXPECT_EQ(ctx->clock_ticks.load(), 0);
    EXPECT_EQ(w->mouse_tracking.load(), 1);
    EXPECT_EQ(w->cursor_hidden.load(), 0);
    EXPECT_EQ(record->desktop, std::vector<std::string>{"pointer shown"});
    // The same position again leaves the idle count running.
    w->idle_ticks.store(12);
    move(480, 530);
    EXPECT_EQ(w->idle_ticks.load(), 12);
    send(MSG_MOUSE_MOVE, MOUSE_LEFT, mouse_position(481, 530));
    EXPECT_EQ(w->idle_ticks.load(), 0);
    EXPECT_EQ(ctx->mouse_buttons.load(), int32_t(MOUSE_LEFT));
    send(MSG_MOUSE_LEAVE);
    EXPECT_EQ(ctx->hover_region.load(), REGION_PICTURE);
    EXPECT_EQ(w->mouse_tracking.load(), 0);
}

struct ButtonCase {
    const char* name;
    int32_t x, y;
    unsigned msg;
    std::function<void(Mouse*)> setup;
    std::function<void(Mouse*, PlayerContext*)> check;
};

TEST_F(Mouse, each_button_acts_on_the_region_under_the_pointer)
{
    auto three_entries = [](Mouse* t) { t->add_entries(3); };
    auto no_seek = [](Mouse*, PlayerContext* c) { EXPECT_EQ(c->seek_target_ms.load(), -1); };
    const ButtonCase cases[] = {
        {"left on the left strip opens the previous entry", 10, 200, MSG_LEFT_DOWN, three_entries,
         [](auto*, auto* c) { EXPECT_EQ(c->open_index.load(), 2); }},
        {"left on the right strip opens the next entry", 950, 200, MSG_LEFT_DOWN, three_entries,
         [](auto*, auto* c) { EXPECT_EQ(c->open_index.load(), 1); }},
        {"a double click on a strip acts as a press", 950, 200, MSG_LEFT_DOUBLE, three_entries,
         [](auto*, auto* c) { EXPECT_EQ(c->open_index.load(), 1); }},
        {"left on the bar seeks to the pointer keeping the seek mode", 480, 530, MSG_LEFT_DOWN, nullptr,
         [](auto*, auto* c) { EXPECT_EQ(c->seek_target_ms.load(), 29999); EXPECT_EQ(c->seek_forward.load(), 7); }},
        {"right on the bar of a video lands on a key frame", 480, 530, MSG_RIGHT_DOWN, nullptr,
         [](auto*, auto* c) { EXPECT_EQ(c->seek_target_ms.load(), 29999); EXPECT_EQ(c->seek_forward.load(), 0); }},
        {"right on the bar of sound alone seeks forward", 480, 530, MSG_RIGHT_DOWN,
         [](auto* t) { t->open_item(60000, false); t->ctx->seek_forward.store(7); },
         [](auto*, auto* c) { EXPECT_EQ(c->seek_forward.load(), 1); }},
        {"the bar of an item of 100 ms does nothing", 480, 530, MSG_LEFT_DOWN,
         [](auto* t) { t->ctx->duration_ms.store(100); }, no_seek},
        {"left on the top bar plays or pauses", 480, 10, MSG_LEFT_DOWN, nullptr,
         [](auto*, auto* c) { EXPECT_EQ(c->playing.load(), 0); }},
        {"left up on the close button runs the exit sequence", 950, 10, MSG_LEFT_UP, nullptr,
         [](auto*, auto*) { EXPECT_EQ(record->posted, std::vector<unsigned>{MSG_CLOSE}); }},
        {"left down on the close button does nothing", 950, 10, MSG_LEFT_DOWN, nullptr,
         [](auto*, auto*) { EXPECT_TRUE(record->posted.empty()); }},
        {"left up on the minimise button minimises", 890, 10, MSG_LEFT_UP, nullptr,
         [](auto*, auto*) { EXPECT_EQ(record->desktop, std::vector<std::string>{"minimize"}); }},
        {"always on top, the minimise button does not minimise", 890, 10, MSG_LEFT_UP,
         [](auto*) { settings.always_on_top.store(1); },
         [](auto*, auto*) { EXPECT_TRUE(record->desktop.empty()); }},
        {"right up on a strip seeks 5 s", 10, 200, MSG_RIGHT_UP, nullptr,
         [](auto*, auto* c) { EXPECT_EQ(c->seek_target_ms.load(), 5000); }},
        {"right up on the close button stops", 950, 10, MSG_RIGHT_UP, nullptr,
         [](auto*, auto* c) { EXPECT_EQ(c->open_index.load(), OPEN_INDEX_STOP); }},
        {"middle on a strip seeks 30 s", 950, 200, MSG_MIDDLE_DOWN, nullptr,
         [](auto*, auto* c) { EXPECT_EQ(c->seek_target_ms.load(), 40000); }},
        {"middle on the top bar shows the current file", 480, 10, MSG_MIDDLE_DOWN,
         [](auto* t) { t->add_entries(3); t->ctx->current_item.store(2); },
         [](auto*, auto*) { EXPECT_EQ(record->shown_files, std::vector<std::string>{"/media/film2.mkv"}); }},
        {"middle on the top bar without an entry shows nothing", 480, 10, MSG_MIDDLE_DOWN, nullptr,
         [](auto*, auto*) { EXPECT_TRUE(record->shown_files.empty()); }},
    };
    for (const ButtonCase& c : cases) {
        TearDown();
        SetUp();
        open_item(60000, true, 10000);
        ctx->seek_forward.store(7);
        if (c.setup)
            c.setup(this);
        move(c.x, c.y);
        record->desktop.clear();
        ctx->copy_request.store(0);
        send(c.msg, c.msg == MSG_LEFT_DOWN || c.msg == MSG_LEFT_DOUBLE ? MOUSE_LEFT : 0, mouse_position(c.x, c.y));
        SCOPED_TRACE(c.name);
        c.check(this, ctx);
        if (c.msg != MSG_MIDDLE_DOWN)
            EXPECT_EQ(ctx->copy_request.load(), 1) << "left and right buttons redraw";
    }
}

TEST_F(Mouse, the_wheel_turns_the_volume_only_while_the_pointer_is_inside)
{
    open_item(60000, true);
    send(MSG_MOUSE_WHEEL, uintptr_t(WHEEL_NOTCH));
    EXPECT_EQ(ctx->audio.volume.load(), 110u) << "no pointer inside yet";
    move(100, 100);
    send(MSG_MOUSE_WHEEL, uintptr_t(WHEEL_NOTCH));
    EXPECT_EQ(ctx->audio.volume.load(), 120u);
    send(MSG_MOUSE_WHEEL, uintptr_t(-WHEEL_NOTCH));
    send(MSG_MOUSE_WHEEL, uintptr_t(-WHEEL_NOTCH));
    EXPECT_EQ(ctx->audio.volume.load(), 100u);
    EXPECT_EQ(notice(), " 设置音量 100 [原始] ");
    send(MSG_MOUSE_LEAVE);
    send(MSG_MOUSE_WHEEL, uintptr_t(WHEEL_NOTCH));
    EXPECT_EQ(ctx->audio.volume.load(), 100u);
}

TEST_F(Mouse, random_messages_in_a_1_by_1_window_neither_crash_nor_hang)
{
    w->client_width = 1;
    w->client_height = 1;
    open_item(50, true);
    add_entries(2);
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    const unsigned messages[] = {MSG_MOUSE_MOVE, MSG_LEFT_DOWN, MSG_LEFT_UP, MSG_LEFT_DOUBLE, MSG_RIGHT_DOWN,
                                 MSG_RIGHT_UP,   MSG_MIDDLE_DOWN, MSG_MOUSE_WHEEL, MSG_MOUSE_LEAVE};
    for (int i = 0; i < 5000; i++) {
        unsigned msg = messages[next() % 9];
        send(msg, next() & 0xFFFF, intptr_t(next()));
        seek_clear(ctx);
    }
    EXPECT_LE(ctx->audio.volume.load(), 300u);
}

} // namespace
