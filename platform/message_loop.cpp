// The window thread's loop and the message bridge into it. Other threads push
// messages onto a lock-free list and wake the loop through an eventfd; the
// loop runs them in the order they were pushed. A send waits for its answer;
// a post returns at once. SIGINT and SIGTERM arrive through a signalfd on the
// same loop.
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "platform/platform.h"
#include "platform/window_internal.h"

struct QueuedMessage {
    QueuedMessage* next;
    unsigned msg;
    uintptr_t a;
    intptr_t b;
    void (*fn)(void* arg); // set: a call instead of a message
    void* arg;
    intptr_t result;
    std::atomic<int> done;       // sends: 1 once result holds the answer
    std::atomic<int> references; // the sender's and the loop's; the last one frees it
};

namespace {

void release(QueuedMessage* m)
{
    if (m->references.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete m;
}

void push(PlatformWindow* w, QueuedMessage* m)
{
    m->next = w->inbox.load(std::memory_order_relaxed);
    while (!w->inbox.compare_exchange_weak(m->next, m, std::memory_order_release, std::memory_order_relaxed)) {
    }
    uint64_t one = 1;
    // A full counter still wakes the loop; nothing is lost.
    ssize_t written = write(w->wake_fd, &one, sizeof one);
    (void)written;
}

void run(PlatformWindow* w, QueuedMessage* m)
{
    if (m->fn)
        m->fn(m->arg);
    else
        m->result = w->procedure(w->user, m->msg, m->a, m->b);
    m->done.store(1, std::memory_order_release);
    m->done.notify_all();
    release(m);
}

gboolean on_wake(gint fd, GIOCondition, gpointer data)
{
    auto* w = static_cast<PlatformWindow*>(data);
    uint64_t count;
    ssize_t n = read(fd, &count, sizeof count);
    (void)n;
    QueuedMessage* list = w->inbox.exchange(nullptr, std::memory_order_acquire);
    // The list is newest first; run the oldest first.
    QueuedMessage* ordered = nullptr;
    while (list) {
        QueuedMessage* next = list->next;
        list->next = ordered;
        ordered = list;
        list = next;
    }
    while (ordered) {
        QueuedMessage* next = ordered->next;
        run(w, ordered);
        ordered = next;
    }
    return G_SOURCE_CONTINUE;
}

// Queues m (with both references) and, for a send, waits for the answer.
intptr_t deliver(PlatformWindow* w, QueuedMessage* m, bool wait)
{
    m->references.store(wait ? 2 : 1, std::memory_order_relaxed);
    push(w, m);
    if (!wait)
        return 0;
    m->done.wait(0, std::memory_order_acquire);
    intptr_t result = m->result;
    release(m);
    return result;
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

bool platform_message_queue_init(PlatformWindow* w)
{
    w->wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (w->wake_fd < 0)
        return false;
    g_unix_fd_add(w->wake_fd, G_IO_IN, on_wake, w);
    return true;
}

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
    deliver(w, new QueuedMessage{nullptr, 0, 0, 0, fn, arg, 0, {0}, {0}}, true);
}

intptr_t platform_send_message(void* window, unsigned msg, uintptr_t a, intptr_t b)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return 0;
    if (platform_on_window_thread(w))
        return w->procedure(w->user, msg, a, b);
    return deliver(w, new QueuedMessage{nullptr, msg, a, b, nullptr, nullptr, 0, {0}, {0}}, true);
}

void platform_post_message(void* window, unsigned msg, uintptr_t a, intptr_t b)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return;
    deliver(w, new QueuedMessage{nullptr, msg, a, b, nullptr, nullptr, 0, {0}, {0}}, false);
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
    // Whatever holds the loop up goes with it: the dialogs (one may run its
    // own loop, which must end before the window's can), the menu, a drag.
    // Without the display the process ends at once anyway.
    if (w->display_lost.load(std::memory_order_acquire))
        return;
    platform_dialogs_end(w);
    platform_menu_cancel_tracking(w);
    platform_window_drag_end(w);
}
