// Tag stripping on any event text: it never grows, never reads past the
// end, and a second pass changes nothing more than the first may leave.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "subtitle/subtitle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto* text = static_cast<char*>(malloc(size + 1));
    memcpy(text, data, size);
    text[size] = 0;
    size_t before = strlen(text);
    size_t after = strip_style_tags_text(text);
    if (after > before || after != strlen(text))
        abort();
    free(text);
    return 0;
}
