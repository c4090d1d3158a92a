// The tray icon's two forms, side by side behind platform_tray_show: a
// StatusNotifierItem on the session bus (tray_sni.cpp) when a
// StatusNotifierWatcher is there, else an XEmbed status icon
// (tray_xembed.cpp) where a system tray owns its selection. Window thread only.
#pragma once
#include "platform/window_internal.h"

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GtkWidget GtkWidget;
typedef union _XEvent XEvent;
struct SniItem;

enum TrayForm { TRAY_NONE, TRAY_SNI, TRAY_XEMBED };

struct TrayState {
    PlatformWindow* window;
    GDBusConnection* bus;  // null without a session bus
    int bus_lost;          // the session bus went away
    unsigned watcher_watch;
    int watcher_present;   // a StatusNotifierWatcher owns its name now
    int sni_host;          // and says a host shows its items
    unsigned host_questions; // the watcher was asked about its host this often
    unsigned long tray_selection; // the XEmbed tray's selection atom
    int xembed_host;       // someone owned it when last asked
    int xfixes_event_base; // 0: no selection events (the owner is asked each time)
    unsigned grace_timer;  // running while the shown icon has no host
    TrayForm shown;        // the form showing the icon now
    char* tip;             // UTF-8, owned
    SniItem* sni;          // made at its first use
    // The XEmbed icon's window while docked (or asking to be), the tray it
    // went to, its size, depth and visual, and the tip shown over it.
    unsigned long xembed_window;
    unsigned long xembed_manager;
    int xembed_width, xembed_height, xembed_depth;
    void* xembed_visual;
    GtkWidget* tip_window;
};

// The icon's events go to the window thread's procedure as MSG_TRAY.
void tray_post_event(TrayState* t, intptr_t event);

void sni_show(TrayState* t);
void sni_hide(TrayState* t);
void sni_tip_changed(TrayState* t);
// The watcher came (back): the shown item registers with it again.
void sni_register_again(TrayState* t);

void xembed_show(TrayState* t);
void xembed_hide(TrayState* t);
void xembed_tip_changed(TrayState* t);
// An X event of the icon's window: true when it was one.
bool xembed_event(TrayState* t, const XEvent* e);
