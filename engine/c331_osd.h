// On-screen display state of the video engine and the layout of the chip's serial flash.
#pragma once

#include <cstdint>

namespace c331osd {

// ---- serial flash --------------------------------------------------------------------------------
constexpr uint32_t kFlashSize = 32u << 20;   // 4-byte addresses; the palette lies beyond 16 MiB
constexpr uint32_t kFontHeadLen = 35;        // head in front of a font's glyph data
constexpr uint8_t kFontPresent = 'P';

// The four fonts, in the order they are copied into chip memory.
enum Font { kAscii32, kCjk32, kAscii64, kCjk64, kFonts };
struct FontArea {
    uint32_t head;        // flash address of the head
    int managerBit;       // bit of the manager's presence set
    uint8_t statusBits;   // bits of the font status byte the protocol reads
};
constexpr FontArea kFontAreas[kFonts] = {
    {0x000000, 2, 0x01}, {0x010000, 1, 0x02}, {0x410000, 8, 0x14}, {0x450000, 4, 0x28}};
constexpr uint8_t kFontStatusMask = 0x3F;
constexpr unsigned kFontStatusByte = 43;     // in the parameter model's register and status area

// ---- text buffer ---------------------------------------------------------------------------------
constexpr int kTextLines = 64;         // the OSD-menu file hands over up to 64 lines
constexpr int kLineCodes = 128;              // 127 codes and the terminating 0

// The settings zelApi_OsdSet stores (see its table of types).
struct Settings {
    int display = 0;
    int hzoom = 0, vzoom = 0;
    int charMode = 0;
    int scrollMode = 0;
    int outLeft = 0, outRight = 0, outTop = 0, outBottom = 0;
    int srcLeft = 0, srcRight = 0, srcTop = 0, srcBottom = 0;
    int speed = 0;
    int large = 0;
    int update = 0;
    uint32_t bgColor = 0, charColor = 0;   // BBGGRR
    int transparent = 0;
    int width = 0, height = 0;
    int textLeft = 0, textTop = 0;
    int bit15 = 0;
    int charSpace = 0, lineSpace = 0;
    // Character-mode fonts (flash address and size of the glyph data) and bitmap-mode sources.
    uint32_t fontFlash[kFonts] = {};
    uint32_t fontSize[kFonts] = {};
    uint32_t bmpFlash = 0, bmpWidth = 0, bmpHeight = 0, paletteFlash = 0;
};

// Line stride of an OSD buffer `width` pixels wide: the stride register value and the wide flag.
struct Stride {
    uint32_t value;
    bool wide;
    uint32_t pitchBytes() const { return value * 128u * (wide ? 4u : 1u); }
};
constexpr Stride strideOf(uint32_t width)
{
    uint32_t s = 2 * ((width + 127) / 128);
    s = (s + 3) / 4 * 4;
    return s > 64 ? Stride{s / 4, true} : Stride{s, false};
}

// Glyph index of a character code in a font area of `asciiGlyphs` ASCII glyphs followed by the
// CJK glyphs; -1 for a code that no font holds.
constexpr int glyphIndex(uint32_t code, uint32_t asciiGlyphs)
{
    if (code >= 32 && code <= 127)
        return int(code - 32);
    if (code >= 0x4E00 && code <= 0x9FFF)
        return int((asciiGlyphs + (code - 0x4E00)) & 0xFFFF);
    return -1;
}

// One output channel's part of the OSD (calc_osd).
struct Segment {
    int x = 0, width = 0;
    int y = 0, height = 0;
    bool firstColumn = false, lastColumn = false;
    bool firstRow = false, lastRow = false;
};

}  // namespace c331osd
