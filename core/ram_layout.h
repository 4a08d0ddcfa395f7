// Layout of the 4096-byte parameter image ram_para (16-bit fields little-endian), its user-mode
// slots and the factory table default_para_ramlist built from the field defaults.
#pragma once

#include <cstdint>

namespace ramaddr {

constexpr unsigned kRamSize = 4096;
constexpr unsigned kPersistStart = 0x300;      // 0x300-0xFFF goes to "/data/ram_device_info"
constexpr unsigned kPersistLen = kRamSize - kPersistStart;   // 3328
constexpr unsigned kModeStart = 0x380;         // 0x380-0xFFF is the content of a user mode
constexpr unsigned kModeLen = kRamSize - kModeStart;         // 3200

constexpr unsigned kUserModeCount = 16;
constexpr unsigned kSlotMarkerLen = 2;         // AA AA saved, FF FF empty
constexpr unsigned kSlotSize = kSlotMarkerLen + kRamSize;    // 4098
constexpr unsigned kModeFileLen = 4096;        // marker + first 4094 content bytes
constexpr unsigned kRegStatusSize = 1064;

// Input summary of input i (not persisted): u16 width, u16 height, u8 rate, u8 no-signal flag.
constexpr unsigned kInputSummary = 0x100;      // + 6 * i, i = 0-5
constexpr unsigned kInputSummaryEnd = 0x124;

constexpr unsigned kLanguage = 0x300;
constexpr unsigned kUnused302 = 0x302;
constexpr unsigned kPanelLock = 0x304;         // 1 front panel locked
constexpr unsigned kWifiOff = 0x306;           // 0 on, 1 off
constexpr unsigned kTestPattern = 0x360;       // 0 off, n + 1 pattern n
constexpr unsigned kCurrentMode = 0x362;       // 1-16, 0 none
constexpr unsigned kSaveRequest = 0x364;       // save the image as user mode n (1-16)
constexpr unsigned kEdidTiming = 0x380;        // + 6 * port: u16 width, height, refresh
constexpr unsigned kSpliceMode = 0x560;
constexpr unsigned kLedWidth = 0x562;
constexpr unsigned kLedHeight = 0x564;
constexpr unsigned kLedX = 0x566;
constexpr unsigned kLedY = 0x568;
constexpr unsigned kOchNumH = 0x56A;
constexpr unsigned kOchNumV = 0x56C;
constexpr unsigned kOchW = 0x56E;
constexpr unsigned kOchH = 0x570;
constexpr unsigned kSplitFlag = 0x572;
constexpr unsigned kOutputArea = 0x580;        // + 8 * j: u16 x, y, width, height
constexpr unsigned kCropTable = 0x5C0;         // + 10 * e, e = 0-39
constexpr unsigned kCropEntrySize = 10;
constexpr unsigned kCropEntries = 40;
constexpr unsigned kCropPatternEnd = 0x840;    // the factory table repeats crop entries up to here
constexpr unsigned kAudioWindow = 0x840;
constexpr unsigned kDotByDot = 0x842;
constexpr unsigned kScreenClosed = 0x844;
constexpr unsigned kSwitchEffect = 0x846;
constexpr unsigned kOsdOn = 0x84C;
constexpr unsigned kBrightness = 0x880;
constexpr unsigned kContrast = 0x882;
constexpr unsigned kSharpness = 0x884;
constexpr unsigned kSaturation = 0x886;
constexpr unsigned kColorTempMode = 0x888;
constexpr unsigned kRedGain = 0x88A;
constexpr unsigned kGreenGain = 0x88C;
constexpr unsigned kBlueGain = 0x88E;
constexpr unsigned kPriority = 0x8A0;          // + 2 * w, w = 0-15
constexpr unsigned kUnused8DE = 0x8DE;
constexpr unsigned kWindows = 0x8E0;           // + 26 * w, w = 0-15
constexpr unsigned kWindowSize = 26;
constexpr unsigned kWindowSlots = 16;
constexpr unsigned kUsedWindows = 6;
constexpr unsigned kFadeIn = 0xB00;            // + 4 * w
constexpr unsigned kFadeOut = 0xB02;           // + 4 * w

// Window record offsets.
constexpr unsigned kWinState = 0;              // bit 0 enabled
constexpr unsigned kWinMirror = 4;
constexpr unsigned kWinBackup = 6;
constexpr unsigned kWinSource = 8;             // bit 15 clear: input; set: crop entry index
constexpr unsigned kWinX = 10;
constexpr unsigned kWinY = 12;
constexpr unsigned kWinWidth = 14;
constexpr unsigned kWinHeight = 16;
constexpr unsigned kWinFlags = 18;             // bit 0 black, 1 frozen, 2 fade, 8 dot-by-dot
constexpr unsigned kWinVolume = 20;
constexpr unsigned kWinSound = 21;             // bit 7 sound on
constexpr unsigned kWinDbdMode = 22;

constexpr uint16_t kWinSourceCrop = 0x8000;
constexpr uint16_t kWinFlagBlack = 0x0001;
constexpr uint16_t kWinFlagFrozen = 0x0002;
constexpr uint8_t kCropValid = 0x80;

constexpr unsigned window(unsigned w) { return kWindows + kWindowSize * w; }
constexpr unsigned cropEntry(unsigned e) { return kCropTable + kCropEntrySize * e; }

}  // namespace ramaddr

// Little-endian 16-bit access to an image (or any buffer laid out like it).
constexpr uint16_t ram_get_u16(const unsigned char* buf, unsigned addr)
{
    return static_cast<uint16_t>(buf[addr] | (buf[addr + 1] << 8));
}
constexpr void ram_set_u16(unsigned char* buf, unsigned addr, uint16_t value)
{
    buf[addr] = static_cast<unsigned char>(value & 0xFF);
    buf[addr + 1] = static_cast<unsigned char>(value >> 8);
}

// ---- factory table ------------------------------------------------------------------------------
// default_para_ramlist: marker AA AA, the default content of image 0x300-0xFFF (table byte j is
// image address j + 0x2FE), then zeros to 4096 bytes. It is built from the field defaults below.
namespace default_para {

struct Word {
    uint16_t address;
    uint16_t value;
};

// Single fields with a nonzero default.
constexpr Word kFields[] = {
    {ramaddr::kUnused302, 100},
    {ramaddr::kSpliceMode, 4},       // both outputs show the whole screen
    {ramaddr::kLedWidth, 1920},
    {ramaddr::kLedHeight, 1080},
    {ramaddr::kOchNumH, 1},
    {ramaddr::kOchNumV, 1},
    {ramaddr::kOchW, 1920},
    {ramaddr::kOchH, 1080},
    {ramaddr::kBrightness, 100},
    {ramaddr::kContrast, 50},
    {ramaddr::kSharpness, 10},
    {ramaddr::kSaturation, 50},
    {ramaddr::kColorTempMode, 2},
    {ramaddr::kRedGain, 64},
    {ramaddr::kGreenGain, 64},
    {ramaddr::kBlueGain, 64},
    {ramaddr::kUnused8DE, 1},
};

struct Timing {
    uint16_t width, height, refresh;
};
// Requested EDID timing of inputs 0-5.
constexpr Timing kEdidTimings[6] = {
    {1920, 1080, 60}, {1920, 1080, 60}, {1920, 1080, 60},
    {1920, 1080, 60}, {3840, 2160, 60}, {3840, 2160, 60},
};

struct Area {
    uint16_t x, y, width, height;
};
constexpr Area kOutputAreas[2] = {{0, 0, 1920, 1080}, {0, 0, 1920, 1080}};

struct Window {
    uint16_t state, source;
};
// Windows 0-5 (all at 0, 0, 1920 x 1080, flags 0); windows 6-15 are all zero.
constexpr Window kWindows[6] = {{1, 2}, {0, 5}, {0, 3}, {0, 4}, {0, 1}, {0, 0}};
constexpr Area kWindowArea = {0, 0, 1920, 1080};

// Crop table 0x5C0-0x74F and the repeated pattern up to 0x83F: source 2, not valid, full HD;
// the entry at 0x82C has width 0.
constexpr uint8_t kCropSource = 2;
constexpr Area kCropArea = {0, 0, 1920, 1080};
constexpr unsigned kCropZeroWidthEntry = 0x82C;

struct Table {
    unsigned char bytes[ramaddr::kRamSize];
};

constexpr unsigned kImageToTable = 2 - ramaddr::kPersistStart;   // table byte = image address - 0x2FE

constexpr void put(Table& t, unsigned imageAddr, uint16_t value)
{
    ram_set_u16(t.bytes, imageAddr + kImageToTable, value);
}

constexpr void putArea(Table& t, unsigned imageAddr, const Area& a)
{
    put(t, imageAddr, a.x);
    put(t, imageAddr + 2, a.y);
    put(t, imageAddr + 4, a.width);
    put(t, imageAddr + 6, a.height);
}

constexpr Table build()
{
    Table t{};
    t.bytes[0] = 0xAA;
    t.bytes[1] = 0xAA;
    for (const Word& f : kFields)
        put(t, f.address, f.value);
    for (unsigned p = 0; p < 6; ++p) {
        put(t, ramaddr::kEdidTiming + 6 * p, kEdidTimings[p].width);
        put(t, ramaddr::kEdidTiming + 6 * p + 2, kEdidTimings[p].height);
        put(t, ramaddr::kEdidTiming + 6 * p + 4, kEdidTimings[p].refresh);
    }
    for (unsigned j = 0; j < 2; ++j)
        putArea(t, ramaddr::kOutputArea + 8 * j, kOutputAreas[j]);
    for (unsigned a = ramaddr::kCropTable; a < ramaddr::kCropPatternEnd; a += ramaddr::kCropEntrySize) {
        t.bytes[a + kImageToTable] = kCropSource;
        Area area = kCropArea;
        if (a == kCropZeroWidthEntry)
            area.width = 0;
        putArea(t, a + 2, area);
    }
    for (unsigned w = 0; w < ramaddr::kWindowSlots; ++w)
        put(t, ramaddr::kPriority + 2 * w, static_cast<uint16_t>(w));
    for (unsigned w = 0; w < 6; ++w) {
        const unsigned rec = ramaddr::window(w);
        put(t, rec + ramaddr::kWinState, kWindows[w].state);
        put(t, rec + ramaddr::kWinSource, kWindows[w].source);
        putArea(t, rec + ramaddr::kWinX, kWindowArea);
    }
    return t;
}

inline constexpr Table kTable = build();

}  // namespace default_para

// The 4096-byte factory content of the parameter file; the factory resets copy from it too.
inline constexpr const unsigned char (&default_para_ramlist)[ramaddr::kRamSize] = default_para::kTable.bytes;
