// Fetches one address with the setup's downloader and prints how long it took, how many body
// bytes came and how often the file started over: `download_bench URL FILE`. Run under Wine by
// scripts/bench-download.
#include <windows.h>

#include <cstdio>

#include "net/file_downloader.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: download_bench URL FILE\n");
        return 2;
    }
    tessaryn::FileDownloader downloader;
    // Short waits: the cuts are the host's, not a busy network's.
    const tessaryn::RetrySchedule schedule{5, {100, 200, 400, 800}, 1000};
    const DWORD start = GetTickCount();
    const auto result = downloader.fetch({argv[1]}, argv[2], nullptr, nullptr, schedule);
    const DWORD ms = GetTickCount() - start;
    std::printf("{\"complete\": %s, \"ms\": %lu, \"received\": %llu, \"tries\": %d, "
                "\"restarts\": %d}\n",
                result.complete ? "true" : "false", static_cast<unsigned long>(ms),
                static_cast<unsigned long long>(result.bytesReceived), result.tries,
                result.restarts);
    return result.complete ? 0 : 1;
}
