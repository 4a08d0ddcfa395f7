// Group 0x82: version and device information.
// Reply data: 4 version bytes (major, minor, patch, build), then the 32-character device id.
#include <cstring>

#include "core/global.h"
#include "links/message_deal.h"

namespace {
constexpr uint8_t kVersion[4] = {1, 0, 0, 0};
constexpr unsigned kPidLength = 32;
}  // namespace

void message_deal::read_version(const uint8_t*, unsigned, Reply& r)
{
    uint8_t pid[kPidLength];
    std::memset(pid, 0, sizeof pid);
    std::memcpy(pid, g_pid, strnlen(g_pid, kPidLength));
    r.append(kVersion, sizeof kVersion);
    r.append(pid, sizeof pid);
}
