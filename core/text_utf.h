// UTF-8 text helpers: validity, UTF-16 unit counts (the stored formats and
// buffer limits count in UTF-16 units) and the legacy-encoding fallback that
// stands in for the Windows ANSI code page.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

bool utf8_is_valid(const char* text, size_t length);
// UTF-16 units needed for valid UTF-8 text (4-byte sequences count 2).
size_t utf16_units(const char* text, size_t length);
// Copies text into out (out_size bytes) without splitting a character, so
// that the copy needs at most max_units UTF-16 units; returns its length.
size_t utf8_copy_units(char* out, size_t out_size, const char* text, size_t length, size_t max_units);

// Converts text that is not valid UTF-8 from the legacy encoding detection
// names (GB18030 when in doubt) into UTF-8 in out, zero-terminated. Valid
// UTF-8 is copied unchanged. Returns the length written, or -1 when nothing
// usable came out.
long legacy_to_utf8(const char* text, size_t length, char* out, size_t out_size);
// The name of the encoding legacy_to_utf8 would convert from (iconv name).
const char* legacy_detect_encoding(const char* text, size_t length);

// The key a folder's names are listed by: the name case folded (letters in
// any case sort together), compared ordinally byte by byte. A name that is
// not UTF-8 has only its ASCII letters folded.
std::string name_order_key(const char* name, size_t length);

struct AVDictionary;
// The "title" of a metadata dictionary as UTF-8 in a shared buffer of 259
// UTF-16 units (one per thread), converted from the legacy encoding when it
// is not valid UTF-8; null when there is none.
const char* title_from_metadata(AVDictionary* metadata);
