// The SoC GPIO window: 16-bit pad registers at byte offsets of one mapped window. Writing 16
// drives a line high, 0 low; an input line is read in bit 0.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/bounded_log.h"

namespace platform {

class GpioWindow {
public:
    virtual ~GpioWindow() = default;
    // Grants and maps the window (board: ioctl on "/dev/msys", mmap of "/dev/mem"). 0, or 255
    // with nothing mapped. Safe to call again once mapped.
    virtual int map() = 0;
    virtual bool mapped() const = 0;
    virtual uint16_t read(uint32_t offset) = 0;
    virtual void write(uint32_t offset, uint16_t value) = 0;
};

class DevMemGpioWindow : public GpioWindow {
public:
    ~DevMemGpioWindow() override;
    int map() override;
    bool mapped() const override { return base_ != nullptr; }
    uint16_t read(uint32_t offset) override;
    void write(uint32_t offset, uint16_t value) override;

private:
    volatile uint8_t* base_ = nullptr;
    size_t length_ = 0;
};

// The simulated window: plain memory plus hooks, so device models can follow their select and
// reset lines, drive their interrupt lines, and tests can read the level history of a line.
class SimGpioWindow : public GpioWindow {
public:
    using Clock = std::chrono::steady_clock;
    struct Change { uint32_t offset; uint16_t value; Clock::time_point when; };
    using Listener = std::function<void(uint32_t offset, uint16_t value)>;

    int map() override;
    bool mapped() const override { return mapped_; }
    uint16_t read(uint32_t offset) override;
    void write(uint32_t offset, uint16_t value) override;

    // Back door for models: set an input level without recording it as a driver write.
    void drive(uint32_t offset, uint16_t value);
    // Called after every driver write (from the writer's thread).
    int addListener(Listener listener);
    void removeListener(int id);
    // Called before every driver read of a pad (from the reader's thread, no lock held): a model
    // whose inputs change with time brings the pad up to date.
    using ReadHook = std::function<void(uint32_t offset)>;
    int addReadHook(ReadHook hook);
    void removeReadHook(int id);
    // Writes seen on one line, in order.
    std::vector<Change> history(uint32_t offset) const;
    void clearHistory();
    void setMapFails(bool fails) { mapFails_ = fails; }

private:
    static constexpr size_t kHistoryLimit = 200000;   // writes kept for history()

    mutable std::mutex m_;
    std::map<uint32_t, uint16_t> pads_;
    BoundedLog<Change> history_{kHistoryLimit};
    // Replaced, never changed in place: a read or write calls the table it took under the lock
    // without copying it (the select lines toggle on every bus transfer).
    std::shared_ptr<const std::map<int, Listener>> listeners_ =
        std::make_shared<const std::map<int, Listener>>();
    std::shared_ptr<const std::map<int, ReadHook>> readHooks_ =
        std::make_shared<const std::map<int, ReadHook>>();
    int nextListener_ = 1;
    bool mapped_ = false;
    bool mapFails_ = false;
};

}  // namespace platform
