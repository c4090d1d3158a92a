#include "core/menu_text.h"

#include <glib.h>

#include <cstdio>
#include <cstring>

#include "core/text_utf.h"

namespace {

// A name longer than this many bytes is cut before it is converted: no
// encoding needs more bytes for the 292 characters an item keeps.
constexpr size_t NAME_BYTES_KEPT = 2048;
constexpr size_t ENTRY_TEXT_UNITS = 292;

std::string as_utf8(const char* text, size_t length)
{
    if (utf8_is_valid(text, length))
        return std::string(text, length);
    std::string converted(length * 4 + 16, '\0');
    long n = legacy_to_utf8(text, length, converted.data(), converted.size());
    if (n >= 0 && utf8_is_valid(converted.data(), size_t(n))) {
        converted.resize(size_t(n));
        return converted;
    }
    gchar* valid = g_utf8_make_valid(text, gssize(length));
    std::string result = valid;
    g_free(valid);
    return result;
}

// Control characters become spaces (a tab would start the accelerator
// column, a line break would split the item); "&" is doubled so that it
// is shown instead of marking a mnemonic.
std::string escape(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F)
            out += ' ';
        else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            out += ' '; // U+0080 to U+009F
            i++;
        } else if (c == '&')
            out += "&&";
        else
            out += char(c);
    }
    return out;
}

void append_number(std::string* out, const char* format, long long value)
{
    char buffer[48];
    snprintf(buffer, sizeof buffer, format, value);
    *out += buffer;
}

} // namespace

std::string menu_plain_text(const char* text, size_t length)
{
    return escape(as_utf8(text, length));
}

std::string menu_entry_text(uint32_t index, const char* name)
{
    char head[24];
    snprintf(head, sizeof head, "%5u - ", index + 1);
    std::string text = head + as_utf8(name, strnlen(name, NAME_BYTES_KEPT));
    char cut[ENTRY_TEXT_UNITS * 3 + 1];
    size_t kept = utf8_copy_units(cut, sizeof cut, text.data(), text.size(), ENTRY_TEXT_UNITS);
    return escape(std::string(cut, kept));
}

std::string menu_stream_text(const MenuStream* s, int32_t refs)
{
    std::string text;
    append_number(&text, "#%lld", s->index);
    if (!s->title.empty())
        text += "." + menu_plain_text(s->title.data(), s->title.size());
    if (!s->language.empty())
        text += " / " + menu_plain_text(s->language.data(), s->language.size());
    if (s->kind == MENU_STREAM_VIDEO) {
        char size[48];
        snprintf(size, sizeof size, " / %dx%d", s->width, s->height);
        text += size;
        if (refs >= 1) {
            append_number(&text, " / %lldref", refs);
            if (refs > 1)
                text += 's';
        }
    } else if (s->kind == MENU_STREAM_AUDIO) {
        append_number(&text, " / %lld声道", s->channels);
        append_number(&text, " / %lldHz", s->sample_rate);
    }
    if (s->bits_per_raw_sample > 0)
        append_number(&text, " / %lldbits", s->bits_per_raw_sample);
    if (s->bit_rate > 0)
        append_number(&text, " / %lldKbps", s->bit_rate / 1000);
    text += " / " + (s->codec.empty() ? std::string("unknown") : s->codec);
    if (!s->profile.empty())
        text += "." + s->profile;
    if (s->attached_picture)
        text += "\t封面";
    else if (s->forced)
        text += "\t强制轨道";
    else if (s->default_track)
        text += "\t默认轨道";
    return text;
}

std::string menu_text_as_notice(const std::string& text)
{
    std::string out;
    size_t end = text.find('\t');
    if (end == std::string::npos)
        end = text.size();
    for (size_t i = 0; i < end; i++) {
        if (text[i] == '&' && i + 1 < end)
            i++; // "&&" is a plain "&", "&X" marks X
        out += text[i];
    }
    return out;
}
