// Client mode: one data message to a running player over the session bus.
#include <cstdio>

#include "app/app.h"
#include "platform/platform.h"

int run_send(const CommandLine& cl)
{
    char message[512] = "";
    int status = COPY_DATA_OK;
    CopyDataClient* client = platform_copy_data_connect(cl.send_pid, &status, message, sizeof message);
    if (!client) {
        fprintf(stderr, "moravista: cannot reach player %d: no session bus (%s)\n", int(cl.send_pid), message);
        return 2;
    }
    int64_t result = 0;
    // The payload goes with its terminating zero, as the message defines it.
    status = platform_copy_data_call(client, cl.send_code, cl.send_payload.c_str(), cl.send_payload.size() + 1,
                                     &result, message, sizeof message);
    platform_copy_data_close(client);
    switch (status) {
    case COPY_DATA_OK:
        printf("%lld\n", static_cast<long long>(result));
        return 0;
    case COPY_DATA_NO_PLAYER:
        fprintf(stderr, "moravista: no player with process id %d is running\n", int(cl.send_pid));
        return 2;
    case COPY_DATA_REFUSED:
        fprintf(stderr, "moravista: player %d refused the message: %s\n", int(cl.send_pid), message);
        return 1;
    default:
        fprintf(stderr, "moravista: the message to player %d failed: %s\n", int(cl.send_pid), message);
        return 1;
    }
}
