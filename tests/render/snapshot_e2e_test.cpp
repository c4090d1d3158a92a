// The headless program writes pictures of its client area on request:
// "--size=WxH" sizes the client, "--snapshot=MS:FILE.png" writes the first
// picture at or after MS.
#include <gtest/gtest.h>

#include <cairo.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/desktop.h"
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

namespace {

double png_psnr(const Png& a, const Png& b)
{
    if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size() || a.pixels.empty())
        return 0;
    double sum = 0;
    int64_t count = 0;
    for (size_t i = 0; i < a.pixels.size(); i++) {
        if (i % 4 == 3)
            continue;
        const double d = double(uint8_t(a.pixels[i])) - double(uint8_t(b.pixels[i]));
        sum += d * d;
        count++;
    }
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * double(count) / sum);
}

// The program with --gpu draws off-screen and reads its pictures back: the
// first picture of each clip (with the subtitle file beside the 8-bit one and
// the opening notice) agrees with the CPU path's, and the statistics name
// the paths that played.
TEST(HeadlessSnapshots, the_gl_path_draws_off_screen_what_the_cpu_path_draws)
{
    const std::string dir = testing::TempDir() + "gl_snapshots_" + std::to_string(getpid());
    ASSERT_EQ(system(("mkdir -p '" + dir + "'").c_str()), 0);
    struct Case {
        const char* clip;
        const char* size;
    } cases[] = {{"gl_420p8.mkv", "960x540"}, {"gl_420p10.mkv", "961x541"}, {"gl_bgra.mkv", "640x480"}};
    for (const Case& c : cases) {
        Png pictures[2];
        for (int gl = 0; gl < 2; gl++) {
            const std::string png = dir + (gl ? "/gl.png" : "/cpu.png"), stats = dir + "/stats.json";
            const std::string command = std::string("timeout 120 '" MV_BINARY "' --headless --no-settings --audio=null "
                                                    "--quit-at-end ") +
                                        (gl ? "--gpu " : "") + "--size=" + c.size + " --snapshot=0:'" + png +
                                        "' --stats='" + stats + "' '" + fixture_path(c.clip) + "' 2>/dev/null";
            ASSERT_EQ(system(command.c_str()), 0) << c.clip;
            pictures[gl] = read_png(png);
            const std::string json = desktop_test::read_file(stats);
            EXPECT_NE(json.find(gl ? "\"presenter\":\"gl\"" : "\"presenter\":\"cpu\""), std::string::npos)
                << c.clip << ": " << json;
            EXPECT_NE(json.find("\"decoder\":\"software\""), std::string::npos) << c.clip << ": " << json;
            unlink(png.c_str());
            unlink(stats.c_str());
        }
        EXPECT_GE(png_psnr(pictures[0], pictures[1]), 35.0) << c.clip << " at " << c.size;
    }
    rmdir(dir.c_str());
}

} // namespace
