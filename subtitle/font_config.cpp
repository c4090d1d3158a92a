// Where the font library keeps its cache, and the configuration the
// subtitle renderer is given: the system's own configuration, our cache
// folder, and "SimHei" (the family of the default and standard styles, and
// of many Chinese subtitle files) resolving to the installed CJK sans.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>

#include "core/core.h"
#include "subtitle/subtitle.h"

// A folder that exists (made when missing) and that we may write into.
static bool usable_folder(const std::string& path)
{
    if (g_mkdir_with_parents(path.c_str(), 0755) != 0)
        return false;
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(path.c_str(), W_OK | X_OK) == 0;
}

static std::string executable_folder()
{
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return std::string();
    path[n] = 0;
    char* slash = strrchr(path, '/');
    if (!slash)
        return std::string();
    *slash = 0;
    return path;
}

static std::string find_font_config_dir()
{
    std::string folder = executable_folder();
    if (!folder.empty()) {
        std::string beside = folder + "/fontconfig";
        if (usable_folder(beside))
            return beside;
    }
    std::string cache = std::string(g_get_user_cache_dir()) + "/moravista/fontconfig";
    usable_folder(cache);
    return cache;
}

const char* font_config_dir()
{
    static const std::string dir = find_font_config_dir(); // made once, thread-safe
    return dir.c_str();
}

static std::string xml_escaped(const char* text)
{
    std::string out;
    for (const char* p = text; *p; p++) {
        switch (*p) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += *p;
        }
    }
    return out;
}

// The Chinese Windows families that subtitle files ask for, and what they
// become here: the Noto CJK families of the Debian font packages first,
// then other common CJK fonts.
struct FamilyAlias {
    const char* family;
    const char* prefer;
};
static const FamilyAlias FAMILY_ALIASES[] = {
    {"SimHei", "Noto Sans CJK SC"},          {"黑体", "Noto Sans CJK SC"},
    {"Microsoft YaHei", "Noto Sans CJK SC"}, {"微软雅黑", "Noto Sans CJK SC"},
    {"SimSun", "Noto Serif CJK SC"},         {"宋体", "Noto Serif CJK SC"},
    {"NSimSun", "Noto Serif CJK SC"},        {"KaiTi", "Noto Serif CJK SC"},
    {"楷体", "Noto Serif CJK SC"},           {"Microsoft JhengHei", "Noto Sans CJK TC"},
    {"PMingLiU", "Noto Serif CJK TC"},       {"MingLiU", "Noto Serif CJK TC"},
};

static std::string font_config_text(const char* dir)
{
    std::string conf =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
        "<!-- Written by Moravista for its subtitle renderer; rewritten at start. -->\n"
        "<fontconfig>\n";
    conf += "  <cachedir>" + xml_escaped(dir) + "</cachedir>\n";
    conf +=
        "  <include ignore_missing=\"yes\">/etc/fonts/fonts.conf</include>\n"
        "  <dir>/usr/share/fonts</dir>\n"
        "  <dir>/usr/local/share/fonts</dir>\n"
        "  <dir prefix=\"xdg\">fonts</dir>\n";
    for (const FamilyAlias& alias : FAMILY_ALIASES) {
        conf += "  <alias binding=\"same\"><family>";
        conf += alias.family;
        conf += "</family><prefer><family>";
        conf += alias.prefer;
        conf += "</family><family>Noto Sans CJK SC</family><family>WenQuanYi Zen Hei</family>"
                "<family>Droid Sans Fallback</family></prefer></alias>\n";
    }
    conf += "</fontconfig>\n";
    return conf;
}

// Writes the file unless it already holds text (GLib writes through a
// temporary file and a rename, so another instance never reads half of it).
static bool write_if_changed(const std::string& path, const std::string& text)
{
    gchar* old = nullptr;
    gsize old_length = 0;
    if (g_file_get_contents(path.c_str(), &old, &old_length, nullptr)) {
        bool same = old_length == text.size() && memcmp(old, text.data(), old_length) == 0;
        g_free(old);
        if (same)
            return true;
    }
    return g_file_set_contents(path.c_str(), text.data(), gssize(text.size()), nullptr);
}

static std::string make_font_config_file()
{
    const char* dir = font_config_dir();
    std::string path = std::string(dir) + "/fonts.conf";
    if (!write_if_changed(path, font_config_text(dir)))
        return std::string();
    return path;
}

const char* font_config_file()
{
    static const std::string path = make_font_config_file();
    return path.empty() ? nullptr : path.c_str();
}
