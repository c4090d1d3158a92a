// The notices shown during a run and the player's state at its end, for
// --stats: what scripted runs and the tests of the window's input check.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "stats/stats_internal.h"

namespace {
std::atomic<StatsSettingsWriter> settings_writer{nullptr};
}

void stats_set_settings_writer(StatsSettingsWriter writer)
{
    settings_writer.store(writer, std::memory_order_release);
}

void stats_notice_shown(PlayerContext* ctx, const char* text)
{
    Stats* s = stats_of(ctx);
    if (!s || !text)
        return;
    int32_t at = int32_t(now_ms() - s->start_wall_ms);
    SpinGuard guard(&s->lock);
    if (s->notice_count >= STATS_MAX_NOTICES)
        return;
    if (s->notice_count == s->notice_capacity) {
        int32_t capacity = s->notice_capacity ? s->notice_capacity * 2 : 16;
        auto* grown = static_cast<StatsNotice*>(realloc(s->notices, size_t(capacity) * sizeof(StatsNotice)));
        if (!grown)
            return;
        s->notices = grown;
        s->notice_capacity = capacity;
    }
    StatsNotice* n = &s->notices[s->notice_count++];
    n->at_ms = at;
    strncpy(n->text, text, sizeof n->text - 1);
    n->text[sizeof n->text - 1] = 0;
}

void stats_append_json_string(std::string* out, const char* text)
{
    out->push_back('"');
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; p++) {
        switch (*p) {
        case '"': *out += "\\\""; break;
        case '\\': *out += "\\\\"; break;
        case '\n': *out += "\\n"; break;
        case '\r': *out += "\\r"; break;
        case '\t': *out += "\\t"; break;
        default:
            if (*p < 0x20) {
                char escape[8];
                snprintf(escape, sizeof escape, "\\u%04x", *p);
                *out += escape;
            } else {
                out->push_back(char(*p));
            }
        }
    }
    out->push_back('"');
}

void stats_write_notices_and_state(FILE* f, PlayerContext* ctx, Stats* s)
{
    std::string json = "\"notices\":[";
    for (int32_t i = 0; i < s->notice_count; i++) {
        json += i ? ",{\"at_ms\":" : "{\"at_ms\":";
        json += std::to_string(s->notices[i].at_ms);
        json += ",\"text\":";
        stats_append_json_string(&json, s->notices[i].text);
        json += "}";
    }
    char numbers[320];
    snprintf(numbers, sizeof numbers,
             "],\"state\":{\"playing\":%d,\"volume\":%u,\"clock_ms\":%d,\"current_item\":%u,\"item_count\":%u,"
             "\"hover_region\":%d,\"settings\":{",
             ctx->playing.load(std::memory_order_relaxed), ctx->audio.volume.load(std::memory_order_relaxed),
             ctx->clock_ms.load(std::memory_order_relaxed), ctx->current_item.load(std::memory_order_relaxed),
             ctx->item_count.load(std::memory_order_relaxed), ctx->hover_region.load(std::memory_order_relaxed));
    json += numbers;
    if (StatsSettingsWriter writer = settings_writer.load(std::memory_order_acquire))
        writer(ctx, &json);
    json += "}}";
    fwrite(json.data(), 1, json.size(), f);
}
