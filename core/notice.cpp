#include "core/notice.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/bridge.h"
#include "core/main_window.h"
#include "core/messages.h"
#include "core/player_context.h"
#include "core/text_utf.h"

static std::atomic<NoticeHook> notice_hook{nullptr};
static std::atomic<NoticeHook> notice_observers[4];

void set_notice_hook(NoticeHook hook)
{
    notice_hook.store(hook, std::memory_order_release);
}

void add_notice_observer(NoticeHook observer)
{
    for (std::atomic<NoticeHook>& slot : notice_observers) {
        NoticeHook empty = nullptr;
        if (slot.compare_exchange_strong(empty, observer, std::memory_order_acq_rel))
            return;
    }
}

// While the window is hidden in the tray a notice becomes the tray's
// balloon, which stays about 5.6 s; the window thread shows it.
static bool show_as_balloon(PlayerContext* ctx)
{
    MainWindow* w = main_window_of(ctx);
    int32_t flags = TRAY_ICON_SHOWN;
    if (!w->tray_flags.compare_exchange_strong(flags, TRAY_BALLOON_SHOWN, std::memory_order_acq_rel) &&
        flags != TRAY_BALLOON_SHOWN)
        return false;
    ctx->notice_ticks.store(55, std::memory_order_relaxed);
    window_post(MSG_BALLOON, 1, 0);
    return true;
}

void notice_countdown_ended(PlayerContext* ctx)
{
    int32_t flags = TRAY_BALLOON_SHOWN;
    if (main_window_of(ctx)->tray_flags.compare_exchange_strong(flags, TRAY_ICON_SHOWN, std::memory_order_acq_rel))
        window_post(MSG_BALLOON, 0, 0);
}

void show_notice(PlayerContext* ctx, const char* format, ...)
{
    char formatted[2048];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(formatted, sizeof formatted, format, args);
    va_end(args);
    if (n < 0)
        return;
    char text[sizeof ctx->notice_text];
    size_t bytes = utf8_copy_units(text, sizeof text, formatted, strnlen(formatted, sizeof formatted), 519);
    {
        // The lock keeps two notices from interleaving their text; readers
        // copy the text under it.
        SpinGuard guard(&ctx->notice_lock);
        memcpy(ctx->notice_text, text, bytes + 1);
        ctx->notice_ticks.store(30, std::memory_order_relaxed);
        ctx->notice_length.store(int32_t(utf16_units(text, bytes)), std::memory_order_release);
    }
    if (NoticeHook hook = notice_hook.load(std::memory_order_acquire))
        hook(ctx, text);
    for (std::atomic<NoticeHook>& slot : notice_observers)
        if (NoticeHook observer = slot.load(std::memory_order_acquire))
            observer(ctx, text);
    if (!show_as_balloon(ctx))
        request_redraw(ctx);
}

size_t notice_copy(PlayerContext* ctx, char* out, size_t out_size)
{
    if (out_size == 0)
        return 0;
    SpinGuard guard(&ctx->notice_lock);
    if (ctx->notice_length.load(std::memory_order_relaxed) == 0) {
        out[0] = 0;
        return 0;
    }
    size_t length = strnlen(ctx->notice_text, sizeof ctx->notice_text);
    if (length >= out_size)
        length = out_size - 1;
    memcpy(out, ctx->notice_text, length);
    out[length] = 0;
    return length;
}

void request_redraw(PlayerContext* ctx)
{
    if (!ctx->window_visible.load(std::memory_order_relaxed))
        return;
    int32_t expected = 0;
    ctx->copy_request.compare_exchange_strong(expected, 1, std::memory_order_acq_rel);
}
