// Moving and sizing the frameless window with the player's own pointer
// grab. Placeholder body until it is built.
#include "ui/ui_internal.h"

void window_begin_move(MainWindow* w) {}
