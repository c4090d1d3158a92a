// The media-player interface's values, apart from the bus: what each
// property says for a state, what changed between two states, and how
// the calls' arguments are read. Window thread only.
#pragma once
#include <glib.h>

#include <array>
#include <cstdint>

#include "platform/platform.h"

// "Playing", "Paused" or "Stopped".
const char* mpris_status_text(int32_t status);
// A property of the root interface (identity, desktop entry, URI schemes,
// MIME types, what the player can do as a program); null for any other name.
GVariant* mpris_root_property(const char* name);
// The MIME types the desktop entry names.
extern const char* const MPRIS_MIME_TYPES[];
// mpris:trackid, and with an item open mpris:length, xesam:title, xesam:url,
// mpris:artUrl and the xesam tags the item has.
GVariant* mpris_metadata(const MprisState& s);
// "/org/mpris/MediaPlayer2/TrackList/NoTrack" while nothing is open, else a
// path of this player's own naming the item.
void mpris_track_path(const MprisState& s, char* out, size_t out_size);

// The player-interface properties whose value differs between the two
// states (Position never: its changes are not announced), null-terminated.
std::array<const char*, 12> mpris_changed_properties(const MprisState& before, const MprisState& now);
// Whether the position moved by more than threshold_us away from where the
// time that passed would have taken it (a seek, from whatever source).
bool mpris_position_jumped(const MprisState& before, int64_t before_wall_us, const MprisState& now,
                           int64_t now_wall_us, int64_t threshold_us);

// The volume level for a volume of the interface (1.0 is 100): negative
// gives 0, above 3.0 gives 300. The caller refuses NaN.
int64_t mpris_volume_level(double volume);
// The local path of a "file:" URI (g_free it); null for any other scheme,
// a remote host or a malformed URI.
char* mpris_path_of_uri(const char* uri);
