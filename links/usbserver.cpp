#include "links/usbserver.h"

#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "core/global.h"
#include "core/utils.h"
#include "platform/platform.h"

UsbServer* UsbServer::p_usbserver = nullptr;

namespace {
constexpr int kPollMs = 50;
constexpr const char* kStorageMark = "/proc/scsi/usb-storage";
constexpr const char* kSimStick = "/mnt/usb1/";
}  // namespace

UsbServer::UsbServer()
{
    writeLogMsg(LOG_BANNER, "====UsbServer::UsbServer()=====");
    if (platform::isSim())
        return;
    netlink_ = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (netlink_ < 0) {
        writeLogMsg(LOG_FAILURE, "usb netlink socket");
        return;
    }
    sockaddr_nl a{};
    a.nl_family = AF_NETLINK;
    a.nl_pid = 0;
    a.nl_groups = 1;
    if (::bind(netlink_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        writeLogMsg(LOG_FAILURE, "usb netlink bind");
        ::close(netlink_);
        netlink_ = -1;
    }
}

UsbServer::~UsbServer()
{
    if (netlink_ >= 0)
        ::close(netlink_);
}

UsbServer* UsbServer::pInstance()
{
    if (!p_usbserver) {
        p_usbserver = new UsbServer();
        p_usbserver->thread_.start([] { p_usbserver->stepOnce(kPollMs); });
    }
    return p_usbserver;
}

void UsbServer::stepOnce(int timeoutMs)
{
    if (netlink_ < 0) {
        ::usleep(unsigned(timeoutMs) * 1000);
        if (platform::isSim())
            checkSimStick();
        return;
    }
    pollfd p{netlink_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) > 0) {
        char buf[4096];
        ssize_t n = ::recv(netlink_, buf, sizeof buf - 1, 0);
        if (n > 0) {
            buf[n] = 0;
            handleUevent(buf, int(n));
        }
    }
    checkStorage();
}

// A uevent is "action@devpath" followed by NUL-separated KEY=value lines.
void UsbServer::handleUevent(const char* msg, int length)
{
    std::string head(msg, strnlen(msg, size_t(length)));
    bool usbDevice = false;
    for (int i = int(head.size()) + 1; i < length;) {
        const char* line = msg + i;
        size_t n = strnlen(line, size_t(length - i));
        if (std::strncmp(line, "DEVTYPE=usb_device", n) == 0 && n == std::strlen("DEVTYPE=usb_device"))
            usbDevice = true;
        i += int(n) + 1;
    }
    if (!usbDevice)
        return;
    if (head.rfind("add@", 0) == 0)
        emit sig_usb_update(kAdded);
    else if (head.rfind("remove@", 0) == 0)
        emit sig_usb_update(kRemoved);
}

void UsbServer::checkStorage()
{
    bool now = ::access(platform::rootPath(kStorageMark).c_str(), F_OK) == 0;
    if (now && !storage_)
        emit sig_usb_update(kStorageReady);
    storage_ = now;
}

void UsbServer::checkSimStick()
{
    bool now = ::access(platform::rootPath(kSimStick).c_str(), F_OK) == 0;
    if (now && !stick_) {
        emit sig_usb_update(kAdded);
        emit sig_usb_update(kStorageReady);
    } else if (!now && stick_) {
        emit sig_usb_update(kRemoved);
    }
    stick_ = now;
}
