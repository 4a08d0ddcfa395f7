#include "platform/uevent.h"

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

int NetlinkUeventSource::open()
{
    int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (fd < 0)
        return -1;
    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    addr.nl_pid = 0;     // let the kernel pick
    addr.nl_groups = 1;  // kernel events
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int NetlinkUeventSource::close(int fd) { return ::close(fd); }

}  // namespace platform
