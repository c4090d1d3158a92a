// Appends many entries to a running player through its data-message method
// over the session bus, one call after another on one connection, and
// reports the total time and the spread of single calls. A call is answered
// only after the window thread has handled it, so the slowest call bounds
// the longest the window thread was kept from its other work.
//
// Usage: copy_data_bench PID [COUNT]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        fputs("usage: copy_data_bench PID [COUNT]\n", stderr);
        return 2;
    }
    int32_t pid = int32_t(atoi(argv[1]));
    int count = argc > 2 ? atoi(argv[2]) : 10000;
    char message[512] = "";
    int status = 0;
    CopyDataClient* client = platform_copy_data_connect(pid, &status, message, sizeof message);
    if (!client) {
        fprintf(stderr, "copy_data_bench: %s\n", message);
        return 2;
    }
    using clock = std::chrono::steady_clock;
    std::vector<double> call_ms;
    call_ms.reserve(size_t(count));
    int64_t first_index = -1, last_index = -1;
    auto start = clock::now();
    for (int i = 0; i < count; i++) {
        std::string path = "/media/bench/entry_" + std::to_string(i) + ".mkv";
        int64_t result = 0;
        auto before = clock::now();
        status = platform_copy_data_call(client, 0x6170, path.c_str(), path.size() + 1, &result, message,
                                         sizeof message);
        call_ms.push_back(std::chrono::duration<double, std::milli>(clock::now() - before).count());
        if (status != COPY_DATA_OK) {
            fprintf(stderr, "copy_data_bench: call %d failed: %s\n", i, message);
            return 1;
        }
        if (i == 0)
            first_index = result;
        last_index = result;
    }
    double total_s = std::chrono::duration<double>(clock::now() - start).count();
    platform_copy_data_close(client);
    std::vector<double> sorted = call_ms;
    std::sort(sorted.begin(), sorted.end());
    auto at = [&](double q) { return sorted[std::min(sorted.size() - 1, size_t(q * double(sorted.size())))]; };
    printf("{\"calls\":%d,\"total_s\":%.3f,\"call_ms\":{\"median\":%.3f,\"p99\":%.3f,\"max\":%.3f},"
           "\"first_index\":%lld,\"last_index\":%lld}\n",
           count, total_s, at(0.5), at(0.99), sorted.back(), (long long)first_index, (long long)last_index);
    return 0;
}
