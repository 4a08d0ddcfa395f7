// The chip's serial flash, reached through the flash controller of bank 0x04: program, read and
// erase, the serial-flash DMA into chip memory, and the OSD fonts kept there.
//
// Every controller wait is bounded by the time the flash may take at worst for its operation,
// polling with a short pause; an operation whose wait runs out reports 255. A whole operation
// (a multi-unit erase: each unit) holds osd_op_mutex, so a link thread's flash command never
// interleaves with the worker's font copy or OSD drawing on the same registers.
//
// The flash takes no command while a program or erase is in progress, so every operation first
// waits (within its own bound) until the flash and the controller are idle, and issues nothing
// when they do not become so. An operation that fails with the flash still busy says so
// (sfl_left_busy, a log line and, with the flash print switch, a message).
#include <algorithm>
#include <cstdio>
#include <mutex>

#include "core/global.h"
#include "core/status_bytes.h"
#include "core/utils.h"
#include "engine/c331_drv.h"
#include "engine/c331_image.h"
#include "engine/c331_manage.h"

using namespace c331osd;

namespace {

// Controller set-up shared by every flash operation and the DMA.
constexpr uint32_t kRegSflClock = 0x054203;
constexpr uint32_t kRegSflTimingA = 0x053C02;
constexpr uint32_t kRegSflTimingB = 0x053E02;
constexpr uint32_t kRegSflLimit = 0x054502;
constexpr uint32_t kSflClock = 0x55, kSflTiming = 768, kSflLimit = 1023;

constexpr uint32_t kRegChipId = 0xB20801;
constexpr uint32_t kRegMode = 0x044701;
constexpr uint32_t kRegCmd = 0x044801;
constexpr uint32_t kRegProgOp = 0x044901;
constexpr uint32_t kRegReadOp = 0x044A01;
constexpr uint32_t kRegEraseOp = 0x044B01;
constexpr uint32_t kRegWrenOp = 0x044C01;
constexpr uint32_t kRegRdsrOp = 0x044D01;
constexpr uint32_t kRegAddress = 0x044E04;
constexpr uint32_t kRegDataCtl = 0x045201;   // B4_SFLDTCTL
constexpr uint32_t kRegData = 0x045301;
constexpr uint32_t kRegStat = 0x045401;      // B4_SFLSTAT
constexpr uint32_t kRegRdsr = 0x045501;      // B4_SFLRDSR
constexpr uint32_t kRegDmaLength = 0x045604;
constexpr uint32_t kRegDmaType = 0x045A01;
constexpr uint32_t kRegAddrMode = 0x045F01;
constexpr uint32_t kRegCmd2 = 0x046001;
constexpr uint32_t kRegGfxStart = 0x040801;
constexpr uint32_t kRegGfxStartMirror = 0x440801;
constexpr uint32_t kRegDmaDest0 = 0x041104;
constexpr uint32_t kRegDmaDest1 = 0x042702;
constexpr uint32_t kRegDmaDest4 = 0x091F01;

constexpr uint32_t kModeReset = 128, kModeAccess = 49, kModeErase = 1, kModeDma = 51, kModeDma1 = 55;
constexpr uint32_t kAddrMode4 = 1, kAddrModeDma = 2;
constexpr uint32_t kOpProgram4 = 0x12, kOpRead4 = 0x0C, kOpWren = 0x06, kOpRdsr = 0x05, kOpWrdi = 0x04;
constexpr uint32_t kOpDmaErase = 199;
constexpr uint32_t kCmdIdle = 0, kCmdDma = 2, kCmdRun = 4, kCmdPlain = 5;
constexpr uint32_t kReadStart = 0x01;
constexpr uint32_t kDmaLengthFlag = 0x80000000u;

constexpr uint8_t kWriteEmpty = 0x20, kReadBusy = 0x80;
constexpr uint8_t kDmaBusy = 0x01, kWriteBusy = 0x02, kEraseBusy = 0x08;
constexpr uint8_t kWip = 0x01, kWel = 0x02;

constexpr uint32_t kPage = 256;
constexpr uint32_t kBlock = 4096;

// Worst cases of the flash, from the maxima that datasheets of common 256-Mbit serial NOR
// flashes give: 4 KB sector erase 400 ms, 32 KB block erase 1.6 s, 64 KB block erase 2 s, page
// program 3 ms (5 ms on some parts), status-register write 15 ms. A wait gives up after twice
// its operation's worst case. The DMA reads the flash at 1 MB/s or more (a single-bit read at
// 10 MHz moves 1.25 MB/s): it may take 2 us per byte plus a second.
constexpr uint64_t kUsPerMs = 1000;
constexpr uint64_t kMargin = 2;
constexpr uint64_t kSectorEraseMaxUs = 400 * kUsPerMs;
constexpr uint64_t kBlock32EraseMaxUs = 1600 * kUsPerMs;
constexpr uint64_t kBlock64EraseMaxUs = 2000 * kUsPerMs;
constexpr uint64_t kPageProgramMaxUs = 5 * kUsPerMs;
constexpr uint64_t kStatusWriteMaxUs = 15 * kUsPerMs;
constexpr uint64_t kReadStartMaxUs = 5 * kUsPerMs;
constexpr uint64_t kDmaBaseUs = 1000 * kUsPerMs;
constexpr uint64_t kDmaUsPerByte = 2;

// Pause between two polls: short against the operation's typical time (page program about
// 0.7 ms, sector erase about 45 ms), so a finished operation is seen soon after it ends.
constexpr unsigned kShortPauseUs = 10;
constexpr unsigned kErasePauseUs = 100;
// Between two erase units the OSD lock stays free this long, so that a thread waiting for it gets
// it: a lock taken again at once would mostly win over the waiter.
constexpr unsigned kEraseUnitGapUs = 1000;

// Polls after which a wait prints its time-out message (with the flash print switch); the wait
// itself goes on to its time bound.
constexpr int kProgramPolls = 9999;
constexpr int kEraseBusyPolls = 5000;
constexpr int kWipPolls = 1000;
constexpr int kReadPolls = 9999;
constexpr int kNoMessage = -1;

// One wait of the controller: its time bound, the pause between polls, the poll count after
// which its message prints.
struct WaitSpec {
    uint64_t boundUs;
    unsigned pauseUs;
    int messagePolls;
};
constexpr WaitSpec kProgramWait = {kMargin * kPageProgramMaxUs, kShortPauseUs, kProgramPolls};
constexpr WaitSpec kWrdiWait = {kMargin * kStatusWriteMaxUs, kShortPauseUs, kWipPolls};
constexpr WaitSpec kReadWait = {kMargin * kReadStartMaxUs, kShortPauseUs, kReadPolls};
constexpr WaitSpec eraseWait(uint64_t maxUs, int messagePolls)
{
    return {kMargin * maxUs, kErasePauseUs, messagePolls};
}
constexpr WaitSpec dmaWait(uint32_t length)
{
    return {kDmaBaseUs + kDmaUsPerByte * length, kErasePauseUs, kNoMessage};
}

constexpr int kErasePrintEvery = 40;
constexpr int kWritePrintEvery = 8192;
constexpr int kReadPrintEvery = 1024;
constexpr int kFlashPrint = 6;

// Each erase unit has a 3-byte-address opcode and a 4-byte-address one. The flash takes only 24
// address bits with the former, so a unit at or above 16 MiB (the palette at 0x10D3C00) needs the
// latter, as programs and reads do; below 16 MiB the 3-byte opcodes stay.
struct EraseType {
    uint32_t opcode;
    uint32_t opcode4;
    uint32_t unit;
    uint64_t maxUs;   // the flash's worst case for one unit
};
constexpr EraseType kEraseTypes[3] = {{0x20, 0x21, 4096, kSectorEraseMaxUs},
                                      {0x52, 0x5C, 32768, kBlock32EraseMaxUs},
                                      {0xD8, 0xDC, 65536, kBlock64EraseMaxUs}};
constexpr uint32_t kAddr3Limit = 1u << 24;

const char* const kWemptyTimeout =
    "B4_SFLDTCTL WEMPTY Timeout Error!!. Please check the circumestance of Serial Flash.";
const char* const kWbusyTimeout = "B4_SFLSTAT WBUSY Timeout Error!!. Please check the circumestance of Serial Flash.";
const char* const kWipTimeout = "B4_SFLRDSR WIP Timeout Error!!. Please check the circumestance of Serial Flash.";
const char* const kWrdiTimeout = "B4_SFLRDSR WRDI Timeout Error!!. Please check the circumestance of Serial Flash.";
const char* const kEbusyTimeout = "B4_SFLSTAT EBUSY Timeout Error!!. Please check the circumestance of Serial Flash.";
const char* const kIdleTimeout = "Serial Flash still busy: the operation is not started.";
const char* const kLeftBusy = "Serial Flash left busy by a failed operation.";

bool inFlash(int address, int length)
{
    return address >= 0 && length >= 0 && uint32_t(address) <= kFlashSize &&
           uint32_t(length) <= kFlashSize - uint32_t(address);
}

// Time since a wait began. It counts at least the pauses asked for, so the bound holds even
// where a sleep returns early (tests make every sleep return at once).
class PollTimer {
public:
    PollTimer(c331_manage& e, uint64_t boundUs) : e_(e), bound_(boundUs), start_(e.clockUsFn()) {}
    bool expired() const { return std::max(e_.clockUsFn() - start_, paused_) >= bound_; }
    void pause(unsigned us)
    {
        e_.usleepFn(us);
        paused_ += us;
    }

private:
    c331_manage& e_;
    uint64_t bound_;
    uint64_t paused_ = 0;
    uint64_t start_;
};

// Register access of one flash operation on the caller's descriptor, holding the OSD operation
// lock for the whole operation.
class FlashPort {
public:
    FlashPort(c331_manage& e, int fd) : lock_(e.osd_op_mutex), e_(e), fd_(fd) {}
    void w(uint32_t id, uint32_t v) { e_.driver->write_C331(fd_, id, v); }
    uint32_t r(uint32_t id) { return e_.driver->read_C331(fd_, id); }
    bool print() const { return e_.prnEn[kFlashPrint] != 0; }
    void say(const char* text) const
    {
        if (print())
            printf("%s\n", text);
    }

    // Polls until poll(&value) is true, pausing between polls; false once the wait's time bound
    // is over. The message prints after the wait's poll count, or when the bound ends the wait
    // before that.
    template <typename Poll>
    bool waitUntil(Poll poll, const WaitSpec& spec, const char* timeout, bool eraseProgress = false)
    {
        PollTimer timer(e_, spec.boundUs);
        for (int n = 0;; ++n) {
            // Judged before the poll: a thread held up past the bound still polls once more
            // and fails only when the flash is still busy then.
            const bool late = timer.expired();
            uint32_t v = 0;
            if (poll(&v))
                return true;
            if (eraseProgress && print() && n % kErasePrintEvery == 0)
                printf("B4_SFLSTAT = %02x.Wait Please.\n", v);
            if (n == spec.messagePolls)
                say(timeout);
            if (late) {
                if (n < spec.messagePolls || spec.messagePolls == kNoMessage)
                    say(timeout);
                return false;
            }
            timer.pause(spec.pauseUs);
        }
    }

    // Polls `id` until (value & mask) != 0 equals `set`.
    bool waitFor(uint32_t id, uint8_t mask, bool set, const WaitSpec& spec, const char* timeout,
                 bool eraseProgress = false)
    {
        return waitUntil(
            [&](uint32_t* v) {
                *v = r(id);
                return ((*v & mask) != 0) == set;
            },
            spec, timeout, eraseProgress);
    }

    // No program or erase in progress in the flash, no program, erase or DMA in the controller.
    bool idle(uint32_t* status)
    {
        *status = r(kRegStat);
        return (*status & (kDmaBusy | kWriteBusy | kEraseBusy)) == 0 && (r(kRegRdsr) & kWip) == 0;
    }

    // Waits within the operation's own bound until the flash is idle.
    bool waitIdle(const WaitSpec& own)
    {
        const WaitSpec spec = {own.boundUs, own.pauseUs, kNoMessage};
        const bool ok = waitUntil([&](uint32_t* v) { return idle(v); }, spec, kIdleTimeout);
        e_.sfl_left_busy = !ok;
        return ok;
    }

    // The result of an operation; one that failed leaves the flash idle or says that it did not.
    int finish(bool ok)
    {
        uint32_t status = 0;
        if (!ok && !idle(&status)) {
            e_.sfl_left_busy = true;
            say(kLeftBusy);
            writeLogMsg(LOG_FAILURE, kLeftBusy);
        }
        return ok ? 0 : 255;
    }

    // Clears a write-enable latch the flash left set.
    bool writeDisable()
    {
        if (!(r(kRegRdsr) & kWel))
            return true;
        say("B4_SFLRDSR WEL is 1, and have to clear WEL bit.");
        say("Serial Flash WRDI command process start.");
        w(kRegEraseOp, kOpWrdi);
        w(kRegCmd, kCmdPlain);
        const bool ok = waitFor(kRegRdsr, kWel, false, kWrdiWait, kWrdiTimeout);
        w(kRegCmd, kCmdIdle);
        return ok;
    }

    // The end of one programmed page.
    bool completion()
    {
        return waitFor(kRegDataCtl, kWriteEmpty, true, kProgramWait, kWemptyTimeout) &&
               waitFor(kRegStat, kWriteBusy, false, kProgramWait, kWbusyTimeout) &&
               waitFor(kRegRdsr, kWip, false, kProgramWait, kWipTimeout) && writeDisable();
    }

    // Programming stops at the end of each page: rewriting the address closes the page buffer.
    bool closePage(uint32_t next)
    {
        w(kRegAddress, next);
        return completion();
    }

    // A chip that does not answer reads all zeros, which the waits would take for "done".
    bool present() { return r(kRegChipId) == c331_manage::kChipId; }

    // The controller set-up of a program, read or erase, once the chip answers and the flash is
    // idle.
    bool begin(const WaitSpec& own)
    {
        if (!present() || !waitIdle(own))
            return false;
        w(kRegSflClock, kSflClock);
        w(kRegSflTimingA, kSflTiming);
        w(kRegSflTimingB, kSflTiming);
        w(kRegSflLimit, kSflLimit);
        return true;
    }

private:
    std::lock_guard<std::recursive_mutex> lock_;
    c331_manage& e_;
    int fd_;
};

// One erase unit as a whole operation of its own: a long erase (up to 256 units of seconds each)
// holds the OSD lock one unit at a time, so the worker's OSD drawing and font copies, waiting
// for it with para_mutex held, get in between. Each unit sets the controller up again, since
// such an operation changes its mode.
bool eraseUnit(c331_manage& e, int fd, const EraseType& t, uint32_t address)
{
    FlashPort p(e, fd);
    if (!p.begin(eraseWait(t.maxUs, kNoMessage)))
        return false;
    p.w(kRegCmd, kCmdIdle);
    p.w(kRegMode, kModeReset);
    p.w(kRegMode, kModeErase);
    p.w(kRegWrenOp, kOpWren);
    p.w(kRegRdsrOp, kOpRdsr);
    p.w(kRegAddrMode, kAddrMode4);
    p.w(kRegEraseOp, address < kAddr3Limit ? t.opcode : t.opcode4);
    p.w(kRegAddress, address);
    p.w(kRegCmd, kCmdRun);
    bool ok = p.waitFor(kRegStat, kEraseBusy, false, eraseWait(t.maxUs, kEraseBusyPolls), kEbusyTimeout, true);
    if (ok)
        p.say("B4_SFLSTAT EBUSY finish");
    ok = ok && p.waitFor(kRegRdsr, kWip, false, eraseWait(t.maxUs, kWipPolls), kWipTimeout) && p.writeDisable();
    p.w(kRegCmd, kCmdIdle);
    return p.finish(ok) == 0;
}

}  // namespace

const uint32_t c331_manage::osd_char_txt[15] = {
    1920, 1080, 0xFF0000, 0, 0, 0, 0xC0C0FF, 0x23, 0x3000, 0x10023, 0x290000, 0x410023, 0xC000, 0x450023, 0xA40000};
const uint32_t c331_manage::osd_bmp_txt[4] = {0, 1920, 1080, 0x10D3C00};

int c331_manage::write_flash(int fd, int address, int length, const char* data)
{
    if (!data || !inFlash(address, length))
        return 255;
    FlashPort p(*this, fd);
    if (!p.begin(kProgramWait))
        return 255;
    p.w(kRegMode, kModeReset);
    p.w(kRegCmd, kCmdIdle);
    p.w(kRegMode, kModeAccess);
    p.w(kRegWrenOp, kOpWren);
    p.w(kRegRdsrOp, kOpRdsr);
    p.w(kRegProgOp, kOpProgram4);
    p.w(kRegAddrMode, kAddrMode4);
    p.w(kRegCmd, kCmdIdle);
    p.w(kRegCmd2, 0);
    p.w(kRegAddress, uint32_t(address));
    p.w(kRegAddress, uint32_t(address));
    for (int i = 0; i < length; ++i) {
        p.w(kRegData, uint8_t(data[i]));
        const uint32_t next = uint32_t(address) + uint32_t(i) + 1;
        if (next % kPage == 0 && !p.closePage(next))
            return p.finish(false);
        if (p.print() && (i + 1) % kWritePrintEvery == 0)
            printf("#### %8d byte of %8d byte write finish. ###\n", i + 1, length);
    }
    const uint32_t end = uint32_t(address) + uint32_t(length);
    return p.finish(length == 0 || end % kPage == 0 || p.closePage(end));
}

int c331_manage::read_flash(int fd, int address, int length, char* buffer, int capacity)
{
    if (!buffer || !inFlash(address, length) || length > capacity)
        return 255;
    FlashPort p(*this, fd);
    if (!p.begin(kReadWait))
        return 255;
    p.w(kRegCmd, kCmdIdle);
    p.w(kRegMode, kModeReset);
    p.w(kRegMode, kModeAccess);
    p.w(kRegReadOp, kOpRead4);
    p.w(kRegAddrMode, kAddrMode4);
    p.w(kRegCmd, kCmdIdle);
    p.w(kRegCmd2, 0);
    p.w(kRegAddress, uint32_t(address));
    p.w(kRegDataCtl, kReadStart);
    const bool ready = p.waitFor(kRegDataCtl, kReadBusy, false, kReadWait, kWipTimeout);
    p.w(kRegDataCtl, 0);
    if (!ready)
        return p.finish(false);
    for (int i = 0; i < length; ++i) {
        buffer[i] = char(p.r(kRegData));
        if (p.print() && ((i + 1) % kReadPrintEvery == 0 || i + 1 == length))
            printf("#### %8d byte of %8d byte read finish. ###\n", i + 1, length);
    }
    p.w(kRegAddress, uint32_t(address));
    return 0;
}

int c331_manage::erase_flash(int fd, int startBlock, int count, char type)
{
    const EraseType& t = kEraseTypes[(type == 0 || type == 1) ? type : 2];
    if (startBlock < 0 || count < 1 || uint32_t(startBlock) >= kFlashSize / kBlock ||
        uint32_t(count) > (kFlashSize - uint32_t(startBlock) * kBlock) / t.unit)
        return 255;
    for (int k = 0; k < count; ++k) {
        // A box being stopped does not wait out seconds of erasing: it ends between two units,
        // and leaves the flash as a power cut there would.
        if (k > 0 && stopping())
            return 255;
        if (k > 0)
            usleepFn(kEraseUnitGapUs);
        if (!eraseUnit(*this, fd, t, uint32_t(startBlock) * kBlock + uint32_t(k) * t.unit))
            return 255;
    }
    return 0;
}

int c331_manage::osd_write_dma_sfl(uint32_t flashAddress, uint32_t dest, int type, uint32_t length)
{
    FlashPort p(*this, c331_fd);
    if (!p.present() || !p.waitIdle(dmaWait(length)))
        return 255;
    p.w(kRegSflClock, kSflClock);
    p.w(kRegSflLimit, kSflLimit);
    p.w(kRegSflTimingA, kSflTiming);
    p.w(kRegSflTimingB, kSflTiming);
    p.w(kRegGfxStart, 0);
    p.w(kRegGfxStartMirror, 0);
    p.w(kRegMode, kModeReset);
    p.w(kRegMode, type == 1 ? kModeDma1 : kModeDma);
    p.w(kRegAddrMode, kAddrModeDma);
    p.w(kRegProgOp, kOpProgram4);
    p.w(kRegReadOp, kOpRead4);
    p.w(kRegEraseOp, kOpDmaErase);
    p.w(kRegWrenOp, kOpWren);
    p.w(kRegRdsrOp, kOpRdsr);
    p.w(kRegAddress, flashAddress);
    p.w(kRegDmaLength, length | kDmaLengthFlag);
    p.w(kRegDmaType, uint32_t(type) & 0x0F);
    if (type == 0)
        p.w(kRegDmaDest0, dest);
    else if (type == 1)
        p.w(kRegDmaDest1, dest);
    else if (type == 4)
        p.w(kRegDmaDest4, dest);
    p.w(kRegCmd, kCmdDma);
    // A stop does not wait for the copy (up to a second for the largest font): the chip finishes
    // it on its own, and the next operation waits for the flash to be idle.
    bool stopped = false;
    const bool ok = p.waitUntil(
        [&](uint32_t* v) {
            *v = p.r(kRegStat);
            stopped = (*v & kDmaBusy) != 0 && stopping();
            return (*v & kDmaBusy) == 0 || stopped;
        },
        dmaWait(length), "serial flash DMA timeout");
    if (stopped)
        return 255;
    p.w(kRegCmd, kCmdIdle);
    return p.finish(ok);
}

void c331_manage::update_font(int fd) { copy_fonts(fd); }

bool c331_manage::copy_fonts(int)
{
    std::lock_guard<std::recursive_mutex> lock(osd_op_mutex);
    uint32_t dest = sys.font_mem[3];
    bool whole = true;
    for (int f = 0; f < kFonts; ++f) {
        // A stop does not wait for the rest of the fonts (a second or so on the board).
        if (f > 0 && stopping())
            return false;
        const uint32_t flash = osd_char_txt[7 + 2 * f];
        const uint32_t size = osd_char_txt[8 + 2 * f];
        font_chip_addr[f] = dest;
        if (osd_write_dma_sfl(flash, dest, 0, size) != 0) {
            writeLogMsg(LOG_FAILURE, "font copy into chip memory timed out");
            whole = false;
        }
        dest += size;
    }
    return whole;
}

void c331_manage::read_c331_font(int fd)
{
    // Heads are checked in this order: 32-dot CJK, 32-dot ASCII, 64-dot CJK, 64-dot ASCII.
    static constexpr Font kOrder[kFonts] = {kCjk32, kAscii32, kCjk64, kAscii64};
    std::lock_guard<std::recursive_mutex> lock(osd_op_mutex);
    unsigned char* status = &imageRegStatus()[kFontStatusByte];
    font_bits = 0;
    for (Font f : kOrder) {
        const FontArea& a = kFontAreas[f];
        char head[kFontHeadLen] = {};
        const bool present = read_flash(fd, int(a.head), int(kFontHeadLen), head, int(sizeof head)) == 0 &&
                             uint8_t(head[0]) == kFontPresent;
        if (present) {
            font_bits |= a.managerBit;
            statusbyte::setBits(status, a.statusBits);
        } else {
            font_bits &= ~a.managerBit;
            statusbyte::clearBits(status, a.statusBits);
        }
    }
}
