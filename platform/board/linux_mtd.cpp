#include "platform/mtd.h"
#include "platform/platform.h"

#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

int LinuxMtdBus::open(const std::string& devicePath)
{
    return ::open(rootPath(devicePath).c_str(), O_RDWR | O_SYNC);
}

int LinuxMtdBus::close(int fd) { return ::close(fd); }

int LinuxMtdBus::getInfo(int fd, MtdInfo& info)
{
    mtd_info_t mi{};
    if (::ioctl(fd, MEMGETINFO, &mi) != 0)
        return -1;
    info.size = mi.size;
    info.erasesize = mi.erasesize;
    info.writesize = mi.writesize;
    return 0;
}

int LinuxMtdBus::unlock(int fd, uint32_t start, uint32_t length)
{
    erase_info_t ei{start, length};
    return ::ioctl(fd, MEMUNLOCK, &ei) == 0 ? 0 : -1;
}

int LinuxMtdBus::erase(int fd, uint32_t start, uint32_t length)
{
    erase_info_t ei{start, length};
    return ::ioctl(fd, MEMERASE, &ei) == 0 ? 0 : -1;
}

long LinuxMtdBus::pwrite(int fd, const void* buf, size_t len, uint32_t offset)
{
    return ::pwrite(fd, buf, len, offset);
}

long LinuxMtdBus::pread(int fd, void* buf, size_t len, uint32_t offset)
{
    return ::pread(fd, buf, len, offset);
}

}  // namespace platform
