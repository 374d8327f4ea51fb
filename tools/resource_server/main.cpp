// quillet-resource-server: the program's local resource server on its own,
// for benchmarks, fuzzing and black-box tests. It listens on
// 127.0.0.1:12315 with its cache under the current directory and the
// upstream of the build configuration, until SIGINT or SIGTERM.
//
// A line "settle" on standard input waits until the cache folder is at rest
// (no fetch or store in progress, no count or eviction running or wanted),
// up to a minute, and answers "cache settled" or "cache busy" on standard
// output: tests that look into the folder ask first.
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/termination.h"
#include "server/http_server.h"

namespace {

const int SETTLE_TIMEOUT_MS = 60000;

void AnswerQuestions(CHTTPServer& server)
{
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        if (std::strcmp(line, "settle\n") != 0) continue;
        std::puts(server.WaitUntilCacheSettled(SETTLE_TIMEOUT_MS) ? "cache settled" : "cache busy");
        std::fflush(stdout);
    }
}

}  // namespace

int main()
{
    PrepareForTermination();
    CHTTPServer server;
    if (!server.StartServer()) {
        std::fprintf(stderr, "quillet-resource-server: cannot listen on 127.0.0.1:%d\n", LOCAL_SERVER_PORT);
        return 1;
    }
    std::printf("quillet-resource-server: listening on 127.0.0.1:%d, cache %s (limit %llu bytes), upstream %s\n",
                LOCAL_SERVER_PORT, server.CacheRoot().c_str(), static_cast<unsigned long long>(server.CacheLimit()),
                UpstreamBase().c_str());
    std::fflush(stdout);
    // Blocked in a read of standard input until the process ends.
    std::thread(AnswerQuestions, std::ref(server)).detach();
    WaitForTermination();
    server.Stop();
    return 0;
}
