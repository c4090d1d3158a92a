// The window's icon, drawn with cairo: the same picture as the installed
// scalable icon (a dark tile with a picture area, a green play mark and a
// progress line). Looking the icon up by name would make the toolkit render
// the vector file through its SVG loader at start-up, which costs time before
// the first picture and some 10 MB that stay mapped for the whole run.
#include <gtk/gtk.h>

#include "platform/window_internal.h"

namespace {

void rounded_rect(cairo_t* cr, double x, double y, double w, double h, double r)
{
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -G_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, G_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, G_PI / 2, G_PI);
    cairo_arc(cr, x + r, y + r, r, G_PI, 3 * G_PI / 2);
    cairo_close_path(cr);
}

void fill_with_mark_gradient(cairo_t* cr, double x0, double y0, double x1, double y1)
{
    cairo_pattern_t* mark = cairo_pattern_create_linear(x0, y0, x1, y1);
    cairo_pattern_add_color_stop_rgb(mark, 0, 0x7C / 255.0, 1.0, 0x6B / 255.0);
    cairo_pattern_add_color_stop_rgb(mark, 1, 0, 0xC8 / 255.0, 0x53 / 255.0);
    cairo_set_source(cr, mark);
    cairo_fill(cr);
    cairo_pattern_destroy(mark);
}

// The icon at size x size pixels, drawn in the 256-unit space of the
// scalable icon.
GdkPixbuf* draw_icon(int size)
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, size / 256.0, size / 256.0);

    rounded_rect(cr, 16, 16, 224, 224, 44);
    cairo_pattern_t* face = cairo_pattern_create_linear(0, 16, 0, 240);
    cairo_pattern_add_color_stop_rgb(face, 0, 0x3a / 255.0, 0x3f / 255.0, 0x47 / 255.0);
    cairo_pattern_add_color_stop_rgb(face, 1, 0x16 / 255.0, 0x18 / 255.0, 0x1c / 255.0);
    cairo_set_source(cr, face);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(face);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.35);
    cairo_set_line_width(cr, 4);
    cairo_stroke(cr);

    rounded_rect(cr, 44, 60, 168, 112, 10);
    cairo_set_source_rgb(cr, 0x0b / 255.0, 0x0c / 255.0, 0x0e / 255.0);
    cairo_fill(cr);

    cairo_move_to(cr, 108, 86);
    cairo_line_to(cr, 156, 116);
    cairo_line_to(cr, 108, 146);
    cairo_close_path(cr);
    fill_with_mark_gradient(cr, 108, 86, 156, 146);

    rounded_rect(cr, 44, 188, 168, 8, 4);
    cairo_set_source_rgb(cr, 0x2d / 255.0, 0x31 / 255.0, 0x38 / 255.0);
    cairo_fill(cr);
    rounded_rect(cr, 44, 188, 104, 8, 4);
    fill_with_mark_gradient(cr, 44, 188, 148, 196);
    cairo_arc(cr, 148, 192, 9, 0, 2 * G_PI);
    cairo_set_source_rgb(cr, 0xE8 / 255.0, 1.0, 0xE4 / 255.0);
    cairo_fill(cr);

    cairo_destroy(cr);
    cairo_surface_flush(surface);
    GdkPixbuf* pixbuf = gdk_pixbuf_get_from_surface(surface, 0, 0, size, size);
    cairo_surface_destroy(surface);
    return pixbuf;
}

} // namespace

GdkPixbuf* platform_icon_pixbuf(int size)
{
    return draw_icon(size);
}

void platform_set_window_icon(GtkWidget* toplevel)
{
    GList* icons = nullptr;
    for (int size : {16, 32, 48, 64, 128}) {
        if (GdkPixbuf* icon = draw_icon(size))
            icons = g_list_append(icons, icon);
    }
    gtk_window_set_icon_list(GTK_WINDOW(toplevel), icons);
    g_list_free_full(icons, g_object_unref);
}
