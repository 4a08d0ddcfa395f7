#include "links/link_env.h"

#include <netinet/in.h>

#include <cstdlib>

#include "core/global.h"
#include "platform/platform.h"

namespace linkenv {

namespace {
int envPort(const char* name, int fallback)
{
    if (!platform::isSim())
        return fallback;
    const char* v = std::getenv(name);
    if (!v || !*v)
        return fallback;
    char* end = nullptr;
    long p = std::strtol(v, &end, 10);
    return (*end == 0 && p >= 0 && p <= 65535) ? int(p) : fallback;
}
}  // namespace

int tcpPort() { return envPort("ZEL_TCP_PORT", g_int_tcp_port); }
int udpPort() { return envPort("ZEL_UDP_PORT", kUdpPort); }
uint32_t udpReplyAddress() { return platform::isSim() ? INADDR_LOOPBACK : INADDR_BROADCAST; }
uint32_t listenAddress() { return platform::isSim() ? INADDR_LOOPBACK : INADDR_ANY; }

}  // namespace linkenv
