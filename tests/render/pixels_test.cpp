// The SSE2 pixel kernels against plain per-byte formulas: bit-identical
// results on random buffers for every width from 1 to 67, and nothing
// written outside the rectangle or the image.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "render/render_internal.h"

namespace {

using Kernel = void (*)(uint8_t*, int64_t, int32_t, int32_t, uint32_t);
using ByteRule = uint8_t (*)(uint8_t v, uint8_t p);

struct KernelCase {
    const char* name;
    Kernel simd;
    Kernel scalar;
    ByteRule rule; // the formula each byte follows
};

const KernelCase KERNELS[] = {
    {"fill", fill_pixels, fill_pixels_scalar, [](uint8_t, uint8_t p) { return p; }},
    {"subtract", darken_subtract, darken_subtract_scalar,
     [](uint8_t v, uint8_t p) { return uint8_t(v > p ? v - p : 0); }},
    {"halve", darken_halve, darken_halve_scalar,
     [](uint8_t v, uint8_t p) {
         int h = (v + 1) >> 1;
         return uint8_t(h > p ? h - p : 0);
     }},
    {"average", darken_average, darken_average_scalar, [](uint8_t v, uint8_t p) { return uint8_t((v + p + 1) >> 1); }},
};

std::vector<uint8_t> random_bytes(std::mt19937& rng, size_t n)
{
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = uint8_t(rng());
    return v;
}

TEST(PixelKernels, simd_and_scalar_follow_the_byte_formula_for_every_width_and_touch_nothing_else)
{
    std::mt19937 rng(7);
    const int64_t pitch = 80 * 4;
    const int32_t height = 3;
    for (const KernelCase& k : KERNELS) {
        for (int32_t width = 1; width <= 67; width++) {
            for (int32_t x0 : {0, 1, 5}) {
                const uint32_t pattern = uint32_t(rng());
                // Guard row above and below; the rectangle starts at (x0, 1).
                std::vector<uint8_t> base = random_bytes(rng, size_t(pitch) * (height + 2));
                std::vector<uint8_t> simd = base, scalar = base, expect = base;
                k.simd(simd.data() + pitch + x0 * 4, pitch, width, height, pattern);
                k.scalar(scalar.data() + pitch + x0 * 4, pitch, width, height, pattern);
                for (int32_t y = 1; y <= height; y++)
                    for (int32_t i = x0 * 4; i < (x0 + width) * 4; i++)
                        expect[size_t(y * pitch + i)] =
                            k.rule(base[size_t(y * pitch + i)], uint8_t(pattern >> (8 * (i & 3))));
                ASSERT_EQ(simd, expect) << k.name << " width " << width << " x " << x0;
                ASSERT_EQ(scalar, expect) << k.name << " width " << width << " x " << x0;
            }
        }
    }
}

TEST(PixelKernels, kernels_on_a_rectangle_at_the_very_end_of_memory_stay_inside_it)
{
    // Rows narrower than four pixels at the end of an allocation: ASan would
    // catch a 16-byte access past the last pixel.
    for (const KernelCase& k : KERNELS)
        for (int32_t width = 1; width <= 7; width++) {
            std::vector<uint8_t> row(size_t(width) * 4, 0x80);
            k.simd(row.data(), int64_t(width) * 4, width, 1, 0x10203040);
            EXPECT_EQ(row[0], k.rule(0x80, 0x40)) << k.name;
        }
}

TEST(PixelKernels, fill_bytes_fills_exactly_the_area_in_both_step_sizes)
{
    for (size_t bytes : {16u, 112u, 128u, 144u, 256u, 1040u}) {
        std::vector<uint8_t> area(bytes + 32, 0xEE);
        fill_bytes(area.data() + 16, bytes, bgrx(1, 2, 3, 4));
        for (size_t i = 0; i < area.size(); i++) {
            bool inside = i >= 16 && i < 16 + bytes;
            uint8_t want = inside ? uint8_t((i & 3) + 1) : 0xEE;
            ASSERT_EQ(area[i], want) << bytes << " byte " << i;
        }
    }
}

// The blend formula of one byte, written out: a = (k * o) >> 8 and
// (s * a + d * (256 - a)) >> 8.
uint8_t blend_byte(uint8_t s, uint8_t d, uint8_t k, uint32_t o)
{
    uint32_t a = (uint32_t(k) * o) >> 8;
    return uint8_t((s * a + d * (256 - a)) >> 8);
}

struct TestImage {
    ASS_Image image;
    std::vector<uint8_t> bitmap;
};

TestImage make_image(std::mt19937& rng, int w, int h, int x, int y, uint32_t colour, bool sparse)
{
    TestImage t{};
    t.bitmap.resize(size_t(w + 5) * size_t(h));
    for (auto& b : t.bitmap) {
        uint32_t r = rng();
        b = sparse && (r & 3) != 0 ? 0 : (r >> 8) % 3 == 0 ? 255 : uint8_t(r >> 16);
    }
    t.image.w = w;
    t.image.h = h;
    t.image.stride = w + 5;
    t.image.bitmap = t.bitmap.data();
    t.image.color = colour;
    t.image.dst_x = x;
    t.image.dst_y = y;
    return t;
}

TEST(BlendAssImages, simd_matches_the_formula_for_every_width_colour_and_transparency)
{
    std::mt19937 rng(11);
    const int32_t W = 80, H = 6;
    const int64_t pitch = W * 4;
    for (int w = 1; w <= 67; w++) {
        for (uint32_t alpha : {0u, 0x40u, 0xFFu}) {
            for (uint32_t extra : {0u, 0xFF000000u}) {
                for (int x : {0, 3, 80 - w}) {
                    TestImage t = make_image(rng, w, 4, x, 1, (uint32_t(rng()) & 0xFFFFFF00u) | alpha, w % 2 == 0);
                    std::vector<uint8_t> base = random_bytes(rng, size_t(pitch) * H);
                    std::vector<uint8_t> simd = base, scalar = base, expect = base;
                    blend_ass_images(&t.image, simd.data(), pitch, extra);
                    blend_ass_images_scalar(&t.image, scalar.data(), pitch, extra);
                    const uint32_t source = (t.image.color >> 8) | extra;
                    for (int yy = 0; yy < 4; yy++)
                        for (int xx = 0; xx < w; xx++)
                            for (int i = 0; i < 4; i++) {
                                size_t at = size_t((1 + yy) * pitch + (x + xx) * 4 + i);
                                expect[at] = blend_byte(uint8_t(source >> (8 * i)), base[at],
                                                        t.bitmap[size_t(yy * t.image.stride + xx)], 255 - alpha);
                            }
                    ASSERT_EQ(simd, expect) << "w " << w << " alpha " << alpha << " x " << x;
                    ASSERT_EQ(scalar, expect) << "w " << w << " alpha " << alpha << " x " << x;
                }
            }
        }
    }
}

TEST(BlendAssImages, a_list_is_blended_in_order_and_empty_images_are_passed_over)
{
    std::mt19937 rng(3);
    const int64_t pitch = 16 * 4;
    TestImage a = make_image(rng, 9, 3, 2, 0, 0xFF000000u, false);
    TestImage empty = make_image(rng, 9, 0, 0, 0, 0x00FF0000u, false);
    TestImage b = make_image(rng, 5, 3, 4, 1, 0x0000FF40u, false);
    a.image.next = &empty.image;
    empty.image.next = &b.image;
    std::vector<uint8_t> simd = random_bytes(rng, size_t(pitch) * 4), scalar = simd;
    blend_ass_images(&a.image, simd.data(), pitch, 0);
    blend_ass_images_scalar(&a.image, scalar.data(), pitch, 0);
    EXPECT_EQ(simd, scalar);
}

TEST(BlendAssImages, clipped_blend_cuts_images_that_hang_over_the_target)
{
    std::mt19937 rng(5);
    const int32_t W = 10, H = 4;
    const int64_t pitch = W * 4;
    struct Case {
        int x, y, w, h;
    } cases[] = {{-3, 0, 6, 2}, {7, 2, 6, 5}, {-2, -2, 20, 20}, {10, 0, 3, 3}, {0, 4, 3, 3}};
    for (const Case& c : cases) {
        TestImage t = make_image(rng, c.w, c.h, c.x, c.y, 0xFFFFFF00u, false);
        std::vector<uint8_t> got(size_t(pitch) * H + 64, 0x10), expect = got;
        blend_ass_images_clipped(&t.image, got.data(), pitch, W, H, 0);
        for (int yy = 0; yy < c.h; yy++)
            for (int xx = 0; xx < c.w; xx++) {
                int px = c.x + xx, py = c.y + yy;
                if (px < 0 || py < 0 || px >= W || py >= H)
                    continue;
                for (int i = 0; i < 4; i++) {
                    size_t at = size_t(py * pitch + px * 4 + i);
                    expect[at] = blend_byte(0xFF * (i < 3), 0x10, t.bitmap[size_t(yy * t.image.stride + xx)], 255);
                }
            }
        EXPECT_EQ(got, expect) << c.x << "," << c.y << " " << c.w << "x" << c.h;
    }
}

} // namespace
