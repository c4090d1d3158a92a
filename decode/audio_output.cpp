#include "decode/audio_output.h"

void audio_set_volume(AudioOutput* out, uint32_t level)
{
    if (level > 300)
        level = 300;
    uint32_t gain;
    if (level <= 110)
        gain = level * 256u / 100u;
    else
        gain = (level - 90u) * 256u / 20u;
    out->audio_gain.store(gain, std::memory_order_relaxed);
    out->volume.store(level, std::memory_order_relaxed);
}
