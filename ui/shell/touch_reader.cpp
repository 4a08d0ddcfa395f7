#include "ui/shell/touch_reader.h"

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

TouchReader::~TouchReader()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool TouchReader::open(const std::string& systemPath)
{
    if (fd_ >= 0)
        return true;
    fd_ = ::open(platform::rootPath(systemPath).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return fd_ >= 0;
}

bool TouchReader::drain()
{
    if (fd_ < 0)
        return false;
    bool any = false;
    input_event events[16];
    for (;;) {
        const ssize_t n = ::read(fd_, events, sizeof(events));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;   // EAGAIN: nothing more waiting; 0: end of a recorded stream
        const unsigned total = partial_ + static_cast<unsigned>(n);
        if (total >= sizeof(input_event))
            any = true;
        partial_ = total % sizeof(input_event);
    }
    return any;
}
