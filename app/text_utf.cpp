#include "app/text_utf.h"

#include <iconv.h>
#include <uchardet.h>

#include <cstdio>
#include <cstring>

bool utf8_is_valid(const char* text, size_t length)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        unsigned c = s[i];
        if (c < 0x80) {
            i++;
            continue;
        }
        size_t n;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= length)
            return false;
        for (size_t k = 1; k <= n; k++) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are invalid.
        if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

static size_t utf8_sequence_length(unsigned char c)
{
    if (c < 0x80)
        return 1;
    if (c >= 0xF0)
        return 4;
    if (c >= 0xE0)
        return 3;
    if (c >= 0xC0)
        return 2;
    return 1;
}

size_t utf16_units(const char* text, size_t length)
{
    size_t units = 0;
    for (size_t i = 0; i < length;) {
        size_t n = utf8_sequence_length(static_cast<unsigned char>(text[i]));
        units += n == 4 ? 2 : 1;
        i += n;
    }
    return units;
}

size_t utf8_copy_units(char* out, size_t out_size, const char* text, size_t length, size_t max_units)
{
    if (out_size == 0)
        return 0;
    size_t units = 0, i = 0;
    while (i < length) {
        size_t n = utf8_sequence_length(static_cast<unsigned char>(text[i]));
        size_t u = n == 4 ? 2 : 1;
        if (i + n > length || units + u > max_units || i + n + 1 > out_size)
            break;
        units += u;
        i += n;
    }
    memcpy(out, text, i);
    out[i] = 0;
    return i;
}

static long convert_with_iconv(const char* from, const char* text, size_t length, char* out, size_t out_size)
{
    iconv_t cd = iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return -1;
    char* in_ptr = const_cast<char*>(text);
    size_t in_left = length;
    char* out_ptr = out;
    size_t out_left = out_size - 1;
    size_t r = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    iconv_close(cd);
    if (r == size_t(-1) && in_left != 0)
        return -1;
    *out_ptr = 0;
    return long(out_ptr - out);
}

const char* legacy_detect_encoding(const char* text, size_t length)
{
    static thread_local char name[64];
    const char* result = "GB18030";
    uchardet_t ud = uchardet_new();
    if (ud && uchardet_handle_data(ud, text, length) == 0) {
        uchardet_data_end(ud);
        const char* guess = uchardet_get_charset(ud);
        if (guess && *guess && strcmp(guess, "ASCII") != 0) {
            iconv_t cd = iconv_open("UTF-8", guess);
            if (cd != reinterpret_cast<iconv_t>(-1)) {
                iconv_close(cd);
                snprintf(name, sizeof name, "%s", guess);
                result = name;
            }
        }
    }
    if (ud)
        uchardet_delete(ud);
    return result;
}

long legacy_to_utf8(const char* text, size_t length, char* out, size_t out_size)
{
    if (out_size == 0)
        return -1;
    if (utf8_is_valid(text, length)) {
        if (length + 1 > out_size)
            return -1;
        memcpy(out, text, length);
        out[length] = 0;
        return long(length);
    }
    long n = convert_with_iconv(legacy_detect_encoding(text, length), text, length, out, out_size);
    if (n < 0)
        n = convert_with_iconv("GB18030", text, length, out, out_size);
    return n;
}
