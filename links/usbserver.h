// The USB hot-plug watcher: kernel uevents of USB devices on the board (100 added, 101 removed)
// and the appearance of "/proc/scsi/usb-storage" (102 storage ready), reported through
// sig_usb_update from its own thread. On the simulated board a stick is the directory
// "/mnt/usb1/" under the root: its appearance reports 100 and 102, its removal 101.
#pragma once

#include <QObject>

#include "links/link_thread.h"

class UsbServer : public QObject {
    Q_OBJECT

public:
    static constexpr int kAdded = 100;
    static constexpr int kRemoved = 101;
    static constexpr int kStorageReady = 102;

    static UsbServer* pInstance();
    static UsbServer* p_usbserver;

    // One pass of the thread: waits up to `timeoutMs` for events.
    void stepOnce(int timeoutMs);

signals:
    void sig_usb_update(int code);

private:
    UsbServer();
    ~UsbServer() override;
    void handleUevent(const char* msg, int length);
    void checkStorage();
    void checkSimStick();

    int netlink_ = -1;
    bool storage_ = false;
    bool stick_ = false;
    LinkThread thread_;
};
