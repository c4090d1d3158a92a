// The context menu in the statistics: the tree as last shown, as JSON.
#include "core/core.h"
#include "stats/stats.h"

namespace {

void append_string(std::string* out, const std::string& text)
{
    *out += '"';
    for (unsigned char c : text) {
        switch (c) {
        case '"': *out += "\\\""; break;
        case '\\': *out += "\\\\"; break;
        case '\n': *out += "\\n"; break;
        case '\r': *out += "\\r"; break;
        case '\t': *out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                snprintf(escaped, sizeof escaped, "\\u%04x", c);
                *out += escaped;
            } else {
                *out += char(c);
            }
        }
    }
    *out += '"';
}

void append_items(std::string* out, const std::vector<MenuItem>& items)
{
    *out += '[';
    for (size_t i = 0; i < items.size(); i++) {
        const MenuItem& item = items[i];
        if (i)
            *out += ',';
        *out += "{\"id\":" + std::to_string(item.id) + ",\"text\":";
        append_string(out, item.text);
        *out += std::string(",\"checked\":") + (item.checked ? "true" : "false") +
                ",\"radio\":" + (item.radio ? "true" : "false") +
                ",\"separator\":" + (item.separator ? "true" : "false") +
                ",\"column_break\":" + (item.column_break ? "true" : "false");
        if (item.submenu) {
            *out += ",\"items\":";
            append_items(out, item.items);
        }
        *out += '}';
    }
    *out += ']';
}

} // namespace

void stats_menu_shown(PlayerContext* ctx, const MenuTree* tree)
{
    Stats* s = stats_of(ctx);
    if (!s || !tree)
        return;
    std::string json;
    append_items(&json, tree->items);
    SpinGuard guard(&s->lock);
    s->menu_json.swap(json);
}
