// UTF-8 <-> UTF-16 for the settings file. Bytes that are not UTF-8 (file
// names in other encodings) travel as the lone surrogates U+DC00 + byte, so
// a path goes through the file and back byte for byte.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

void settings_utf8_to_utf16(const char* text, size_t length, std::u16string* out);
void settings_utf16_to_utf8(const char16_t* text, size_t length, std::string* out);

struct SettingsFile;
// The keys of the file that are decimal numbers as "%d" writes them (no
// sign, no leading zero) and lie in [0, count), in increasing order: the
// saved list's entry keys, found without trying every number up to count.
void settings_file_numbered_keys(const SettingsFile* file, int32_t count, std::vector<int32_t>* out);
