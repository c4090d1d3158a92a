// What the files of the settings share (and their tests): UTF-8 <-> UTF-16
// for the settings file. Bytes that are not UTF-8 (file
// names in other encodings) travel as the lone surrogates U+DC00 + byte, so
// a path goes through the file and back byte for byte.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/settings.h"

void settings_utf8_to_utf16(const char* text, size_t length, std::u16string* out);
void settings_utf16_to_utf8(const char16_t* text, size_t length, std::string* out);

struct SettingsFile;
// A saved playlist entry: the texts of the keys "%d", "%d_参数", "%d_标题".
struct SettingsSavedEntry {
    int32_t index;
    std::string path, params, title;
};
// The saved entries whose index lies in [0, count) and whose path is not
// empty, in increasing index order. Paths are whole, however long (titles
// and parameters are cut after 779 UTF-16 units). Indices are read as "%d" writes them (no
// sign, no leading zero). Found in one pass over the keys, without trying
// every number up to count.
void settings_file_saved_entries(const SettingsFile* file, int32_t count, std::vector<SettingsSavedEntry>* out);
