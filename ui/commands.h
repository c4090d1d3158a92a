// Playback commands the window's input and the headless input script share.
// Window thread only: they write the engine's request fields.
#pragma once
#include <cstdint>

struct PlayerContext;

// Space: inverts playing when an item is open (pausing or resuming the sound
// device); with nothing open, asks for the current entry. `play` -1 toggles,
// 0 pauses, 1 plays.
void command_play_pause(PlayerContext* ctx, int play);
void command_stop(PlayerContext* ctx);
// A seek to an absolute position, as a right click on the progress bar:
// seek_forward 1 for an item without video, 0 with video.
void command_seek_to(PlayerContext* ctx, int32_t position_ms);
// F: the next frame, then paused.
void command_step(PlayerContext* ctx);
// Sets the volume level (clamped to 0..300) and shows its notice.
void command_set_volume(PlayerContext* ctx, int32_t level);
// A track choice of the menu: 1019 + stream, 2020 + external file, 3021 off.
void command_track(PlayerContext* ctx, int32_t command_id);
