#include "links/serial_modules.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "core/global.h"
#include "core/utils.h"
#include "links/link_thread.h"
#include "platform/serial.h"

namespace {
constexpr int kWriteWaitMs = 100;
}

serial_modules::serial_modules(int portNumber)
{
    char name[32];
    std::snprintf(name, sizeof name, "/dev/ttyS%d", portNumber);
    path_ = name;
}

serial_modules::~serial_modules() { closePort(); }

void serial_modules::closePort()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool serial_modules::ensureOpen()
{
    if (fd_ >= 0)
        return true;
    fd_ = platform::serialOpen(path_, kBaud);
    if (fd_ >= 0)
        platform::serialSetTransmit(fd_, false);  // refused by pseudo-terminals; harmless
    return fd_ >= 0;
}

unsigned serial_modules::readSome(uint8_t* buf, unsigned size, int timeoutMs)
{
    if (!ensureOpen()) {
        waitReadable(-1, stopFd_, timeoutMs);
        return 0;
    }
    if (!waitReadable(fd_, stopFd_, timeoutMs))
        return 0;
    ssize_t got = ::read(fd_, buf, size);
    if (got > 0)
        return unsigned(got);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return 0;
    // The other end went away (a pseudo-terminal whose master closed): try again later.
    closePort();
    waitReadable(-1, stopFd_, timeoutMs);
    return 0;
}

int serial_modules::sendAll(const uint8_t* data, unsigned length)
{
    if (fd_ < 0)
        return -1;
    platform::serialSetTransmit(fd_, true);
    unsigned done = 0;
    int rc = 0;
    while (done < length) {
        ssize_t n = ::write(fd_, data + done, length - done);
        if (n > 0) {
            done += unsigned(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, kWriteWaitMs) > 0)
                continue;
        }
        rc = -1;
        break;
    }
    platform::serialDrain(fd_);
    platform::serialSetTransmit(fd_, false);
    return rc;
}
