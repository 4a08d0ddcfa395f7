// The ranges of the parameter image's persisted fields, as one table, and the check that holds
// a loaded image to them. A field out of its range takes its factory default; a file with many
// fields out of range is damaged as a whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace paramcheck {

enum class Rule : uint8_t {
    Range,          // lo <= value <= hi
    Bits,           // no bit outside the mask `hi`
    WindowSource,   // bit 15 clear: an input 0..hi; set: a crop entry index 0..lo in the low byte
    CropId,         // bit 7 the valid mark, bits 0-6 a crop id - 1 of 0..hi
    Span,           // a position (here) and a size (at +kSpanSize), each 0..hi, together ending
                    // by hi
};

// A run of `count` fields `stride` bytes apart, each `width` bytes (1, or 2 little-endian).
struct FieldRange {
    const char* name;
    uint16_t address;
    uint8_t count;
    uint8_t stride;
    uint8_t width;
    Rule rule;
    uint16_t lo, hi;
};

constexpr unsigned kSpanSize = 4;   // the size lies 4 bytes after its position in every record

// The table, walked in order (the LED size before the rectangles it bounds).
const std::vector<FieldRange>& fieldRanges();

// Whether field `index` of row `r` holds a value within its range in `image`.
bool fieldInRange(const FieldRange& r, unsigned index, const unsigned char* image);

// Gives every field of `image` (a 4096-byte image) out of its range its default from the factory
// table; one line per repair is appended to `repairs`. Returns the number of the table's rows
// (kinds of field) with a repair.
unsigned repairImage(unsigned char* image, std::vector<std::string>& repairs);

// More kinds of field out of range than this (a quarter of the table): the file is damaged as a
// whole rather than edited in a few places.
constexpr unsigned kDamagedFileRows = 9;

}  // namespace paramcheck
