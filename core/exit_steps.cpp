#include "core/exit_steps.h"

#include <atomic>

static ExitStep exit_steps[8];
static int exit_step_count;
static std::atomic<bool> exit_sequence_done{false};

void exit_sequence_add(ExitStep step)
{
    if (exit_step_count < 8)
        exit_steps[exit_step_count++] = step;
}

void exit_sequence_run(PlayerContext* ctx, int exit_code)
{
    if (exit_sequence_done.exchange(true))
        return;
    for (int i = 0; i < exit_step_count; i++)
        exit_steps[i](ctx, exit_code);
}
