// The headless program writes pictures of its client area on request:
// "--size=WxH" sizes the client, "--snapshot=MS:FILE.png" writes the first
// picture at or after MS.
#include <gtest/gtest.h>

#include <cairo.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/fixtures.h"

namespace {

struct Png {
    int width = 0, height = 0;
    std::string pixels;
};

Png read_png(const std::string& path)
{
    Png png;
    cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
        png.width = cairo_image_surface_get_width(s);
        png.height = cairo_image_surface_get_height(s);
        png.pixels.assign(reinterpret_cast<const char*>(cairo_image_surface_get_data(s)),
                          size_t(cairo_image_surface_get_stride(s)) * size_t(png.height));
    }
    cairo_surface_destroy(s);
    return png;
}

TEST(HeadlessSnapshots, pictures_at_the_requested_times_are_written_at_the_client_size)
{
    const std::string dir = testing::TempDir() + "snapshots_" + std::to_string(getpid());
    ASSERT_EQ(system(("mkdir -p '" + dir + "'").c_str()), 0);
    const std::string first = dir + "/first.png", later = dir + "/later.png";
    const std::string command = "timeout 60 '" MV_BINARY "' --headless --no-settings --audio=null --quit-at-end "
                                "--size=320x180 --snapshot=0:'" + first + "' --snapshot=1500:'" + later + "' '" +
                                fixture_path("h264_aac.mp4") + "' 2>/dev/null";
    ASSERT_EQ(system(command.c_str()), 0);
    Png a = read_png(first), b = read_png(later);
    EXPECT_EQ(a.width, 320);
    EXPECT_EQ(a.height, 180);
    EXPECT_EQ(b.width, 320);
    EXPECT_EQ(b.height, 180);
    EXPECT_NE(a.pixels, b.pixels) << "the moving test picture differs 1.5 s later";
    unlink(first.c_str());
    unlink(later.c_str());
    rmdir(dir.c_str());
}

} // namespace
