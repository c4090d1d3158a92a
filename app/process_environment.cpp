// What the process changes of its own environment and locale, all of it
// here, made in main before the first thread starts (the engine threads,
// the deferred set-up, the early open, the toolkit's and the bus library's
// own workers). Every library reads the environment and the locale without
// a lock, from any thread: the text system's font map reads its variables
// while the window is being made, the toolkit its own. A change while
// another thread reads them is undefined, and a start could crash in the
// font warm-up. Nothing after this point writes either.
#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/app.h"
#include "platform/platform.h"

namespace {

// Titles, notices and file names are UTF-8 throughout. Under a locale that
// cannot hold them (the bare C locale of a service or a container, or one
// that is not installed), the toolkit could not hand the title to the
// desktop, so the character type becomes UTF-8 while the rest of the
// user's locale stays. Numbers keep the C form: the statistics file is
// JSON, whatever the user's decimal separator.
void use_utf8_text()
{
    setlocale(LC_ALL, "");
    if (strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
        setlocale(LC_CTYPE, "C.UTF-8");
    setlocale(LC_NUMERIC, "C");
}

// The desktop's start-up ids are for this process alone: taken here, and
// removed so that the programs it starts (a file manager) do not answer
// for it. The toolkit would remove the first one itself while it starts,
// after the threads run.
void take_startup_ids()
{
    const char* startup = getenv("DESKTOP_STARTUP_ID");
    const char* autostart = getenv("DESKTOP_AUTOSTART_ID");
    platform_keep_startup_ids(startup ? startup : "", autostart ? autostart : "");
    unsetenv("DESKTOP_STARTUP_ID");
    unsetenv("DESKTOP_AUTOSTART_ID");
}

} // namespace

void process_environment_setup()
{
    use_utf8_text();
    take_startup_ids();
    // The toolkit's own OpenGL is never used (the picture goes through the
    // blit or the player's own EGL), and probing it loads a software
    // renderer of some 50 MB at every start.
    setenv("GDK_GL", "disable", 0);
    // The window draws everything itself and offers no widgets to assistive
    // technology, while the bridge to it would start an accessibility bus
    // (a D-Bus daemon that outlives the player) on desktops without one.
    setenv("NO_AT_BRIDGE", "1", 0);
}
