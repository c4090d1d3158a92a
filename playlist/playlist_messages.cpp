#include "playlist/playlist_messages.h"

// Placeholder until the playlist lands: the engine finds no entry to open.
intptr_t playlist_handle_message(PlayerContext* ctx, uint32_t sub_code, intptr_t param)
{
    return 0;
}
