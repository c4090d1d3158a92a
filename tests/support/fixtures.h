// Access to the media the test run generates with the ffmpeg tool.
#pragma once
#include <string>

// Full path of a generated fixture; fails the calling test with a clear
// message when the file is missing (the generator did not run or a tool is
// missing), so nothing is skipped silently.
std::string fixture_path(const char* name);

// A new empty folder under /tmp named after prefix, for one test's files: the
// tests of a program run side by side.
std::string make_test_folder(const char* prefix);
