#include "platform/platform.h"
#include "platform/serial.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

namespace {
speed_t baudConstant(int baud)
{
    switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 230400: return B230400;
    case 460800: return B460800;
    default: return B115200;
    }
}
}  // namespace

int serialOpen(const std::string& devicePath, int baud)
{
    int fd = ::open(rootPath(devicePath).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        ::close(fd);
        return -1;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSTOPB | PARENB | CSIZE | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, baudConstant(baud));
    ::cfsetospeed(&tio, baudConstant(baud));
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        ::close(fd);
        return -1;
    }
    ::tcflush(fd, TCIOFLUSH);
    return fd;
}

int serialSetTransmit(int fd, bool transmit)
{
    int bits = 0;
    if (::ioctl(fd, TIOCMGET, &bits) != 0)
        return -1;
    if (transmit)
        bits |= TIOCM_RTS;
    else
        bits &= ~TIOCM_RTS;
    return ::ioctl(fd, TIOCMSET, &bits) == 0 ? 0 : -1;
}

void serialDrain(int fd) { ::tcdrain(fd); }

}  // namespace platform
