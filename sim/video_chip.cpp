#include "sim/video_chip.h"

#include <memory>

#include "platform/gpio.h"
#include "platform/platform.h"
#include "sim/sim_config.h"

namespace sim {

namespace {

// ---- the chip's wire protocol ----
constexpr uint8_t kWriteBit = 0x80;
constexpr uint8_t kAddrBits = 0x7F;
constexpr uint8_t kBankRegister = 0x00;
constexpr uint8_t kChipId = 0x24;

// ---- registers the chip answers by itself ----
constexpr uint8_t kIdBank = 0xB2, kIdAddr = 0x08;
constexpr uint8_t kRxLockBank = 0xB2, kRxLockAddr = 0x63, kRxLockBits = 0xA0;
constexpr uint8_t kFieldBank = 0xAB, kFieldAddr = 0x47;          // one counter per channel
constexpr uint8_t kUpdateBank = 0x00, kUpdateCtl = 0x29;
constexpr uint8_t kLatchBank = 0x05;
constexpr uint8_t kInLatchArm = 0x08, kOutLatchArm = 0x09;
constexpr uint8_t kInLatchDone = 0x22, kOutLatchDone = 0x23;

// The serial flash behind the chip, kept across runs of the simulated board.
constexpr const char* kFlashFile = "/var/lib/zel-sim/video-chip-flash.bin";

// GPIO select lines of the FPGAs that share the bus.
constexpr uint32_t kCsFpga0Pad = 0x207810;
constexpr uint32_t kCsFpga1Pad = 0x207900;

// Bounded: a long run on the simulated board keeps talking to the chip.
constexpr size_t kLogLimit = 200000;

std::vector<std::unique_ptr<VideoChipModel>>& models()
{
    static std::vector<std::unique_ptr<VideoChipModel>> list;
    return list;
}
std::mutex g_modelsMutex;

// Font head: "P" when present, the encoding in byte 5 (0 CJK, 1 ASCII), glyph size in 17-18.
std::vector<uint8_t> fontHeader(uint8_t size, uint8_t ascii)
{
    std::vector<uint8_t> h(35, 0);
    h[0] = 'P';
    h[5] = ascii;
    h[17] = size;
    h[18] = size;
    return h;
}

}  // namespace

VideoChipModel::VideoChipModel() : regs_(256), frames_(kLogLimit), writes_(kLogLimit)
{
    for (auto& bank : regs_)
        bank.fill(0);
    for (auto& bank : latched_)
        bank.fill(0xFF);   // nothing measured before the first hold
    gfx_ = std::make_unique<VideoChipGfx>(regs_, kFlashFile);
    // A new flash comes with the heads of the four fonts: 32-dot ASCII and CJK, 64-dot ASCII and
    // CJK (the glyphs themselves are left erased).
    if (gfx_->flashByte(0x000000) == 0xFF && gfx_->flashByte(0x010000) == 0xFF) {
        gfx_->setFlash(0x000000, fontHeader(32, 1));
        gfx_->setFlash(0x010000, fontHeader(32, 0));
        gfx_->setFlash(0x410000, fontHeader(64, 1));
        gfx_->setFlash(0x450000, fontHeader(64, 0));
    }
}

bool VideoChipModel::spiMessage(const platform::SpiTransfer* xfers, unsigned count)
{
    const uint16_t cs0 = platform::gpio().read(kCsFpga0Pad);
    const uint16_t cs1 = platform::gpio().read(kCsFpga1Pad);
    std::lock_guard<std::mutex> lock(m_);
    if (absent_)
        return false;
    if (failNext_ > 0) {
        --failNext_;
        return false;
    }
    for (unsigned i = 0; i < count; ++i) {
        const platform::SpiTransfer& t = xfers[i];
        // The chip clocks frames of two bytes; a shorter tail is ignored.
        for (uint32_t off = 0; off + 1 < t.len; off += 2) {
            Frame f;
            f.byte0 = t.tx ? t.tx[off] : 0xFF;
            f.byte1 = t.tx ? t.tx[off + 1] : 0xFF;
            f.speedHz = t.speed_hz;
            f.duplex = t.rx != nullptr;
            f.csFpga0 = cs0;
            f.csFpga1 = cs1;
            const uint8_t addr = f.byte0 & kAddrBits;
            if (f.byte0 & kWriteBit) {
                writeRegister(addr, f.byte1);
            } else {
                f.answer = readRegister(addr);
            }
            if (t.rx) {
                t.rx[off] = 0;
                t.rx[off + 1] = f.answer;
            }
            frames_.push(f);
            bytes_ += 2;
        }
    }
    return true;
}

void VideoChipModel::writeRegister(uint8_t addr, uint8_t value)
{
    writes_.push(Write{seq_++, addr == kBankRegister ? value : bank_, addr, value});
    if (addr == kBankRegister) {
        bank_ = value;
        return;
    }
    regs_[bank_][addr] = value;
    if (bank_ == kUpdateBank && addr == kUpdateCtl) {
        holdWritten(value);
    } else if (bank_ == kLatchBank) {
        // Frame events arrive at once (unless a test holds them back): an armed latch reads
        // done immediately.
        const uint8_t done = eventsStuck_ ? 0 : value;
        if (addr == kInLatchArm)
            regs_[kLatchBank][kInLatchDone] = done;
        else if (addr == kOutLatchArm)
            regs_[kLatchBank][kOutLatchDone] = done;
    }
    gfx_->onWrite(bank_, addr, value);
}

uint8_t VideoChipModel::readRegister(uint8_t addr)
{
    if (addr == kBankRegister)
        return bank_;
    if (bank_ == kIdBank && addr == kIdAddr) {
        if (!idScript_.empty()) {
            uint8_t v = idScript_.front();
            idScript_.pop_front();
            return v;
        }
        return kChipId;
    }
    if (bank_ == kRxLockBank && addr == kRxLockAddr)
        return regs_[bank_][addr] | kRxLockBits;
    if (bank_ == kFieldBank && addr >= kFieldAddr && addr < kFieldAddr + 8) {
        // Input field / buffer index in bits 2-3, output field in bits 0-1: both move on.
        const uint32_t n = eventsStuck_ ? fieldCounter_[addr - kFieldAddr] : ++fieldCounter_[addr - kFieldAddr];
        return static_cast<uint8_t>(((n & 3) << 2) | (n & 3));
    }
    if (isInputBank(bank_))
        return inputRegister(bank_, addr);
    uint8_t answer = 0;
    if (gfx_->onRead(bank_, addr, &answer))
        return answer;
    return regs_[bank_][addr];
}

uint8_t VideoChipModel::reg(uint8_t bank, uint8_t addr) const
{
    std::lock_guard<std::mutex> lock(m_);
    return regs_[bank][addr & kAddrBits];
}

namespace {

std::string imageOf(const VideoChipGfx::Banks& regs)
{
    std::string image;
    image.reserve(regs.size() * 128);
    for (const auto& bank : regs)
        image.append(reinterpret_cast<const char*>(bank.data()), bank.size());
    return image;
}

}  // namespace

std::string VideoChipModel::registerImage() const
{
    std::lock_guard<std::mutex> lock(m_);
    return imageOf(regs_);
}

VideoChipStill VideoChipModel::still() const
{
    VideoChipStill s;
    std::lock_guard<std::mutex> lock(m_);
    s.regs_ = regs_;
    s.osd_ = gfx_->osdView();
    return s;
}

VideoChipStill::VideoChipStill(const VideoChipModel& chip) : VideoChipStill(chip.still()) {}

uint8_t VideoChipStill::reg(uint8_t bank, uint8_t addr) const { return regs_[bank][addr & kAddrBits]; }

uint32_t VideoChipStill::regValue(uint8_t bank, uint8_t addr, int n) const
{
    return registerValue(regs_, bank, addr, n);
}

std::string VideoChipStill::registerImage() const { return imageOf(regs_); }

uint32_t VideoChipModel::regValue(uint8_t bank, uint8_t addr, int n) const
{
    std::lock_guard<std::mutex> lock(m_);
    return registerValue(regs_, bank, addr, n);
}

void VideoChipModel::setReg(uint8_t bank, uint8_t addr, uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_);
    regs_[bank][addr & kAddrBits] = value;
}

uint8_t VideoChipModel::currentBank() const
{
    std::lock_guard<std::mutex> lock(m_);
    return bank_;
}

std::vector<VideoChipModel::Write> VideoChipModel::writes() const
{
    std::lock_guard<std::mutex> lock(m_);
    return writes_.entries();
}

std::vector<VideoChipModel::Frame> VideoChipModel::frames() const
{
    std::lock_guard<std::mutex> lock(m_);
    return frames_.entries();
}

void VideoChipModel::clearLog()
{
    std::lock_guard<std::mutex> lock(m_);
    writes_.clear();
    frames_.clear();
    bytes_ = 0;
}

std::vector<uint8_t> VideoChipModel::writesTo(uint8_t bank, uint8_t addr) const
{
    std::lock_guard<std::mutex> lock(m_);
    std::vector<uint8_t> out;
    for (const Write& w : writes_.entries())
        if (w.addr != kBankRegister && w.bank == bank && w.addr == addr)
            out.push_back(w.value);
    return out;
}

uint64_t VideoChipModel::bytesReceived() const
{
    std::lock_guard<std::mutex> lock(m_);
    return bytes_;
}

void VideoChipModel::scriptIdReads(const std::vector<uint8_t>& values)
{
    std::lock_guard<std::mutex> lock(m_);
    idScript_.assign(values.begin(), values.end());
}

void VideoChipModel::failTransfers(int n)
{
    std::lock_guard<std::mutex> lock(m_);
    failNext_ = n;
}

void VideoChipModel::setAbsent(bool absent)
{
    std::lock_guard<std::mutex> lock(m_);
    absent_ = absent;
}

uint8_t VideoChipModel::flashByte(uint32_t address) const
{
    std::lock_guard<std::mutex> lock(m_);
    return gfx_->flashByte(address);
}

std::vector<uint8_t> VideoChipModel::flash(uint32_t address, uint32_t length) const
{
    std::lock_guard<std::mutex> lock(m_);
    return gfx_->flash(address, length);
}

void VideoChipModel::setFlash(uint32_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(m_);
    gfx_->setFlash(address, bytes);
}

std::string VideoChipModel::osdView() const
{
    std::lock_guard<std::mutex> lock(m_);
    return gfx_->osdView();
}

VideoChipModel& attachVideoChip()
{
    std::lock_guard<std::mutex> lock(g_modelsMutex);
    // Earlier models stay alive: a bus of an earlier board may still point at them.
    models().push_back(std::make_unique<VideoChipModel>());
    VideoChipModel& chip = *models().back();
    if (auto* bus = dynamic_cast<platform::SimSpiBus*>(&platform::spi()))
        bus->attach("/dev/spidev32766.0", &chip);
    return chip;
}

VideoChipModel& videoChip()
{
    {
        std::lock_guard<std::mutex> lock(g_modelsMutex);
        if (!models().empty())
            return *models().back();
    }
    return attachVideoChip();
}

}  // namespace sim
