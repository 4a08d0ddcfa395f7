// Kernel hot-plug events, as the USB watcher reads them: one event per recv(), its fields
// separated by zero bytes ("add@/devices/...", "ACTION=add", "SUBSYSTEM=usb", ...).
#pragma once

#include <mutex>
#include <set>
#include <string>

namespace platform {

class UeventSource {
public:
    virtual ~UeventSource() = default;
    // A descriptor to recv() events from (blocking unless the caller sets O_NONBLOCK); -1 on
    // failure.
    virtual int open() = 0;
    virtual int close(int fd) = 0;
};

// The board: a NETLINK_KOBJECT_UEVENT socket bound to the kernel's event group.
class NetlinkUeventSource : public UeventSource {
public:
    int open() override;
    int close(int fd) override;
};

// The simulated board: a datagram socket pair per opened descriptor; tests inject events.
class SimUeventSource : public UeventSource {
public:
    ~SimUeventSource() override;
    int open() override;
    int close(int fd) override;
    // Back door: delivers one event to every open descriptor. `event` holds the zero-separated
    // fields. False when no descriptor is open.
    bool inject(const std::string& event);

private:
    std::mutex m_;
    std::set<std::pair<int, int>> pairs_;  // (reader handed out, writer kept)
};

}  // namespace platform
