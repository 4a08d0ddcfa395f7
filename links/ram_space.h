// The address spaces of the RAM commands (groups 0x60 and 0x61) and the range check that every
// access passes before a byte moves.
#pragma once

#include <cstdint>

namespace ramspace {

constexpr uint32_t kImageSize = 0x1000;
constexpr uint32_t kSlotStride = 0x1000;        // slot n at 0x1000 * n
constexpr uint32_t kSlotCount = 16;
constexpr uint32_t kSlotSize = 4098;            // marker and 4096 bytes
constexpr uint32_t kCommandRamBase = 0x00100000;
constexpr uint32_t kCommandRamSize = 1024;
constexpr uint32_t kFpgaRamBase = 0x01000000;
constexpr uint32_t kFpgaStride = 0x00100000;    // FPGA 0 or 1
constexpr uint32_t kFpgaRamStride = 0x1000;     // RAM id 0-255
constexpr uint32_t kFpgaRamSize = 1024;

enum Space { kNone, kImage, kUserMode, kCommandRam, kFpgaRam };

struct Target {
    Space space = kNone;
    uint32_t offset = 0;   // inside the target
    int slot = 0;          // user-mode slot index 0-15
    int fpga = 0;
    int ramId = 0;
};

// Where `length` bytes at `address` land; kNone when any of them would fall outside.
Target locate(uint32_t address, uint32_t length);

}  // namespace ramspace
