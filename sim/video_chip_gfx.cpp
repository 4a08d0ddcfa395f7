#include "sim/video_chip_gfx.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "platform/platform.h"
#include "sim/sim_clock.h"

namespace sim {

namespace {

constexpr uint8_t kGfxBank = 0x04;
constexpr uint8_t kPlaneBank = 0x09;
constexpr uint8_t kGlobalBank = 0xFF;
constexpr uint8_t kAllChannels = 0x01;   // FF:01 = 1: bank 0x09 writes reach every channel copy
constexpr int kChannels = 8;
constexpr uint8_t kChannelStep = 16;

// Graphics engine (bank 0x04).
constexpr uint8_t kGfxStart = 0x08, kGfxFill = 1, kGfxCopy = 2, kGfxText = 3;
constexpr uint8_t kFillValue = 0x0B, kSource = 0x0D, kDest = 0x11, kGfxStatus = 0x17;
constexpr uint8_t kDestPitch = 0x1B, kWidth = 0x1E, kHeight = 0x20, kMode = 0x22;
constexpr uint8_t kTextCount = 0x24, kTextCmd = 0x27, kTextCmdHigh = 0x28, kTextPort = 0x29;
constexpr uint16_t kTextHeaderCmd = 0x0A00;
constexpr uint8_t kWideMode = 48;
constexpr uint32_t kPitchUnit = 128;
constexpr size_t kBytesPerChar = 5;

// Flash controller (bank 0x04).
constexpr uint8_t kCmd = 0x48, kProgOp = 0x49, kReadOp = 0x4A, kEraseOp = 0x4B, kWrenOp = 0x4C;
constexpr uint8_t kAddr0 = 0x4E, kDataCtl = 0x52, kData = 0x53, kStat = 0x54, kRdsr = 0x55;
constexpr uint8_t kDmaLength = 0x56, kDmaType = 0x5A;
constexpr uint8_t kReadStart = 0x01, kWriteEmpty = 0x20, kReadBusy = 0x80;
constexpr uint8_t kDmaBusy = 0x01, kWriteBusy = 0x02, kEraseBusy = 0x08;
constexpr uint8_t kWip = 0x01, kWel = 0x02;
constexpr uint8_t kCmdDma = 2, kCmdRun = 4, kCmdPlain = 5;
constexpr uint8_t kOpWren = 0x06, kOpWrdi = 0x04;
constexpr uint32_t kPage = 256;
constexpr uint32_t kMemPage = 0x10000;
constexpr uint32_t kAddr24 = 0xFFFFFF;
constexpr uint32_t kMsPerTick = 10;

// Colour port of the OSD planes (bank 0x09).
constexpr uint8_t kPlaneCtl = 0x08, kColourIndex = 0x1F, kColourPort = 0x20;
constexpr size_t kPaletteBytes = 816;
constexpr unsigned kColourEntry = 6;   // background and character colour, three bytes each
constexpr uint8_t kTransparentIndex = 255;

constexpr uint32_t kAsciiGlyphs = 96;   // codes 32-127 lead every font area
constexpr uint16_t kCjkFirst = 0x4E00;

struct EraseUnit { uint8_t opcode; uint32_t size; bool addr4; };
constexpr EraseUnit kEraseUnits[] = {{0x20, 0x1000, false}, {0x52, 0x8000, false}, {0xD8, 0x10000, false},
                                     {0x21, 0x1000, true},  {0x5C, 0x8000, true},  {0xDC, 0x10000, true}};

// Program and read opcodes with 4-byte addresses (0x12, 0x0C) and 3-byte ones.
bool programOpcode(uint8_t op, bool* addr4) { *addr4 = op == 0x12; return op == 0x12 || op == 0x02; }
bool readOpcode(uint8_t op, bool* addr4) { *addr4 = op == 0x0C; return op == 0x0C || op == 0x0B || op == 0x03; }

void appendUtf8(std::string& s, uint32_t c)
{
    if (c < 0x80) {
        s += char(c);
    } else if (c < 0x800) {
        s += char(0xC0 | (c >> 6));
        s += char(0x80 | (c & 0x3F));
    } else {
        s += char(0xE0 | (c >> 12));
        s += char(0x80 | ((c >> 6) & 0x3F));
        s += char(0x80 | (c & 0x3F));
    }
}

std::string rgbText(const std::vector<uint8_t>& p, size_t at)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X%02X%02X", p[at], p[at + 1], p[at + 2]);
    return buf;
}

}  // namespace

VideoChipGfx::VideoChipGfx(Banks& regs, std::string file) : regs_(regs), file_(std::move(file)), palette_(kPaletteBytes, 0)
{
    load();
}

uint32_t registerValue(const VideoChipGfx::Banks& regs, uint8_t bank, uint8_t addr, int n)
{
    uint32_t v = 0;
    for (int k = 0; k < n && k < 4 && addr + k < 128; ++k)
        v |= uint32_t(regs[bank][addr + k]) << (8 * k);
    return v;
}

uint32_t VideoChipGfx::reg32(uint8_t bank, uint8_t addr, int n) const { return registerValue(regs_, bank, addr, n); }

void VideoChipGfx::startBusy(Busy* b, uint32_t ms)
{
    b->polls = busyPolls_;
    b->timed = ms > 0;
    b->untilTick = ticks() + (ms + kMsPerTick - 1) / kMsPerTick;
}

bool VideoChipGfx::Busy::timing() const { return timed && int32_t(untilTick - ticks()) > 0; }

bool VideoChipGfx::busy(Busy* b)
{
    if (neverReady_)
        return true;
    if (b->polls > 0) {
        --b->polls;
        return true;
    }
    if (b->timing())
        return true;
    b->timed = false;
    return false;
}

bool VideoChipGfx::flashBusy() const
{
    auto running = [](const Busy& b) { return b.polls > 0 || b.timing(); };
    return neverReady_ || running(writeBusy_) || running(eraseBusy_);
}

bool VideoChipGfx::ignoredBusy(Op::Kind kind, uint32_t address)
{
    if (!flashBusy())
        return false;
    ++ignoredWhileBusy_;
    ops_.push(Op{kind, address, 0, 0, 0, false, true});
    return true;
}

// ---- flash storage --------------------------------------------------------------------------------

void VideoChipGfx::load()
{
    if (file_.empty())
        return;
    const int fd = ::open(platform::rootPath(file_).c_str(), O_RDONLY);
    if (fd < 0)
        return;
    onDisk_ = true;
    std::vector<uint8_t> buf(kSector);
    // Only the file's data regions hold written sectors; the holes are erased flash.
    off_t at = ::lseek(fd, 0, SEEK_DATA);
    while (at >= 0 && at < off_t(kFlashSize)) {
        off_t end = ::lseek(fd, at, SEEK_HOLE);
        if (end < 0 || end > off_t(kFlashSize))
            end = off_t(kFlashSize);
        const off_t sectorSize = kSector;   // offsets and ends compare as one signed type on the board too
        for (uint32_t s = uint32_t(at / sectorSize); off_t(s) * sectorSize < end; ++s) {
            if (::pread(fd, buf.data(), kSector, off_t(s) * sectorSize) != ssize_t(kSector))
                break;
            if (std::all_of(buf.begin(), buf.end(), [](uint8_t b) { return b == 0; }))
                continue;
            auto& sector = sectors_[s];
            sector.resize(kSector);
            for (uint32_t i = 0; i < kSector; ++i)
                sector[i] = uint8_t(~buf[i]);
        }
        at = ::lseek(fd, end, SEEK_DATA);
    }
    ::close(fd);
}

void VideoChipGfx::persistSector(uint32_t sector)
{
    if (file_.empty())
        return;
    const std::string path = platform::rootPath(file_);
    if (!onDisk_) {
        // First write: the file takes every sector held so far (holes read as erased).
        platform::makeParentDirs(file_);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            return;
        onDisk_ = ::ftruncate(fd, kFlashSize) == 0;
        ::close(fd);
        for (const auto& s : sectors_)
            if (s.first != sector)
                persistSector(s.first);
    }
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0)
        return;
    std::vector<uint8_t> buf(kSector, 0);
    auto it = sectors_.find(sector);
    if (it != sectors_.end())
        for (uint32_t i = 0; i < kSector; ++i)
            buf[i] = uint8_t(~it->second[i]);
    (void)!::pwrite(fd, buf.data(), kSector, off_t(sector) * kSector);
    ::close(fd);
}

void VideoChipGfx::flashWrite(uint32_t address, uint8_t value, bool program)
{
    address %= kFlashSize;
    auto& sector = sectors_[address / kSector];
    if (sector.empty())
        sector.assign(kSector, 0xFF);
    uint8_t& b = sector[address % kSector];
    b = program ? uint8_t(b & value) : value;
}

uint8_t VideoChipGfx::flashByte(uint32_t address) const
{
    address %= kFlashSize;
    auto it = sectors_.find(address / kSector);
    return it == sectors_.end() ? 0xFF : it->second[address % kSector];
}

std::vector<uint8_t> VideoChipGfx::flash(uint32_t address, uint32_t length) const
{
    std::vector<uint8_t> out(length);
    for (uint32_t i = 0; i < length; ++i)
        out[i] = flashByte(address + i);
    return out;
}

void VideoChipGfx::setFlash(uint32_t address, const std::vector<uint8_t>& bytes)
{
    std::vector<uint32_t> touched;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint32_t a = (address + uint32_t(i)) % kFlashSize;
        flashWrite(a, bytes[i], false);
        if (touched.empty() || touched.back() != a / kSector)
            touched.push_back(a / kSector);
    }
    for (uint32_t s : touched)
        persistSector(s);
}

// ---- chip memory ----------------------------------------------------------------------------------

void VideoChipGfx::memWrite(uint32_t address, const uint8_t* data, uint32_t n)
{
    while (n > 0) {
        const uint32_t off = address % kMemPage;
        const uint32_t chunk = std::min(n, kMemPage - off);
        auto it = memory_.find(address / kMemPage);
        if (data) {
            auto& page = memory_[address / kMemPage];
            if (page.empty())
                page.assign(kMemPage, 0xFF);
            std::copy(data, data + chunk, page.begin() + off);
            data += chunk;
        } else if (it != memory_.end()) {
            std::fill(it->second.begin() + off, it->second.begin() + off + chunk, 0xFF);
        }
        address += chunk;
        n -= chunk;
    }
}

uint8_t VideoChipGfx::memByte(uint32_t address) const
{
    auto it = memory_.find(address / kMemPage);
    return it == memory_.end() ? 0xFF : it->second[address % kMemPage];
}

// ---- register hooks -------------------------------------------------------------------------------

void VideoChipGfx::onWrite(uint8_t bank, uint8_t addr, uint8_t value)
{
    if (bank == kPlaneBank) {
        if (regs_[kGlobalBank][kAllChannels] == 1)
            for (int c = 1; c < kChannels; ++c)
                regs_[uint8_t(kPlaneBank + kChannelStep * c)][addr] = value;
        colourPort(addr, value);
        return;
    }
    if (bank != kGfxBank)
        return;
    switch (addr) {
    case kAddr0:
        // The controller closes the page buffer when its address is written again.
        closePage();
        break;
    case kData:
        if (pending_.empty())
            pendingAt_ = reg32(kGfxBank, kAddr0, 4);
        pending_.push_back(value);
        break;
    case kDataCtl:
        if (value & kReadStart) {
            bool addr4 = true;
            readIgnored_ = ignoredBusy(Op::Read, reg32(kGfxBank, kAddr0, 4));
            if (!readIgnored_ && readOpcode(regs_[kGfxBank][kReadOp], &addr4)) {
                const uint32_t a = reg32(kGfxBank, kAddr0, 4);
                readPtr_ = addr4 ? a : (a & kAddr24);
                startBusy(&readBusy_);
                ops_.push(Op{Op::Read, readPtr_, 0, 0, 0, true});
            }
        }
        break;
    case kCmd:
        command(value);
        break;
    case kGfxStart:
        graphics(value);
        break;
    case kTextCmdHigh:
        if (reg32(kGfxBank, kTextCmd, 2) == kTextHeaderCmd) {
            textFifo_.clear();
            textHeaderNext_ = true;
        }
        break;
    case kTextPort:
        textPort(value);
        break;
    default:
        break;
    }
}

bool VideoChipGfx::onRead(uint8_t bank, uint8_t addr, uint8_t* value)
{
    if (bank == kPlaneBank && addr == kColourPort) {
        *value = colourPtr_ < palette_.size() ? palette_[colourPtr_] : 0;
        return true;
    }
    if (bank != kGfxBank)
        return false;
    const uint8_t stored = regs_[bank][addr];
    switch (addr) {
    case kGfxStatus:
        *value = uint8_t((stored & ~1u) | (busy(&gfxBusy_) ? 1 : 0));
        return true;
    case kDataCtl: {
        uint8_t v = stored & ~(kWriteEmpty | kReadBusy);
        if (pending_.empty() && !neverReady_)
            v |= kWriteEmpty;
        if (busy(&readBusy_))
            v |= kReadBusy;
        *value = v;
        return true;
    }
    case kStat: {
        uint8_t v = stored & ~(kDmaBusy | kWriteBusy | kEraseBusy);
        if (busy(&dmaBusy_) || std::chrono::steady_clock::now() < dmaUntil_) v |= kDmaBusy;
        if (busy(&writeBusy_)) v |= kWriteBusy;
        if (busy(&eraseBusy_)) v |= kEraseBusy;
        *value = v;
        return true;
    }
    case kRdsr: {
        const bool wip = busy(&writeBusy_) || busy(&eraseBusy_);
        if (!wip && !welStuck_)
            wel_ = false;
        *value = uint8_t((stored & ~(kWip | kWel)) | (wip ? kWip : 0) | (wel_ ? kWel : 0));
        return true;
    }
    case kData:
        *value = readIgnored_ ? 0xFF : flashByte(readPtr_++);
        return true;
    default:
        return false;
    }
}

// ---- flash controller -----------------------------------------------------------------------------

void VideoChipGfx::closePage()
{
    if (pending_.empty())
        return;
    if (ignoredBusy(Op::Program, pendingAt_)) {
        pending_.clear();
        return;
    }
    bool addr4 = true;
    const bool enabled = regs_[kGfxBank][kWrenOp] == kOpWren;
    const bool ok = programOpcode(regs_[kGfxBank][kProgOp], &addr4) && enabled;
    const uint32_t at = (addr4 ? pendingAt_ : (pendingAt_ & kAddr24)) % kFlashSize;
    if (ok) {
        const uint32_t page = at & ~(kPage - 1);
        for (size_t i = 0; i < pending_.size(); ++i)
            flashWrite(page + (at + uint32_t(i)) % kPage, pending_[i], true);
        wel_ = true;
        startBusy(&writeBusy_, programMs_);
        persistSector(page / kSector);
    }
    ops_.push(Op{Op::Program, at, uint32_t(pending_.size()), 0, 0, ok});
    pending_.clear();
}

void VideoChipGfx::command(uint8_t value)
{
    if (value == kCmdDma) {
        if (!ignoredBusy(Op::Dma, reg32(kGfxBank, kAddr0, 4)))
            dma();
        return;
    }
    if (value != kCmdRun && value != kCmdPlain)
        return;
    const uint8_t op = regs_[kGfxBank][kEraseOp];
    if (ignoredBusy(op == kOpWrdi ? Op::WriteDisable : Op::Erase, reg32(kGfxBank, kAddr0, 4)))
        return;
    if (op == kOpWrdi) {
        wel_ = false;
        ops_.push(Op{Op::WriteDisable, 0, 0, 0, 0, true});
        return;
    }
    const uint32_t a = reg32(kGfxBank, kAddr0, 4);
    for (const EraseUnit& u : kEraseUnits) {
        if (u.opcode != op)
            continue;
        const bool ok = value == kCmdRun && regs_[kGfxBank][kWrenOp] == kOpWren;
        const uint32_t start = ((u.addr4 ? a : (a & kAddr24)) % kFlashSize) & ~(u.size - 1);
        if (ok) {
            for (uint32_t s = start / kSector; s < (start + u.size) / kSector; ++s) {
                if (sectors_.erase(s))
                    persistSector(s);
            }
            wel_ = true;
            startBusy(&eraseBusy_, eraseMs_);
        }
        ops_.push(Op{Op::Erase, start, u.size, 0, 0, ok});
        return;
    }
    ops_.push(Op{Op::Erase, a, 0, 0, op, false});
}

void VideoChipGfx::dma()
{
    const uint32_t src = reg32(kGfxBank, kAddr0, 4) % kFlashSize;
    const uint32_t length = reg32(kGfxBank, kDmaLength, 4) & 0x7FFFFFFF;
    const uint32_t type = regs_[kGfxBank][kDmaType] & 0x0F;
    uint32_t dest = 0;
    if (type == 0) {
        dest = reg32(kGfxBank, kDest, 4);
        for (uint32_t done = 0; done < length;) {
            const uint32_t a = (src + done) % kFlashSize;
            const uint32_t chunk = std::min(length - done, kSector - a % kSector);
            auto it = sectors_.find(a / kSector);
            memWrite(dest + done, it == sectors_.end() ? nullptr : it->second.data() + a % kSector, chunk);
            done += chunk;
        }
    } else if (type == 4) {
        dest = regs_[kPlaneBank][kColourIndex];
        for (uint32_t i = 0; i < length && dest * kColourEntry + i < palette_.size(); ++i)
            palette_[dest * kColourEntry + i] = flashByte(src + i);
    }
    startBusy(&dmaBusy_);
    if (dmaBytesPerMs_ > 0)
        dmaUntil_ = std::chrono::steady_clock::now() + std::chrono::microseconds(uint64_t(length) * 1000 / dmaBytesPerMs_);
    ops_.push(Op{Op::Dma, src, length, dest, type, type == 0 || type == 4});
}

// ---- graphics engine ------------------------------------------------------------------------------

void VideoChipGfx::graphics(uint8_t value)
{
    if (value != kGfxFill && value != kGfxCopy && value != kGfxText)
        return;
    startBusy(&gfxBusy_);
    const uint32_t dest = reg32(kGfxBank, kDest, 4);
    const uint32_t w = reg32(kGfxBank, kWidth, 2) + 1;
    const uint32_t h = reg32(kGfxBank, kHeight, 2) + 1;
    if (value == kGfxFill) {
        fillBase_ = dest;
        fillPitch_ = regs_[kGfxBank][kDestPitch] * kPitchUnit * (regs_[kGfxBank][kMode] == kWideMode ? 4 : 1);
        lines_.clear();
        ops_.push(Op{Op::Fill, dest, w, reg32(kGfxBank, kFillValue, 2), h, true});
        return;
    }
    if (value == kGfxCopy) {
        ops_.push(Op{Op::Copy, dest, w, reg32(kGfxBank, kSource, 4), h, true});
        return;
    }
    TextLine line;
    line.dest = dest;
    line.font = reg32(kGfxBank, kSource, 4);
    line.size = textHeaderSize_;
    const size_t count = std::min<size_t>(regs_[kGfxBank][kTextCount] + 1u, textFifo_.size() / kBytesPerChar);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* c = textFifo_.data() + kBytesPerChar * i;
        line.glyphs.push_back(uint16_t(c[0] | (c[1] << 8)));
        line.colours.push_back(c[3]);
        line.advances.push_back(c[4]);
    }
    textFifo_.clear();
    ops_.push(Op{Op::Text, dest, 0, line.font, uint32_t(count), true});
    lines_.push_back(std::move(line));
}

void VideoChipGfx::textPort(uint8_t value)
{
    if (textHeaderNext_) {
        textHeaderSize_ = value;
        textHeaderNext_ = false;
        return;
    }
    textFifo_.push_back(value);
}

void VideoChipGfx::colourPort(uint8_t addr, uint8_t value)
{
    if (addr == kColourIndex) {
        colourPtr_ = value * kColourEntry;
    } else if (addr == kColourPort) {
        if (colourPtr_ < palette_.size())
            palette_[colourPtr_] = value;
        ++colourPtr_;
    }
}

std::string VideoChipGfx::osdView() const
{
    std::string out;
    const uint32_t ctl = reg32(kPlaneBank, kPlaneCtl, 2);
    char buf[160];
    std::snprintf(buf, sizeof buf, "osd plane: %s (control 0x%04X)\n", (ctl & 3) ? "on" : "off", ctl);
    out += buf;
    for (size_t n = 0; n < lines_.size(); ++n) {
        const TextLine& l = lines_[n];
        const uint32_t off = l.dest - fillBase_;
        const uint32_t y = fillPitch_ ? off / fillPitch_ : 0;
        const uint32_t x = fillPitch_ ? off % fillPitch_ : off;
        std::string text;
        for (uint16_t g : l.glyphs)
            appendUtf8(text, g < kAsciiGlyphs ? 32u + g : uint32_t(kCjkFirst) + g - kAsciiGlyphs);
        std::string colour = "transparent background";
        if (!l.colours.empty() && l.colours[0] != kTransparentIndex) {
            const size_t at = size_t(l.colours[0]) * kColourEntry;
            if (at + kColourEntry <= palette_.size())
                colour = "text " + rgbText(palette_, at + 3) + " on " + rgbText(palette_, at);
        }
        if (!l.colours.empty() && l.colours[0] == kTransparentIndex)
            colour = "text " + rgbText(palette_, kColourEntry + 3) + ", transparent background";
        std::snprintf(buf, sizeof buf, "osd line %zu at x %u y %u, %d dots, %s: ", n + 1, x, y, l.size, colour.c_str());
        out += buf;
        out += "\"" + text + "\"\n";
    }
    return out;
}

}  // namespace sim
