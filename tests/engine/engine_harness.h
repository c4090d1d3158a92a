// The engine under test: one player for the whole test program (its threads
// are never joined), sound through the null device, and a small window
// thread that answers MSG_PLAYLIST from the real playlist and records what
// the engine asks of the window.
#pragma once
#include <algorithm>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "core/core.h"
#include "decode/decode.h"
#include "engine/engine_internal.h"
#include "playlist/playlist.h"
#include "stats/stats.h"
#include "support/engine_exit.h"
#include "support/fixtures.h"
#include "support/stress.h"

namespace engine_test {

struct Message {
    unsigned msg;
    uintptr_t a;
    intptr_t b;
    std::function<void()> call; // a test's own action on the window thread
    std::promise<intptr_t>* reply;
};

struct TestWindow {
    PlayerContext* ctx = nullptr;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Message> queue;
    std::thread::id thread_id;
    std::atomic<int> close_code{-1};
    std::atomic<int> items_ended{0};
    std::mutex notices_mutex;
    std::vector<std::string> notices;
    // What the engine posted for the desktop services: MSG_MEDIA_STATE,
    // MSG_TRIM_SOON and MSG_ITEM_TAGS with their first parameter.
    std::vector<std::pair<unsigned, uintptr_t>> desktop_news;
    WindowLoop loop;
};

inline TestWindow& window()
{
    // Never destroyed: its thread waits on it until the process ends.
    static TestWindow* w = new TestWindow;
    return *w;
}

inline intptr_t handle(TestWindow* w, const Message& m)
{
    if (m.call) {
        m.call();
        return 0;
    }
    switch (m.msg) {
    case MSG_PLAYLIST:
        if (m.a == PLAYLIST_ITEM_ENDED)
            w->items_ended.fetch_add(1);
        return playlist_handle_message(w->ctx, uint32_t(m.a), m.b);
    case MSG_CLOSE:
        w->close_code.store(int(m.a));
        return 0;
    case MSG_MEDIA_STATE:
    case MSG_TRIM_SOON:
    case MSG_ITEM_TAGS: {
        std::lock_guard<std::mutex> lock(w->notices_mutex);
        w->desktop_news.emplace_back(m.msg, m.a);
        return 0;
    }
    default:
        return 0;
    }
}

inline void enqueue(TestWindow* w, Message m)
{
    std::lock_guard<std::mutex> lock(w->mutex);
    w->queue.push_back(std::move(m));
    w->wake.notify_one();
}

inline intptr_t send(void* loop, unsigned msg, uintptr_t a, intptr_t b)
{
    auto* w = static_cast<TestWindow*>(loop);
    if (std::this_thread::get_id() == w->thread_id)
        return handle(w, Message{msg, a, b, nullptr, nullptr});
    std::promise<intptr_t> reply;
    std::future<intptr_t> result = reply.get_future();
    enqueue(w, Message{msg, a, b, nullptr, &reply});
    return result.get();
}

inline void post(void* loop, unsigned msg, uintptr_t a, intptr_t b)
{
    enqueue(static_cast<TestWindow*>(loop), Message{msg, a, b, nullptr, nullptr});
}

inline void run_window(TestWindow* w)
{
    w->thread_id = std::this_thread::get_id();
    for (;;) {
        Message m;
        {
            std::unique_lock<std::mutex> lock(w->mutex);
            w->wake.wait(lock, [w] { return !w->queue.empty(); });
            m = std::move(w->queue.front());
            w->queue.pop_front();
        }
        intptr_t result = handle(w, m);
        if (m.reply)
            m.reply->set_value(result);
    }
}

inline void record_notice(PlayerContext*, const char* text)
{
    TestWindow& w = window();
    std::lock_guard<std::mutex> lock(w.notices_mutex);
    w.notices.emplace_back(text);
}

// Runs fn on the window thread and waits for it, as the window's own input would.
inline void on_window(std::function<void()> fn)
{
    TestWindow& w = window();
    std::promise<intptr_t> reply;
    std::future<intptr_t> done = reply.get_future();
    enqueue(&w, Message{0, 0, 0, std::move(fn), &reply});
    done.get();
}

inline PlayerContext* engine()
{
    static PlayerContext* ctx = [] {
        TestWindow& w = window();
        PlayerContext* c = player_context_new();
        w.ctx = c;
        w.loop = WindowLoop{send, post, &w};
        std::thread(run_window, &w).detach();
        window_bridge_install(&w.loop);
        set_notice_hook(record_notice);
        end_with_engine();
        audio_select_backend("null");
        stats_enable(c, now_ms());
        player_init(c);
        return c;
    }();
    return ctx;
}

template <class Pred>
bool wait_for(Pred pred, int timeout_ms)
{
    for (int waited = 0; waited < timeout_ms; waited += 5) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pred();
}

inline int64_t presented(PlayerContext* ctx)
{
    return stats_of(ctx)->video_frames_presented.load();
}

// Stops whatever plays, waits for the engine to be idle and loads a new list.
inline void load_list(PlayerContext* ctx, const std::vector<std::string>& paths, bool quit_at_end)
{
    TestWindow& w = window();
    auto stops = [&] {
        std::lock_guard<std::mutex> lock(w.notices_mutex);
        return std::count(w.desktop_news.begin(), w.desktop_news.end(),
                          std::pair<unsigned, uintptr_t>(MSG_MEDIA_STATE, MEDIA_STOPPED));
    };
    auto stops_before = stops();
    on_window([&] { playlist_request_stop(ctx); });
    // Every stop request ends in one posted "stopped", even when nothing
    // played; once the window has it, the media thread sits in its idle poll
    // and nothing of the old list can still arrive.
    ASSERT_TRUE(wait_for([&] { return stops() > stops_before && ctx->format.load() == nullptr; }, 20000))
        << "the engine did not stop";
    on_window([&] {
        playlist_free(ctx);
        for (const std::string& p : paths)
            playlist_add_entry(ctx, p.c_str(), 0);
        ctx->quit_at_end.store(quit_at_end ? 1 : 0);
        ctx->video_choice.store(-1);
        ctx->audio_choice.store(-1);
        ctx->subtitle_choice.store(-1);
        stats_reset(ctx);
        w.close_code.store(-1);
        w.items_ended.store(0);
        std::lock_guard<std::mutex> lock(w.notices_mutex);
        w.notices.clear();
    });
}

inline void open_entry(PlayerContext* ctx, int32_t index, int32_t play, int32_t start_ms)
{
    on_window([&] { playlist_open_request(ctx, index, play, start_ms); });
}

// Plays the list with the run ending at its end; returns the exit code the
// engine or the playlist asked for, -1 on a time-out.
inline int play_to_end(PlayerContext* ctx, const std::vector<std::string>& paths, int timeout_ms = 60000)
{
    load_list(ctx, paths, true);
    open_entry(ctx, 0, 1, 0);
    TestWindow& w = window();
    wait_for([&] { return w.close_code.load() >= 0; }, timeout_ms * int(STRESS_SCALE > 1 ? 4 : 1));
    return w.close_code.load();
}

// Asks for a seek the way the progress bar does.
inline void window_seek(PlayerContext* ctx, int32_t target_ms, int32_t forward)
{
    on_window([&] {
        stats_seek_asked(ctx);
        ::request_seek(ctx, target_ms, forward);
    });
}

inline std::vector<std::string> notices_containing(const char* text)
{
    TestWindow& w = window();
    std::lock_guard<std::mutex> lock(w.notices_mutex);
    std::vector<std::string> out;
    for (const std::string& n : w.notices) {
        if (n.find(text) != std::string::npos)
            out.push_back(n);
    }
    return out;
}

// A copy of the statistics taken under their lock.
struct StatsCopy {
    std::vector<StatsItem> items;
    std::vector<StatsSeek> seeks;
};
inline StatsCopy stats_copy(PlayerContext* ctx)
{
    StatsCopy c;
    SpinGuard guard(&stats_of(ctx)->lock);
    c.items.assign(stats_of(ctx)->items, stats_of(ctx)->items + stats_of(ctx)->item_count);
    c.seeks.assign(stats_of(ctx)->seeks, stats_of(ctx)->seeks + stats_of(ctx)->seek_count);
    return c;
}

} // namespace engine_test
