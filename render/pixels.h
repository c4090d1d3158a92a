// Pixel kernels of the frame buffer: fills, the three darkenings and the
// libass blend. Pixels are four bytes (B, G, R, X) in memory order; a
// pattern is one such pixel as a little-endian 32-bit value. Each kernel has
// an SSE2 version (the one drawing uses) and a plain scalar version that
// gives bit-identical output (kept for the tests and benchmarks).
#pragma once
#include <cstddef>
#include <cstdint>

#include <ass/ass.h>

constexpr uint32_t bgrx(uint32_t b, uint32_t g, uint32_t r, uint32_t x)
{
    return b | g << 8 | r << 16 | x << 24;
}

// Fills bytes (a multiple of 16) from start, 16 bytes at a time, from the
// end backwards: eight groups per step while 128 bytes remain, then one.
void fill_bytes(uint8_t* start, size_t bytes, uint32_t pattern);

// The rectangle kernels work on width x height pixels whose top-left pixel is
// at row; rows are pitch bytes apart. Each row is processed in 16-byte groups
// from its right end; the width % 4 leftmost pixels form one masked group, so
// exactly the rectangle's pixels are read and written.
void fill_pixels(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t pattern);
// Every byte v becomes max(0, v - s) (saturating subtraction).
void darken_subtract(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t s);
// Every byte v becomes max(0, ((v + 1) >> 1) - s): the text box.
void darken_halve(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t s);
// Every byte v becomes (v + k + 1) >> 1: the notice box.
void darken_average(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t k);

// Blends a libass image list into a BGRX buffer; extra_bits are OR-ed into
// every image's colour first. Images are taken as libass gives them: inside
// the frame size it was given.
void blend_ass_images(const ASS_Image* list, uint8_t* buffer, int64_t pitch, uint32_t extra_bits);
// The same, cutting every image to a width x height target first, for lists
// that may not fit the buffer (a copy of another size, a stale frame size).
void blend_ass_images_clipped(const ASS_Image* list, uint8_t* buffer, int64_t pitch, int32_t width,
                              int32_t height, uint32_t extra_bits);

// Scalar versions with the same results.
void fill_pixels_scalar(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t pattern);
void darken_subtract_scalar(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t s);
void darken_halve_scalar(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t s);
void darken_average_scalar(uint8_t* row, int64_t pitch, int32_t width, int32_t height, uint32_t k);
void blend_ass_images_scalar(const ASS_Image* list, uint8_t* buffer, int64_t pitch, uint32_t extra_bits);
