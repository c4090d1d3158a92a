// The texts of the menu's numbered items (playlist entries and streams) and
// the cleaning of text that comes from files and metadata. The engine uses
// them too: a track switch's notice shows what its menu item says.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/menu_types.h"

// "%5d - %s" of entry index (zero-based) with its title or path, cut to 292
// UTF-16 units, as menu text.
std::string menu_entry_text(uint32_t index, const char* name);
// The text of a stream's item; refs are the decoder's reference frames.
std::string menu_stream_text(const MenuStream* stream, int32_t refs);
// Text from files and metadata made safe for a menu: valid UTF-8 (the
// legacy encoding is tried first), control characters as spaces, and "&"
// doubled so that it shows as itself.
std::string menu_plain_text(const char* text, size_t length);
// A menu item's text as a notice shows it: what stands before the tab (the
// right-aligned column), mnemonics and doubled "&" undone.
std::string menu_text_as_notice(const std::string& text);
