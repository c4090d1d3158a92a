#include "render/present.h"

#include "app/player_context.h"

// Placeholder until frame presentation lands: nothing is drawn.
void present_frame(PlayerContext* ctx, AVFrame* frame) {}
