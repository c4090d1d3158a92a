// Client mode: one data message to a running player over the session bus.
#include <unistd.h>

#include <cstdio>

#include "app/app.h"
#include "platform/platform.h"
#include "ui/ui.h"

constexpr uint64_t COPY_DATA_APPEND = 0x6170;

// What goes over the bus: a file to append is named absolutely, since the
// player finds it from a folder of its own. Empty, with why, when nothing
// that the player could use can be sent.
static std::string payload_to_send(const CommandLine& cl, const char** why)
{
    const std::string& payload = cl.send_payload;
    if (payload.empty()) {
        *why = "the payload is empty";
        return payload;
    }
    if (cl.send_code != COPY_DATA_APPEND)
        return payload;
    char folder[4096];
    if (payload[0] != '/' && !getcwd(folder, sizeof folder)) {
        *why = "the current folder has no name, so the relative path cannot be made absolute";
        return std::string();
    }
    std::string path = command_line_absolute_path(payload, payload[0] == '/' ? "/" : folder);
    size_t longest = MEDIA_PATH_UNITS - 1;
    if (path.size() > longest * 3 || utf16_units(path.data(), path.size()) > longest) {
        *why = "the path is too long for an entry";
        return std::string();
    }
    return path;
}

int run_send(const CommandLine& cl)
{
    const char* why = "";
    std::string payload = payload_to_send(cl, &why);
    if (payload.empty()) {
        fprintf(stderr, "moravista: nothing to send to player %d: %s\n", int(cl.send_pid), why);
        return 2;
    }
    char message[512] = "";
    int status = COPY_DATA_OK;
    CopyDataClient* client = platform_copy_data_connect(cl.send_pid, &status, message, sizeof message);
    if (!client) {
        fprintf(stderr, "moravista: cannot reach player %d: no session bus (%s)\n", int(cl.send_pid), message);
        return 2;
    }
    int64_t result = 0;
    // The payload goes with its terminating zero, as the message defines it.
    status = platform_copy_data_call(client, cl.send_code, payload.c_str(), payload.size() + 1, &result, message,
                                     sizeof message);
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
