#include "render/settings_view.h"

#include <atomic>

#include "render/present.h"

namespace {
// Defaults of the settings file: title line hidden, progress shown,
// subtitles inside the picture.
std::atomic<int32_t> subs_outside{0};
std::atomic<int32_t> show_title{0};
std::atomic<int32_t> show_progress{1};
} // namespace

bool display_subs_outside() { return subs_outside.load(std::memory_order_relaxed) != 0; }
bool display_show_title() { return show_title.load(std::memory_order_relaxed) != 0; }
bool display_show_progress() { return show_progress.load(std::memory_order_relaxed) != 0; }

void render_set_display_options(int32_t subs_outside_on, int32_t show_title_on, int32_t show_progress_on)
{
    subs_outside.store(subs_outside_on, std::memory_order_relaxed);
    show_title.store(show_title_on, std::memory_order_relaxed);
    show_progress.store(show_progress_on, std::memory_order_relaxed);
}
