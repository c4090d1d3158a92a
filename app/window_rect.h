// A rectangle in screen pixels, right and bottom exclusive.
#pragma once
#include <cstdint>

struct WindowRect {
    int32_t left, top, right, bottom;
};
