// The command line's paths, slash options and titles as playlist entries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/ui.h"

namespace {

struct FakeEntry {
    std::string path;
    std::string parameters;
    std::string title;
};

// A folder ("dir" at the end) yields two entries, "missing" nothing, and a
// path already listed is refused like the duplicate check refuses it.
struct FakePlaylist {
    std::vector<FakeEntry> entries;
};

uint32_t fake_count(void* user)
{
    return uint32_t(static_cast<FakePlaylist*>(user)->entries.size());
}

void fake_add(void* user, const char* path, PlaylistRefusals*)
{
    auto* list = static_cast<FakePlaylist*>(user);
    std::string p = path;
    if (p.find("missing") != std::string::npos)
        return;
    for (const FakeEntry& e : list->entries)
        if (e.path == p)
            return;
    if (p.size() >= 3 && p.compare(p.size() - 3, 3, "dir") == 0) {
        list->entries.push_back({p + "/1.mkv", "", ""});
        list->entries.push_back({p + "/2.mkv", "", ""});
        return;
    }
    list->entries.push_back({p, "", ""});
}

void fake_set(void* user, uint32_t index, const char* parameters, const char* title)
{
    auto* list = static_cast<FakePlaylist*>(user);
    if (parameters)
        list->entries[index].parameters = parameters;
    if (title)
        list->entries[index].title = title;
}

std::vector<FakeEntry> run(const std::vector<std::string>& items)
{
    FakePlaylist list;
    CommandLinePlaylist binding{&list, fake_count, fake_add, fake_set};
    command_line_to_playlist(items, &binding);
    return list.entries;
}

struct Case {
    const char* name;
    std::vector<std::string> items;
    std::vector<FakeEntry> expected;
};

TEST(CommandLineItems, options_and_titles_go_to_the_next_path_that_adds_entries)
{
    const Case cases[] = {
        {"option then title then path gives both",
         {"/user_agent=x", "/title=Film", "/m/a.mkv"},
         {{"/m/a.mkv", "user_agent=x", "Film"}}},
        {"several options are joined with U+0001 and no separator at the end",
         {"/a=1", "/b=2", "/m/a.mkv"},
         {{"/m/a.mkv", "a=1\x01" "b=2", ""}}},
        {"the title key ignores letter case and a later title replaces an earlier",
         {"/TITLE=One", "/Title=Two", "/m/a.mkv"},
         {{"/m/a.mkv", "", "Two"}}},
        {"options after the last path go to nobody",
         {"/m/a.mkv", "/x=1", "/title=Late"},
         {{"/m/a.mkv", "", ""}}},
        {"options stay pending past a path that adds nothing, the title does not",
         {"/x=1", "/title=Lost", "/m/missing.mkv", "/m/b.mkv"},
         {{"/m/b.mkv", "x=1", ""}}},
        {"a duplicate adds nothing and passes its options on",
         {"/m/a.mkv", "/x=1", "/m/a.mkv", "/m/b.mkv"},
         {{"/m/a.mkv", "", ""}, {"/m/b.mkv", "x=1", ""}}},
        {"every entry of a folder gets the options and the title",
         {"/x=1", "/title=T", "/m/dir"},
         {{"/m/dir/1.mkv", "x=1", "T"}, {"/m/dir/2.mkv", "x=1", "T"}}},
        {"options are used once",
         {"/x=1", "/m/a.mkv", "/m/b.mkv"},
         {{"/m/a.mkv", "x=1", ""}, {"/m/b.mkv", "", ""}}},
        {"an absolute path with an equals sign deeper down is a path",
         {"/m/a=b.mkv"},
         {{"/m/a=b.mkv", "", ""}}},
        {"a slash argument without an equals sign is an absolute path",
         {"/m/c.mkv"},
         {{"/m/c.mkv", "", ""}}},
        {"a location with a scheme is kept as it is",
         {"/title=Radio", "http://host/live?a=b"},
         {{"http://host/live?a=b", "", "Radio"}}},
        {"an empty argument is skipped",
         {"", "/m/a.mkv"},
         {{"/m/a.mkv", "", ""}}},
    };
    for (const Case& c : cases) {
        std::vector<FakeEntry> got = run(c.items);
        ASSERT_EQ(got.size(), c.expected.size()) << c.name;
        for (size_t i = 0; i < got.size(); i++) {
            EXPECT_EQ(got[i].path, c.expected[i].path) << c.name;
            EXPECT_EQ(got[i].parameters, c.expected[i].parameters) << c.name;
            EXPECT_EQ(got[i].title, c.expected[i].title) << c.name;
        }
    }
}

TEST(CommandLineItems, relative_paths_become_absolute_and_clean)
{
    const struct {
        const char* path;
        const char* folder;
        const char* expected;
    } cases[] = {
        {"a.mkv", "/home/me", "/home/me/a.mkv"},
        {"./films//a.mkv", "/home/me", "/home/me/films/a.mkv"},
        {"../a.mkv", "/home/me", "/home/me/../a.mkv"},
        {"/abs/./x.mkv", "/home/me", "/abs/x.mkv"},
        {"films/", "/", "/films/"},
        {"rtsp://cam/stream", "/home/me", "rtsp://cam/stream"},
        {"odd:name.mkv", "/home/me", "/home/me/odd:name.mkv"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(command_line_absolute_path(c.path, c.folder), c.expected) << c.path;
}

TEST(CommandLineItems, a_slash_argument_is_an_option_only_when_its_key_holds_no_slash)
{
    const struct {
        const char* arg;
        int option;
    } cases[] = {{"/key=value", 1}, {"/=x", 1}, {"/title=a/b", 1}, {"key=value", 0}, {"/tmp/k=v", 0}, {"/", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(command_line_is_option(c.arg), c.option) << c.arg;
}

} // namespace
