// The band of the cool menu: while the option is on, every pop-up menu of
// the process opens with a dark column on its left, 25 pixels on a top-level
// menu and 15 on a submenu, with the program's name running upward in it
// when the menu is tall enough. Window thread only.
#include <gtk/gtk.h>

#include <cmath>

#include "platform/platform.h"

namespace {

constexpr int TOP_BAND = 25;
constexpr int SUBMENU_BAND = 15;
constexpr int SMALL_FONT_BAND = 20; // bands this narrow use the small font
constexpr int TEXT_MIN_HEIGHT = 110;

const char BAND_KEY[] = "moravista-band";      // the band's width on a menu, 0 for none
const char HOOKED_KEY[] = "moravista-band-draw"; // the draw handler is connected
const char* const BAND_CLASSES[] = {"moravista-band-25", "moravista-band-15"};

int (*band_wanted)(void);
bool installed;

void set_rgb(cairo_t* cr, unsigned rgb)
{
    cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
}

// The text starts at (x, y) and runs upward; x is the side its tops face.
void draw_upward(cairo_t* cr, PangoLayout* layout, double x, double y, unsigned rgb)
{
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_rotate(cr, -M_PI / 2);
    set_rgb(cr, rgb);
    pango_cairo_update_layout(cr, layout);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
}

// "Impact" where it is installed, else a sans face (fontconfig alone would
// pick a symbol font for the missing name): bold italic, 20 pixels; or the
// small face, medium weight, 12 pixels.
PangoFontDescription* band_font(bool small)
{
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, "Impact,sans-serif");
    pango_font_description_set_style(font, PANGO_STYLE_ITALIC);
    pango_font_description_set_weight(font, small ? PANGO_WEIGHT_MEDIUM : PANGO_WEIGHT_BOLD);
    pango_font_description_set_absolute_size(font, (small ? 12 : 20) * PANGO_SCALE);
    return font;
}

gboolean on_draw(GtkWidget* menu, cairo_t* cr, gpointer)
{
    int band = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(menu), BAND_KEY));
    if (band <= 0)
        return FALSE;
    int height = gtk_widget_get_allocated_height(menu);
    cairo_save(cr);
    set_rgb(cr, 0x333333);
    cairo_rectangle(cr, 0, 0, band, height);
    cairo_fill(cr);
    if (height > TEXT_MIN_HEIGHT) {
        bool small = band <= SMALL_FONT_BAND;
        static PangoFontDescription* fonts[2] = {band_font(false), band_font(true)};
        PangoLayout* layout = pango_cairo_create_layout(cr);
        pango_layout_set_font_description(layout, fonts[small]);
        pango_layout_set_text(layout, "Moravista", -1);
        int nudge = small ? 1 : 0;
        draw_upward(cr, layout, nudge - 2, height - nudge - 3, 0x000000);
        draw_upward(cr, layout, 1, height - 6, 0xCCCCCC);
        g_object_unref(layout);
    }
    cairo_restore(cr);
    return FALSE;
}

// Every menu of the process passes here when it is shown: the option, as it
// stands now, decides whether this showing has a band.
gboolean on_menu_shown(GSignalInvocationHint*, guint, const GValue* params, gpointer)
{
    GObject* object = static_cast<GObject*>(g_value_get_object(&params[0]));
    if (!GTK_IS_MENU(object))
        return TRUE;
    GtkWidget* menu = GTK_WIDGET(object);
    int band = 0;
    if (band_wanted && band_wanted())
        band = GTK_IS_MENU_ITEM(gtk_menu_get_attach_widget(GTK_MENU(menu))) ? SUBMENU_BAND : TOP_BAND;
    if (GPOINTER_TO_INT(g_object_get_data(object, BAND_KEY)) != band || !g_object_get_data(object, HOOKED_KEY)) {
        GtkStyleContext* style = gtk_widget_get_style_context(menu);
        for (const char* c : BAND_CLASSES)
            gtk_style_context_remove_class(style, c);
        if (band)
            gtk_style_context_add_class(style, BAND_CLASSES[band == TOP_BAND ? 0 : 1]);
        g_object_set_data(object, BAND_KEY, GINT_TO_POINTER(band));
        gtk_widget_queue_resize(menu);
    }
    if (!g_object_get_data(object, HOOKED_KEY)) {
        g_signal_connect_after(menu, "draw", G_CALLBACK(on_draw), nullptr);
        g_object_set_data(object, HOOKED_KEY, GINT_TO_POINTER(1));
    }
    return TRUE; // stay installed
}

} // namespace

void platform_menu_band_install(int (*wanted)(void))
{
    if (installed)
        return;
    GdkScreen* screen = gdk_screen_get_default();
    if (!screen)
        return;
    installed = true;
    band_wanted = wanted;
    // The band replaces the menu's left padding.
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css,
                                    "menu.moravista-band-25 { padding-left: 25px; }\n"
                                    "menu.moravista-band-15 { padding-left: 15px; }\n",
                                    -1, nullptr);
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(css), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
    g_type_class_ref(GTK_TYPE_MENU); // the signal must exist before it can be hooked
    g_signal_add_emission_hook(g_signal_lookup("show", GTK_TYPE_WIDGET), 0, on_menu_shown, nullptr, nullptr);
}
