// Word access to the parameter image and its shadow for the video engine (16-bit fields,
// little-endian, by image address).
#pragma once

#include <cstdint>

#include "core/ram_layout.h"

class ImageView {
public:
    explicit ImageView(const uint8_t* bytes) : bytes_(bytes) {}
    // The parameter image the engine works from: on a thread that holds an ImagePin, the pinned
    // copy; elsewhere the parameter model's image.
    static ImageView current();
    // The parameter model's shadow copy.
    static ImageView shadow();

    uint8_t byte(unsigned addr) const { return addr < kSize ? bytes_[addr] : 0; }
    uint16_t word(unsigned addr) const { return addr + 1 < kSize ? ram_get_u16(bytes_, addr) : 0; }
    // The colour temperature as the picture operations take it: mode in bits 0-7, blue gain in
    // 8-15, green gain in 16-23, red gain in 24-31 (low byte of each word).
    int colorTemp() const;
    // Input number of crop entry k (bits 0-3 of its first byte).
    uint8_t cropInput(unsigned k) const { return byte(ramaddr::cropEntry(k)) & 0x0F; }

    static constexpr unsigned kSize = ramaddr::kRamSize;

private:
    const uint8_t* bytes_;
};

// While it lives, the engine operations on this thread read `copy` as the parameter image, and
// the words they write into the image go into `copy` too: a change pass applies the one image it
// took, not a write that came in while it let go of para_mutex. Pins nest.
class ImagePin {
public:
    explicit ImagePin(uint8_t* copy);
    ~ImagePin();
    ImagePin(const ImagePin&) = delete;
    ImagePin& operator=(const ImagePin&) = delete;

private:
    uint8_t* previous_;
};

// Writes one 16-bit word of the parameter image (the caller holds para_mutex where needed; the
// model's mutex is taken here), and of the copy pinned on this thread.
void imageWriteWord(unsigned addr, uint16_t value);
// The parameter model's register and status area.
uint8_t* imageRegStatus();
