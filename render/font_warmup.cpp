// The text system's first use reads the whole font configuration and opens
// the fonts, some tens of milliseconds. A helper thread does it on a font
// map of its own while the window is made, then hands the map over: the
// presentation thread's layouts take it from then on, and until then use
// that thread's default map. Only the presentation thread draws text, so
// after the hand-over one thread alone uses the map.
#include <cairo.h>
#include <pango/pangocairo.h>

#include <atomic>

#include "core/core.h"
#include "render/render.h"
#include "render/render_internal.h"

namespace {

std::atomic<int32_t> warm_started{0};
std::atomic<PangoFontMap*> warm_map{nullptr}; // published with release once warm

} // namespace

void render_warm_fonts(const char* font_name)
{
    if (warm_started.exchange(1, std::memory_order_relaxed) != 0)
        return;
    PangoFontMap* map = pango_cairo_font_map_new();
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 4, 4);
    cairo_t* cr = cairo_create(surface);
    PangoContext* context = pango_font_map_create_context(map);
    pango_cairo_update_context(cr, context);
    PangoLayout* layout = pango_layout_new(context);
    PangoFontDescription* font = pango_font_description_from_string(font_name ? font_name : "monospace");
    pango_font_description_set_absolute_size(font, 13 * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    // Digits and the interface's own script, so the fallback font is found too.
    pango_layout_set_text(layout, "0:00:00 播放 暂停", -1);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    pango_font_description_free(font);
    g_object_unref(layout);
    g_object_unref(context);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    warm_map.store(map, std::memory_order_release);
}

PangoLayout* osd_new_layout(cairo_t* cr)
{
    PangoFontMap* map = warm_map.load(std::memory_order_acquire);
    if (!map)
        return pango_cairo_create_layout(cr);
    PangoContext* context = pango_font_map_create_context(map);
    pango_cairo_update_context(cr, context);
    PangoLayout* layout = pango_layout_new(context);
    g_object_unref(context);
    return layout;
}
