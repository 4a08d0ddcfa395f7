// The simulated input side of the board on the I2C bus "/dev/i2c-0":
//
//   0x70  I2C switch, 8 channels; one control byte, bit n opens channel n.
//         Channel i (0-5) leads to input i's EDID EEPROM and receiver.
//   0x50  behind channel i: the 24C02-style EDID EEPROM of input i (256 bytes, 8-byte pages,
//         busy for a few address attempts after each page write). Persisted under the root
//         in "/var/lib/zel-sim/edid_eeprom<i>.bin". The level of the input's hot-plug line
//         (GPIO 0x207948) is recorded at every page write.
//   0x48  behind channel i: the receiver of input i. Signal and timing come from the board
//         configuration (sim_config.h).
//   0x21  audio switch: an 8-bit output port; register 1 output byte, register 3 direction.
//   0x68  clock chip of output path 0; 0x69 clock chip of output path 1.
//
// With two channels open, two devices answer at the same address: the model refuses the
// access (no acknowledge), as the garbled bus would.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace sim {

// Attaches fresh models of all these devices to the running simulated board (EEPROM contents
// are loaded from the root). False when the board is not simulated.
bool attachInputChips();

namespace inputchips {

constexpr int kInputs = 6;
constexpr int kClockChips = 2;

// ---- back door for tests ----
uint8_t switchControl();                          // last control byte written to the switch
std::vector<uint8_t> eepromContents(int input);   // 256 bytes
void setEepromContents(int input, const std::vector<uint8_t>& bytes);
void failEepromWrites(int input, int count);      // the next `count` data writes are refused
void corruptNextEepromWrite(int input);           // the next page stores one wrong byte
int eepromPageWrites(int input);                  // page writes done since attach
std::vector<uint16_t> eepromHotplugLevels(int input);  // hot-plug level at each page write
void setReceiverAbsent(int input, bool absent);

uint8_t audioOutput();                            // output byte of the audio switch
int audioWrites();                                // accepted writes of the output byte
void failAudioWrites(int count);
// Called with each output byte as it is written (on the writer's thread); empty to stop.
void onAudioOutput(std::function<void(uint8_t)> hook);

double clockOutputHz(int path);                   // 0 until the chip's PLL locked
bool clockLocked(int path);
void setClockAbsent(int path, bool absent);

}  // namespace inputchips
}  // namespace sim
