#include "platform/i2c.h"
#include "platform/platform.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <vector>

namespace platform {

int I2cDevBus::open(const std::string& devicePath)
{
    return ::open(rootPath(devicePath).c_str(), O_RDWR);
}

int I2cDevBus::close(int fd) { return ::close(fd); }

int I2cDevBus::transfer(int fd, I2cMessage* msgs, unsigned count)
{
    std::vector<i2c_msg> m(count);
    for (unsigned i = 0; i < count; ++i) {
        m[i].addr = msgs[i].addr;
        m[i].flags = msgs[i].read ? I2C_M_RD : 0;
        m[i].len = msgs[i].len;
        m[i].buf = msgs[i].buf;
    }
    i2c_rdwr_ioctl_data data;
    data.msgs = m.data();
    data.nmsgs = count;
    return ::ioctl(fd, I2C_RDWR, &data);
}

}  // namespace platform
