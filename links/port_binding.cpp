#include "links/port_binding.h"

#include <cerrno>
#include <cstring>
#include <string>

bool PortBinding::attempt(int port, const std::function<int()>& bind)
{
    const std::string what = std::string(link_) + " command port " + std::to_string(port);
    if (bind() == 0) {
        alerts::clear(kind_, what + " is bound now");
        return true;
    }
    const int err = errno;
    alerts::raise(kind_, what + " cannot be bound (" + std::strerror(err) + "): commands on it go unanswered; "
                         "binding is retried every second",
                  port);
    return false;
}
