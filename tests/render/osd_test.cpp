// The OSD primitives on the frame buffer: text boxes with their anchors,
// clipping and darkening, the notice and its font, the caption buttons.
#include <pango/pangocairo.h>

#include <random>
#include <string>

#include "core/core.h"
#include "render_support.h"

namespace {

using Osd = RenderFixture;

// Fills the client area with a reproducible random picture and returns a copy.
std::vector<uint32_t> random_picture(RenderFixture* t, int32_t W, int32_t H, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint32_t> copy(size_t(W) * size_t(H));
    for (int32_t y = 0; y < H; y++)
        for (int32_t x = 0; x < W; x++) {
            uint32_t v = rng();
            memcpy(t->ctx->display.buffer_bits + int64_t(y) * t->ctx->display.buffer_pitch + x * 4, &v, 4);
            copy[size_t(y * W + x)] = v;
        }
    return copy;
}

uint32_t halve_rule(uint32_t v)
{
    const uint8_t s[4] = {0x00, 0x33, 0x00, 0x33};
    uint32_t out = 0;
    for (int i = 0; i < 4; i++) {
        int h = int(((v >> (8 * i)) & 0xFF) + 1) >> 1;
        out |= uint32_t(h > s[i] ? h - s[i] : 0) << (8 * i);
    }
    return out;
}

// The box of a text box drawn in overlay mode tells where the frame-buffer
// box lies; a lone space draws no glyph pixels, so the whole box follows the
// darkening formula exactly.
TEST_F(Osd, text_boxes_anchor_clip_and_darken_by_the_halving_formula)
{
    struct Case {
        const char* what;
        int32_t x, y, flags;
        int32_t pad_x, pad_y;
    } cases[] = {
        {"left edge at 0", 0, 10, 0, 16, 12},
        {"right edge at the client width", 300, 10, ANCHOR_RIGHT, 16, 12},
        {"centred on x", 150, 10, ANCHOR_CENTRE_X | ANCHOR_RIGHT, 16, 12},
        {"bottom at y", 40, 190, ANCHOR_BOTTOM, 2, 1},
        {"past the bottom edge: cut there", 40, 185, 0, 16, 12},
        {"centred vertically", 0, 100, ANCHOR_CENTRE_Y | ANCHOR_BOTTOM, 16, 12},
        {"left of column 0: cut there", -10, 10, 0, 16, 12},
    };
    const int32_t W = 300, H = 200;
    size_buffer(W, H);
    const char* text = "   ";
    int32_t tw, th;
    osd_measure(ctx, text, 3, &tw, &th);
    ASSERT_GT(tw, 0);
    ASSERT_GT(th, 0);
    for (const Case& c : cases) {
        OsdRect box;
        draw_text_box(ctx, &box, c.x, c.y, c.pad_x, c.pad_y, c.flags, text, 3);
        // Where the anchors put the unclipped box.
        int32_t bw = tw + 2 * c.pad_x, bh = th + 2 * c.pad_y;
        int32_t left = c.flags & ANCHOR_CENTRE_X ? c.x - bw / 2 : c.flags & ANCHOR_RIGHT ? c.x - bw : c.x;
        int32_t top = c.flags & ANCHOR_CENTRE_Y ? c.y - bh / 2 : c.flags & ANCHOR_BOTTOM ? c.y - bh : c.y;
        EXPECT_EQ(box.left, std::max(left, 0)) << c.what;
        EXPECT_EQ(box.top, std::max(top, 0)) << c.what;
        EXPECT_EQ(box.right, std::min(left + bw, W)) << c.what;
        EXPECT_EQ(box.bottom, std::min(top + bh, H)) << c.what;

        std::vector<uint32_t> before = random_picture(this, W, H, 99);
        draw_text_box(ctx, nullptr, c.x, c.y, c.pad_x, c.pad_y, c.flags, text, 3);
        for (int32_t y = 0; y < H; y++)
            for (int32_t x = 0; x < W; x++) {
                bool inside = x >= box.left && x < box.right && y >= box.top && y < box.bottom;
                uint32_t was = before[size_t(y * W + x)];
                ASSERT_EQ(pixel(x, y), inside ? halve_rule(was) : was) << c.what << " at " << x << "," << y;
            }
    }
}

TEST_F(Osd, anchored_right_at_the_client_width_the_box_ends_exactly_at_the_right_edge)
{
    size_buffer(301, 100); // the buffer is wider than the client
    OsdRect box;
    draw_text_box(ctx, &box, 301, 0, 16, 12, ANCHOR_RIGHT, "12:00", 5);
    EXPECT_EQ(box.right, 301);
    fill_all(bgrx(0x80, 0x80, 0x80, 0x80));
    draw_text_box(ctx, nullptr, 301, 0, 16, 12, ANCHOR_RIGHT, "12:00", 5);
    EXPECT_EQ(pixel(300, 0), halve_rule(bgrx(0x80, 0x80, 0x80, 0x80)));
    EXPECT_EQ(pixel(301, 0), bgrx(0x80, 0x80, 0x80, 0x80)) << "the buffer's spare column stays";
}

TEST_F(Osd, overlay_mode_fills_the_box_with_its_transparent_pattern)
{
    size_buffer(200, 100);
    fill_all(0);
    OsdRect box;
    draw_text_box(ctx, &box, 10, 10, 16, 12, 0, "   ", 3);
    EXPECT_EQ(pixel(box.left, box.top), bgrx(0x66, 0x22, 0x22, 0x55));
    EXPECT_EQ(pixel(box.right - 1, box.bottom - 1), bgrx(0x66, 0x22, 0x22, 0x55));
    EXPECT_EQ(pixel(box.right, box.top), 0u);
}

TEST_F(Osd, with_the_no_box_flag_only_the_text_is_drawn)
{
    const int32_t W = 200, H = 60;
    size_buffer(W, H);
    fill_all(bgrx(0x10, 0x10, 0x10, 0));
    draw_text_box(ctx, nullptr, 0, H, 0, 0, ANCHOR_NO_BOX | ANCHOR_BOTTOM, "0:01:02", 7);
    int green = 0, other = 0;
    for (int32_t y = 0; y < H; y++)
        for (int32_t x = 0; x < W; x++) {
            uint32_t p = pixel(x, y) & 0xFFFFFF;
            if (p == bgrx(0x10, 0x10, 0x10, 0))
                continue;
            // Text pixels are the background blended toward pure green.
            if (((p >> 8) & 0xFF) > 0x10 && (p & 0xFF) <= 0x10 && ((p >> 16) & 0xFF) <= 0x10)
                green++;
            else
                other++;
        }
    EXPECT_GT(green, 20);
    EXPECT_EQ(other, 0);
}

TEST_F(Osd, the_notice_box_is_centred_at_70_percent_of_the_height_and_averages_with_dark_purple)
{
    show_notice(ctx, " 已暂停 ");
    size_buffer(1000, 1000);
    OsdRect box;
    draw_notice(ctx, &box);
    EXPECT_NEAR((box.left + box.right) / 2.0, 500, 1);
    EXPECT_NEAR((box.top + box.bottom) / 2.0, 700, 1);
    EXPECT_EQ(pixel(box.left, box.top), bgrx(0x66, 0x22, 0x22, 0x77));

    fill_all(bgrx(0xF0, 0x81, 0x00, 0x40));
    draw_notice(ctx, nullptr);
    // The box's corner holds no text: (v + k + 1) >> 1 with k (0x22, 0, 0x22, 0).
    EXPECT_EQ(pixel(box.left, box.top), bgrx((0xF0 + 0x22 + 1) >> 1, (0x81 + 1) >> 1, (0x00 + 0x22 + 1) >> 1, 0x20));
    EXPECT_EQ(pixel(box.left - 1, box.top), bgrx(0xF0, 0x81, 0x00, 0x40));
}

TEST_F(Osd, the_notice_font_follows_the_width_class_above_500_by_300)
{
    show_notice(ctx, " 音量: 100 ");
    struct Case {
        int32_t W, H, size;
    } cases[] = {{500, 800, 0}, {800, 300, 0}, {501, 301, 19}, {520, 400, 20}, {1300, 700, 50}};
    for (const Case& c : cases) {
        size_buffer(c.W, c.H);
        OsdRect box;
        draw_notice(ctx, &box);
        EXPECT_EQ(ctx->display.notice_font_size, c.size) << c.W << "x" << c.H;
        if (c.size == 0)
            continue;
        // The box of one short word is its text width plus 16: at a bigger
        // font size the box grows.
        EXPECT_GT(box.bottom - box.top, c.size) << c.W << "x" << c.H;
    }
}

TEST_F(Osd, a_notice_font_is_made_only_when_its_size_class_changes)
{
    show_notice(ctx, " 测试 ");
    size_buffer(1000, 600);
    draw_notice(ctx, nullptr);
    _PangoFontDescription* font = ctx->display.notice_font;
    size_buffer(1010, 600); // 1010 / 26 = 38, as 1000 / 26
    draw_notice(ctx, nullptr);
    EXPECT_EQ(ctx->display.notice_font, font);
    EXPECT_EQ(ctx->display.notice_font_size, 38);
    EXPECT_EQ(ctx->display.current_font, osd_font_of(ctx, FONT_OSD)) << "the OSD font is selected back";
}

TEST_F(Osd, a_notice_taller_than_the_window_starts_at_row_0_and_is_cut_at_the_bottom)
{
    std::string long_text = " ";
    for (int i = 0; i < 60; i++)
        long_text += "很长的通知 ";
    show_notice(ctx, "%s", long_text.c_str());
    size_buffer(120, 80);
    OsdRect box;
    draw_notice(ctx, &box);
    EXPECT_EQ(box.top, 0);
    EXPECT_EQ(box.bottom, 80);
    EXPECT_GE(box.left, 0);
    EXPECT_LE(box.right, 120);
}

TEST_F(Osd, a_word_longer_than_the_line_is_cut_with_an_ellipsis)
{
    show_notice(ctx, " Supercalifragilisticexpialidocious_and_then_some_more ");
    size_buffer(140, 100);
    OsdRect box;
    draw_notice(ctx, &box);
    EXPECT_LE(box.right - box.left - 16, 140 - 16) << "the text fits the line";
    std::string shown = pango_layout_get_text(ctx->display.layout);
    EXPECT_NE(shown.find("Supercali"), std::string::npos) << shown;
    EXPECT_NE(shown.find("..."), std::string::npos) << shown;
    EXPECT_LT(shown.size(), strlen("Supercalifragilisticexpialidocious_and_then_some_more")) << shown;
}

TEST_F(Osd, a_short_notice_box_is_its_text_width_plus_16_centred_on_the_window)
{
    show_notice(ctx, "OK");
    size_buffer(1000, 200); // height 200: the OSD font
    int32_t tw, th;
    osd_measure(ctx, "OK", 2, &tw, &th);
    OsdRect box;
    draw_notice(ctx, &box);
    EXPECT_EQ(box.right - box.left, tw + 16);
    EXPECT_EQ(box.bottom - box.top, th + 20);
    EXPECT_NEAR((box.left + box.right) / 2.0, 500, 1);
}

// Counts pixels of the square whose colour is close to the given glyph colour.
int glyph_pixels(RenderFixture* t, int32_t left, int32_t top, uint32_t rgb)
{
    int n = 0;
    for (int32_t y = top + 1; y < top + 24; y++)
        for (int32_t x = left + 1; x < left + 24; x++) {
            uint32_t p = t->pixel(x, y);
            if (near_colour(p, bgrx(rgb & 0xFF, (rgb >> 8) & 0xFF, rgb >> 16, 0), 3))
                n++;
        }
    return n;
}

TEST_F(Osd, caption_buttons_show_hover_and_press_in_their_glyph_colours)
{
    struct Case {
        int32_t hover, buttons;
        uint32_t close_colour;
        uint32_t shade;
    } cases[] = {
        {5, 1, 0xFF5D1E, bgrx(0x00, 0xAA, 0x66, 0xAA)}, // hovered and held: orange-red
        {5, 0, 0xFFFFFF, bgrx(0x00, 0xAA, 0x66, 0xAA)}, // hovered: white
        {6, 0, 0x19FFFF, bgrx(0x33, 0xAA, 0x33, 0xAA)}, // another button hovered: cyan
    };
    const uint32_t base = bgrx(0x90, 0x90, 0x90, 0x90);
    for (const Case& c : cases) {
        size_buffer(200, 100);
        fill_all(base);
        ctx->hover_region = c.hover;
        ctx->mouse_buttons = c.buttons;
        CaptionButton button{ctx, OsdRect{100, 1, 125, 26}, 0};
        draw_caption_button(&button, 5, 'r');
        EXPECT_GT(glyph_pixels(this, 100, 1, c.close_colour), 6) << c.hover << "/" << c.buttons;
        // Outline on all four edges, darkened square inside.
        for (auto [x, y] : {std::pair{100, 1}, {124, 1}, {100, 25}, {124, 25}, {112, 1}, {100, 13}})
            EXPECT_EQ(pixel(x, y), bgrx(0xB1, 0xB0, 0x45, 0xB0)) << x << "," << y;
        uint32_t want = 0;
        for (int i = 0; i < 4; i++) {
            int v = 0x90 - int((c.shade >> (8 * i)) & 0xFF);
            want |= uint32_t(v < 0 ? 0 : v) << (8 * i);
        }
        EXPECT_EQ(pixel(102, 3), want);
        EXPECT_EQ(pixel(125, 13), base) << "nothing right of the square";
    }
}

TEST_F(Osd, the_overlay_variant_fills_the_button_and_clears_the_outline_alpha)
{
    size_buffer(200, 100);
    fill_all(0);
    ctx->hover_region = 0;
    CaptionButton button{ctx, OsdRect{10, 1, 35, 26}, 1};
    draw_caption_button(&button, 7, '0');
    EXPECT_EQ(pixel(12, 3), bgrx(0x66, 0x22, 0x22, 0x60));
    EXPECT_EQ(pixel(10, 1), bgrx(0xB1, 0xB0, 0x45, 0x00));
}

TEST_F(Osd, fills_and_rows_stay_inside_the_buffer_whatever_they_are_asked)
{
    size_buffer(10, 10);
    fill_rows(ctx, -5, 100, 0x01020304);
    fill_rect(ctx, -50, -50, 1000, 1000, 0x01020304);
    fill_rect(ctx, 8, 8, 5, 5, 0x05060708);
    EXPECT_EQ(pixel(9, 9), 0x05060708u);
    EXPECT_EQ(pixel(7, 9), 0x01020304u);
    draw_text_box(ctx, nullptr, -500, -500, 16, 12, 0, "x", 1);
    draw_text_box(ctx, nullptr, 5000, 5000, 16, 12, ANCHOR_CENTRE_Y, "x", 1);
}

} // namespace
