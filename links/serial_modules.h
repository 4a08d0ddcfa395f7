// One RS-485 serial port of a link: opened raw at 115200 8N1, transmit direction on RTS. A port
// that is not there yet is retried, so the link comes up when its device appears.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class serial_modules {
public:
    static constexpr int kBaud = 115200;

    explicit serial_modules(int portNumber);   // "/dev/ttyS%d"
    ~serial_modules();

    // Opens the port if it is closed. True while it is open.
    bool ensureOpen();
    int fd() const { return fd_.load(); }
    bool isOpen() const { return fd_.load() >= 0; }
    const std::string& devicePath() const { return path_; }

    // Waits up to `timeoutMs` for bytes; the count read into `buf` (0 when none). A port that
    // failed is closed and reopened later. A signalled stop descriptor ends the wait.
    unsigned readSome(uint8_t* buf, unsigned size, int timeoutMs);
    void setStopFd(int fd) { stopFd_ = fd; }
    // Sends all bytes with the transmit direction switched on around them. 0 or -1.
    int sendAll(const uint8_t* data, unsigned length);

    serial_modules(const serial_modules&) = delete;
    serial_modules& operator=(const serial_modules&) = delete;

private:
    void closePort();

    std::string path_;
    std::atomic<int> fd_{-1};
    int stopFd_ = -1;
};
