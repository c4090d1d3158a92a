// How the process takes memory, set before any thread starts. Few malloc
// arenas: packets are allocated on the media thread and freed on the
// decoder thread, pictures come and go on the decoder's own threads, and
// with one arena per thread each keeps its own free memory and reserves its
// own 64 MiB of address space. Large blocks (pictures, big packets) come
// straight from the system and go back to it when freed. Thread stacks of
// 4 MiB instead of the 8 MiB default: a dozen threads then fit under a low
// address-space limit.
#include <malloc.h>
#include <pthread.h>

#include "app/app.h"

namespace {

constexpr int ARENAS = 2;
constexpr int MMAP_THRESHOLD_BYTES = 256 * 1024;
constexpr size_t THREAD_STACK_BYTES = 4u << 20;

} // namespace

void memory_setup()
{
    mallopt(M_ARENA_MAX, ARENAS);
    mallopt(M_MMAP_THRESHOLD, MMAP_THRESHOLD_BYTES);
    pthread_attr_t attributes;
    if (pthread_getattr_default_np(&attributes) != 0)
        return;
    size_t stack = 0;
    if (pthread_attr_getstacksize(&attributes, &stack) == 0 && stack > THREAD_STACK_BYTES &&
        pthread_attr_setstacksize(&attributes, THREAD_STACK_BYTES) == 0)
        pthread_setattr_default_np(&attributes);
    pthread_attr_destroy(&attributes);
}
