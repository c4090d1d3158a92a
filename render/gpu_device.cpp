// Whether this machine could run OpenGL on a GPU at all. Asking a GL driver
// loads it, and on a machine without a GPU that is Mesa's software renderer
// with its compiler: some 50 MB of memory and a tenth of a second before the
// first picture, only to learn that the CPU path should draw. Every GPU
// driver needs a device node (a DRM render or card node, or NVIDIA's own),
// so without one the driver is not asked.
#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "render/gl_internal.h"

bool gpu_device_present(const char* dev_folder, const char* always_software)
{
    if (always_software && *always_software && strcmp(always_software, "0") != 0)
        return false;
    const std::string root = dev_folder ? dev_folder : "/dev";
    if (access((root + "/nvidia0").c_str(), F_OK) == 0)
        return true;
    DIR* dri = opendir((root + "/dri").c_str());
    if (!dri)
        return false;
    bool found = false;
    while (const dirent* entry = readdir(dri)) {
        if (strncmp(entry->d_name, "renderD", 7) == 0 || strncmp(entry->d_name, "card", 4) == 0) {
            found = true;
            break;
        }
    }
    closedir(dri);
    return found;
}
