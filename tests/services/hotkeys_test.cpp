// The global hot keys on a real X server, in this process: while bound, each
// of the twelve Ctrl+Alt keys reaches the window procedure with its key code
// and no other client can have it; unbound, a press reaches nobody here and
// another client takes the key; a key another client holds is simply left
// out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/desktop.h"

namespace {

using namespace desktop_test;

struct HotKeyRun {
    void* window = nullptr;
    std::string display;
    int stage = 0;
    int ticks = 0; // of the current stage
    std::vector<uintptr_t> keys;
    std::vector<uintptr_t> keys_while_bound, keys_after_unbinding;
    int bound = -1, bound_after_unbinding = -1, bound_beside_holder = -1;
    std::string grab_while_bound, grab_after_unbinding;
    pid_t holder = -1;
};
HotKeyRun run;

std::string on_display(const std::string& command)
{
    return capture("DISPLAY=" + run.display + " " + command + " 2>&1");
}

// Each stage waits for what the previous one sent (at most 5 s: a slow
// machine, a sanitizer) before it goes on.
bool previous_stage_done()
{
    run.ticks++;
    size_t expected = run.stage == 1 ? PLATFORM_HOTKEY_COUNT : 0;
    return run.stage == 0 || run.ticks >= 50 || (run.ticks >= 10 && run.keys.size() >= expected);
}

void next_stage()
{
    if (!previous_stage_done())
        return;
    run.ticks = 0;
    switch (run.stage++) {
    case 0:
        run.bound = platform_hotkeys_bind(run.window, 1);
        run.grab_while_bound = on_display(MV_FAKE_DESKTOP " grab");
        on_display(MV_FAKE_DESKTOP " press m r b Prior n Next p s Left Right Up Down");
        break;
    case 1:
        run.keys_while_bound.swap(run.keys);
        run.bound_after_unbinding = platform_hotkeys_bind(run.window, 0);
        run.grab_after_unbinding = on_display(MV_FAKE_DESKTOP " grab");
        on_display(MV_FAKE_DESKTOP " press p Right");
        break;
    case 2:
        run.keys_after_unbinding.swap(run.keys);
        run.holder = fork();
        if (run.holder == 0) {
            // The window blocked SIGTERM for its own signal handling.
            sigset_t all;
            sigfillset(&all);
            sigprocmask(SIG_UNBLOCK, &all, nullptr);
            setenv("DISPLAY", run.display.c_str(), 1);
            execl(MV_FAKE_DESKTOP, MV_FAKE_DESKTOP, "hold", nullptr);
            _exit(127);
        }
        break;
    case 3:
        run.bound_beside_holder = platform_hotkeys_bind(run.window, 1);
        break;
    default:
        platform_window_quit(run.window, 0);
    }
}

intptr_t procedure(void*, unsigned msg, uintptr_t a, intptr_t)
{
    if (msg == MSG_HOTKEY)
        run.keys.push_back(a);
    if (msg == MSG_TIMER && a == 1)
        next_stage();
    return 0;
}

TEST_F(DesktopTest, hot_keys_reach_the_window_with_their_codes_while_bound_and_nobody_once_unbound)
{
    run.display = display;
    setenv("DISPLAY", display.c_str(), 1);
    run.window = platform_window_open(procedure, nullptr);
    ASSERT_NE(run.window, nullptr);
    platform_timer_start(run.window, 1, 100);
    platform_window_loop(run.window);
    if (run.holder > 0) {
        kill(run.holder, SIGKILL);
        waitpid(run.holder, nullptr, 0);
    }
    // The window took SIGINT and SIGTERM for itself; the tests after this
    // one stop their helpers with them.
    sigset_t close_signals;
    sigemptyset(&close_signals);
    sigaddset(&close_signals, SIGINT);
    sigaddset(&close_signals, SIGTERM);
    pthread_sigmask(SIG_UNBLOCK, &close_signals, nullptr);
    unsetenv("DISPLAY");

    EXPECT_EQ(run.bound, PLATFORM_HOTKEY_COUNT);
    EXPECT_EQ(run.grab_while_bound, "busy\n");
    EXPECT_EQ(run.keys_while_bound, (std::vector<uintptr_t>{'M', 'R', 'B', 0x21, 'N', 0x22, 'P', 'S', 0x25, 0x27,
                                                            0x26, 0x28}));
    EXPECT_EQ(run.bound_after_unbinding, 0);
    EXPECT_EQ(run.grab_after_unbinding, "grabbed\n");
    EXPECT_TRUE(run.keys_after_unbinding.empty());
    EXPECT_EQ(run.bound_beside_holder, PLATFORM_HOTKEY_COUNT - 1) << "Ctrl+Alt+P is held by another client";
}

} // namespace
