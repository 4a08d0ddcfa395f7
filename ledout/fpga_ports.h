// Registers and RAMs of the FPGAs' output-port pairs. Pair k (0-7) is ports 2k and 2k+1 of one
// FPGA; the pair shares one send RAM and one reply RAM.
#pragma once

#include <cstdint>

namespace fpga_ports {

constexpr int kPairs = 8;
constexpr int kPortsPerFpga = 16;
constexpr unsigned kMaxTransfer = 1024;   // a length register holds length - 1 in 10 bits

struct Pair {
    uint8_t sendRam;
    uint8_t sendLenLow;      // length - 1, low 8 bits
    uint8_t sendLenHigh;     // register of bits 8-9 ...
    uint8_t lenShift;        // ... at this bit (the reply length uses the same position)
    uint8_t selectReg;       // one-hot port select of the half
    uint8_t startReg;        // start strobe (bits 4-7) and acknowledge set (bits 0-3)
    uint8_t startBit;
    uint8_t replyRam;
    uint8_t flagsReg;        // ready and busy flags
    uint8_t readyBit;
    uint8_t busyBit;
    uint8_t replyLenLow;
    uint8_t replyLenHigh;
    uint8_t ackClearReg;     // acknowledge clear (bits 0-3)
    uint8_t ackBit;
};

constexpr Pair kPair[kPairs] = {
    // send RAM, len, len hi, shift, select, start, bit, reply RAM, flags, ready, busy, rlen, rlen hi, ack clr, ack
    {3, 26, 27, 0, 132, 130, 4, 2, 129, 0, 1, 24, 25, 131, 0},
    {5, 134, 27, 2, 132, 130, 5, 4, 129, 2, 3, 133, 25, 131, 1},
    {7, 136, 27, 4, 132, 130, 6, 6, 129, 4, 5, 135, 25, 131, 2},
    {9, 138, 27, 6, 132, 130, 7, 8, 129, 6, 7, 137, 25, 131, 3},
    {11, 154, 158, 0, 148, 146, 4, 10, 145, 0, 1, 149, 153, 147, 0},
    {13, 155, 158, 2, 148, 146, 5, 12, 145, 2, 3, 150, 153, 147, 1},
    {15, 156, 158, 4, 148, 146, 6, 14, 145, 4, 5, 151, 153, 147, 2},
    {17, 157, 158, 6, 148, 146, 7, 16, 145, 6, 7, 152, 153, 147, 3},
};

constexpr int kRegLinkLow = 128;     // link bits of ports 0-7
constexpr int kRegLinkHigh = 144;    // link bits of ports 8-15
constexpr int kRegFlagsLow = 129;
constexpr int kRegFlagsHigh = 145;
constexpr int kRegReplyLenHighLow = 25;
constexpr int kRegReplyLenHighHigh = 153;
constexpr int kRegAckClearLow = 131;
constexpr int kRegAckClearHigh = 147;
constexpr uint8_t kReadyMask = 0x55;       // ready flags of the four pairs of a half

constexpr uint32_t kSendReadyTicks = 300;
// A bound on the busy polls as well, for a tick counter that stands still.
constexpr unsigned kSendReadyMaxPolls = 100000;

}  // namespace fpga_ports
