// The ground every folder stands on: the one player context with the
// records it embeds, the window header in front of it, the messages between
// the engine and the window thread, and the few calls any thread may make
// without belonging to one room (notices, the redraw request, the window
// title, the cached menu, the message bridge, time and text helpers).
// Nothing here includes another folder of the program.
#pragma once

#include "core/bridge.h"
#include "core/clock.h"
#include "core/exit_steps.h"
#include "core/key_codes.h"
#include "core/main_window.h"
#include "core/menu_cache.h"
#include "core/menu_text.h"
#include "core/menu_types.h"
#include "core/messages.h"
#include "core/notice.h"
#include "core/player_context.h"
#include "core/seek_request.h"
#include "core/spin_lock.h"
#include "core/text_utf.h"
#include "core/window_title.h"
#include "core/window_types.h"
