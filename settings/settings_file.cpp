// Reading the settings file: the whole file as UTF-16 text and an index of
// its keys, so each lookup is one probe instead of a scan of the file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/core.h"
#include "settings/settings.h"
#include "settings/settings_internal.h"

namespace {

// Text values are cut after this many UTF-16 units.
constexpr size_t TEXT_VALUE_UNITS = 779;
// A larger file is read only this far: it cannot be a real settings file,
// and the rest would only cost memory.
constexpr size_t MAX_FILE_BYTES = 256u << 20;
// Keys past this many are not looked at: a list of a million entries fits.
constexpr size_t MAX_KEYS = 4u << 20;

struct KeySlot {
    uint32_t hash;
    uint32_t key_start, key_length;
    uint32_t value_start, value_length;
};

char16_t ascii_lower(char16_t c)
{
    return (c >= 'A' && c <= 'Z') ? char16_t(c + 32) : c;
}

uint32_t key_hash(const char16_t* key, size_t length)
{
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < length; i++)
        h = (h ^ ascii_lower(key[i])) * 16777619u;
    // Mix the low bits, which pick the slot: numbered keys differ in a
    // digit or two.
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h | 1; // 0 marks a free slot
}

bool keys_equal(const char16_t* a, const char16_t* b, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        if (ascii_lower(a[i]) != ascii_lower(b[i]))
            return false;
    }
    return true;
}

bool is_line_end(char16_t c)
{
    // A zero unit inside the file ends its line like a line break does.
    return c == u'\r' || c == u'\n' || c == 0;
}

bool is_blank(char16_t c)
{
    return c == u'\t' || c == u'\n' || c == u'\r' || c == u' ' || c == 0;
}

} // namespace

struct SettingsFile {
    std::u16string text;
    std::vector<KeySlot> slots; // open addressing, a power of two in size
};

namespace {

const KeySlot* find_key(const SettingsFile* file, const char16_t* key, size_t length)
{
    uint32_t hash = key_hash(key, length);
    size_t mask = file->slots.size() - 1;
    for (size_t i = hash & mask; file->slots[i].hash != 0; i = (i + 1) & mask) {
        const KeySlot& slot = file->slots[i];
        if (slot.hash == hash && slot.key_length == length && keys_equal(&file->text[slot.key_start], key, length))
            return &slot;
    }
    return nullptr;
}

void insert_slot(SettingsFile* file, const KeySlot& entry)
{
    size_t mask = file->slots.size() - 1;
    size_t i = entry.hash & mask;
    while (file->slots[i].hash != 0)
        i = (i + 1) & mask;
    file->slots[i] = entry;
}

// Keeps the table at most half full.
void grow_if_needed(SettingsFile* file, size_t used)
{
    if ((used + 1) * 2 <= file->slots.size())
        return;
    std::vector<KeySlot> old;
    old.swap(file->slots);
    file->slots.assign(old.size() * 2, KeySlot{});
    for (const KeySlot& slot : old) {
        if (slot.hash != 0)
            insert_slot(file, slot);
    }
}

// Each line: blanks skipped, then the key runs to the first "=" of the
// line. Lines without "=" hold no key. The first of equal keys wins.
void index_lines(SettingsFile* file)
{
    const std::u16string& t = file->text;
    file->slots.assign(64, KeySlot{});
    size_t used = 0;
    size_t n = t.size(), p = 0;
    while (p < n && used < MAX_KEYS) {
        while (p < n && is_blank(t[p]))
            p++;
        size_t key_start = p;
        while (p < n && t[p] != u'=' && !is_line_end(t[p]))
            p++;
        if (p >= n || t[p] != u'=')
            continue; // no "=" on this line
        size_t key_length = p - key_start;
        size_t value_start = ++p;
        while (p < n && !is_line_end(t[p]))
            p++;
        grow_if_needed(file, used);
        // One probe finds an earlier line with this key or the free slot.
        uint32_t hash = key_hash(&t[key_start], key_length);
        size_t mask = file->slots.size() - 1;
        size_t i = hash & mask;
        while (file->slots[i].hash != 0 &&
               !(file->slots[i].hash == hash && file->slots[i].key_length == key_length &&
                 keys_equal(&t[file->slots[i].key_start], &t[key_start], key_length)))
            i = (i + 1) & mask;
        if (file->slots[i].hash != 0)
            continue;
        file->slots[i] = KeySlot{hash, uint32_t(key_start), uint32_t(key_length), uint32_t(value_start),
                                 uint32_t(p - value_start)};
        used++;
    }
}

const KeySlot* lookup(const SettingsFile* file, const char* key, std::u16string* scratch)
{
    if (!file)
        return nullptr;
    settings_utf8_to_utf16(key, strlen(key), scratch);
    return find_key(file, scratch->data(), scratch->size());
}

std::string slot_text(const SettingsFile* file, const KeySlot& slot, bool whole);

} // namespace

void settings_utf8_to_utf16(const char* text, size_t length, std::u16string* out)
{
    out->clear();
    out->reserve(length);
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        unsigned c = s[i];
        size_t n = c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
        if (n > 1 && (i + n > length || !utf8_is_valid(text + i, n)))
            n = 0;
        if (n == 0) {
            out->push_back(char16_t(0xDC00 | c)); // not UTF-8: the byte itself
            i++;
            continue;
        }
        uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
        for (size_t k = 1; k < n; k++)
            cp = (cp << 6) | (s[i + k] & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out->push_back(char16_t(0xD800 | (cp >> 10)));
            out->push_back(char16_t(0xDC00 | (cp & 0x3FF)));
        } else {
            out->push_back(char16_t(cp));
        }
        i += n;
    }
}

void settings_utf16_to_utf8(const char16_t* text, size_t length, std::string* out)
{
    out->clear();
    out->reserve(length);
    for (size_t i = 0; i < length; i++) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            i++;
        } else if (cp >= 0xDC00 && cp <= 0xDCFF) {
            out->push_back(char(cp & 0xFF)); // a byte that was not UTF-8
            continue;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out->push_back(char(cp));
        } else if (cp < 0x800) {
            out->push_back(char(0xC0 | (cp >> 6)));
            out->push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out->push_back(char(0xE0 | (cp >> 12)));
            out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out->push_back(char(0xF0 | (cp >> 18)));
            out->push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(char(0x80 | (cp & 0x3F)));
        }
    }
}

SettingsFile* settings_file_parse(const void* bytes, size_t size)
{
    const auto* b = static_cast<const unsigned char*>(bytes);
    SettingsFile* file = new (std::nothrow) SettingsFile;
    if (!file)
        return nullptr;
    bool utf16_mark = size >= 2 && b[0] == 0xFF && b[1] == 0xFE;
    bool utf8_mark = size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF;
    // Text edited by hand may come back as UTF-8: it has no mark, no zero
    // byte (UTF-16 of Latin text is half zeros) and decodes cleanly.
    bool utf8 = utf8_mark || (!utf16_mark && size > 0 && !memchr(b, 0, size) &&
                              utf8_is_valid(reinterpret_cast<const char*>(b), size));
    if (utf8) {
        size_t skip = utf8_mark ? 3 : 0;
        settings_utf8_to_utf16(reinterpret_cast<const char*>(b) + skip, size - skip, &file->text);
    } else {
        // The mark stays as the first unit, so the first line never holds a
        // key. A last odd byte is no unit and is dropped.
        file->text.resize(size / 2);
        for (size_t i = 0; i < size / 2; i++)
            file->text[i] = char16_t(b[2 * i] | (b[2 * i + 1] << 8));
    }
    index_lines(file);
    return file;
}

SettingsFile* settings_file_read(const char* path)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    size_t size = st.st_size > off_t(MAX_FILE_BYTES) ? MAX_FILE_BYTES : size_t(st.st_size);
    std::vector<unsigned char> bytes(size);
    size_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, bytes.data() + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // a file that shrank meanwhile: what was read counts
        got += size_t(n);
    }
    close(fd);
    return settings_file_parse(bytes.data(), got);
}

void settings_file_free(SettingsFile* file)
{
    delete file;
}

int32_t settings_get_int(const SettingsFile* file, const char* key, int32_t def)
{
    std::u16string scratch;
    const KeySlot* slot = lookup(file, key, &scratch);
    if (!slot)
        return def;
    const char16_t* p = &file->text[slot->value_start];
    const char16_t* end = p + slot->value_length;
    while (p < end && (*p == u' ' || *p == u'\t' || *p == u'\v' || *p == u'\f'))
        p++;
    bool negative = false;
    if (p < end && (*p == u'+' || *p == u'-'))
        negative = *p++ == u'-';
    // The 32-bit long of the stored format: out-of-range values stop at its
    // ends, as the C library's conversion does.
    int64_t value = 0;
    for (; p < end && *p >= u'0' && *p <= u'9'; p++) {
        if (value <= int64_t(INT32_MAX) + 1)
            value = value * 10 + (*p - u'0');
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return int32_t(value);
}

std::string settings_get_text(const SettingsFile* file, const char* key)
{
    std::u16string scratch;
    const KeySlot* slot = lookup(file, key, &scratch);
    return slot ? slot_text(file, *slot, false) : std::string();
}

namespace {

// The text of one slot's value as UTF-8, cut after 779 UTF-16 units unless
// it is taken whole.
std::string slot_text(const SettingsFile* file, const KeySlot& slot, bool whole)
{
    std::string out;
    size_t length = slot.value_length;
    if (length > TEXT_VALUE_UNITS && !whole) {
        length = TEXT_VALUE_UNITS;
        // Never keep half of a surrogate pair.
        char16_t last = file->text[slot.value_start + length - 1];
        if (last >= 0xD800 && last <= 0xDBFF)
            length--;
    }
    settings_utf16_to_utf8(&file->text[slot.value_start], length, &out);
    return out;
}

// 0 path ("%d"), 1 parameters ("%d_参数"), 2 title ("%d_标题"), -1 other.
int entry_key_kind(const char16_t* rest, size_t length)
{
    if (length == 0)
        return 0;
    if (length == 3 && rest[0] == u'_' && rest[1] == u'参' && rest[2] == u'数')
        return 1;
    if (length == 3 && rest[0] == u'_' && rest[1] == u'标' && rest[2] == u'题')
        return 2;
    return -1;
}

} // namespace

void settings_file_saved_entries(const SettingsFile* file, int32_t count, std::vector<SettingsSavedEntry>* out)
{
    out->clear();
    if (!file || count <= 0)
        return;
    // One pass over the keys instead of three lookups for every number up
    // to count: (index, kind, slot) for every entry key, then in order.
    struct Found {
        int32_t index;
        int32_t kind;
        const KeySlot* slot;
    };
    std::vector<Found> found;
    for (const KeySlot& slot : file->slots) {
        if (slot.hash == 0 || slot.key_length == 0)
            continue;
        const char16_t* key = &file->text[slot.key_start];
        uint32_t digits = 0;
        int64_t value = 0;
        while (digits < slot.key_length && digits < 11 && key[digits] >= u'0' && key[digits] <= u'9')
            value = value * 10 + (key[digits++] - u'0');
        // Numbers as "%d" writes them: no sign, no leading zero.
        if (digits == 0 || (key[0] == u'0' && digits > 1) || value >= count)
            continue;
        int kind = entry_key_kind(key + digits, slot.key_length - digits);
        if (kind >= 0)
            found.push_back(Found{int32_t(value), kind, &slot});
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.index != b.index ? a.index < b.index : a.kind < b.kind;
    });
    for (size_t i = 0; i < found.size(); i++) {
        if (found[i].kind != 0)
            continue; // texts of an index without a path
        // A path is taken whole: one cut short would name another file.
        SettingsSavedEntry entry{found[i].index, slot_text(file, *found[i].slot, true), {}, {}};
        for (; i + 1 < found.size() && found[i + 1].index == entry.index; i++)
            (found[i + 1].kind == 1 ? entry.params : entry.title) = slot_text(file, *found[i + 1].slot, false);
        if (!entry.path.empty())
            out->push_back(std::move(entry));
    }
}
