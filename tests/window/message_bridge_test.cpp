// The message bridge of the desktop loop, without a display: sends from many
// threads run on the loop's thread and wait for their answer, posts arrive in
// order, and a send from the loop's own thread runs at once.
#include <gtest/gtest.h>

#include <glib.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/window_internal.h"

namespace {

struct Recorder {
    std::atomic<int> calls_off_loop{0};
    std::vector<uintptr_t> posted; // loop thread only
    PlatformWindow* window = nullptr;
};

intptr_t procedure(void* user, unsigned msg, uintptr_t a, intptr_t b)
{
    auto* r = static_cast<Recorder*>(user);
    if (!pthread_equal(pthread_self(), r->window->window_thread))
        r->calls_off_loop.fetch_add(1);
    switch (msg) {
    case 1: // answers a + b
        return intptr_t(a) + b;
    case 2: // posted: remembered in order
        r->posted.push_back(a);
        return 0;
    case 3: // a send from inside a handler runs directly
        return platform_send_message(r->window, 1, a, 1) * 2;
    default:
        return -1;
    }
}

TEST(MessageBridge, sends_run_on_the_loop_thread_and_posts_keep_their_order)
{
    Recorder recorder;
    PlatformWindow w{};
    w.procedure = procedure;
    w.user = &recorder;
    w.loop = g_main_loop_new(nullptr, FALSE);
    ASSERT_TRUE(platform_message_queue_init(&w));
    recorder.window = &w;

    std::atomic<int> loop_ready{0};
    std::atomic<int> exit_code{-1};
    std::thread loop([&] {
        w.window_thread = pthread_self();
        loop_ready.store(1, std::memory_order_release);
        exit_code.store(platform_window_loop(&w));
    });
    while (!loop_ready.load(std::memory_order_acquire))
        std::this_thread::yield();

    for (uintptr_t i = 0; i < 200; i++)
        platform_post_message(&w, 2, i, 0);
    std::vector<std::thread> senders;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; t++)
        senders.emplace_back([&, t] {
            for (int i = 0; i < 100; i++) {
                if (platform_send_message(&w, 1, uintptr_t(i), t) != i + t)
                    wrong.fetch_add(1);
                if (platform_send_message(&w, 3, uintptr_t(i), 0) != (i + 1) * 2)
                    wrong.fetch_add(1);
            }
        });
    for (std::thread& s : senders)
        s.join();
    // A send answers only after every earlier post has run.
    EXPECT_EQ(platform_send_message(&w, 1, 0, 0), 0);
    platform_window_quit(&w, 7);
    loop.join();

    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(recorder.calls_off_loop.load(), 0);
    ASSERT_EQ(recorder.posted.size(), 200u);
    for (uintptr_t i = 0; i < 200; i++)
        EXPECT_EQ(recorder.posted[i], i);
    EXPECT_EQ(exit_code.load(), 7);
    g_main_loop_unref(w.loop);
}

TEST(MessageBridge, a_missing_window_answers_0_and_drops_posts)
{
    EXPECT_EQ(platform_send_message(nullptr, 1, 2, 3), 0);
    platform_post_message(nullptr, 1, 2, 3);
    EXPECT_EQ(platform_window_loop(nullptr), 1);
}

} // namespace
