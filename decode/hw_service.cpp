// The hardware decoding service: whether video can be decoded on the
// graphics device. Not usable until the hardware path is built.
#include "decode/decode.h"

int hw_service_init(PlayerContext* ctx)
{
    return 0;
}
