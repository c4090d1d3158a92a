// The real program without a window: the command-line contract other tests
// and benchmarks rely on (exit codes, input script, statistics, signals).
#include <gtest/gtest.h>

#include <dirent.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "support/fixtures.h"

namespace {

std::string read_all(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Runs the program with a shell command line; returns its exit code.
int run(const std::string& arguments, const std::string& stderr_path)
{
    std::string command = std::string(MV_BINARY) + " --headless --no-settings " + arguments + " 2>" + stderr_path;
    int status = system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(HeadlessRun, plays_a_clip_follows_the_input_script_and_writes_statistics)
{
    std::string dir = make_test_folder("headless-run");
    std::string clip = fixture_path("h264_aac.mp4");
    write_file(dir + "/script.txt", "800 seek 2000\n900 no such action\n1000 volume 100\n");
    int code = run("--quit-at-end --audio=wav:" + dir + "/out.wav --input=" + dir + "/script.txt --stats=" + dir +
                       "/stats.json " + clip,
                   dir + "/stderr.txt");
    EXPECT_EQ(code, 0);
    std::string stats = read_all(dir + "/stats.json");
    EXPECT_NE(stats.find("\"opened\":true"), std::string::npos) << stats;
    EXPECT_NE(stats.find("\"video_codec\":\"h264\""), std::string::npos) << stats;
    EXPECT_NE(stats.find("\"target_ms\":2000"), std::string::npos) << "the scripted seek is missing: " << stats;
    EXPECT_NE(read_all(dir + "/stderr.txt").find("script.txt:2"), std::string::npos)
        << "a garbage line is reported with its number";
    struct stat st;
    ASSERT_EQ(stat((dir + "/out.wav").c_str(), &st), 0);
    EXPECT_GT(st.st_size, 44 + 48000) << "the sound that played is recorded";
}

TEST(HeadlessRun, a_list_where_nothing_plays_ends_with_code_1)
{
    std::string dir = make_test_folder("headless-run");
    write_file(dir + "/not_media.mp4", "this is plain text, not a film\n");
    EXPECT_EQ(run("--quit-at-end " + dir + "/not_media.mp4", dir + "/stderr2.txt"), 1);
}

// Whether the player has SIGTERM blocked (its mask in /proc) and has
// started its engine threads, which it does only after blocking it: the
// mask alone may be inherited from the test across the exec.
bool blocks_sigterm(pid_t pid)
{
    int threads = 0;
    if (DIR* tasks = opendir(("/proc/" + std::to_string(pid) + "/task").c_str())) {
        while (const dirent* e = readdir(tasks))
            threads += e->d_name[0] != '.';
        closedir(tasks);
    }
    if (threads < 3)
        return false;
    std::string status = read_all("/proc/" + std::to_string(pid) + "/status");
    size_t at = status.find("SigBlk:");
    if (at == std::string::npos)
        return false;
    unsigned long long mask = strtoull(status.c_str() + at + 7, nullptr, 16);
    return (mask >> (SIGTERM - 1)) & 1;
}

TEST(HeadlessRun, sigterm_ends_an_idle_player_with_code_0)
{
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(MV_BINARY, MV_BINARY, "--headless", "--no-settings", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Past start-up, so the signal reaches the loop: the program blocks
    // SIGTERM in every thread before it starts any.
    for (int waited = 0; waited < 30000 && !blocks_sigterm(pid); waited += 20)
        usleep(20 * 1000);
    usleep(200 * 1000);
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(HeadlessRun, bad_options_are_refused_with_a_message)
{
    std::string dir = make_test_folder("headless-run");
    EXPECT_EQ(run("--size=0x0", dir + "/stderr3.txt"), 2);
    EXPECT_NE(read_all(dir + "/stderr3.txt").find("--size=0x0"), std::string::npos);
}

// Address-space limits as a small machine or a cautious user sets them: the
// full-HD clip plays, or the program ends with code 1 and says why; never a
// crash or a hang. The sanitizers reserve more address space than any of
// these limits, so their builds leave this out.
TEST(HeadlessRun, under_address_space_limits_the_clip_plays_or_ends_with_a_message)
{
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "sanitizer builds cannot run under an address-space limit";
#endif
    std::string dir = testing::TempDir();
    std::string clip = fixture_path("h264_1080p.mp4");
    for (int mb : {250, 300, 350, 450, 2000}) {
        std::string stats = dir + "/limit_stats.json", err = dir + "/limit_stderr.txt";
        remove(stats.c_str());
        std::string command = "ulimit -v " + std::to_string(mb * 1024) + "; exec timeout -s KILL 120 " + MV_BINARY +
                              " --headless --no-settings --audio=null --quit-at-end --stats=" + stats + " " + clip +
                              " 2>" + err;
        int status = system(("sh -c '" + command + "'").c_str());
        ASSERT_TRUE(WIFEXITED(status)) << mb << " MB";
        int code = WEXITSTATUS(status);
        std::string said = read_all(err);
        if (code == 0) {
            EXPECT_NE(read_all(stats).find("\"video_frames_presented\":"), std::string::npos) << mb << " MB";
            EXPECT_EQ(read_all(stats).find("\"video_frames_presented\":0,"), std::string::npos)
                << mb << " MB: a run that ends well showed pictures";
        } else {
            // 127: the system could not even load the program's libraries.
            EXPECT_TRUE(code == 1 || code == 127) << mb << " MB: code " << code << " " << said;
            EXPECT_NE(said.find("moravista"), std::string::npos) << mb << " MB: no message: " << said;
        }
        if (mb == 2000)
            EXPECT_EQ(code, 0) << "2 GB is plenty: " << said;
    }
}

} // namespace
