// Pictures with transparency (RGBA) become premultiplied BGRA, the form
// frame presentation blends, four pixels at a time with SSE2.
#include <emmintrin.h>

#include "decode/decode.h"

void rgba_to_premultiplied_bgra_scalar(uint8_t* p, int64_t bytes)
{
    for (int64_t i = 0; i + 4 <= bytes; i += 4) {
        uint32_t a = uint32_t(p[i + 3]) + 1;
        uint8_t r = p[i];
        p[i] = uint8_t((p[i + 2] * a) >> 8);
        p[i + 1] = uint8_t((p[i + 1] * a) >> 8);
        p[i + 2] = uint8_t((r * a) >> 8);
    }
}

// Two pixels widened to 16-bit lanes (r g b a r g b a): red and blue
// swapped, colour scaled by alpha + 1, alpha kept.
static inline __m128i premultiply_two(__m128i rgba)
{
    __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(rgba, _MM_SHUFFLE(3, 3, 3, 3)), _MM_SHUFFLE(3, 3, 3, 3));
    __m128i bgra = _mm_shufflehi_epi16(_mm_shufflelo_epi16(rgba, _MM_SHUFFLE(3, 0, 1, 2)), _MM_SHUFFLE(3, 0, 1, 2));
    // (x * (a + 1)) >> 8 stays within 16 bits for bytes.
    __m128i scaled = _mm_srli_epi16(_mm_mullo_epi16(bgra, _mm_add_epi16(alpha, _mm_set1_epi16(1))), 8);
    const __m128i alpha_lanes = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
    return _mm_or_si128(_mm_andnot_si128(alpha_lanes, scaled), _mm_and_si128(alpha_lanes, bgra));
}

void rgba_to_premultiplied_bgra(uint8_t* p, int64_t bytes)
{
    const __m128i zero = _mm_setzero_si128();
    int64_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        __m128i lo = premultiply_two(_mm_unpacklo_epi8(v, zero));
        __m128i hi = premultiply_two(_mm_unpackhi_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), _mm_packus_epi16(lo, hi));
    }
    rgba_to_premultiplied_bgra_scalar(p + i, bytes - i);
}
