// Files that come in while the player runs (a drop, the open dialogs, the
// media-player interface) join the list in batches. A batch's folders are
// listed on a thread of its own, so that a drop of a large tree or of "/"
// never holds the window thread; the entries are handed back and committed
// on the window thread against the list as it is then. Batches commit in
// the order they came (unless a listing hangs on a disk that does not
// answer); one that replaces the list makes those still waiting before it
// moot, and they are dropped.
#include <pthread.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/core.h"
#include "playlist/playlist.h"
#include "ui/ui_internal.h"

namespace {

// What the listing thread shares with the window thread.
struct IntakeScan {
    std::vector<std::string> folders;
    std::vector<PlaylistFolderFiles> results; // one per folder, written by the listing thread
    std::atomic<int> cancel{0};
    std::atomic<int> finished{0}; // results complete (release)
};

struct IntakeBatch {
    IntakeRequest request;
    std::shared_ptr<IntakeScan> scan; // null without folders
    uint32_t submitted_ms;
};

// A listing slower than this (a network disk that does not answer) no
// longer holds up the batches after it: they commit, it commits when done.
constexpr uint32_t LISTING_WAIT_LIMIT_MS = 10000;

struct ScanJob {
    std::shared_ptr<IntakeScan> scan;
};

} // namespace

struct IntakeQueue {
    std::deque<std::unique_ptr<IntakeBatch>> batches;
};

namespace {

PlayerContext* context_of_window(MainWindow* w)
{
    return &reinterpret_cast<AppBlock*>(w)->player;
}

void list_folders(IntakeScan* scan)
{
    scan->results.resize(scan->folders.size());
    for (size_t i = 0; i < scan->folders.size(); i++)
        playlist_collect_media(scan->folders[i].c_str(), &scan->results[i], &scan->cancel);
    scan->finished.store(1, std::memory_order_release);
}

void* listing_thread(void* arg)
{
    auto* job = static_cast<ScanJob*>(arg);
    list_folders(job->scan.get());
    window_post(MSG_INTAKE_LISTED, 0, 0);
    delete job;
    return nullptr;
}

bool listed(const IntakeBatch* b)
{
    return !b->scan || b->scan->finished.load(std::memory_order_acquire) != 0;
}

int entry_with_path(PlayerContext* ctx, const std::string& path)
{
    uint32_t count = ctx->item_count.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < count; i++)
        if (path == ctx->playlist.items[i].path)
            return int(i);
    return -1;
}

// A drop of subtitle files only, on an open item: the first of them plays.
void switch_to_dropped_subtitles(PlayerContext* ctx, uint32_t old_subtitles)
{
    bool item_open = ctx->format.load(std::memory_order_acquire) != nullptr;
    if (!item_open || ctx->subtitles.external_count.load(std::memory_order_acquire) <= old_subtitles)
        return;
    // The cached menu lists the old subtitle files.
    cancel_menu(ctx);
    ctx->track_switch_request.store(int32_t(2020 + old_subtitles), std::memory_order_release);
}

void commit(MainWindow* w, IntakeBatch* b)
{
    PlayerContext* ctx = context_of_window(w);
    IntakeRequest& r = b->request;
    std::vector<std::string> paths;
    size_t folder = 0;
    for (size_t i = 0; i < r.paths.size(); i++) {
        if (!r.is_folder[i]) {
            paths.push_back(r.paths[i]);
            continue;
        }
        PlaylistFolderFiles& files = b->scan->results[folder++];
        for (std::string& p : files.paths)
            paths.push_back(std::move(p));
        playlist_refusals_merge(&r.refused, files.refused);
    }
    uint32_t before = ctx->item_count.load(std::memory_order_relaxed);
    uint32_t added = playlist_commit_batch(ctx, paths, r.append_mode);
    switch (r.after) {
    case INTAKE_THEN_PLAY: {
        // The first new entry plays; a file already listed plays from its entry.
        int index = added ? int(before) : paths.empty() ? -1 : entry_with_path(ctx, paths[0]);
        if (index >= 0)
            playlist_open_request(ctx, index, 1, -1);
        else if (paths.empty() && !r.refused.count)
            show_notice(ctx, " 目录中没有媒体文件! ");
        break;
    }
    case INTAKE_THEN_SUBTITLES:
        if (!added)
            switch_to_dropped_subtitles(ctx, r.old_subtitles);
        break;
    case INTAKE_THEN_FOLDER_NOTICE:
        if (paths.empty() && !r.refused.count)
            show_notice(ctx, " 目录中没有媒体文件! ");
        break;
    default:
        break;
    }
    playlist_refusals_notice(ctx, &r.refused);
}

void commit_ready(MainWindow* w)
{
    if (!w->intake)
        return;
    auto& batches = w->intake->batches;
    for (auto it = batches.begin(); it != batches.end();) {
        if (listed(it->get())) {
            std::unique_ptr<IntakeBatch> b = std::move(*it);
            it = batches.erase(it);
            commit(w, b.get());
        } else if (uint32_t(now_ms() - (*it)->submitted_ms) < LISTING_WAIT_LIMIT_MS) {
            break; // in order: the batches behind wait for this one
        } else {
            ++it;
        }
    }
}

void start_listing(IntakeBatch* b)
{
    auto* job = new ScanJob{b->scan};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, listing_thread, job) == 0) {
        pthread_detach(thread);
        return;
    }
    // No thread to be had: listed here, as the slower way is still right.
    delete job;
    list_folders(b->scan.get());
}

} // namespace

void intake_submit(MainWindow* w, IntakeRequest request)
{
    if (!w->intake)
        w->intake = new IntakeQueue{};
    IntakeQueue* q = w->intake;
    if (!request.append_mode && !request.paths.empty()) {
        // This batch becomes the list: what still waits before it would be
        // replaced by it anyway.
        for (auto& earlier : q->batches)
            if (earlier->scan)
                earlier->scan->cancel.store(1, std::memory_order_relaxed);
        q->batches.clear();
    }
    auto b = std::make_unique<IntakeBatch>();
    b->request = std::move(request);
    b->submitted_ms = now_ms();
    b->request.is_folder.resize(b->request.paths.size(), 0);
    for (size_t i = 0; i < b->request.paths.size(); i++) {
        if (!b->request.is_folder[i])
            continue;
        if (!b->scan)
            b->scan = std::make_shared<IntakeScan>();
        b->scan->folders.push_back(b->request.paths[i]);
    }
    IntakeBatch* batch = b.get();
    q->batches.push_back(std::move(b));
    if (batch->scan)
        start_listing(batch);
    commit_ready(w);
}

void intake_listed(MainWindow* w)
{
    // A batch dropped meanwhile is simply no longer there; the head may be
    // another batch, listed earlier or still waiting.
    commit_ready(w);
}

int intake_admit(IntakeRequest* request, const char* path)
{
    std::string entry;
    int kind = playlist_admit(path, 0, &entry, &request->refused);
    if (kind >= 0) {
        request->paths.push_back(std::move(entry));
        request->is_folder.push_back(kind == PLAYLIST_INTAKE_FOLDER ? 1 : 0);
    }
    return kind;
}

int intake_pending(MainWindow* w)
{
    return w->intake ? int(w->intake->batches.size()) : 0;
}

void intake_settle(MainWindow* w, int timeout_ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (intake_pending(w) && std::chrono::steady_clock::now() < end) {
        commit_ready(w);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void intake_release(MainWindow* w)
{
    if (!w->intake)
        return;
    for (auto& b : w->intake->batches)
        if (b->scan)
            b->scan->cancel.store(1, std::memory_order_relaxed);
    delete w->intake;
    w->intake = nullptr;
}
