// Builds USB upgrade packages in the layout the PC tool writes: a 49-byte head (file type, file
// version, publish type at 2, u16 controller type at 18, u16 child count at 47), 21-byte child
// heads (type, u32 length, u32 offset, 6 version bytes, u32 flash address, u16 sector count), then
// the children's data back to back. Little-endian.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zeltest {

struct UpgradeChild {
    uint8_t type = 0;                          // 7/8 FPGA 0/1 program, 10 application, 13 font
    std::vector<uint8_t> data;
    std::array<uint8_t, 6> version{};          // year, month, day, hardware, software, function
};

constexpr uint16_t kUpgradeController = 0x6C52;

std::vector<uint8_t> upgradePackage(const std::vector<UpgradeChild>& children, uint8_t publishType = 0,
                                    uint16_t controllerType = kUpgradeController);
// A sending-card program: 64-byte head with the program length at 31, then `length` bytes.
std::vector<uint8_t> upgradeProgram(uint32_t length, uint8_t seed = 1);
// A font: 35-byte head ("P", encoding at 5, glyph width at 17 (the size unless given), glyph
// size at 18), then `glyphBytes` bytes.
std::vector<uint8_t> upgradeFont(uint8_t encoding, uint8_t size, uint32_t glyphBytes, int width = -1);
// Writes a package under the root (creating its folders).
void writePackage(const std::string& systemPath, const std::vector<uint8_t>& bytes);

}  // namespace zeltest
