#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "app/app.h"
#include "ui/ui.h"

namespace {

struct QueuedMessage {
    unsigned msg;
    uintptr_t a;
    intptr_t b;
    intptr_t* result; // null for a posted message
    bool* done;
};

struct HeadlessLoop {
    PlayerContext* ctx;
    pthread_t window_thread;
    std::mutex mutex;
    std::condition_variable wake;     // the window thread waits on it
    std::condition_variable answered; // senders wait on it
    std::deque<QueuedMessage> queue;
};

HeadlessLoop the_loop;
WindowLoop the_bridge;

intptr_t loop_send(void* opaque, unsigned msg, uintptr_t a, intptr_t b)
{
    auto* loop = static_cast<HeadlessLoop*>(opaque);
    if (pthread_equal(pthread_self(), loop->window_thread))
        return window_procedure(main_window_of(loop->ctx), msg, a, b);
    intptr_t result = 0;
    bool done = false;
    std::unique_lock<std::mutex> lock(loop->mutex);
    loop->queue.push_back(QueuedMessage{msg, a, b, &result, &done});
    loop->wake.notify_one();
    loop->answered.wait(lock, [&] { return done; });
    return result;
}

void loop_post(void* opaque, unsigned msg, uintptr_t a, intptr_t b)
{
    auto* loop = static_cast<HeadlessLoop*>(opaque);
    std::lock_guard<std::mutex> lock(loop->mutex);
    loop->queue.push_back(QueuedMessage{msg, a, b, nullptr, nullptr});
    loop->wake.notify_one();
}

// SIGINT and SIGTERM close the program like the window manager's close.
void* signal_thread(void*)
{
    sigset_t set;
    closing_signals(&set);
    int signal_number = 0;
    while (sigwait(&set, &signal_number) != 0) {
    }
    window_post(MSG_CLOSE, 0, 0);
    return nullptr;
}

} // namespace

void closing_signals(sigset_t* set)
{
    sigemptyset(set);
    sigaddset(set, SIGINT);
    sigaddset(set, SIGTERM);
}

void headless_loop_install(PlayerContext* ctx)
{
    the_loop.ctx = ctx;
    the_loop.window_thread = pthread_self();
    the_bridge = WindowLoop{loop_send, loop_post, &the_loop};
    window_bridge_install(&the_bridge);
}

int headless_loop_run(PlayerContext* ctx, InputScript* script, uint32_t start_ms)
{
    HeadlessLoop* loop = &the_loop;
    // Without it (no thread could be made) the signals end the program
    // the system's way, on this thread.
    pthread_t signals;
    if (pthread_create(&signals, nullptr, signal_thread, nullptr) == 0) {
        pthread_detach(signals);
    } else {
        sigset_t set;
        closing_signals(&set);
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
    for (;;) {
        std::unique_lock<std::mutex> lock(loop->mutex);
        if (loop->queue.empty()) {
            if (script && script->next < script->actions.size()) {
                int32_t wait_ms = int32_t(start_ms + script->actions[script->next].at_ms - now_ms());
                if (wait_ms > 0)
                    loop->wake.wait_for(lock, std::chrono::milliseconds(wait_ms));
            } else {
                loop->wake.wait(lock);
            }
        }
        std::deque<QueuedMessage> batch;
        batch.swap(loop->queue);
        lock.unlock();

        for (QueuedMessage& m : batch) {
            if (m.msg == MSG_CLOSE) {
                int exit_code = int(m.a);
                exit_sequence_run(ctx, exit_code);
                return exit_code;
            }
            intptr_t result = window_procedure(main_window_of(ctx), m.msg, m.a, m.b);
            if (m.done) {
                std::lock_guard<std::mutex> answer(loop->mutex);
                *m.result = result;
                *m.done = true;
                loop->answered.notify_all();
            }
        }
        while (script && script->next < script->actions.size() &&
               int32_t(now_ms() - start_ms - script->actions[script->next].at_ms) >= 0) {
            const InputAction* action = &script->actions[script->next++];
            if (input_action_apply(ctx, action)) {
                exit_sequence_run(ctx, 0);
                return 0;
            }
        }
    }
}
