#include "links/ram_space.h"

namespace ramspace {

namespace {
bool fits(uint32_t offset, uint32_t length, uint32_t size) { return offset <= size && length <= size - offset; }
}  // namespace

Target locate(uint32_t address, uint32_t length)
{
    Target t;
    if (address < kImageSize) {
        if (fits(address, length, kImageSize)) {
            t.space = kImage;
            t.offset = address;
        }
        return t;
    }
    if (address < kSlotStride * (kSlotCount + 1)) {
        uint32_t n = address / kSlotStride;
        uint32_t k = address % kSlotStride;
        if (fits(k, length, kSlotSize)) {
            t.space = kUserMode;
            t.slot = int(n - 1);
            t.offset = k;
        }
        return t;
    }
    if (address >= kCommandRamBase && address < kCommandRamBase + kCommandRamSize) {
        if (fits(address - kCommandRamBase, length, kCommandRamSize)) {
            t.space = kCommandRam;
            t.offset = address - kCommandRamBase;
        }
        return t;
    }
    if (address >= kFpgaRamBase && address < kFpgaRamBase + 2 * kFpgaStride) {
        uint32_t rel = address - kFpgaRamBase;
        uint32_t k = rel % kFpgaRamStride;
        if (fits(k, length, kFpgaRamSize)) {
            t.space = kFpgaRam;
            t.fpga = int(rel / kFpgaStride);
            t.ramId = int((rel % kFpgaStride) / kFpgaRamStride);
            t.offset = k;
        }
        return t;
    }
    return t;
}

}  // namespace ramspace
