#include "platform/uevent.h"

#include <sys/socket.h>
#include <unistd.h>

namespace platform {

SimUeventSource::~SimUeventSource()
{
    for (const auto& p : pairs_) {
        ::close(p.first);
        ::close(p.second);
    }
}

int SimUeventSource::open()
{
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sv) != 0)
        return -1;
    std::lock_guard<std::mutex> lock(m_);
    pairs_.insert({sv[0], sv[1]});
    return sv[0];
}

int SimUeventSource::close(int fd)
{
    std::lock_guard<std::mutex> lock(m_);
    for (auto it = pairs_.begin(); it != pairs_.end(); ++it) {
        if (it->first == fd) {
            ::close(it->first);
            ::close(it->second);
            pairs_.erase(it);
            return 0;
        }
    }
    return -1;
}

bool SimUeventSource::inject(const std::string& event)
{
    std::lock_guard<std::mutex> lock(m_);
    bool sent = false;
    for (const auto& p : pairs_)
        sent |= ::send(p.second, event.data(), event.size(), MSG_DONTWAIT) == static_cast<ssize_t>(event.size());
    return sent;
}

}  // namespace platform
