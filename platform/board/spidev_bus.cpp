#include "platform/platform.h"
#include "platform/spi.h"

#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace platform {

int SpidevBus::open(const std::string& devicePath)
{
    return ::open(rootPath(devicePath).c_str(), O_RDWR);
}

int SpidevBus::close(int fd) { return ::close(fd); }

int SpidevBus::configure(int fd, uint8_t mode, uint8_t bits, uint32_t maxSpeedHz)
{
    if (::ioctl(fd, SPI_IOC_WR_MODE, &mode) < 0)
        return -1;
    if (::ioctl(fd, SPI_IOC_WR_BITS_PER_WORD, &bits) < 0)
        return -1;
    if (::ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &maxSpeedHz) < 0)
        return -1;
    return 0;
}

int SpidevBus::transfer(int fd, const SpiTransfer* xfers, unsigned count)
{
    std::vector<spi_ioc_transfer> tr(count);
    for (unsigned i = 0; i < count; ++i) {
        std::memset(&tr[i], 0, sizeof tr[i]);
        tr[i].tx_buf = reinterpret_cast<uintptr_t>(xfers[i].tx);
        tr[i].rx_buf = reinterpret_cast<uintptr_t>(xfers[i].rx);
        tr[i].len = xfers[i].len;
        tr[i].speed_hz = xfers[i].speed_hz;
        tr[i].bits_per_word = xfers[i].bits_per_word;
        tr[i].cs_change = xfers[i].cs_change ? 1 : 0;
    }
    return ::ioctl(fd, SPI_IOC_MESSAGE(count), tr.data());
}

}  // namespace platform
