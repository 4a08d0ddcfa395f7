// The output-port side of a simulated FPGA: the send engines that put a packet from a pair's send
// RAM on one port, and the reply engines that queue the cards' answers per port pair and show
// them one at a time in the pair's reply RAM, with the length registers, the ready bit and the
// interrupt. Plugged into the FPGA model as its port engine; the cards themselves are the
// CardChain.
//
// Pair k (0-7) of an FPGA is ports 2k and 2k+1. Registers as the FPGA has them:
//   send:  send RAM 3 + 2k; length - 1 in a low register (26, 134, 136, 138, 154-157) and two
//          bits of register 27 (pairs 0-3) or 158 (4-7); one-hot port select in 132 (ports 0-7)
//          or 148 (8-15); start strobe bit 4 + k mod 4 of 130 or 146; busy bit 2 (k mod 4) + 1
//          of 129 or 145 while the packet goes out.
//   reply: reply RAM 2 + 2k; length - 1 in a low register (24, 133, 135, 137, 149-152) and two
//          bits of 25 or 153; ready bit 2 (k mod 4) of 129 or 145; acknowledge strobe bit k mod 4
//          of 130 or 146, which loads the pair's next reply; status register 22 bit 5 (and so the
//          interrupt line) while any reply waits.
//   link:  registers 128 (ports 0-7) and 144 (ports 8-15), one bit per port with a card behind.
// A reply that a card sends late (sim::ticks()) reaches the reply RAM once it is due, seen when
// the controller samples the interrupt pad or reads the ready flags.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <vector>

#include "sim/fpga_model.h"

namespace sim {

class CardPortEngine : public SimFpgaPortEngine {
public:
    void onRegisterWrite(SimFpga& fpga, int reg, uint8_t mask, uint8_t before, uint8_t after) override;
    void onRegisterRead(SimFpga& fpga, int reg) override;
    void onPowerUp(SimFpga& fpga) override;
    void onIrqSample(SimFpga& fpga) override;

    // ---- back door ----
    void setBusyReads(int reads) { busyReads_ = reads; }   // reads of 129/145 a send stays busy
    void setBusyStuck(bool on) { busyStuck_ = on; }
    int packetsSent() const { return sent_; }
    // Queues a reply in pair `pair`'s reply RAM as if a card had sent it (any bytes, any length).
    void injectReply(SimFpga& fpga, int pair, const std::vector<uint8_t>& reply);
    size_t queued(int pair) const { return queues_[static_cast<size_t>(pair)].size(); }

private:
    void startSend(SimFpga& fpga, int pair);
    void acknowledge(SimFpga& fpga, int pair);
    void loadReply(SimFpga& fpga, int pair);
    void updateStatus(SimFpga& fpga);
    void refreshLinks(SimFpga& fpga);

    // Replies still on their way (a card that takes time): due tick and bytes, per pair.
    struct Pending {
        uint32_t due;
        std::vector<uint8_t> bytes;
    };
    void releaseDue(SimFpga& fpga);

    std::array<std::deque<std::vector<uint8_t>>, 8> queues_;
    std::array<std::deque<Pending>, 8> pending_;
    std::array<bool, 8> showing_{};     // a reply stands in the pair's reply RAM
    std::array<int, 8> busy_{};         // reads left while the pair's send is busy
    int busyReads_ = 2;
    bool busyStuck_ = false;
    int sent_ = 0;
};

// Plugs card chains into the FPGAs attached last (call after attachFpgas()).
void attachCardChains();
// The engine of FPGA 0 or 1 (null before attachCardChains).
CardPortEngine* cardPortEngine(int fpga);

}  // namespace sim
