// quillet-resource-server: the program's local resource server on its own,
// for benchmarks, fuzzing and black-box tests. It listens on
// 127.0.0.1:12315 with its cache under the current directory and the
// upstream of the build configuration, until SIGINT or SIGTERM.
#include <cstdio>

#include "platform/termination.h"
#include "server/http_server.h"

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
    WaitForTermination();
    server.Stop();
    return 0;
}
