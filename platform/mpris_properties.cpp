// The media-player interface's values, apart from the bus.
#include <cstdio>
#include <cstring>

#include "platform/mpris_internal.h"

// The types of data/moravista.desktop, in its order.
const char* const MPRIS_MIME_TYPES[] = {
    "video/x-ms-asf", "video/x-msvideo", "video/x-f4v", "video/x-flv", "video/x-m4v", "video/quicktime",
    "video/mp4", "video/x-matroska", "video/mpeg", "video/mp2t", "video/webm", "video/x-ms-wmv", "video/3gpp",
    "video/dvd", "application/vnd.rn-realmedia", "application/vnd.rn-realmedia-vbr",
    "application/x-shockwave-flash", "audio/aac", "audio/ac3", "audio/x-ape", "audio/vnd.dts", "audio/flac",
    "audio/x-flac", "audio/x-mod", "audio/mpeg", "audio/mp2", "audio/x-matroska", "audio/ogg",
    "audio/x-vorbis+ogg", "audio/x-opus+ogg", "audio/x-pn-realaudio", "audio/x-tta", "audio/x-wav",
    "audio/x-ms-wma", "image/bmp", "image/gif", "image/jpeg", "image/vnd.zbrush.pcx", "image/png", "image/x-tga",
    "image/tiff", nullptr,
};

const char* mpris_status_text(int32_t status)
{
    switch (status) {
    case MPRIS_PLAYING: return "Playing";
    case MPRIS_PAUSED: return "Paused";
    default: return "Stopped";
    }
}

GVariant* mpris_root_property(const char* name)
{
    if (strcmp(name, "Identity") == 0)
        return g_variant_new_string("Moravista");
    if (strcmp(name, "DesktopEntry") == 0)
        return g_variant_new_string("moravista");
    if (strcmp(name, "SupportedUriSchemes") == 0) {
        const char* const schemes[] = {"file", nullptr};
        return g_variant_new_strv(schemes, -1);
    }
    if (strcmp(name, "SupportedMimeTypes") == 0)
        return g_variant_new_strv(MPRIS_MIME_TYPES, -1);
    if (strcmp(name, "CanQuit") == 0 || strcmp(name, "CanRaise") == 0)
        return g_variant_new_boolean(TRUE);
    if (strcmp(name, "HasTrackList") == 0)
        return g_variant_new_boolean(FALSE);
    return nullptr;
}

void mpris_track_path(const MprisState& s, char* out, size_t out_size)
{
    if (s.status == MPRIS_STOPPED || s.track == 0)
        snprintf(out, out_size, "/org/mpris/MediaPlayer2/TrackList/NoTrack");
    else
        snprintf(out, out_size, "/org/moravista/track/%u", s.track);
}

// Strings on the bus must be UTF-8; a name from a broken file still goes.
static GVariant* valid_string(const char* text)
{
    gchar* valid = g_utf8_make_valid(text, -1);
    GVariant* v = g_variant_new_string(valid);
    g_free(valid);
    return v;
}

// A list of one text, as the interface lists artists and genres.
static GVariant* valid_list(const char* text)
{
    GVariant* one = valid_string(text);
    return g_variant_new_array(G_VARIANT_TYPE_STRING, &one, 1);
}

// The tags the item has: a missing tag is left out, not given empty.
static void add_tags(GVariantBuilder* b, const MprisState& s)
{
    const struct {
        const char* key;
        const char* text;
        bool list;
    } texts[] = {
        {"xesam:artist", s.artist, true}, {"xesam:album", s.album, false},
        {"xesam:albumArtist", s.album_artist, true}, {"xesam:genre", s.genre, true},
        {"xesam:contentCreated", s.date, false},
    };
    for (const auto& t : texts)
        if (t.text[0])
            g_variant_builder_add(b, "{sv}", t.key, t.list ? valid_list(t.text) : valid_string(t.text));
    if (s.track_number > 0)
        g_variant_builder_add(b, "{sv}", "xesam:trackNumber", g_variant_new_int32(s.track_number));
    if (gchar* art = s.art_path[0] == '/' ? g_filename_to_uri(s.art_path, nullptr, nullptr) : nullptr) {
        g_variant_builder_add(b, "{sv}", "mpris:artUrl", g_variant_new_string(art));
        g_free(art);
    }
}

GVariant* mpris_metadata(const MprisState& s)
{
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    char track[64];
    mpris_track_path(s, track, sizeof track);
    g_variant_builder_add(&b, "{sv}", "mpris:trackid", g_variant_new_object_path(track));
    if (s.status != MPRIS_STOPPED && s.track != 0) {
        g_variant_builder_add(&b, "{sv}", "mpris:length", g_variant_new_int64(s.length_us));
        g_variant_builder_add(&b, "{sv}", "xesam:title", valid_string(s.title));
        // A local path becomes a file URI; a location the playlist holds as
        // a URL already is given as it is.
        gchar* uri = s.path[0] == '/' ? g_filename_to_uri(s.path, nullptr, nullptr) : nullptr;
        if (uri || (s.path[0] && strstr(s.path, "://")))
            g_variant_builder_add(&b, "{sv}", "xesam:url", valid_string(uri ? uri : s.path));
        g_free(uri);
        add_tags(&b, s);
    }
    return g_variant_builder_end(&b);
}

std::array<const char*, 12> mpris_changed_properties(const MprisState& a, const MprisState& b)
{
    std::array<const char*, 12> names{};
    size_t n = 0;
    auto note = [&](bool changed, const char* name) {
        if (changed)
            names[n++] = name;
    };
    note(a.status != b.status, "PlaybackStatus");
    bool a_stopped = a.status == MPRIS_STOPPED, b_stopped = b.status == MPRIS_STOPPED;
    const char* const texts[][2] = {{a.title, b.title},   {a.path, b.path},
                                    {a.artist, b.artist}, {a.album, b.album},
                                    {a.album_artist, b.album_artist}, {a.genre, b.genre},
                                    {a.date, b.date},     {a.art_path, b.art_path}};
    bool texts_differ = false;
    for (const auto& t : texts)
        texts_differ |= strcmp(t[0], t[1]) != 0;
    note(a.track != b.track || a_stopped != b_stopped || a.length_us != b.length_us ||
             a.track_number != b.track_number || texts_differ,
         "Metadata");
    note(a.volume != b.volume, "Volume");
    note(a.can_go_next != b.can_go_next, "CanGoNext");
    note(a.can_go_previous != b.can_go_previous, "CanGoPrevious");
    note(a.can_play != b.can_play, "CanPlay");
    note(a.can_pause != b.can_pause, "CanPause");
    note(a.can_seek != b.can_seek, "CanSeek");
    return names;
}

bool mpris_position_jumped(const MprisState& before, int64_t before_wall_us, const MprisState& now,
                           int64_t now_wall_us, int64_t threshold_us)
{
    int64_t expected = before.position_us;
    if (before.status == MPRIS_PLAYING && now.status == MPRIS_PLAYING)
        expected += now_wall_us - before_wall_us;
    int64_t difference = now.position_us - expected;
    if (difference < 0)
        difference = -difference;
    // Playing may have started or stopped between the two readings.
    int64_t allowance = before.status != now.status ? now_wall_us - before_wall_us : 0;
    return difference > threshold_us + allowance;
}

int64_t mpris_volume_level(double volume)
{
    if (!(volume > 0.0))
        return 0;
    if (volume >= 3.0)
        return 300;
    return int64_t(volume * 100.0 + 0.5);
}

char* mpris_path_of_uri(const char* uri)
{
    gchar* scheme = g_uri_parse_scheme(uri);
    bool is_file = scheme && g_ascii_strcasecmp(scheme, "file") == 0;
    g_free(scheme);
    if (!is_file)
        return nullptr;
    gchar* host = nullptr;
    gchar* path = g_filename_from_uri(uri, &host, nullptr);
    bool local = !host || !*host || g_ascii_strcasecmp(host, "localhost") == 0;
    g_free(host);
    if (!local) {
        g_free(path);
        return nullptr;
    }
    return path;
}
