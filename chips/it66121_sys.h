// The SDI path of the box: the GS2971 SDI receiver and the IT66121 transmitter behind it.
// Only the receiver's reset is driven here; the transmitter's own driver is not part of this
// program.
#pragma once

class it66121_sys {
public:
    it66121_sys() = default;

    // Drives the GS2971's reset line (`rst_sdi`) low, waits 50 ms, then writes 1. Blocks the
    // caller for the 50 ms and reports no failure.
    void GS2971_Reset();
};
