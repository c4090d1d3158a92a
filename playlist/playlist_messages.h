// The window-thread side of MSG_PLAYLIST: what the engine asks of the playlist.
#pragma once
#include <cstdint>

struct PlayerContext;

// Handles one MSG_PLAYLIST sub-code (see ui/messages.h) on the window thread.
intptr_t playlist_handle_message(PlayerContext* ctx, uint32_t sub_code, intptr_t param);
