#include "ui/window_procedure.h"

#include "app/main_window.h"
#include "playlist/playlist_messages.h"
#include "ui/messages.h"

intptr_t window_procedure(MainWindow* window, unsigned msg, uintptr_t a, intptr_t b)
{
    AppBlock* block = reinterpret_cast<AppBlock*>(window);
    switch (msg) {
    case MSG_PLAYLIST:
        return playlist_handle_message(&block->player, uint32_t(a), b);
    default:
        return 0;
    }
}
