#include "sim/card_port_engine.h"

#include <memory>

#include "sim/card_chain.h"
#include "sim/sim_clock.h"

namespace sim {

namespace {

constexpr int kPairs = 8;
constexpr int kPortsPerFpga = 16;
constexpr size_t kMaxTransfer = 1024;

constexpr int kSendLenLow[kPairs] = {26, 134, 136, 138, 154, 155, 156, 157};
constexpr int kReplyLenLow[kPairs] = {24, 133, 135, 137, 149, 150, 151, 152};
constexpr int kSendLenHigh[2] = {27, 158};    // pairs 0-3, 4-7
constexpr int kReplyLenHigh[2] = {25, 153};
constexpr int kStrobe[2] = {130, 146};         // ack bits 0-3, start bits 4-7
constexpr int kFlags[2] = {129, 145};          // ready bits 0, 2, 4, 6; busy bits 1, 3, 5, 7
constexpr int kSelect[2] = {132, 148};
constexpr int kLink[2] = {128, 144};
constexpr int kStatus = 22;
constexpr uint8_t kStatusReply = 0x20;

int half(int pair) { return pair < 4 ? 0 : 1; }
int sendRam(int pair) { return 3 + 2 * pair; }
int replyRam(int pair) { return 2 + 2 * pair; }
uint8_t readyBit(int pair) { return static_cast<uint8_t>(1u << (2 * (pair % 4))); }
uint8_t busyBit(int pair) { return static_cast<uint8_t>(1u << (2 * (pair % 4) + 1)); }
int shift2(int pair) { return 2 * (pair % 4); }

void setBits(SimFpga& f, int reg, uint8_t bits, bool on)
{
    const uint8_t v = f.reg(reg);
    f.setReg(reg, on ? static_cast<uint8_t>(v | bits) : static_cast<uint8_t>(v & ~bits));
}

// Engines stay alive for the process: an FPGA model of an earlier board may still point at one.
std::vector<std::unique_ptr<CardPortEngine>> g_allEngines;
CardPortEngine* g_engines[2] = {nullptr, nullptr};

}  // namespace

void CardPortEngine::onRegisterWrite(SimFpga& fpga, int reg, uint8_t mask, uint8_t, uint8_t after)
{
    for (int h = 0; h < 2; ++h) {
        if (reg != kStrobe[h])
            continue;
        const uint8_t strobes = mask & after;
        for (int b = 0; b < 4; ++b) {
            if (strobes & (1u << b))
                acknowledge(fpga, 4 * h + b);
            if (strobes & (1u << (4 + b)))
                startSend(fpga, 4 * h + b);
        }
        fpga.setReg(reg, static_cast<uint8_t>(after & ~strobes));   // strobes clear themselves
    }
    if (reg == kStatus)
        updateStatus(fpga);   // the reply cause stands while a reply waits
}

void CardPortEngine::onRegisterRead(SimFpga& fpga, int reg)
{
    if (reg == kFlags[0] || reg == kFlags[1])
        releaseDue(fpga);
    for (int h = 0; h < 2; ++h) {
        if (reg == kLink[h])
            refreshLinks(fpga);
        if (reg != kFlags[h])
            continue;
        for (int pair = 4 * h; pair < 4 * h + 4; ++pair) {
            if (busy_[static_cast<size_t>(pair)] > 0 && !busyStuck_)
                --busy_[static_cast<size_t>(pair)];
            setBits(fpga, reg, busyBit(pair), busyStuck_ || busy_[static_cast<size_t>(pair)] > 0);
        }
    }
}

void CardPortEngine::onIrqSample(SimFpga& fpga) { releaseDue(fpga); }

void CardPortEngine::releaseDue(SimFpga& fpga)
{
    const uint32_t now = ticks();
    for (int pair = 0; pair < kPairs; ++pair) {
        auto& pending = pending_[static_cast<size_t>(pair)];
        bool released = false;
        while (!pending.empty() && static_cast<int32_t>(now - pending.front().due) >= 0) {
            queues_[static_cast<size_t>(pair)].push_back(std::move(pending.front().bytes));
            pending.pop_front();
            released = true;
        }
        if (released && !showing_[static_cast<size_t>(pair)])
            loadReply(fpga, pair);
    }
}

void CardPortEngine::onPowerUp(SimFpga& fpga)
{
    for (auto& q : queues_)
        q.clear();
    for (auto& p : pending_)
        p.clear();
    showing_.fill(false);
    busy_.fill(0);
    fpga.setReg(kFlags[0], 0);
    fpga.setReg(kFlags[1], 0);
    refreshLinks(fpga);
    updateStatus(fpga);
}

void CardPortEngine::startSend(SimFpga& fpga, int pair)
{
    const int h = half(pair);
    const uint8_t select = fpga.reg(kSelect[h]);
    int bit = -1;
    for (int b = 0; b < 8; ++b)
        if (select == (1u << b))
            bit = b;
    const int port = 8 * h + bit;
    if (bit < 0 || port / 2 != pair)
        return;   // the pair's send RAM reaches only its own two ports

    const size_t length =
        (static_cast<size_t>((fpga.reg(kSendLenHigh[h]) >> shift2(pair)) & 3) << 8 |
         fpga.reg(kSendLenLow[pair])) + 1;
    const std::vector<uint8_t> packet = fpga.ram(sendRam(pair), 0, static_cast<int>(length));
    ++sent_;
    busy_[static_cast<size_t>(pair)] = busyReads_;
    setBits(fpga, kFlags[h], busyBit(pair), true);

    const uint32_t now = ticks();
    for (CardChain::TimedReply& r : cardChain().deliverTimed(fpga.index() * kPortsPerFpga + port, packet.data(),
                                                             packet.size())) {
        if (r.bytes.empty() || r.bytes.size() > kMaxTransfer)
            continue;
        auto& pending = pending_[static_cast<size_t>(pair)];
        if (r.delayTicks == 0 && pending.empty())
            queues_[static_cast<size_t>(pair)].push_back(std::move(r.bytes));
        else
            pending.push_back(Pending{now + r.delayTicks, std::move(r.bytes)});   // keeps the order
    }
    if (!showing_[static_cast<size_t>(pair)])
        loadReply(fpga, pair);
}

void CardPortEngine::injectReply(SimFpga& fpga, int pair, const std::vector<uint8_t>& reply)
{
    std::lock_guard<std::recursive_mutex> lock(fpga.lock());
    if (pair < 0 || pair >= kPairs || reply.empty() || reply.size() > kMaxTransfer)
        return;
    queues_[static_cast<size_t>(pair)].push_back(reply);
    if (!showing_[static_cast<size_t>(pair)])
        loadReply(fpga, pair);
    fpga.setReg(kStatus, fpga.reg(kStatus));   // the interrupt line follows
}

void CardPortEngine::acknowledge(SimFpga& fpga, int pair)
{
    if (!showing_[static_cast<size_t>(pair)])
        return;
    showing_[static_cast<size_t>(pair)] = false;
    loadReply(fpga, pair);
}

void CardPortEngine::loadReply(SimFpga& fpga, int pair)
{
    const int h = half(pair);
    auto& q = queues_[static_cast<size_t>(pair)];
    if (q.empty()) {
        setBits(fpga, kFlags[h], readyBit(pair), false);
        updateStatus(fpga);
        return;
    }
    const std::vector<uint8_t> reply = std::move(q.front());
    q.pop_front();
    fpga.setRam(replyRam(pair), 0, reply);
    const size_t lenMinusOne = reply.size() - 1;
    fpga.setReg(kReplyLenLow[pair], static_cast<uint8_t>(lenMinusOne));
    const uint8_t highMask = static_cast<uint8_t>(3u << shift2(pair));
    const uint8_t high = static_cast<uint8_t>(((lenMinusOne >> 8) & 3) << shift2(pair));
    fpga.setReg(kReplyLenHigh[h], static_cast<uint8_t>((fpga.reg(kReplyLenHigh[h]) & ~highMask) | high));
    setBits(fpga, kFlags[h], readyBit(pair), true);
    showing_[static_cast<size_t>(pair)] = true;
    updateStatus(fpga);
}

void CardPortEngine::updateStatus(SimFpga& fpga)
{
    bool waiting = false;
    for (bool s : showing_)
        waiting = waiting || s;
    setBits(fpga, kStatus, kStatusReply, waiting);
}

void CardPortEngine::refreshLinks(SimFpga& fpga)
{
    unsigned links = 0;
    for (int p = 0; p < kPortsPerFpga; ++p)
        if (cardChain().linkUp(fpga.index() * kPortsPerFpga + p))
            links |= 1u << p;
    fpga.setReg(kLink[0], static_cast<uint8_t>(links));
    fpga.setReg(kLink[1], static_cast<uint8_t>(links >> 8));
}

void attachCardChains()
{
    FpgaBoard* board = fpgaBoard();
    if (board == nullptr)
        board = &attachFpgas();
    for (int i = 0; i < 2; ++i) {
        if (!board->fpga[i])
            continue;
        g_allEngines.push_back(std::make_unique<CardPortEngine>());
        g_engines[i] = g_allEngines.back().get();
        board->fpga[i]->setPortEngine(g_engines[i]);
        std::lock_guard<std::recursive_mutex> lock(board->fpga[i]->lock());
        g_engines[i]->onPowerUp(*board->fpga[i]);
    }
}

CardPortEngine* cardPortEngine(int fpga) { return fpga == 0 || fpga == 1 ? g_engines[fpga] : nullptr; }

}  // namespace sim
