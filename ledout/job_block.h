// Fields of the receiving-card job block g_send_para that the jobs keep, and the helpers every
// job shares: the wait while a control link is busy, progress, and sending to a port 0-31.
#pragma once

#include <cstdint>

#include "ledout/fpga_manage.h"
#include "ledout/rcv_card_cmd.h"

namespace jobblock {

constexpr unsigned kState = 1;          // u8 state of the running job
constexpr unsigned kPort = 2;           // u8 output port 0-31
constexpr unsigned kAck = 6;            // u8 1 when the cards acknowledged the last packet
constexpr unsigned kCardIndex = 8;      // u16 card index inside the port
constexpr unsigned kCardCount = 10;     // u16 cards on the port
constexpr unsigned kPacketLen = 12;     // u16 length of the last packet built
constexpr unsigned kParameter = 16;     // u32 job parameter
constexpr unsigned kTick = 20;          // u32 tick of the last packet or request
constexpr unsigned kScreen = 24;        // u8 screen index of the check and recovery
constexpr unsigned kNet = 25;           // u8 net index (low byte)
constexpr unsigned kCard = 26;          // u8 card index (low byte)
constexpr unsigned kOperation = 27;     // u8 operation index (low byte)
constexpr unsigned kPlayerState = 28;   // u16 state of the operation player
constexpr unsigned kCheckResult = 30;   // u16 card report of the check

constexpr unsigned kPorts = 32;         // output ports of both FPGAs (16 each)
constexpr int kProgressEnd = 100;       // the progress every job reports last

// Jobs 1, 3 and 4: the wait for the cards' acknowledgement, and the closing state before the
// final 100.
constexpr uint32_t kAckTicks = 1200;
constexpr uint8_t kStateClosing = 9;

// The operation player's first state: written to kPlayerState to play the next operation.
constexpr uint16_t kPlayStart = 20;

constexpr uint16_t kAllIntact = 255;
constexpr uint16_t kNoResult = 65535;

// Words of g_change the jobs keep.
constexpr int kWordJobTick = 2;         // progress stamp (also the search timer)
constexpr int kWordJobProgress = 46;    // the running progress value 1-99

inline uint8_t u8(unsigned at) { return g_send_para[at]; }
inline void set8(unsigned at, uint8_t v) { g_send_para[at] = v; }
inline uint16_t u16(unsigned at) { return rcv_card::rd16(g_send_para + at); }
inline void set16(unsigned at, uint16_t v) { rcv_card::wr16(g_send_para + at, v); }
inline uint32_t u32(unsigned at) { return rcv_card::rd32(g_send_para + at); }
inline void set32(unsigned at, uint32_t v) { rcv_card::wr32(g_send_para + at, v); }

inline uint8_t state() { return u8(kState); }
inline void setState(uint8_t s) { set8(kState, s); }

}  // namespace jobblock
