// The named GPIO lines of the SoC window that the FPGA manager maps: chip selects, command
// phases, flash path selects, resets and interrupt inputs of the two output FPGAs, plus the
// input-chip lines that the input-source manager drives. Each line is a 16-bit pad register:
// writing 16 drives it high, 0 low; an input is read in bit 0.
#pragma once

#include <cstdint>

namespace platform {
class GpioWindow;
}

enum class GpioLine : uint8_t {
    cs_fpga1,
    cs_fpga0,
    cmd_fpga0,
    rst_fpga0,
    sel_flash2,
    rst_fpga1,
    src_line_a,
    src_line_b,
    src_line_c,
    cmd_fpga1a,
    cmd_fpga1b,
    aux_reg,
    rst_sdi,
    irq_fpga0,
    sel_flash3a,
    sel_flash3b,
    irq_fpga1,
    Count
};

constexpr uint16_t kLineHigh = 16;
constexpr uint16_t kLineLow = 0;

// Byte offset of each line inside the window, indexed by GpioLine.
constexpr uint32_t kGpioLineOffset[static_cast<int>(GpioLine::Count)] = {
    0x207900,  // cs_fpga1
    0x207810,  // cs_fpga0
    0x207838,  // cmd_fpga0
    0x207858,  // rst_fpga0
    0x207860,  // sel_flash2
    0x207864,  // rst_fpga1
    0x207940,  // src_line_a
    0x207944,  // src_line_b
    0x207948,  // src_line_c
    0x20794C,  // cmd_fpga1a
    0x207954,  // cmd_fpga1b
    0x001F1C,  // aux_reg
    0x002848,  // rst_sdi
    0x207908,  // irq_fpga0
    0x20790C,  // sel_flash3a
    0x207950,  // sel_flash3b
    0x207910,  // irq_fpga1
};

// The lines over whichever window is in use. Until a window is mapped (or when mapping failed)
// the lines live in a private scratch window, so every access stays safe; nothing reaches a
// device then.
class FpgaLines {
public:
    FpgaLines();
    ~FpgaLines();
    FpgaLines(const FpgaLines&) = delete;
    FpgaLines& operator=(const FpgaLines&) = delete;

    // Switches to a mapped window (not owned); null returns to the scratch window.
    void use(platform::GpioWindow* window);
    bool mapped() const { return mapped_; }

    void set(GpioLine line, uint16_t level);
    uint16_t get(GpioLine line) const;
    // The input level in bit 0 (interrupt lines).
    bool input(GpioLine line) const { return (get(line) & 1) != 0; }

private:
    platform::GpioWindow* window_;
    platform::GpioWindow* scratch_;
    bool mapped_ = false;
};
