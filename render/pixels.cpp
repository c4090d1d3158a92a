#include <emmintrin.h>

#include <cstring>

#include <ass/ass.h>

#include "core/core.h"
#include "render/render_internal.h"

namespace {

// The lanes of the partial group at a row's left end: pixels 0 .. rest - 1.
__m128i left_lane_mask(int32_t rest)
{
    static const int32_t masks[4][4] = {{0, 0, 0, 0}, {-1, 0, 0, 0}, {-1, -1, 0, 0}, {-1, -1, -1, 0}};
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(masks[rest]));
}

// Applies op to every 16-byte group of the rectangle, right end first. The
// masked group keeps the lanes it does not own as they were; a row narrower
// than four pixels is read and written through a copy, so nothing outside the
// rectangle is touched.
template <class Op>
void rect_op(uint8_t* row, int64_t pitch, int32_t width, int32_t height, Op op)
{
    if (width <= 0 || height <= 0)
        return;
    const int32_t rest = width & 3;
    const __m128i mask = left_lane_mask(rest);
    for (int32_t y = 0; y < height; y++, row += pitch) {
        for (int64_t offset = int64_t(width) * 4 - 16; offset >= 0; offset -= 16) {
            __m128i* p = reinterpret_cast<__m128i*>(row + offset);
            _mm_storeu_si128(p, op(_mm_loadu_si128(p)));
        }
        if (rest == 0)
            continue;
        if (width >= 4) {
            __m128i* p = reinterpret_cast<__m128i*>(row);
            __m128i old = _mm_loadu_si128(p);
            __m128i now = op(old);
            _mm_storeu_si128(p, _mm_or_si128(_mm_and_si128(mask, now), _mm_andnot_si128(mask, old)));
        } else {
            __m128i group = _mm_setzero_si128();
            memcpy(&group, row, size_t(rest) * 4);
            group = op(group);
            memcpy(row, &group, size_t(rest) * 4);
        }
    }
}

template <class Op>
void rect_op_scalar(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t pattern, Op op)
{
    if (width <= 0 || height <= 0)
        return;
    uint8_t p[4] = {uint8_t(pattern), uint8_t(pattern >> 8), uint8_t(pattern >> 16), uint8_t(pattern >> 24)};
    for (int32_t y = 0; y < height; y++, row += pitch)
        for (int32_t i = 0; i < width * 4; i++)
            row[i] = op(row[i], p[i & 3]);
}

} // namespace

void fill_bytes(uint8_t* start, size_t bytes, uint32_t pattern)
{
    const __m128i v = _mm_set1_epi32(int32_t(pattern));
    uint8_t* end = start + (bytes & ~size_t(15));
    while (end - start >= 128) {
        end -= 128;
        for (int i = 7; i >= 0; i--)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(end + i * 16), v);
    }
    while (end > start) {
        end -= 16;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(end), v);
    }
}

void fill_pixels(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t pattern)
{
    const __m128i v = _mm_set1_epi32(int32_t(pattern));
    rect_op(row, pitch, width, height, [v](__m128i) { return v; });
}

void darken_subtract(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t s)
{
    const __m128i sv = _mm_set1_epi32(int32_t(s));
    rect_op(row, pitch, width, height, [sv](__m128i v) { return _mm_subs_epu8(v, sv); });
}

void darken_halve(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t s)
{
    const __m128i sv = _mm_set1_epi32(int32_t(s));
    const __m128i zero = _mm_setzero_si128();
    // avg_epu8 against zero is (v + 1) >> 1.
    rect_op(row, pitch, width, height, [sv, zero](__m128i v) { return _mm_subs_epu8(_mm_avg_epu8(v, zero), sv); });
}

void darken_average(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t k)
{
    const __m128i kv = _mm_set1_epi32(int32_t(k));
    rect_op(row, pitch, width, height, [kv](__m128i v) { return _mm_avg_epu8(v, kv); });
}

void fill_pixels_scalar(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t pattern)
{
    rect_op_scalar(row, pitch, width, height, pattern, [](uint8_t, uint8_t p) { return p; });
}

void darken_subtract_scalar(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t s)
{
    rect_op_scalar(row, pitch, width, height, s, [](uint8_t v, uint8_t p) { return uint8_t(v > p ? v - p : 0); });
}

void darken_halve_scalar(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t s)
{
    rect_op_scalar(row, pitch, width, height, s, [](uint8_t v, uint8_t p) {
        int h = (v + 1) >> 1;
        return uint8_t(h > p ? h - p : 0);
    });
}

void darken_average_scalar(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t k)
{
    rect_op_scalar(row, pitch, width, height, k, [](uint8_t v, uint8_t p) { return uint8_t((v + p + 1) >> 1); });
}

// ---- libass blend ----

namespace {

// Blends one group of four pixels: a = (k * o) >> 8 per pixel, then every
// byte becomes (s * a + d * (256 - a)) >> 8. With a <= 254 and bytes <= 255
// the sum stays below 65536, so 16-bit lanes hold it exactly.
inline __m128i blend_group(__m128i d, uint32_t coverage, __m128i s16, __m128i o16)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i full = _mm_set1_epi16(256);
    __m128i k = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int32_t(coverage)), zero);
    __m128i a = _mm_srli_epi16(_mm_mullo_epi16(k, o16), 8); // a0 a1 a2 a3 in lanes 0..3
    __m128i a_pairs = _mm_unpacklo_epi16(a, a);              // a0 a0 a1 a1 a2 a2 a3 a3
    __m128i a01 = _mm_unpacklo_epi32(a_pairs, a_pairs);      // a0 x4, a1 x4
    __m128i a23 = _mm_unpackhi_epi32(a_pairs, a_pairs);      // a2 x4, a3 x4
    __m128i d_lo = _mm_unpacklo_epi8(d, zero);
    __m128i d_hi = _mm_unpackhi_epi8(d, zero);
    __m128i lo = _mm_add_epi16(_mm_mullo_epi16(s16, a01), _mm_mullo_epi16(d_lo, _mm_sub_epi16(full, a01)));
    __m128i hi = _mm_add_epi16(_mm_mullo_epi16(s16, a23), _mm_mullo_epi16(d_hi, _mm_sub_epi16(full, a23)));
    return _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8));
}

void blend_image(const ASS_Image* img, uint8_t* buffer, int64_t pitch, uint32_t extra_bits)
{
    const uint32_t source = (img->color >> 8) | extra_bits;
    const uint32_t opacity = 255 - (img->color & 0xFF);
    const __m128i s16 = _mm_unpacklo_epi8(_mm_set1_epi32(int32_t(source)), _mm_setzero_si128());
    const __m128i o16 = _mm_set1_epi16(int16_t(opacity));
    const int32_t w = img->w;
    const int32_t rest = w & 3;
    for (int32_t y = 0; y < img->h; y++) {
        const uint8_t* cover = img->bitmap + int64_t(y) * img->stride;
        uint8_t* dst = buffer + int64_t(img->dst_y + y) * pitch + int64_t(img->dst_x) * 4;
        for (int32_t x = w - 4; x >= 0; x -= 4) {
            uint32_t coverage;
            memcpy(&coverage, cover + x, 4);
            if (coverage == 0)
                continue;
            __m128i* p = reinterpret_cast<__m128i*>(dst + int64_t(x) * 4);
            _mm_storeu_si128(p, blend_group(_mm_loadu_si128(p), coverage, s16, o16));
        }
        if (rest == 0)
            continue;
        // The masked group: lanes past the rest get coverage 0, which leaves
        // their bytes exactly as they were ((d * 256) >> 8 = d).
        uint32_t coverage = 0;
        memcpy(&coverage, cover, size_t(rest));
        if (coverage == 0)
            continue;
        if (w >= 4) {
            __m128i* p = reinterpret_cast<__m128i*>(dst);
            _mm_storeu_si128(p, blend_group(_mm_loadu_si128(p), coverage, s16, o16));
        } else {
            __m128i group = _mm_setzero_si128();
            memcpy(&group, dst, size_t(rest) * 4);
            group = blend_group(group, coverage, s16, o16);
            memcpy(dst, &group, size_t(rest) * 4);
        }
    }
}

} // namespace

void blend_ass_images(const ASS_Image* list, uint8_t* buffer, int64_t pitch, uint32_t extra_bits)
{
    for (const ASS_Image* img = list; img; img = img->next)
        if (img->h > 0 && img->w > 0)
            blend_image(img, buffer, pitch, extra_bits);
}

void blend_ass_images_clipped(const ASS_Image* list, uint8_t* buffer, int64_t pitch, int32_t width,
                              int32_t height, uint32_t extra_bits)
{
    blend_ass_images_window(list, buffer, pitch, 0, 0, width, height, extra_bits);
}

void blend_ass_images_window(const ASS_Image* list, uint8_t* buffer, int64_t pitch, int32_t x, int32_t y,
                             int32_t width, int32_t height, uint32_t extra_bits)
{
    for (const ASS_Image* img = list; img; img = img->next) {
        if (img->h <= 0 || img->w <= 0)
            continue;
        int64_t left = img->dst_x < x ? x : img->dst_x;
        int64_t top = img->dst_y < y ? y : img->dst_y;
        int64_t right = int64_t(img->dst_x) + img->w;
        int64_t bottom = int64_t(img->dst_y) + img->h;
        if (right > int64_t(x) + width)
            right = int64_t(x) + width;
        if (bottom > int64_t(y) + height)
            bottom = int64_t(y) + height;
        if (left >= right || top >= bottom)
            continue;
        ASS_Image part = *img;
        part.bitmap = img->bitmap + (top - img->dst_y) * img->stride + (left - img->dst_x);
        part.dst_x = int(left - x);
        part.dst_y = int(top - y);
        part.w = int(right - left);
        part.h = int(bottom - top);
        part.next = nullptr;
        blend_image(&part, buffer, pitch, extra_bits);
    }
}

void blend_ass_images_scalar(const ASS_Image* list, uint8_t* buffer, int64_t pitch, uint32_t extra_bits)
{
    for (const ASS_Image* img = list; img; img = img->next) {
        if (img->h <= 0)
            continue;
        const uint32_t source = (img->color >> 8) | extra_bits;
        const uint32_t opacity = 255 - (img->color & 0xFF);
        for (int32_t y = 0; y < img->h; y++)
            for (int32_t x = 0; x < img->w; x++) {
                uint32_t a = (uint32_t(img->bitmap[int64_t(y) * img->stride + x]) * opacity) >> 8;
                uint8_t* d = buffer + int64_t(img->dst_y + y) * pitch + int64_t(img->dst_x + x) * 4;
                for (int i = 0; i < 4; i++) {
                    uint32_t s = (source >> (8 * i)) & 0xFF;
                    d[i] = uint8_t(uint16_t(s * a + d[i] * (256 - a)) >> 8);
                }
            }
    }
}
