// The clock overlay's image: the time rendered with the OSD style in the
// top-right corner, premultiplied, placed on the screen beside the window's
// right edge, the caption buttons let through while they show, and the
// once-a-second countdown aligned to the wall clock.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "render_support.h"

namespace {

struct Shown {
    std::vector<uint8_t> pixels; // width x height, tightly packed
    int32_t x, y, width, height;
    OsdRect clear; // empty when none
};
std::vector<Shown>* shown;
int hides;

void record_show(void*, const uint8_t* bgra, int64_t pitch, int32_t x, int32_t y, int32_t width, int32_t height,
                 const OsdRect* clear)
{
    Shown s{{}, x, y, width, height, clear ? *clear : OsdRect{0, 0, 0, 0}};
    for (int32_t row = 0; row < height; row++)
        s.pixels.insert(s.pixels.end(), bgra + row * pitch, bgra + row * pitch + width * 4);
    shown->push_back(s);
}
void record_hide(void*)
{
    hides++;
}

struct ClockFixture : RenderFixture {
    std::vector<Shown> got;
    void SetUp() override
    {
        RenderFixture::SetUp();
        shown = &got;
        hides = 0;
        render_set_clock_hooks(record_show, record_hide, nullptr);
        ass_set_fonts(ctx->osd_renderer, nullptr, "sans-serif", ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
        ctx->osd_fonts_ready.store(1);
        render_set_client_size(ctx, 1280, 720);
        MainWindow* w = main_window_of(ctx);
        w->window_screen_x = 100;
        w->window_screen_y = 50;
        w->window_screen_width = 1280;
        ctx->clock_shown.store(1);
    }
    void TearDown() override
    {
        render_set_clock_hooks(nullptr, nullptr, nullptr);
        shown = nullptr;
        RenderFixture::TearDown();
    }
    // Columns x (client coordinates) of the last image that hold anything.
    bool column_has_ink(const Shown& s, int32_t client_x, int32_t first_row, int32_t end_row) const
    {
        int32_t left = 1280 - ctx->clock_right.load();
        int32_t top = ctx->clock_top.load();
        for (int32_t y = first_row; y < end_row; y++) {
            if (y < top || y >= top + s.height)
                continue;
            const uint8_t* p = &s.pixels[(size_t(y - top) * s.width + size_t(client_x - left)) * 4];
            if (p[3] != 0)
                return true;
        }
        return false;
    }
};

TEST(ClockOverlay, the_countdown_after_an_update_ends_just_after_the_next_second)
{
    const struct {
        int32_t ms, ticks;
    } cases[] = {{0, 9}, {99, 9}, {100, 8}, {340, 6}, {999, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(clock_ticks_aligned(9, c.ms), c.ticks) << c.ms;
}

TEST(ClockOverlay, the_time_is_written_with_an_unpadded_hour)
{
    const struct {
        int h, m, s;
        const char* text;
    } cases[] = {{9, 5, 7, "9:05:07"}, {0, 0, 0, "0:00:00"}, {23, 59, 59, "23:59:59"}, {12, 30, 5, "12:30:05"}};
    char text[32];
    for (const auto& c : cases) {
        format_clock_text(text, sizeof text, c.h, c.m, c.s);
        EXPECT_STREQ(text, c.text);
    }
}

TEST_F(ClockFixture, the_time_shows_top_right_as_premultiplied_green_beside_the_windows_right_edge)
{
    ctx->clock_ticks.store(9);
    update_clock_overlay(ctx);
    ASSERT_EQ(got.size(), 1u);
    const Shown& s = got[0];
    EXPECT_LE(ctx->clock_ticks.load(), 9);
    EXPECT_GE(ctx->clock_ticks.load(), 0);
    // Right-aligned with a margin of 2, at the top; the image is the text's box.
    int32_t left = 1280 - ctx->clock_right.load();
    EXPECT_GT(left, 1280 - 400);
    EXPECT_LE(left + s.width, 1280);
    EXPECT_GE(left + s.width, 1280 - 6);
    EXPECT_LT(ctx->clock_top.load(), 10);
    EXPECT_EQ(s.x, 100 + left);
    EXPECT_EQ(s.y, 50 + ctx->clock_top.load());
    EXPECT_GT(s.height, 5);
    size_t green = 0;
    for (size_t i = 0; i < s.pixels.size(); i += 4) {
        const uint8_t* p = &s.pixels[i];
        ASSERT_TRUE(p[0] <= p[3] && p[1] <= p[3] && p[2] <= p[3]) << "colour above alpha at " << i / 4;
        if (p[1] > 20 && p[0] == 0 && p[2] == 0)
            green++;
    }
    EXPECT_GT(green, 20u) << "no green text";
}

TEST_F(ClockFixture, the_caption_buttons_show_through_while_the_top_bar_is_shown)
{
    const struct {
        const char* name;
        int32_t region, pointer_hidden;
        bool cleared;
    } cases[] = {
        {"over the picture", 0, 0, false},
        {"on the top bar", 4, 0, true},
        {"on the close button", 5, 0, true},
        {"on the top bar with the pointer hidden", 4, 1, false},
    };
    for (const auto& c : cases) {
        got.clear();
        ctx->hover_region.store(c.region);
        main_window_of(ctx)->cursor_hidden.store(c.pointer_hidden);
        update_clock_overlay(ctx);
        ASSERT_EQ(got.size(), 1u) << c.name;
        const Shown& s = got[0];
        bool ink_in_area = false;
        for (int32_t x = 1280 - 75; x < 1280 - 2; x++)
            ink_in_area |= column_has_ink(s, x, 1, 26);
        EXPECT_EQ(ink_in_area, !c.cleared) << c.name;
        // The cleared corner is left out of the window, up to its right edge.
        EXPECT_EQ(s.clear.right > s.clear.left, c.cleared) << c.name;
        if (c.cleared) {
            EXPECT_EQ(s.clear.left, 1280 - 75 - (1280 - ctx->clock_right.load())) << c.name;
            EXPECT_EQ(s.clear.right, s.width) << c.name;
            EXPECT_EQ(s.clear.bottom, 26 - ctx->clock_top.load()) << c.name;
        }
        bool ink_left_of_area = false;
        for (int32_t x = 1280 - ctx->clock_right.load(); x < 1280 - 75; x++)
            ink_left_of_area |= column_has_ink(s, x, 0, 720);
        EXPECT_TRUE(ink_left_of_area) << c.name << ": the rest of the time still shows";
    }
}

TEST_F(ClockFixture, a_hidden_overlay_leaves_the_screen_once_and_nothing_renders_before_the_fonts)
{
    update_clock_overlay(ctx);
    settle_clock_overlay(ctx);
    EXPECT_EQ(hides, 0);
    ctx->clock_shown.store(0);
    settle_clock_overlay(ctx);
    settle_clock_overlay(ctx);
    EXPECT_EQ(hides, 1);

    got.clear();
    ctx->osd_fonts_ready.store(0);
    update_clock_overlay(ctx);
    EXPECT_TRUE(got.empty());
}

TEST_F(ClockFixture, the_window_keeps_its_size_from_second_to_second_while_it_shows)
{
    update_clock_overlay(ctx);
    const char* times[] = {"10:00:00", "9:59:59", "9:11:11"};
    for (const char* t : times) {
        snprintf(ctx->osd_event_text, 32, "%s", t);
        draw_clock_overlay(ctx);
    }
    ASSERT_EQ(got.size(), 4u);
    for (size_t i = 2; i < got.size(); i++) {
        EXPECT_EQ(got[i].x, got[1].x) << times[i - 1];
        EXPECT_EQ(got[i].width, got[1].width) << times[i - 1];
        EXPECT_EQ(got[i].height, got[1].height) << times[i - 1];
    }
    // Shown again, the box starts afresh from the narrower time alone.
    ctx->clock_shown.store(0);
    settle_clock_overlay(ctx);
    ctx->clock_shown.store(1);
    snprintf(ctx->osd_event_text, 32, "9:59:59");
    draw_clock_overlay(ctx);
    EXPECT_LT(got.back().width, got[1].width);
}

} // namespace
