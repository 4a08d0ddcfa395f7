#include "sim/fpga_model.h"

#include <algorithm>
#include <fstream>

#include "platform/gpio.h"
#include "platform/platform.h"
#include "sim/sim_config.h"

namespace sim {

namespace {

// Pads of the board as the FPGAs and flash devices are wired to them.
constexpr uint32_t kPadCs[2] = {0x207810, 0x207900};
constexpr uint32_t kPadCmd0 = 0x207838;
constexpr uint32_t kPadCmd1a = 0x20794C;
constexpr uint32_t kPadCmd1b = 0x207954;
constexpr uint32_t kPadRst[2] = {0x207858, 0x207864};
constexpr uint32_t kPadIrq[2] = {0x207908, 0x207910};
constexpr uint32_t kPadSelFlash2 = 0x207860;
constexpr uint32_t kPadSelFlash3a = 0x20790C;
constexpr uint32_t kPadSelFlash3b = 0x207950;

constexpr const char* kFpgaDevice[2] = {"/dev/spidev32766.1", "/dev/spidev32766.2"};
constexpr const char* kFlashDevice[2] = {"/dev/spidev32766.3", "/dev/spidev32766.4"};
constexpr const char* kFlashFile[2] = {"/var/lib/zel-sim/fpga-flash2.bin", "/var/lib/zel-sim/fpga-flash3.bin"};

// Identity the FPGA design reports: registers 31, 30, 29, 28 and 7.
constexpr uint8_t kIdentity31 = 0x25, kIdentity30 = 0x02, kIdentity29 = 0x26, kIdentity28 = 0x01;
constexpr uint8_t kIdentity7 = 0x11;

// Register bits of the V-by-One receiver.
constexpr int kRegVboControl = 3;
constexpr uint8_t kVboStart = 0x40, kVboRun = 0x80;
constexpr int kRegStatus = 22;
constexpr uint8_t kStatusVboError = 0x08, kStatusLocked = 0x10, kStatusIrqReply = 0x20,
                  kStatusIrqFault = 0x40, kStatusPicture = 0x80;
constexpr int kRegLanes = 40;
constexpr uint8_t kLanesLocked = 0x1C;
constexpr int kRegLink0 = 128, kRegLink1 = 144;
constexpr int kPictureRam = 1, kPictureAt = 116;

bool high(platform::SimGpioWindow& gpio, uint32_t pad) { return gpio.read(pad) != 0; }

std::vector<uint8_t> gatherTx(const platform::SpiTransfer* xfers, unsigned count)
{
    size_t total = 0;
    for (unsigned i = 0; i < count; ++i)
        total += xfers[i].len;
    std::vector<uint8_t> tx;
    tx.reserve(total);
    for (unsigned i = 0; i < count; ++i)
        for (uint32_t b = 0; b < xfers[i].len; ++b)
            tx.push_back(xfers[i].tx ? xfers[i].tx[b] : 0xFF);
    return tx;
}

void scatterRx(const platform::SpiTransfer* xfers, unsigned count, const std::vector<uint8_t>& rx)
{
    size_t at = 0;
    for (unsigned i = 0; i < count; ++i)
        for (uint32_t b = 0; b < xfers[i].len; ++b, ++at)
            if (xfers[i].rx)
                xfers[i].rx[b] = at < rx.size() ? rx[at] : 0xFF;
}

}  // namespace

// ---- FPGA ----------------------------------------------------------------------------------------

SimFpga::SimFpga(int index, platform::SimGpioWindow& gpio)
    : index_(index), gpio_(gpio), rams_(kLastRam + 1)
{
    powerUp();
}

void SimFpga::setReadOverride(int reg, int value)
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (reg >= 0 && reg < 256)
        readOverride_[static_cast<size_t>(reg)] = value;
}

void SimFpga::irqSampled()
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (engine_)
        engine_->onIrqSample(*this);
}

bool SimFpga::selected() const
{
    return !high(gpio_, kPadCs[index_]) && high(gpio_, kPadCs[1 - index_]);
}

bool SimFpga::commandPhase() const
{
    if (index_ == 0)
        return high(gpio_, kPadCmd0);
    return high(gpio_, kPadCmd1a) && high(gpio_, kPadCmd1b);
}

void SimFpga::powerUp()
{
    regs_.fill(0);
    for (int id = kFirstRam; id <= kLastRam; ++id)
        rams_[id].assign(kRamSize, 0);
    regs_[31] = kIdentity31;
    regs_[30] = kIdentity30;
    regs_[29] = kIdentity29;
    regs_[28] = kIdentity28;
    regs_[7] = kIdentity7;
    SimConfig cfg = config();
    uint16_t links = 0;
    for (int p = 0; p < 16; ++p)
        if (cfg.cardsPerPort[index_ * 16 + p] > 0)
            links |= uint16_t(1u << p);
    regs_[kRegLink0] = uint8_t(links);
    regs_[kRegLink1] = uint8_t(links >> 8);
    vboErrorCleared_ = false;
    locked_ = false;
    haveWord_ = false;
    ++powerUps_;
    if (engine_)
        engine_->onPowerUp(*this);
    updateIrq();
}

void SimFpga::resetLine(bool isHigh)
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (!isHigh) {
        reset_ = true;
        return;
    }
    if (reset_) {
        reset_ = false;
        powerUp();
    }
}

void SimFpga::refreshStatus()
{
    uint8_t s = regs_[kRegStatus] & (kStatusIrqReply | kStatusIrqFault);
    if (!vboErrorCleared_)
        s |= kStatusVboError;
    if (locked_)
        s |= kStatusLocked | kStatusPicture;
    regs_[kRegStatus] = uint8_t((regs_[kRegStatus] & 0x07) | s);
    regs_[kRegLanes] = locked_ ? uint8_t(regs_[kRegLanes] | kLanesLocked) : uint8_t(regs_[kRegLanes] & ~kLanesLocked);
}

void SimFpga::updateIrq()
{
    gpio_.drive(kPadIrq[index_], (regs_[kRegStatus] & (kStatusIrqReply | kStatusIrqFault)) ? 1 : 0);
}

uint8_t SimFpga::readReg(int reg)
{
    ++reads_[reg];
    if (reset_ || neverUp_)
        return 0;
    if (lost_)
        return reg == kRegStatus ? kStatusIrqFault : 0;
    if (engine_)
        engine_->onRegisterRead(*this, reg);
    if (reg == kRegStatus || reg == kRegLanes)
        refreshStatus();
    if (readOverride_[static_cast<size_t>(reg)] >= 0)
        return static_cast<uint8_t>(readOverride_[static_cast<size_t>(reg)]);
    return regs_[reg];
}

void SimFpga::applyWrite(int reg, uint8_t mask, uint8_t value)
{
    if (reset_ || neverUp_ || lost_)
        return;
    uint8_t before = regs_[reg];
    uint8_t after = uint8_t((before & ~mask) | (value & mask));
    regs_[reg] = after;
    if (reg == kRegVboControl) {
        if ((mask & kVboStart) && !(after & kVboStart)) {
            vboErrorCleared_ = false;
            locked_ = false;
        }
        if ((mask & kVboRun) && !(after & kVboRun))
            locked_ = false;
        if ((mask & kVboStart) && (after & kVboStart) && !vboErrorStuck_)
            vboErrorCleared_ = true;
        if ((mask & kVboRun) && (after & kVboRun) && vboErrorCleared_ && !neverLocks_)
            locked_ = true;
    }
    if (engine_)
        engine_->onRegisterWrite(*this, reg, mask, before, after);
    refreshStatus();
    updateIrq();
}

bool SimFpga::spiMessage(const platform::SpiTransfer* xfers, unsigned count)
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    std::vector<uint8_t> tx = gatherTx(xfers, count);
    std::vector<uint8_t> rx(tx.size(), 0);
    if (!selected()) {
        scatterRx(xfers, count, rx);
        return true;
    }
    if (commandPhase()) {
        haveWord_ = tx.size() == 4;
        if (haveWord_)
            std::copy(tx.begin(), tx.end(), word_.begin());
        scatterRx(xfers, count, rx);
        return true;
    }
    if (!haveWord_) {
        scatterRx(xfers, count, rx);
        return true;
    }
    haveWord_ = false;
    const bool read = word_[0] & 1;
    const int kind = (word_[0] >> 1) & 0x0F;
    if (kind == 2) {
        int reg = word_[2];
        if (read) {
            for (auto& b : rx)
                b = readReg(reg);
        } else if (!tx.empty()) {
            applyWrite(reg, word_[3], tx[0]);
        }
    } else if (kind == 1 && !ramExists(word_[1])) {
        ++refusedRam_;   // no such memory: writes go nowhere, reads see nothing
    } else if (kind == 1) {
        const int id = word_[1];
        int address = word_[2] | ((word_[3] & 0x0F) << 8);
        auto& ram = rams_[id];
        for (size_t i = 0; i < tx.size(); ++i) {
            size_t at = (address + i) % kRamSize;
            if (read)
                rx[i] = ram[at];
            else if (!reset_ && !neverUp_ && !lost_ && !ramIgnores_[id])
                ram[at] = tx[i];
        }
        if (read && id == kPictureRam && locked_) {
            // The measured picture is not memory: it always reads what the receiver sees.
            const uint8_t pic[8] = {uint8_t(picWidth_), uint8_t(picWidth_ >> 8), uint8_t(picHeight_),
                                    uint8_t(picHeight_ >> 8), uint8_t(picFrame_), uint8_t(picFrame_ >> 8),
                                    uint8_t(picFrame_ >> 16), uint8_t(picFrame_ >> 24)};
            for (size_t i = 0; i < rx.size(); ++i) {
                size_t at = (address + i) % kRamSize;
                if (at >= size_t(kPictureAt) && at < size_t(kPictureAt + 8))
                    rx[i] = pic[at - kPictureAt];
            }
        }
        if (reset_ || neverUp_ || lost_)
            std::fill(rx.begin(), rx.end(), 0);
    }
    scatterRx(xfers, count, rx);
    Access a;
    a.word = word_;
    a.data = std::move(tx);
    a.answer = std::move(rx);
    log_.push(std::move(a));
    return true;
}

uint8_t SimFpga::reg(int n) const
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    return regs_[uint8_t(n)];
}

void SimFpga::setReg(int n, uint8_t value)
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    regs_[uint8_t(n)] = value;
    if (n == kRegStatus)
        updateIrq();
}

std::vector<uint8_t> SimFpga::ram(int id, int address, int length) const
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    std::vector<uint8_t> out;
    if (!ramExists(id))
        return out;
    for (int i = 0; i < length; ++i)
        out.push_back(rams_[id][(address + i) % kRamSize]);
    return out;
}

void SimFpga::setRam(int id, int address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (!ramExists(id))
        return;
    for (size_t i = 0; i < bytes.size(); ++i)
        rams_[id][(address + i) % kRamSize] = bytes[i];
}

uint8_t* SimFpga::ramData(int id) { return ramExists(id) ? rams_[id].data() : nullptr; }

void SimFpga::setIrq(bool raised) { gpio_.drive(kPadIrq[index_], raised ? 1 : 0); }

void SimFpga::setPortEngine(SimFpgaPortEngine* engine)
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    engine_ = engine;
}

std::vector<SimFpga::Access> SimFpga::log() const
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    return log_.entries();
}

void SimFpga::clearLog()
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    log_.clear();
    reads_.fill(0);
    refusedRam_ = 0;
}

int SimFpga::refusedRamAccesses() const
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    return refusedRam_;
}

int SimFpga::registerReads(int n) const
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    return reads_[uint8_t(n)];
}

bool SimFpga::inReset() const
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    return reset_;
}

int SimFpga::powerUps() const
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    return powerUps_;
}

void SimFpga::setNeverUp(bool on)
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    neverUp_ = on;
}

void SimFpga::dropOut()
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    lost_ = true;
    locked_ = false;
    regs_[kRegStatus] |= kStatusIrqFault;
    updateIrq();
}

void SimFpga::comeBack()
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    lost_ = false;
    powerUp();
}

void SimFpga::setVboErrorStuck(bool on)
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    vboErrorStuck_ = on;
}

void SimFpga::setNeverLocks(bool on)
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    neverLocks_ = on;
}

void SimFpga::loseLock()
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    locked_ = false;
}

void SimFpga::setRamIgnoresWrites(int id, bool on)
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    if (ramExists(id))
        ramIgnores_[id] = on;
}

void SimFpga::setPicture(uint16_t width, uint16_t height, uint32_t frame)
{
    std::lock_guard<std::recursive_mutex> lock(m_);
    picWidth_ = width;
    picHeight_ = height;
    picFrame_ = frame;
}

// ---- serial flash --------------------------------------------------------------------------------

namespace {
constexpr uint8_t kOpWriteEnable = 0x06, kOpWriteDisable = 0x04, kOpStatus = 0x05, kOpErase4k = 0x20,
                  kOpErase32k = 0x52, kOpErase64k = 0xD8, kOpProgram = 0x02, kOpFastRead = 0x0B,
                  kOpUid = 0x4B, kOpWriteStatus1 = 0x01, kOpWriteStatus2 = 0x31;
constexpr uint32_t kPage = 256;
}  // namespace

SimSerialFlash::SimSerialFlash(int device, platform::SimGpioWindow& gpio, std::string file)
    : device_(device), gpio_(gpio), file_(file), path_(platform::rootPath(file))
{
    load();
}

SimSerialFlash::~SimSerialFlash() = default;

void SimSerialFlash::load()
{
    data_.assign(kSize, 0xFF);
    std::ifstream in(path_, std::ios::binary);
    if (!in)
        return;
    in.read(reinterpret_cast<char*>(data_.data()), kSize);
    onDisk_ = true;
}

void SimSerialFlash::persist(uint32_t address, uint32_t length)
{
    if (!onDisk_) {
        platform::makeParentDirs(file_);
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data_.data()), kSize);
        onDisk_ = bool(out);
        return;
    }
    std::fstream out(path_, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(address);
    out.write(reinterpret_cast<const char*>(data_.data() + address), length);
}

bool SimSerialFlash::selected() const
{
    if (device_ == 2)
        return !high(gpio_, kPadCs[0]) && high(gpio_, kPadCs[1]) && !high(gpio_, kPadSelFlash2);
    return !high(gpio_, kPadCs[1]) && high(gpio_, kPadCs[0]) && !high(gpio_, kPadSelFlash3a) &&
           !high(gpio_, kPadSelFlash3b);
}

void SimSerialFlash::erase(uint32_t address, uint32_t unit)
{
    uint32_t start = (address % kSize) & ~(unit - 1);
    std::fill(data_.begin() + start, data_.begin() + start + unit, 0xFF);
    persist(start, unit);
}

void SimSerialFlash::program(uint32_t address, const uint8_t* data, uint32_t length)
{
    uint32_t page = (address % kSize) & ~(kPage - 1);
    for (uint32_t i = 0; i < length; ++i) {
        uint32_t at = page + ((address + i) % kPage);
        data_[at] &= data[i];   // programming only clears bits
    }
    persist(page, kPage);
}

bool SimSerialFlash::spiMessage(const platform::SpiTransfer* xfers, unsigned count)
{
    std::lock_guard<std::mutex> lock(m_);
    std::vector<uint8_t> tx = gatherTx(xfers, count);
    std::vector<uint8_t> rx(tx.size(), 0xFF);
    if (!selected() || tx.empty()) {
        scatterRx(xfers, count, rx);
        return true;
    }
    const uint8_t op = tx[0];
    const uint32_t address = tx.size() >= 4 ? (uint32_t(tx[1]) << 16 | uint32_t(tx[2]) << 8 | tx[3]) : 0;
    const bool busy = stuckBusy_ || busy_ > 0 || std::chrono::steady_clock::now() < busyUntil_;
    Op entry{op, address, 0, true};

    if (op == kOpStatus) {
        ++statusPolls_;
        for (size_t i = 1; i < rx.size(); ++i)
            rx[i] = uint8_t((busy ? 1 : 0) | (wel_ ? 2 : 0));
        if (busy_ > 0)
            --busy_;
        scatterRx(xfers, count, rx);
        return true;   // status polls are counted, not logged
    }
    if (busy) {
        entry.accepted = false;
    } else {
        switch (op) {
        case kOpWriteEnable: wel_ = true; break;
        case kOpWriteDisable: wel_ = false; break;
        case kOpErase4k:
        case kOpErase32k:
        case kOpErase64k: {
            uint32_t unit = op == kOpErase4k ? 0x1000 : op == kOpErase32k ? 0x8000 : 0x10000;
            entry.length = unit;
            if (!wel_ || tx.size() < 4) {
                entry.accepted = false;
                break;
            }
            erase(address, unit);
            wel_ = false;
            busy_ = busyPolls_;
            busyUntil_ = std::chrono::steady_clock::now() +
                         std::chrono::milliseconds(eraseMs_[op == kOpErase4k ? 0 : op == kOpErase32k ? 1 : 2]);
            break;
        }
        case kOpProgram:
            entry.length = tx.size() > 4 ? uint32_t(tx.size() - 4) : 0;
            if (!wel_ || tx.size() < 4) {
                entry.accepted = false;
                break;
            }
            program(address, tx.data() + 4, entry.length);
            wel_ = false;
            busy_ = busyPolls_;
            busyUntil_ = std::chrono::steady_clock::now() + std::chrono::microseconds(programUs_);
            break;
        case kOpFastRead:
            entry.length = tx.size() > 5 ? uint32_t(tx.size() - 5) : 0;
            for (uint32_t i = 0; i < entry.length; ++i)
                rx[5 + i] = data_[(address + i) % kSize];
            break;
        case kOpUid:
            for (size_t i = 5; i < rx.size() && i < 13; ++i)
                rx[i] = uid_[i - 5];
            entry.length = 8;
            break;
        case kOpWriteStatus1:
        case kOpWriteStatus2:
            entry.accepted = wel_;
            wel_ = false;
            break;
        default:
            entry.accepted = false;
            break;
        }
    }
    log_.push(entry);
    scatterRx(xfers, count, rx);
    return true;
}

std::vector<uint8_t> SimSerialFlash::contents(uint32_t address, uint32_t length) const
{
    std::lock_guard<std::mutex> lock(m_);
    std::vector<uint8_t> out;
    for (uint32_t i = 0; i < length; ++i)
        out.push_back(data_[(address + i) % kSize]);
    return out;
}

void SimSerialFlash::write(uint32_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(m_);
    for (size_t i = 0; i < bytes.size(); ++i)
        data_[(address + i) % kSize] = bytes[i];
    persist(address % kSize, uint32_t(std::min<size_t>(bytes.size(), kSize - address % kSize)));
}

std::vector<SimSerialFlash::Op> SimSerialFlash::log() const
{
    std::lock_guard<std::mutex> lock(m_);
    return log_.entries();
}

void SimSerialFlash::clearLog()
{
    std::lock_guard<std::mutex> lock(m_);
    log_.clear();
    statusPolls_ = 0;
}

int SimSerialFlash::statusPolls() const
{
    std::lock_guard<std::mutex> lock(m_);
    return statusPolls_;
}

// ---- attaching ---------------------------------------------------------------------------------

namespace {

struct Attachment {
    std::unique_ptr<FpgaBoard> models;
    platform::Board* board = nullptr;
    int listener = 0;
    int readHook = 0;
};

std::mutex g_attachMutex;
std::vector<Attachment> g_attachments;   // models outlive a replaced board's listeners
std::vector<Attachment> g_forgotten;     // forgotten by tests, alive for the same reason

}  // namespace

FpgaBoard& attachFpgas()
{
    std::lock_guard<std::mutex> lock(g_attachMutex);
    platform::Board& board = platform::board();
    auto* gpio = dynamic_cast<platform::SimGpioWindow*>(&board.gpio());
    auto* spi = dynamic_cast<platform::SimSpiBus*>(&board.spi());
    if (!g_attachments.empty() && g_attachments.back().board == &board && gpio) {
        gpio->removeListener(g_attachments.back().listener);
        gpio->removeReadHook(g_attachments.back().readHook);
    }

    Attachment a;
    a.models = std::make_unique<FpgaBoard>();
    a.board = &board;
    if (gpio && spi) {
        FpgaBoard* m = a.models.get();
        for (int i = 0; i < 2; ++i) {
            m->fpga[i] = std::make_unique<SimFpga>(i, *gpio);
            m->flash[i] = std::make_unique<SimSerialFlash>(i + 2, *gpio, kFlashFile[i]);
            spi->attach(kFpgaDevice[i], m->fpga[i].get());
            spi->attach(kFlashDevice[i], m->flash[i].get());
        }
        a.listener = gpio->addListener([m](uint32_t offset, uint16_t value) {
            for (int i = 0; i < 2; ++i)
                if (offset == kPadRst[i])
                    m->fpga[i]->resetLine(value != 0);
        });
        a.readHook = gpio->addReadHook([m](uint32_t offset) {
            for (int i = 0; i < 2; ++i)
                if (offset == kPadIrq[i])
                    m->fpga[i]->irqSampled();
        });
    }
    g_attachments.push_back(std::move(a));
    return *g_attachments.back().models;
}

FpgaBoard* fpgaBoard()
{
    std::lock_guard<std::mutex> lock(g_attachMutex);
    return g_attachments.empty() ? nullptr : g_attachments.back().models.get();
}

void forgetFpgas()
{
    std::lock_guard<std::mutex> lock(g_attachMutex);
    for (Attachment& a : g_attachments)
        g_forgotten.push_back(std::move(a));
    g_attachments.clear();
}

}  // namespace sim
