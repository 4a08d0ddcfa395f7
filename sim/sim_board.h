// The whole simulated board: every device model attached to the current simulated platform.
#pragma once

#include <string>

namespace sim {

// Attaches the video chip, the two FPGAs with their flash and receiving cards, and the input
// chips to platform::board(). Writes the board's configuration file with its defaults when the
// root has none, so the user has a file to edit.
void attachBoard();
// Gives the attached video chip and FPGA flash the durations of the board's order for the flash
// work that takes long (erases of the flash behind the FPGAs, the chip's copy of the fonts); the
// board attached by attachBoard has them unless ZEL_SIM_QUICK_FLASH=1.
void useBoardFlashTimes();

// Writes what an outside observer (a test driving the running process) may check of the
// simulated devices under "/var/sim/": "video_chip.bin", the chip's 256 x 128 registers, and
// "video_chip.txt", what the chip's registers make of the picture and its on-screen display.
void writeDeviceSnapshot();

}  // namespace sim
