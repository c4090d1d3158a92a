// The tray's balloon as a desktop notification. The notification calls wait
// for the notification server's answer, so they run on a thread of their own
// with its own main context: a slow or missing server never holds up the
// window. A click on the balloon (its default action) is posted to the
// window thread.
#include <libnotify/notify.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/platform.h"
#include "platform/window_internal.h"

struct BalloonState {
    PlatformWindow* window;
    GMainContext* context;          // the balloon thread's
    std::atomic<uint32_t> closes;   // closes finished, for the wait at exit
    // Balloon thread only.
    NotifyNotification* note;
};

namespace {

// The server takes the balloon away by itself a little after the player
// would, should the player's own close never come.
constexpr int SERVER_TIMEOUT_MS = 6500;

struct Job {
    BalloonState* balloon;
    char* summary; // null: close
    char* body;
};

gpointer balloon_thread(gpointer data)
{
    auto* b = static_cast<BalloonState*>(data);
    // libnotify's bus proxy, and with it the click signal, belong to the
    // context that is current where they are made: this one.
    g_main_context_push_thread_default(b->context);
    GMainLoop* loop = g_main_loop_new(b->context, FALSE);
    g_main_loop_run(loop);
    return nullptr;
}

void on_clicked(NotifyNotification*, char*, gpointer data)
{
    auto* b = static_cast<BalloonState*>(data);
    platform_post_message(b->window, MSG_TRAY, 0, TRAY_EVENT_BALLOON_CLICK);
}

bool server_takes_markup()
{
    GList* caps = notify_get_server_caps();
    bool markup = g_list_find_custom(caps, "body-markup", reinterpret_cast<GCompareFunc>(strcmp)) != nullptr;
    g_list_free_full(caps, g_free);
    return markup;
}

void show(BalloonState* b, const char* summary, const char* text)
{
    if (!notify_is_initted() && !notify_init("Moravista"))
        return;
    // A file name with "<" or "&" must not be read as markup.
    gchar* body = server_takes_markup() ? g_markup_escape_text(text, -1) : g_strdup(text);
    if (!b->note) {
        b->note = notify_notification_new(summary, body, "dialog-information");
        notify_notification_add_action(b->note, "default", "显示窗口", on_clicked, b, nullptr);
        notify_notification_set_timeout(b->note, SERVER_TIMEOUT_MS);
        // Not kept in the desktop's list of past notifications.
        notify_notification_set_hint(b->note, "transient", g_variant_new_boolean(TRUE));
    } else {
        notify_notification_update(b->note, summary, body, "dialog-information");
    }
    g_free(body);
    GError* error = nullptr;
    notify_notification_show(b->note, &error); // no server: nothing to show, nothing to say
    g_clear_error(&error);
}

gboolean run_job(gpointer data)
{
    auto* job = static_cast<Job*>(data);
    BalloonState* b = job->balloon;
    if (job->summary) {
        show(b, job->summary, job->body);
    } else {
        if (b->note) {
            GError* error = nullptr;
            notify_notification_close(b->note, &error);
            g_clear_error(&error);
        }
        b->closes.fetch_add(1, std::memory_order_release);
    }
    return G_SOURCE_REMOVE;
}

void free_job(gpointer data)
{
    auto* job = static_cast<Job*>(data);
    g_free(job->summary);
    g_free(job->body);
    delete job;
}

BalloonState* balloon_of(void* window)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return nullptr;
    if (!w->balloon) {
        auto* b = new BalloonState{};
        b->window = w;
        b->context = g_main_context_new();
        GThread* thread = g_thread_try_new("balloon", balloon_thread, b, nullptr);
        if (!thread) {
            g_main_context_unref(b->context);
            delete b;
            return nullptr;
        }
        g_thread_unref(thread); // never joined: it lives as long as the process
        w->balloon = b;
    }
    return w->balloon;
}

void queue_job(BalloonState* b, const char* summary, const char* body)
{
    auto* job = new Job{b, summary ? g_utf8_make_valid(summary, -1) : nullptr, body ? g_utf8_make_valid(body, -1) : nullptr};
    g_main_context_invoke_full(b->context, G_PRIORITY_DEFAULT, run_job, job, free_job);
}

} // namespace

void platform_balloon_show(void* window, const char* summary, const char* body)
{
    if (BalloonState* b = balloon_of(window))
        queue_job(b, summary ? summary : "", body ? body : "");
}

void platform_balloon_close(void* window)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (w && w->balloon)
        queue_job(w->balloon, nullptr, nullptr);
}

void platform_balloon_close_wait(void* window, int wait_ms)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w || !w->balloon)
        return;
    uint32_t before = w->balloon->closes.load(std::memory_order_acquire);
    queue_job(w->balloon, nullptr, nullptr);
    for (int waited = 0; waited < wait_ms; waited += 5) {
        if (w->balloon->closes.load(std::memory_order_acquire) != before)
            return;
        usleep(5000);
    }
}
