// The file and folder dialogs. Placeholder body until they are built.
#include "ui/ui_internal.h"

void open_files_dialog(MainWindow* w, int append_mode, int folder) {}
