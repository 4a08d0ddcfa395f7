#include "links/usbserver.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "core/global.h"
#include "core/utils.h"
#include "platform/platform.h"
#include "platform/uevent.h"

UsbServer* UsbServer::p_usbserver = nullptr;

namespace {
constexpr const char* kStorageMark = "/proc/scsi/usb-storage";
constexpr const char* kSimStick = "/mnt/usb1/";
}  // namespace

UsbServer::UsbServer()
{
    writeLogMsg(LOG_BANNER, "====UsbServer::UsbServer()=====");
    netlink_ = platform::uevents().open();
    if (netlink_ < 0)
        writeLogMsg(LOG_FAILURE, "usb uevent socket");
}

UsbServer::~UsbServer()
{
    if (netlink_ >= 0)
        platform::uevents().close(netlink_);
}

UsbServer* UsbServer::pInstance()
{
    if (!p_usbserver) {
        p_usbserver = new UsbServer();
        p_usbserver->thread_.start([] { p_usbserver->stepOnce(LinkThread::kStepWaitMs); });
    }
    return p_usbserver;
}

void UsbServer::stepOnce(int timeoutMs)
{
    if (waitReadable(netlink_, thread_.stopFd(), timeoutMs)) {
        char buf[4096];
        ssize_t n = ::recv(netlink_, buf, sizeof buf - 1, MSG_DONTWAIT);
        if (n > 0) {
            buf[n] = 0;
            handleUevent(buf, int(n));
        }
    }
    checkStorage();
    if (platform::isSim())
        checkSimStick();
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
