// The paths, slash options and titles of the command line become playlist
// entries. Window thread only (or the headless loop, which stands in for it).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The playlist as the command line sees it; the window binds it to the real
// playlist, tests to a fake one.
struct CommandLinePlaylist {
    void* user;
    uint32_t (*count)(void* user);
    // Adds a file, or the media of a folder, with the duplicate check on.
    void (*add_path)(void* user, const char* path);
    // Gives the entry at index its parameters (key=value pairs joined by
    // U+0001) and title; a null text leaves that field as it is.
    void (*set_texts)(void* user, uint32_t index, const char* parameters, const char* title);
};

// Applies the items left after the program's own "--" options, in order:
// "/key=value" is an option for the next path that adds entries,
// "/title=TEXT" (any letter case) names the next path, anything else is a
// path. Options and a title after the last path go to nobody. On this system
// an absolute path also starts with "/": an argument is an option only when
// the text before its "=" holds no further "/" and no such file exists.
// Relative paths are made absolute against the current folder, so a saved
// list still opens from elsewhere.
void command_line_to_playlist(const std::vector<std::string>& items, const CommandLinePlaylist* playlist);

// Classifies one argument: 1 option (key=value after the slash), 0 path.
int command_line_is_option(const char* arg);
// The path a command-line path names: absolute, "." segments and repeated
// slashes removed; locations with a scheme ("proto://") stay as they are.
std::string command_line_absolute_path(const std::string& path, const std::string& current_folder);

struct PlayerContext;
// The binding to the player's own playlist (user is the context).
CommandLinePlaylist command_line_playlist_of(PlayerContext* ctx);
// command_line_to_playlist on the player's playlist.
void command_line_to_player(PlayerContext* ctx, const std::vector<std::string>& items);
