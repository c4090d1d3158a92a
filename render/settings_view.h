// The three settings the picture depends on, read once per picture.
#pragma once
#include <cstdint>

bool display_subs_outside();
bool display_show_title();
bool display_show_progress();
void render_set_display_options(int32_t subs_outside_on, int32_t show_title_on, int32_t show_progress_on);
