// Frame presentation: builds the picture of the client area from the current
// frame (or none), the subtitles and the on-screen display, and shows it.
#pragma once

struct PlayerContext;
struct AVFrame;

// Called by the presentation thread only; frame is the current video frame,
// or null for an item without video or with nothing to show yet.
void present_frame(PlayerContext* ctx, AVFrame* frame);
