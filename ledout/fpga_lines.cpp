#include "ledout/fpga_lines.h"

#include <map>
#include <mutex>

#include "platform/gpio.h"

namespace {

// Plain memory standing in for the window while none is mapped.
class ScratchWindow : public platform::GpioWindow {
public:
    int map() override { return 0; }
    bool mapped() const override { return false; }
    uint16_t read(uint32_t offset) override
    {
        std::lock_guard<std::mutex> lock(m_);
        auto it = pads_.find(offset);
        return it == pads_.end() ? 0 : it->second;
    }
    void write(uint32_t offset, uint16_t value) override
    {
        std::lock_guard<std::mutex> lock(m_);
        pads_[offset] = value;
    }

private:
    std::mutex m_;
    std::map<uint32_t, uint16_t> pads_;
};

}  // namespace

FpgaLines::FpgaLines() : scratch_(new ScratchWindow) { window_ = scratch_; }

FpgaLines::~FpgaLines() { delete scratch_; }

void FpgaLines::use(platform::GpioWindow* window)
{
    window_ = window ? window : scratch_;
    mapped_ = window != nullptr;
}

void FpgaLines::set(GpioLine line, uint16_t level)
{
    auto index = static_cast<unsigned>(line);
    if (index >= static_cast<unsigned>(GpioLine::Count))
        return;
    window_->write(kGpioLineOffset[index], level);
}

uint16_t FpgaLines::get(GpioLine line) const
{
    auto index = static_cast<unsigned>(line);
    if (index >= static_cast<unsigned>(GpioLine::Count))
        return 0;
    return window_->read(kGpioLineOffset[index]);
}
