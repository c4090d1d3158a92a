// The context menu: built from the playlist, the chapters, the tracks and
// the options, cached until dropped. Placeholder bodies until it is built.
#include "ui/ui_internal.h"

void show_context_menu(MainWindow* w) {}
void menu_set_check(PlayerContext* ctx, int command_id, int checked) {}
void install_cool_menu(MainWindow* w) {}
