// "/dev/mem" users of the board: the GPIO window granted by "/dev/msys", and the SoC identity.
#include "platform/gpio.h"
#include "platform/platform.h"
#include "platform/soc.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {

namespace {
constexpr unsigned long kMsysRequestDmem = 0x5315;
constexpr uint32_t kMsysMagic = 0x4D530100;
constexpr uint32_t kSocWindowBase = 0x1F000000;
constexpr size_t kSocWindowLength = 0x2B0000;
constexpr uint32_t kSocIdControl = 0x400C;
constexpr uint32_t kSocIdWords[3] = {0x4058, 0x405C, 0x4060};
}  // namespace

DevMemGpioWindow::~DevMemGpioWindow()
{
    if (base_)
        ::munmap(const_cast<uint8_t*>(base_), length_);
}

int DevMemGpioWindow::map()
{
    if (base_)
        return 0;
    uint32_t request[6] = {kMsysMagic, 0, 0, 0, 20, 0};
    int msys = ::open(rootPath("/dev/msys").c_str(), O_RDWR | O_SYNC);
    if (msys < 0)
        return 255;
    int mem = ::open(rootPath("/dev/mem").c_str(), O_RDWR | O_SYNC);
    if (mem < 0) {
        ::close(msys);
        return 255;
    }
    int rc = ::ioctl(msys, kMsysRequestDmem, request);
    ::close(msys);
    if (rc != 0) {
        ::close(mem);
        return 255;
    }
    void* p = ::mmap(nullptr, request[3], PROT_READ | PROT_WRITE, MAP_SHARED, mem, request[1]);
    ::close(mem);
    if (p == MAP_FAILED || p == nullptr)
        return 255;
    base_ = static_cast<volatile uint8_t*>(p);
    length_ = request[3];
    return 0;
}

uint16_t DevMemGpioWindow::read(uint32_t offset)
{
    if (!base_ || offset + 2 > length_)
        return 0;
    return *reinterpret_cast<volatile uint16_t*>(base_ + offset);
}

void DevMemGpioWindow::write(uint32_t offset, uint16_t value)
{
    if (!base_ || offset + 2 > length_)
        return;
    *reinterpret_cast<volatile uint16_t*>(base_ + offset) = value;
}

bool DevMemSocIdentity::read(uint16_t words[3])
{
    int fd = ::open(rootPath("/dev/mem").c_str(), O_RDWR | O_SYNC);
    if (fd < 0)
        return false;
    void* p = ::mmap(nullptr, kSocWindowLength, PROT_READ | PROT_WRITE, MAP_SHARED, fd, kSocWindowBase);
    ::close(fd);
    if (p == MAP_FAILED)
        return false;
    auto* base = static_cast<volatile uint8_t*>(p);
    auto reg = [base](uint32_t off) { return reinterpret_cast<volatile uint16_t*>(base + off); };
    *reg(kSocIdControl) = *reg(kSocIdControl) & static_cast<uint16_t>(~0x100u);
    for (int i = 0; i < 3; ++i)
        words[i] = *reg(kSocIdWords[i]);
    ::munmap(p, kSocWindowLength);
    return true;
}

}  // namespace platform
