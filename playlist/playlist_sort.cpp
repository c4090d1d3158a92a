// Natural order of display names and the sort built on it. Each name is cut
// once into alternating runs: text runs become collation keys of their
// case-folded text in the user's locale, digit runs their significant digits.
// Comparing two prepared names is then plain integer work, so sorting a long
// list does not fold and collate the same text again at every comparison.
#include <glib.h>
#include <locale.h>
#include <wchar.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/core.h"
#include "playlist/playlist.h"

namespace {

// A prepared name in one array of 32-bit units: runs alternate text, digits,
// text, ... starting with a text run (empty when the name starts with a
// digit). Each run is a header (length << 1 | 1 for digits) followed by its
// units; NAME_END closes the name. An empty name is NAME_END alone.
constexpr uint32_t NAME_END = 0xFFFFFFFFu;

locale_t collation_locale()
{
    // The user's locale from the environment, without touching the
    // process-wide one; code-point order when it is not installed.
    static locale_t locale = [] {
        locale_t l = newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, "", locale_t(0));
        if (!l)
            l = newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
        return l;
    }();
    return locale;
}

bool is_digit(gunichar c)
{
    return c >= '0' && c <= '9';
}

// Buffers reused from name to name.
struct Scratch {
    std::vector<wchar_t> text, key;
};

void append_text_run(std::vector<uint32_t>* out, const gunichar* run, size_t length, Scratch* scratch)
{
    // wchar_t holds UCS-4 on this system, as gunichar and the prepared
    // units do.
    static_assert(sizeof(wchar_t) == sizeof(uint32_t), "wchar_t is 32 bits");
    out->push_back(0);
    size_t header = out->size() - 1;
    if (length == 0)
        return;
    locale_t locale = collation_locale();
    if (!locale) {
        out->insert(out->end(), run, run + length);
        (*out)[header] = uint32_t(length) << 1;
        return;
    }
    scratch->text.assign(run, run + length);
    scratch->text.push_back(0);
    if (scratch->key.size() < length * 4 + 16)
        scratch->key.resize(length * 4 + 16);
    size_t key_length = wcsxfrm_l(scratch->key.data(), scratch->text.data(), scratch->key.size(), locale);
    if (key_length >= scratch->key.size()) {
        scratch->key.resize(key_length + 1);
        key_length = wcsxfrm_l(scratch->key.data(), scratch->text.data(), scratch->key.size(), locale);
    }
    out->insert(out->end(), scratch->key.begin(), scratch->key.begin() + ptrdiff_t(key_length));
    (*out)[header] = uint32_t(key_length) << 1;
}

void append_digit_run(std::vector<uint32_t>* out, const gunichar* run, size_t length)
{
    // Leading zeros do not count: 007 and 7 are the same number.
    while (length > 0 && *run == '0') {
        run++;
        length--;
    }
    out->push_back(uint32_t(length) << 1 | 1);
    out->insert(out->end(), run, run + length);
}

// Appends the prepared form of one name to out.
void prepare_name(std::vector<uint32_t>* out, const char* name, Scratch* scratch)
{
    // Paths need not be UTF-8; undecodable bytes compare as U+FFFD.
    gchar* valid = g_utf8_make_valid(name, -1);
    gchar* folded = g_utf8_casefold(valid, -1);
    glong length = 0;
    gunichar* text = g_utf8_to_ucs4_fast(folded, -1, &length);
    g_free(valid);
    g_free(folded);
    glong i = 0;
    while (i < length) {
        glong start = i;
        while (i < length && !is_digit(text[i]))
            i++;
        append_text_run(out, text + start, size_t(i - start), scratch);
        if (i == length)
            break;
        start = i;
        while (i < length && is_digit(text[i]))
            i++;
        append_digit_run(out, text + start, size_t(i - start));
    }
    out->push_back(NAME_END);
    g_free(text);
}

int sign_of(int64_t v)
{
    return v < 0 ? -1 : v > 0 ? 1 : 0;
}

// Compares two prepared names. Runs are compared in turn; a name that runs
// out first sorts first. An empty text run (the name starts with a digit)
// sorts before a non-empty one. Digit runs compare by value: fewer
// significant digits is smaller, then digit by digit, so no run is ever too
// long to compare.
int compare_prepared(const uint32_t* a, const uint32_t* b)
{
    for (;;) {
        if (*a == NAME_END)
            return *b == NAME_END ? 0 : -1;
        if (*b == NAME_END)
            return 1;
        uint32_t length_a = *a >> 1, length_b = *b >> 1;
        bool digits = *a & 1;
        a++;
        b++;
        if (digits) {
            if (length_a != length_b)
                return length_a < length_b ? -1 : 1;
        } else if ((length_a == 0) != (length_b == 0)) {
            return length_a == 0 ? -1 : 1;
        }
        uint32_t common = std::min(length_a, length_b);
        // Names in one folder share long runs: equal runs are passed by the
        // library's vectorised comparison, only a differing one is walked.
        if (memcmp(a, b, size_t(common) * sizeof(uint32_t)) != 0) {
            for (uint32_t k = 0; k < common; k++) {
                if (a[k] != b[k])
                    return sign_of(int64_t(int32_t(a[k])) - int64_t(int32_t(b[k])));
            }
        }
        if (length_a != length_b)
            return length_a < length_b ? -1 : 1;
        a += length_a;
        b += length_b;
    }
}

} // namespace

int playlist_compare(const PlaylistEntry* a, const PlaylistEntry* b)
{
    std::vector<uint32_t> prepared_a, prepared_b;
    Scratch scratch;
    prepare_name(&prepared_a, playlist_display_name(a), &scratch);
    prepare_name(&prepared_b, playlist_display_name(b), &scratch);
    return compare_prepared(prepared_a.data(), prepared_b.data());
}

void playlist_sort(PlayerContext* ctx)
{
    Playlist* list = &ctx->playlist;
    uint32_t count = ctx->item_count.load(std::memory_order_relaxed);
    if (count >= 2) {
        uint32_t current = ctx->current_item.load(std::memory_order_relaxed);
        // The current entry is found again by its path string itself.
        const char* current_path = current < count ? list->items[current].path : nullptr;
        std::vector<uint32_t> prepared;
        std::vector<size_t> start(count);
        Scratch scratch;
        prepared.reserve(size_t(count) * 64);
        for (uint32_t i = 0; i < count; i++) {
            start[i] = prepared.size();
            prepare_name(&prepared, playlist_display_name(&list->items[i]), &scratch);
        }
        // The name's address travels with its index, so a comparison reads
        // the two names and nothing else.
        struct Item {
            const uint32_t* name;
            uint32_t index;
        };
        std::vector<Item> order(count);
        for (uint32_t i = 0; i < count; i++)
            order[i] = Item{prepared.data() + start[i], i};
        std::sort(order.begin(), order.end(),
                  [](const Item& x, const Item& y) { return compare_prepared(x.name, y.name) < 0; });
        std::vector<PlaylistEntry> sorted(count);
        for (uint32_t i = 0; i < count; i++) {
            sorted[i] = list->items[order[i].index];
            if (sorted[i].path == current_path)
                ctx->current_item.store(i, std::memory_order_relaxed);
        }
        memcpy(list->items, sorted.data(), size_t(count) * sizeof(PlaylistEntry));
    }
    show_notice(ctx, " 列表排序完成! ");
    cancel_menu(ctx);
}
