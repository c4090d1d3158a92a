// The window procedure: every message of the window thread goes through it,
// whether it came from the desktop, the headless loop or a test.
#pragma once
#include <cstdint>

struct MainWindow;

intptr_t window_procedure(MainWindow* window, unsigned msg, uintptr_t a, intptr_t b);
