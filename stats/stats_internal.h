// What the files of the statistics share.
#pragma once
#include <cstdio>

#include "stats/stats.h"

// Writes "notices":[...],"state":{...} (no separators around them). The
// caller holds the record's lock.
void stats_write_notices_and_state(FILE* f, PlayerContext* ctx, Stats* s);
