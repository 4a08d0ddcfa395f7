// USB upgrade packages: the layout of a package as the upgrade reads it, and the waits between
// its steps.
//
// A package ("ZEL" or "ZELZK" file) is a 49-byte head (u8 file type, u8 file version, u8 publish
// type at 2, u16 controller type at 18, u16 child count at 47) followed by 21-byte child heads
// (u8 type, u32 length, u32 offset, 6 version bytes, u32 flash address, u16 sector count) and the
// children's data. Little-endian.
#pragma once

#include <cstdint>
#include <functional>

namespace usbupgrade {

constexpr uint32_t kHeadSize = 49;
constexpr uint32_t kChildHeadSize = 21;
constexpr uint16_t kControllerType = 0x6C52;
constexpr uint8_t kPublishSkipEqual = 128;

enum ChildType : uint8_t { kFpga0Program = 7, kFpga1Program = 8, kApplication = 10, kOsdFont = 13 };

// The version of this application as packages name it: year, month, day, hardware, software,
// function.
constexpr uint8_t kAppVersion[6] = {25, 2, 26, 11, 2, 1};

// Where the application is written before it replaces the running one.
constexpr const char* kAppDir = "/data/app";
constexpr const char* kAppTemp = "/data/app/zelT71N2";
constexpr const char* kApp = "/data/app/zelT71N";
constexpr const char* kUsbRoot = "/mnt/usb1/";

// Largest application child (the size of the upgrade's read buffer).
constexpr uint32_t kMaxApplication = 5242880;
// FPGA programs end before the data area of the flash behind each FPGA.
constexpr uint32_t kProgramArea = 0x6C7000;
constexpr uint32_t kProgramHead = 64;
constexpr uint32_t kFontHead = 35;

// The waits between steps (microseconds); tests make them return at once.
void setSleep(std::function<void(unsigned)> sleep);

}  // namespace usbupgrade
