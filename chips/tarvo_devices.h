// The I2C devices of the input side that the input-source manager drives itself. Their
// addresses and registers are fixed by the board's wiring; the choice is recorded here:
//
//   0x70  I2C switch, 8 channels: one control byte, bit n opens channel n. Channel i (0-5)
//         leads to input i's EDID EEPROM (0x50) and receiver (0x48).
//   0x50  EDID EEPROM of the selected input, 24C02 type: 256 bytes, one word-address byte,
//         8-byte write pages, no acknowledge while a page is being programmed (up to 5 ms).
//   0x21  audio switch, an 8-bit output port: register 1 holds the one-hot source byte,
//         register 3 the direction (0 = all outputs).
//   0x68, 0x69  clock chips of output paths 0 and 1 (25 MHz reference): registers 0x10-0x11
//         feedback divider N (little-endian), 0x12 input divider M, 0x13 output divider,
//         0x20 control (1 starts the PLL), 0x21 status (bit 0 locked).
#pragma once

#include <cstdint>

namespace tarvo_dev {

constexpr uint8_t kSwitchAddr = 0x70;
constexpr uint8_t kEepromAddr = 0x50;
constexpr uint8_t kReceiverAddr = 0x48;
constexpr uint8_t kAudioAddr = 0x21;
constexpr uint8_t kAudioOutputReg = 0x01;
constexpr uint8_t kAudioDirectionReg = 0x03;
constexpr uint8_t kClockAddr[2] = {0x68, 0x69};

constexpr int kEepromSize = 256;
constexpr int kEepromPage = 8;

// Opens only channel `input` of the switch (0, or 255).
int select_channel(int input);
// Closes every channel.
int close_channels();

// Programs the selected EEPROM page by page (waiting out each write cycle), then reads it back.
// 0 only when the EEPROM holds exactly `data` afterwards.
int eeprom_program(const uint8_t data[kEepromSize]);
int eeprom_read(uint8_t data[kEepromSize]);

// Sets the audio switch's output byte (0, or 255 when the switch did not take it).
int audio_write(uint8_t value);

// Writes the output path's clock configuration and starts the PLL (0, or 255).
int clock_configure(int path);
// Reads the lock bit (0 with `locked` set, or 255).
int clock_locked(int path, bool& locked);

}  // namespace tarvo_dev
