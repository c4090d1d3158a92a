// The text system's first use reads the whole font configuration and opens
// the fonts, some tens of milliseconds. The font map is the calling
// thread's own, so the thread that will draw the text calls this first.
#include <cairo.h>
#include <pango/pangocairo.h>

#include "core/core.h"
#include "render/render.h"

void render_warm_fonts(const char* font_name)
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 4, 4);
    cairo_t* cr = cairo_create(surface);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string(font_name ? font_name : "monospace");
    pango_font_description_set_absolute_size(font, 13 * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    // Digits and the interface's own script, so the fallback font is found too.
    pango_layout_set_text(layout, "0:00:00 播放 暂停", -1);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    pango_font_description_free(font);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}
