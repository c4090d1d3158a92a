// The window thread's loop and the message bridge into it: sends run the
// window procedure on the GTK main context while the sender waits, posts are
// queued. SIGINT and SIGTERM arrive through a signalfd on the same loop.
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "platform/platform.h"
#include "platform/window_internal.h"
#include "ui/messages.h"

namespace {

struct QueuedMessage {
    PlatformWindow* window;
    unsigned msg;
    uintptr_t a;
    intptr_t b;
    intptr_t result;
    std::atomic<int> done; // sends only: 1 once result holds the answer
};

gboolean run_sent(gpointer data)
{
    auto* m = static_cast<QueuedMessage*>(data);
    m->result = m->window->procedure(m->window->user, m->msg, m->a, m->b);
    m->done.store(1, std::memory_order_release);
    m->done.notify_all();
    return G_SOURCE_REMOVE;
}

gboolean run_posted(gpointer data)
{
    auto* m = static_cast<QueuedMessage*>(data);
    m->window->procedure(m->window->user, m->msg, m->a, m->b);
    return G_SOURCE_REMOVE;
}

void free_posted(gpointer data)
{
    delete static_cast<QueuedMessage*>(data);
}

gboolean on_signal(gint fd, GIOCondition, gpointer data)
{
    auto* w = static_cast<PlatformWindow*>(data);
    signalfd_siginfo info;
    while (read(fd, &info, sizeof info) == ssize_t(sizeof info)) {
        // The session's log-off and Ctrl+C close the player like its close button.
        w->procedure(w->user, MSG_CLOSE, 0, 0);
    }
    return G_SOURCE_CONTINUE;
}

} // namespace

bool platform_on_window_thread(const PlatformWindow* w)
{
    return pthread_equal(pthread_self(), w->window_thread) != 0;
}

void platform_run_on_window_thread(PlatformWindow* w, void (*fn)(void* arg), void* arg)
{
    if (platform_on_window_thread(w)) {
        fn(arg);
        return;
    }
    struct Call {
        void (*fn)(void*);
        void* arg;
        std::atomic<int> done;
    } call{fn, arg, {0}};
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            auto* c = static_cast<Call*>(data);
            c->fn(c->arg);
            c->done.store(1, std::memory_order_release);
            c->done.notify_all();
            return G_SOURCE_REMOVE;
        },
        &call, nullptr);
    call.done.wait(0, std::memory_order_acquire);
}

intptr_t platform_send_message(void* window, unsigned msg, uintptr_t a, intptr_t b)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return 0;
    if (platform_on_window_thread(w))
        return w->procedure(w->user, msg, a, b);
    QueuedMessage m{w, msg, a, b, 0, {0}};
    g_idle_add_full(G_PRIORITY_DEFAULT, run_sent, &m, nullptr);
    m.done.wait(0, std::memory_order_acquire);
    return m.result;
}

void platform_post_message(void* window, unsigned msg, uintptr_t a, intptr_t b)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return;
    g_idle_add_full(G_PRIORITY_DEFAULT, run_posted, new QueuedMessage{w, msg, a, b, 0, {0}}, free_posted);
}

bool platform_watch_close_signals(PlatformWindow* w)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // Blocked here too, so the signals wait for the descriptor whoever started us.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    int fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd < 0)
        return false;
    g_unix_fd_add(fd, G_IO_IN, on_signal, w);
    return true;
}

int platform_window_loop(void* window)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return 1;
    if (!w->quitting.load(std::memory_order_acquire))
        g_main_loop_run(w->loop);
    return w->exit_code.load(std::memory_order_acquire);
}

void platform_window_quit(void* window, int exit_code)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return;
    w->exit_code.store(exit_code, std::memory_order_release);
    w->quitting.store(1, std::memory_order_release);
    g_main_loop_quit(w->loop);
}
