// GTK's keyboard and pointer events become the window procedure's input
// messages: key codes with the modifiers held, buttons with their own
// double-click detection, moves, leaves and wheel notches.
#include <gtk/gtk.h>

#include <cstdlib>
#include <ctime>

#include "platform/platform.h"
#include "platform/window_internal.h"

namespace {

void send(PlatformWindow* w, unsigned msg, uintptr_t a, intptr_t b)
{
    w->procedure(w->user, msg, a, b);
}

intptr_t key_modifiers(guint state)
{
    return (state & GDK_CONTROL_MASK ? KEY_MOD_CTRL : 0) | (state & GDK_SHIFT_MASK ? KEY_MOD_SHIFT : 0) |
           (state & GDK_MOD1_MASK ? KEY_MOD_ALT : 0);
}

// Keys are named by the key, not the character: Shift+1 is the 1 key and a
// letter of another keyboard layout is the Latin letter on the same key.
int32_t key_code_of(GdkEventKey* e)
{
    int32_t code = key_code_of_keysym(e->keyval);
    if (code != KEY_NONE)
        return code;
    guint keyval = 0;
    GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_window_get_display(e->window));
    if (gdk_keymap_translate_keyboard_state(keymap, e->hardware_keycode, GdkModifierType(e->state & GDK_MOD2_MASK), 0,
                                            &keyval, nullptr, nullptr, nullptr))
        code = key_code_of_keysym(keyval);
    return code;
}

// How long ago, on our clock, the server made an event: the smallest
// difference between the two clocks seen so far is taken as delivery
// without delay.
uint32_t event_age_ms(PlatformWindow* w, guint32 server_time)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint32_t local_ms = uint32_t(now.tv_sec * 1000 + now.tv_nsec / 1000000);
    int32_t offset = int32_t(local_ms - server_time);
    if (!w->input_offset_known || offset < w->input_offset_ms) {
        w->input_offset_ms = offset;
        w->input_offset_known = 1;
    }
    return uint32_t(offset - w->input_offset_ms);
}

gboolean on_key_press(GtkWidget*, GdkEventKey* e, gpointer data)
{
    auto* w = static_cast<PlatformWindow*>(data);
    uint32_t age = event_age_ms(w, e->time);
    bool repeat = w->key_held == e->hardware_keycode;
    w->key_held = e->hardware_keycode;
    // A held key's repeats that waited while the window thread was busy are
    // merged into the one being handled (a repeat count, not a queue), so a
    // held key never piles up work behind it.
    if (repeat && age > 60)
        return TRUE;
    intptr_t modifiers = key_modifiers(e->state);
    send(w, modifiers & KEY_MOD_ALT ? MSG_SYS_KEY_DOWN : MSG_KEY_DOWN, uintptr_t(key_code_of(e)), modifiers);
    return TRUE;
}

gboolean on_key_release(GtkWidget*, GdkEventKey* e, gpointer data)
{
    auto* w = static_cast<PlatformWindow*>(data);
    if (w->key_held == e->hardware_keycode)
        w->key_held = 0;
    return TRUE;
}

uintptr_t mouse_state(guint state)
{
    return (state & GDK_BUTTON1_MASK ? MOUSE_LEFT : 0) | (state & GDK_BUTTON3_MASK ? MOUSE_RIGHT : 0) |
           (state & GDK_BUTTON2_MASK ? MOUSE_MIDDLE : 0) | (state & GDK_SHIFT_MASK ? MOUSE_SHIFT : 0) |
           (state & GDK_CONTROL_MASK ? MOUSE_CTRL : 0) | (state & GDK_MOD1_MASK ? MOUSE_ALT : 0);
}

uintptr_t button_bit(guint button)
{
    return button == 1 ? MOUSE_LEFT : button == 3 ? MOUSE_RIGHT : button == 2 ? MOUSE_MIDDLE : 0;
}

void move_to(PlatformWindow* w, double x, double y, guint state)
{
    intptr_t position = mouse_position(int32_t(x), int32_t(y));
    w->pointer_position = position;
    send(w, MSG_MOUSE_MOVE, mouse_state(state), position);
}

// A second left press close enough in time and place to the first is a
// double click; a third starts over.
bool is_double_click(PlatformWindow* w, GdkEventButton* e)
{
    GtkSettings* settings = gtk_settings_get_default();
    gint time_ms = 400, distance = 5;
    if (settings)
        g_object_get(settings, "gtk-double-click-time", &time_ms, "gtk-double-click-distance", &distance, nullptr);
    bool twice = w->click_pending && e->time - w->click_time <= guint32(time_ms) &&
                 std::abs(int(e->x) - w->click_x) <= distance && std::abs(int(e->y) - w->click_y) <= distance;
    w->click_pending = !twice;
    w->click_time = e->time;
    w->click_x = int(e->x);
    w->click_y = int(e->y);
    return twice;
}

gboolean on_button_press(GtkWidget*, GdkEventButton* e, gpointer data)
{
    auto* w = static_cast<PlatformWindow*>(data);
    // GDK's own double and triple presses follow plain ones; ours replace them.
    if (e->type != GDK_BUTTON_PRESS)
        return TRUE;
    intptr_t position = mouse_position(int32_t(e->x), int32_t(e->y));
    // The buttons act on the region under the pointer, which a move decides.
    if (position != w->pointer_position)
        move_to(w, e->x, e->y, e->state);
    uintptr_t state = mouse_state(e->state) | button_bit(e->button);
    if (e->button == 1)
        send(w, is_double_click(w, e) ? MSG_LEFT_DOUBLE : MSG_LEFT_DOWN, state, position);
    else if (e->button == 3)
        send(w, MSG_RIGHT_DOWN, state, position);
    else if (e->button == 2)
        send(w, MSG_MIDDLE_DOWN, state, position);
    return TRUE;
}

gboolean on_button_release(GtkWidget*, GdkEventButton* e, gpointer data)
{
    auto* w = static_cast<PlatformWindow*>(data);
    uintptr_t state = mouse_state(e->state) & ~button_bit(e->button);
    intptr_t position = mouse_position(int32_t(e->x), int32_t(e->y));
    if (e->button == 1)
        send(w, MSG_LEFT_UP, state, position);
    else if (e->button == 3)
        send(w, MSG_RIGHT_UP, state, position);
    return TRUE;
}

gboolean on_motion(GtkWidget*, GdkEventMotion* e, gpointer data)
{
    move_to(static_cast<PlatformWindow*>(data), e->x, e->y, e->state);
    return TRUE;
}

gboolean on_enter(GtkWidget*, GdkEventCrossing* e, gpointer data)
{
    move_to(static_cast<PlatformWindow*>(data), e->x, e->y, e->state);
    return FALSE;
}

gboolean on_leave(GtkWidget*, GdkEventCrossing* e, gpointer data)
{
    auto* w = static_cast<PlatformWindow*>(data);
    // Into the picture window is still inside.
    if (e->detail == GDK_NOTIFY_INFERIOR)
        return FALSE;
    w->pointer_position = -1;
    send(w, MSG_MOUSE_LEAVE, 0, 0);
    return FALSE;
}

gboolean on_scroll(GtkWidget*, GdkEventScroll* e, gpointer data)
{
    auto* w = static_cast<PlatformWindow*>(data);
    int notches = 0;
    if (e->direction == GDK_SCROLL_UP) {
        notches = 1;
    } else if (e->direction == GDK_SCROLL_DOWN) {
        notches = -1;
    } else if (e->direction == GDK_SCROLL_SMOOTH) {
        // Touchpads turn in fractions: every whole unit is one notch, and
        // up (a negative delta) is away from the user.
        w->scroll_rest -= e->delta_y;
        notches = int(w->scroll_rest);
        w->scroll_rest -= notches;
    }
    intptr_t position = mouse_position(int32_t(e->x), int32_t(e->y));
    for (; notches > 0; notches--)
        send(w, MSG_MOUSE_WHEEL, uintptr_t(WHEEL_NOTCH), position);
    for (; notches < 0; notches++)
        send(w, MSG_MOUSE_WHEEL, uintptr_t(-WHEEL_NOTCH), position);
    return TRUE;
}

} // namespace

void platform_window_input_connect(PlatformWindow* w)
{
    GtkWidget* top = w->toplevel;
    gtk_widget_add_events(top, GDK_SMOOTH_SCROLL_MASK);
    w->pointer_position = -1;
    g_signal_connect(top, "key-press-event", G_CALLBACK(on_key_press), w);
    g_signal_connect(top, "key-release-event", G_CALLBACK(on_key_release), w);
    g_signal_connect(top, "button-press-event", G_CALLBACK(on_button_press), w);
    g_signal_connect(top, "button-release-event", G_CALLBACK(on_button_release), w);
    g_signal_connect(top, "motion-notify-event", G_CALLBACK(on_motion), w);
    g_signal_connect(top, "enter-notify-event", G_CALLBACK(on_enter), w);
    g_signal_connect(top, "leave-notify-event", G_CALLBACK(on_leave), w);
    g_signal_connect(top, "scroll-event", G_CALLBACK(on_scroll), w);
}
