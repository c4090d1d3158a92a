#include "support/fixtures.h"

#include <gtest/gtest.h>
#include <stdlib.h>
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

std::string make_test_folder(const char* prefix)
{
    std::string name = std::string("/tmp/") + prefix + "-XXXXXX";
    if (!mkdtemp(name.data())) {
        ADD_FAILURE() << "cannot make a folder under /tmp";
        return testing::TempDir();
    }
    return name;
}
