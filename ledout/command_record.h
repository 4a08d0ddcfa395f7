// The command record that PC software leaves in the FPGA manager's MCU_RAM_CMD and starts with a
// write of FPGA register 2 (bit 2). The schedule and brightness records stored in the flash
// behind FPGA 0 have the same form: byte 0 0xAA, byte 1 the command, byte 2 store (0xAA) or
// erase (0x55), bytes 6-7 the u16 payload length, the payload from byte 8.
#pragma once

#include <cstdint>

#include "ledout/rcv_card_cmd.h"

namespace cmdrecord {

constexpr uint8_t kPresent = 0xAA;
constexpr uint8_t kStore = 0xAA;
constexpr uint8_t kErase = 0x55;

constexpr unsigned kCommand = 1;
constexpr unsigned kStoreByte = 2;
constexpr unsigned kLength = 6;
constexpr unsigned kPayload = 8;

enum Command : uint8_t { CMD_CLOCK = 1, CMD_SCHEDULE = 2, CMD_BRIGHTNESS = 3 };

// The bytes a stored record takes: header and payload.
inline uint32_t storedLength(const uint8_t* record) { return rcv_card::rd16(record + kLength) + kPayload; }

}  // namespace cmdrecord
