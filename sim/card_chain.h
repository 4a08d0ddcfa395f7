// The receiving cards behind the simulated output ports, seen from the cards' side of the wire.
// Each of the 32 output ports (16 per FPGA) has a daisy chain of cards (count from the simulated
// board's configuration) and the board may have one multifunction card on one port. A packet
// that an FPGA sends out of a port is handed to `deliver`, which returns the replies the cards
// send back; the FPGA model queues them in the port pair's reply RAM.
//
// Packet: u16 destination (card index in bits 0-11, 0x0FFF/0x0FFE all cards, bits 12-13 the
// port's place in its group of four, bit 14 the multifunction card), u16 source, header bytes
// 4-8 (tag in byte 5, port in byte 7), command in byte 9, payload, XOR check byte.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "platform/bounded_log.h"

namespace sim {

using Packet = std::vector<uint8_t>;

struct SimCard {
    uint32_t configId = 0;
    bool needsRecovery = false;
    std::map<uint32_t, uint8_t> ram;
    std::array<uint8_t, 256> regs{};
    int saves = 0;
    int reconfigs = 0;
    int activations = 0;
    int restarts = 0;   // RAM resets (register 1 written 0xFF): the card takes its RAM anew
};

class CardChain {
public:
    static constexpr int kPorts = 32;
    // Packets kept per port for received(): the most recent ones.
    static constexpr size_t kLogLimit = 4096;

    // Knobs of one port.
    struct PortFaults {
        bool silent = false;      // no card answers
        bool badCheck = false;    // replies carry a wrong check byte
        bool wrongTag = false;    // replies carry another tag than the request
        bool portByteZero = false;  // replies carry 0 in byte 7
        uint32_t delayTicks = 0;    // every reply comes this many ticks late
    };

    // A reply and how long after the request the card sends it.
    struct TimedReply {
        Packet bytes;
        uint32_t delayTicks = 0;
    };

    // Handles one packet sent out of `port` (0-31; 16-31 on FPGA 1) and returns the replies.
    std::vector<Packet> deliver(int port, const uint8_t* data, size_t length);
    // The same, with the time each reply takes (a save takes the board's save delay).
    std::vector<TimedReply> deliverTimed(int port, const uint8_t* data, size_t length);

    // ---- back door for tests --------------------------------------------------------------------
    void setFaults(int port, const PortFaults& faults);
    // The chain is cut after card `index`: it and the cards behind it stop answering.
    void dropCard(int port, int index);
    void restoreCards(int port);
    int cardCount(int port) const;   // cards that answer on the port now
    bool linkUp(int port) const;     // a card is wired to the port (silent or not)
    SimCard card(int port, int index) const;
    void setCard(int port, int index, const SimCard& card);
    // The card that needs recovery on a port (-1: every card intact), and the config id that
    // every card of the port holds. New cards take both from the board's configuration.
    void setFaultyCard(int port, int index);
    void setConfigId(int port, uint32_t configId);
    uint16_t ram16(int port, int index, uint32_t address) const;
    // The packets that reached the port, good or bad (the last kLogLimit of them).
    std::vector<Packet> received(int port) const;
    int badCheckCount(int port) const;      // packets dropped for their check byte
    int wrongPortCount(int port) const;     // packets whose port bits name another port
    void clearLog();
    // Every port as a new board has it: cards as configured, no faults, an empty log.
    void reset();
    // Multifunction card: 128 bytes read at 0x02000000.
    void setMultifunctionData(const std::array<uint8_t, 128>& data);
    // Its light reading: the brightness it asks for (data byte 53) and whether the reading is
    // valid (byte 49 = 255). The board file sets it with multifunction_light.
    void setLightValue(uint8_t wanted, bool valid = true);

private:
    struct PortState {
        std::vector<SimCard> cards;   // grown on demand to the configured count
        int cutAt = -1;               // -1: no card dropped out
        PortFaults faults;
        platform::BoundedLog<Packet> log{kLogLimit};
        int badCheck = 0;
        int wrongPort = 0;
    };

    int configuredCards(int port) const;
    int answeringCards(int port) const;
    SimCard& cardRef(int port, int index);
    Packet reply(int port, const uint8_t* req, size_t length, uint16_t source,
                 const std::vector<uint8_t>& payload) const;
    std::vector<TimedReply> handleCards(int port, const uint8_t* req, size_t length);
    std::vector<TimedReply> handleMultifunction(int port, const uint8_t* req, size_t length);
    bool multifunctionOn(int port) const;

    mutable std::mutex mutex_;
    std::array<PortState, kPorts> ports_;
    std::array<uint8_t, 128> mfData_{};
    bool mfDataSet_ = false;
};

// The board's card chains (one per process).
CardChain& cardChain();

}  // namespace sim
