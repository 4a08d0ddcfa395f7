// Reads the touch panel's Linux input events ("/dev/input/event1") without waiting.
#pragma once

#include <string>

class TouchReader {
public:
    TouchReader() = default;
    ~TouchReader();
    TouchReader(const TouchReader&) = delete;
    TouchReader& operator=(const TouchReader&) = delete;

    // Opens the device (a system path, mapped under the root) non-blocking. False when absent.
    bool open(const std::string& systemPath);
    bool isOpen() const { return fd_ >= 0; }
    // Reads every event waiting; true when at least one whole event came in.
    bool drain();

private:
    int fd_ = -1;
    unsigned partial_ = 0;   // bytes of an event split across reads
};
