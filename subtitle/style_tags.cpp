// Removing the look of a subtitle line: the font, colour, border, shadow,
// blur and position tags of its override blocks, in place and in one pass,
// so the standard style shows through.
#include <cstring>

#include "core/core.h"
#include "subtitle/subtitle.h"

// Whether the tag whose name starts at name (just after its backslash) goes.
static bool tag_is_removed(const char* name)
{
    static const char* const REMOVED[] = {"fn", "pos", "bord", "shad", "blur", "c"};
    for (const char* prefix : REMOVED) {
        if (strncmp(name, prefix, strlen(prefix)) == 0)
            return true;
    }
    return name[0] >= '1' && name[0] <= '4' && name[1] == 'c';
}

size_t strip_style_tags_text(char* text)
{
    const char* in = text;
    char* out = text; // never ahead of in: the text only shrinks
    char* block = nullptr; // where the open block's "{" was written
    while (*in) {
        char c = *in;
        if (!block) {
            if (c == '\\') {
                // An escape outside a block keeps its character unexamined.
                *out++ = *in++;
                if (*in)
                    *out++ = *in++;
            } else {
                if (c == '{')
                    block = out;
                *out++ = *in++;
            }
            continue;
        }
        if (c == '\\' && tag_is_removed(in + 1)) {
            // Skip the tag up to the next backslash, the block's end or the end.
            in++;
            while (*in && *in != '\\' && *in != '}')
                in++;
        } else if (c == '}') {
            in++;
            if (out == block + 1)
                out = block; // nothing left in the block: it goes entirely
            else
                *out++ = '}';
            // The character after a block is examined like any other, so a
            // block that follows a removed empty one is filtered too.
            block = nullptr;
        } else {
            *out++ = *in++;
        }
    }
    *out = 0;
    return size_t(out - text);
}

void strip_style_tags(ASS_Track* track, ASS_Event* event)
{
    if (!track || !event || !event->Text)
        return;
    if (event->Style < 0 || event->Style >= track->n_styles)
        return;
    if (track->styles[event->Style].Alignment != SUB_ALIGN_BOTTOM_CENTRE)
        return;
    strip_style_tags_text(event->Text);
}
