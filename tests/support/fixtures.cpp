#include "support/fixtures.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

std::string fixture_path(const char* name)
{
    std::string path = std::string(MV_FIXTURES_DIR) + "/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        ADD_FAILURE() << "missing test medium " << path
                      << ": run the test suite through ctest so make_fixtures.sh generates it "
                         "(it needs the ffmpeg command-line tool)";
    }
    return path;
}
