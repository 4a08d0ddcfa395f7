#include "sim/card_chain.h"

#include "sim/sim_config.h"

#include <algorithm>

namespace sim {

namespace {

// The cards' view of the packet.
constexpr size_t kMinPacket = 11;         // 10 header bytes and the check byte
constexpr uint16_t kIndexBits = 0x0FFF;
constexpr uint16_t kBroadcastA = 0x0FFF;
constexpr uint16_t kBroadcastB = 0x0FFE;
constexpr uint16_t kMultifunctionBit = 0x4000;
constexpr uint8_t kSearch = 0x10;
constexpr uint8_t kWriteRam = 0x60;
constexpr uint8_t kReadRam = 0x61;
constexpr uint8_t kSave = 0x81;
constexpr uint8_t kReconfig = 0x84;
constexpr uint8_t kWriteReg = 0xA0;
constexpr uint8_t kActivate = 0xB4;
constexpr uint32_t kMultifunctionAddr = 0x02000000;
constexpr size_t kMultifunctionRead = 128;
constexpr uint8_t kAllIntact = 255;
constexpr size_t kLightValid = 49;     // 255 while the light reading is valid
constexpr size_t kLightWanted = 53;    // the brightness the card asks for

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t* p)
{
    return static_cast<uint32_t>(get16(p)) | (static_cast<uint32_t>(get16(p + 2)) << 16);
}

uint8_t xorOf(const uint8_t* p, size_t n)
{
    uint8_t x = 0;
    for (size_t i = 0; i < n; ++i)
        x ^= p[i];
    return x;
}

}  // namespace

CardChain& cardChain()
{
    static CardChain chain;
    return chain;
}

int CardChain::configuredCards(int port) const
{
    return readConfig([port](const SimConfig& c) { return c.cardsPerPort[static_cast<size_t>(port)]; });
}

int CardChain::answeringCards(int port) const
{
    const int configured = configuredCards(port);
    const int cut = ports_[static_cast<size_t>(port)].cutAt;
    return cut >= 0 && cut < configured ? cut : configured;
}

SimCard& CardChain::cardRef(int port, int index)
{
    auto& cards = ports_[static_cast<size_t>(port)].cards;
    if (static_cast<int>(cards.size()) <= index) {
        const SimConfig c = config();
        while (static_cast<int>(cards.size()) <= index) {
            SimCard fresh;
            fresh.configId = c.configIds[static_cast<size_t>(port)];
            fresh.needsRecovery = c.faultyCard[static_cast<size_t>(port)] == static_cast<int>(cards.size());
            cards.push_back(fresh);
        }
    }
    return cards[static_cast<size_t>(index)];
}

bool CardChain::multifunctionOn(int port) const
{
    return readConfig([port](const SimConfig& c) { return c.multifunctionCard && c.multifunctionPort == port; });
}

Packet CardChain::reply(int port, const uint8_t* req, size_t length, uint16_t source,
                        const std::vector<uint8_t>& payload) const
{
    (void)length;
    const PortFaults& f = ports_[static_cast<size_t>(port)].faults;
    Packet out(10 + payload.size() + 1, 0);
    out[0] = req[2];   // to whoever sent the request
    out[1] = req[3];
    out[2] = static_cast<uint8_t>(source);
    out[3] = static_cast<uint8_t>(source >> 8);
    out[4] = req[4];
    out[5] = f.wrongTag ? static_cast<uint8_t>(req[5] ^ 0x5A) : req[5];
    out[6] = req[6];
    out[7] = f.portByteZero ? 0 : req[7];
    out[8] = 0;
    out[9] = req[9];
    for (size_t i = 0; i < payload.size(); ++i)
        out[10 + i] = payload[i];
    out.back() = xorOf(out.data(), out.size() - 1);
    if (f.badCheck)
        out.back() ^= 0xFF;
    return out;
}

std::vector<Packet> CardChain::deliver(int port, const uint8_t* data, size_t length)
{
    std::vector<Packet> out;
    for (TimedReply& r : deliverTimed(port, data, length))
        out.push_back(std::move(r.bytes));
    return out;
}

std::vector<CardChain::TimedReply> CardChain::deliverTimed(int port, const uint8_t* data, size_t length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (port < 0 || port >= kPorts || data == nullptr)
        return {};
    PortState& ps = ports_[static_cast<size_t>(port)];
    ps.log.push(Packet(data, data + length));
    if (length < kMinPacket || xorOf(data, length) != 0) {
        ++ps.badCheck;
        return {};
    }
    const uint16_t dest = get16(data);
    // The FPGA picks the port; the cards answer whatever the port bits say, but a sender that
    // forgets to re-address a packet shows up in this count.
    if (((dest >> 12) & 3) != static_cast<uint16_t>(port % 4))
        ++ps.wrongPort;
    if (ps.faults.silent)
        return {};
    std::vector<TimedReply> replies =
        (dest & kMultifunctionBit) ? handleMultifunction(port, data, length) : handleCards(port, data, length);
    for (TimedReply& r : replies)
        r.delayTicks += ps.faults.delayTicks;
    return replies;
}

std::vector<CardChain::TimedReply> CardChain::handleCards(int port, const uint8_t* req, size_t length)
{
    const int count = answeringCards(port);
    if (count == 0)
        return {};
    const uint16_t dest = get16(req);
    const uint16_t index = dest & kIndexBits;
    const bool all = index == kBroadcastA || index == kBroadcastB;
    if (!all && index >= count)
        return {};
    const int first = all ? 0 : index;
    const int last = all ? count - 1 : index;
    const uint16_t source = static_cast<uint16_t>(first | ((port % 4) << 12));
    const uint8_t command = req[9];
    const uint8_t* payload = req + 10;
    const size_t payloadLen = length - 11;
    std::vector<uint8_t> out{0};   // status 0
    uint32_t delay = 0;

    switch (command) {
    case kSearch: {
        const SimCard& head = cardRef(port, 0);
        out.assign(13, 0);
        out[1] = static_cast<uint8_t>(count);
        out[2] = static_cast<uint8_t>(count >> 8);
        out[3] = multifunctionOn(port) ? 1 : 0;
        for (int k = 0; k < 4; ++k)
            out[8 + k] = static_cast<uint8_t>(head.configId >> (8 * k));
        uint8_t result = kAllIntact;
        const bool checkWanted = payloadLen > 6 && (payload[6] & 1);
        if (checkWanted) {
            for (int i = 0; i < count; ++i) {
                if (cardRef(port, i).needsRecovery) {
                    result = static_cast<uint8_t>(i);
                    break;
                }
            }
        }
        out[12] = result;
        break;
    }
    case kWriteRam: {
        if (payloadLen < 8)
            return {};
        const uint32_t address = get32(payload);
        const size_t n = std::min<size_t>(get16(payload + 4), payloadLen - 8);
        for (int i = first; i <= last; ++i)
            for (size_t k = 0; k < n; ++k)
                cardRef(port, i).ram[address + static_cast<uint32_t>(k)] = payload[8 + k];
        break;
    }
    case kReadRam: {
        if (payloadLen < 6)
            return {};
        const uint32_t address = get32(payload);
        const uint16_t n = get16(payload + 4);
        SimCard& c = cardRef(port, first);
        for (uint16_t k = 0; k < n && out.size() < 1000; ++k) {
            auto it = c.ram.find(address + k);
            out.push_back(it == c.ram.end() ? 0 : it->second);
        }
        break;
    }
    case kWriteReg: {
        if (payloadLen < 4)
            return {};
        const uint8_t reg = payload[0], mask = payload[1], value = payload[3];
        for (int i = first; i <= last; ++i) {
            SimCard& c = cardRef(port, i);
            c.regs[reg] = static_cast<uint8_t>((c.regs[reg] & ~mask) | (value & mask));
            if (reg == 1 && (mask & value) == 0xFF)
                ++c.restarts;   // the card starts again from what its RAM holds
        }
        break;
    }
    case kSave:
    case kReconfig:
    case kActivate:
        if (command == kSave)
            delay = readConfig([](const SimConfig& c) { return c.saveDelayTicks; });
        for (int i = first; i <= last; ++i) {
            SimCard& c = cardRef(port, i);
            (command == kSave ? c.saves : command == kReconfig ? c.reconfigs : c.activations)++;
        }
        break;
    default:
        break;
    }
    return {TimedReply{reply(port, req, length, source, out), delay}};
}

std::vector<CardChain::TimedReply> CardChain::handleMultifunction(int port, const uint8_t* req, size_t length)
{
    if (!multifunctionOn(port))
        return {};
    const uint16_t source = static_cast<uint16_t>(kMultifunctionBit | ((port % 4) << 12));
    std::vector<uint8_t> out{0};
    if (!mfDataSet_) {
        // Until a test sets it, the card reads the light level of the board file.
        const int light = readConfig([](const SimConfig& c) { return c.multifunctionLight; });
        mfData_[kLightValid] = light >= 0 ? 255 : 0;
        mfData_[kLightWanted] = static_cast<uint8_t>(light >= 0 ? light : 0);
    }
    if (req[9] == kReadRam && length >= 19 && get32(req + 10) == kMultifunctionAddr &&
        get16(req + 14) == kMultifunctionRead)
        for (uint8_t b : mfData_)
            out.push_back(b);
    return {TimedReply{reply(port, req, length, source, out), 0}};
}

// ---- back door ---------------------------------------------------------------------------------

void CardChain::setFaults(int port, const PortFaults& faults)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ports_.at(static_cast<size_t>(port)).faults = faults;
}

void CardChain::dropCard(int port, int index)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ports_.at(static_cast<size_t>(port)).cutAt = index;
}

void CardChain::restoreCards(int port)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ports_.at(static_cast<size_t>(port)).cutAt = -1;
}

int CardChain::cardCount(int port) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return answeringCards(port);
}

bool CardChain::linkUp(int port) const
{
    if (port < 0 || port >= kPorts)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return configuredCards(port) > 0 && ports_[static_cast<size_t>(port)].cutAt != 0;
}

SimCard CardChain::card(int port, int index) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto& cards = ports_.at(static_cast<size_t>(port)).cards;
    return index < static_cast<int>(cards.size()) ? cards[static_cast<size_t>(index)] : SimCard{};
}

void CardChain::setCard(int port, int index, const SimCard& card)
{
    std::lock_guard<std::mutex> lock(mutex_);
    cardRef(port, index) = card;
}

void CardChain::setFaultyCard(int port, int index)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= 0)
        cardRef(port, index);
    for (size_t i = 0; i < ports_.at(static_cast<size_t>(port)).cards.size(); ++i)
        ports_[static_cast<size_t>(port)].cards[i].needsRecovery = static_cast<int>(i) == index;
}

void CardChain::setConfigId(int port, uint32_t configId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const int n = std::max(configuredCards(port), 1);
    cardRef(port, n - 1);
    for (SimCard& c : ports_.at(static_cast<size_t>(port)).cards)
        c.configId = configId;
}

uint16_t CardChain::ram16(int port, int index, uint32_t address) const
{
    const SimCard c = card(port, index);
    auto byteAt = [&](uint32_t a) -> uint16_t {
        auto it = c.ram.find(a);
        return it == c.ram.end() ? 0 : it->second;
    };
    return static_cast<uint16_t>(byteAt(address) | (byteAt(address + 1) << 8));
}

std::vector<Packet> CardChain::received(int port) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ports_.at(static_cast<size_t>(port)).log.entries();
}

int CardChain::badCheckCount(int port) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ports_.at(static_cast<size_t>(port)).badCheck;
}

int CardChain::wrongPortCount(int port) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ports_.at(static_cast<size_t>(port)).wrongPort;
}

void CardChain::clearLog()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& p : ports_) {
        p.log.clear();
        p.badCheck = 0;
        p.wrongPort = 0;
    }
}

void CardChain::reset()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ports_.fill(PortState{});
    mfData_ = {};
    mfDataSet_ = false;
}

void CardChain::setMultifunctionData(const std::array<uint8_t, 128>& data)
{
    std::lock_guard<std::mutex> lock(mutex_);
    mfData_ = data;
    mfDataSet_ = true;
}

void CardChain::setLightValue(uint8_t wanted, bool valid)
{
    std::lock_guard<std::mutex> lock(mutex_);
    mfData_[kLightValid] = valid ? 255 : 0;
    mfData_[kLightWanted] = wanted;
    mfDataSet_ = true;
}

}  // namespace sim
