// The cached context menu: built by the window thread when it is first
// shown and kept until a change of item or list drops it.
#pragma once

struct PlayerContext;

// Takes the cached menu (atomic exchange against null) and, when there was
// one, has the window thread close it if it is being shown and destroy it.
// Any thread.
void cancel_menu(PlayerContext* ctx);
