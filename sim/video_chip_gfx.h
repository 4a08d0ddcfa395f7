// The video chip's serial flash with its controller, and its graphics engine, seen from the chip's
// side of its registers (bank 0x04 for both, bank 0x09 and its channel copies for the OSD planes
// and the colour port, FF:01 for the write-to-all-channels switch).
//
// Flash: 32 MiB, erased bytes read 0xFF, programming only clears bits and wraps inside its
// 256-byte page. Kept as sparse 4 KB sectors and persisted under the root (bytes stored inverted,
// so the holes of a sparse file read as erased).
//
// Controller: bytes written to the data port 04:53 collect in the page buffer; rewriting the
// address register 04:4E while bytes wait programs them at the address where they began. 04:52
// bit 0 latches the read pointer, each read of 04:53 takes one byte. 04:48 starts a command: 4
// runs the opcode in 04:4B (0x20, 0x52, 0xD8 erase the unit holding the address; 0x04 is write
// disable), 5 the same opcode as a plain command, 2 a DMA from the flash.
//
// While a program or erase is in progress (WIP) the flash takes no command, as a serial NOR flash
// does: a page program, erase, write disable, read or DMA started then is ignored (recorded as not
// done and counted); a read ignored so reads 0xFF.
//
// Graphics engine: 04:08 starts an operation (1 fill, 2 copy, 3 text), 04:17 bit 0 is busy.
// The text command port 04:29 takes 0x0A00 in 04:27 with the character size, then five bytes per
// character (glyph index low, high, 2, colour index, advance). Fills, copies and text lines are
// recorded; the text lines are decoded for the chip's view.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/bounded_log.h"

namespace sim {

class VideoChipGfx {
public:
    using Banks = std::vector<std::array<uint8_t, 128>>;

    static constexpr uint32_t kFlashSize = 32u << 20;
    static constexpr uint32_t kSector = 4096;

    // One operation of the flash controller or the graphics engine as the chip ran it.
    struct Op {
        enum Kind { Program, Erase, WriteDisable, Read, Dma, Fill, Copy, Text } kind;
        uint32_t address = 0;   // flash address (program, erase, read, DMA), destination (others)
        uint32_t length = 0;    // bytes programmed, unit size, DMA length, width for fill/copy
        uint32_t dest = 0;      // DMA destination, copy source, text font address
        uint32_t extra = 0;     // DMA type, fill value, fill/copy height, text character count
        bool done = true;       // false: refused (not write-enabled, unknown opcode, ...)
        bool whileBusy = false; // ignored: the flash was busy with a program or erase
    };

    // One text line drawn into chip memory.
    struct TextLine {
        uint32_t dest = 0;
        uint32_t font = 0;
        int size = 0;
        std::vector<uint16_t> glyphs;
        std::vector<uint8_t> colours;
        std::vector<uint8_t> advances;
    };

    // `regs` are the chip's banks; `file` the system path of the persisted flash ("" none).
    VideoChipGfx(Banks& regs, std::string file);

    // Register hooks of the chip model (called under its lock). onWrite runs after the register
    // was stored; onRead returns true when it answered the read itself.
    void onWrite(uint8_t bank, uint8_t addr, uint8_t value);
    bool onRead(uint8_t bank, uint8_t addr, uint8_t* value);

    // ---- back door ----
    uint8_t flashByte(uint32_t address) const;
    void setFlash(uint32_t address, const std::vector<uint8_t>& bytes);   // raw, persisted
    std::vector<uint8_t> flash(uint32_t address, uint32_t length) const;
    uint8_t memByte(uint32_t address) const;
    std::vector<uint8_t> palette() const { return palette_; }
    std::vector<Op> ops() const { return ops_.entries(); }
    std::vector<TextLine> textLines() const { return lines_; }
    void clearOps() { ops_.clear(); }
    void setBusyPolls(int polls) { busyPolls_ = polls; }
    // Time an erase of one unit / a page program keeps the flash busy (counted in the board's
    // ticks of 10 ms, on top of the busy polls).
    void setEraseTime(uint32_t ms) { eraseMs_ = ms; }
    void setProgramTime(uint32_t ms) { programMs_ = ms; }
    // How fast the serial-flash DMA moves its bytes into chip memory, in bytes per millisecond of
    // the machine's clock (it also runs while the board's ticks stand still, as at start-up);
    // 0: at once.
    void setDmaRate(uint32_t bytesPerMs) { dmaBytesPerMs_ = bytesPerMs; }
    void setNeverReady(bool on) { neverReady_ = on; }
    void setWelStuck(bool on) { welStuck_ = on; }
    // Commands the flash ignored because a program or erase was in progress.
    int ignoredWhileBusy() const { return ignoredWhileBusy_; }
    // The OSD as the chip shows it: plane, colours and the text lines with their characters.
    std::string osdView() const;

private:
    uint32_t reg32(uint8_t bank, uint8_t addr, int n) const;
    // A busy bit: set for a number of polls and, when timed, until a tick.
    struct Busy {
        int polls = 0;
        bool timed = false;
        uint32_t untilTick = 0;
        bool timing() const;   // timed, and its tick not reached yet
    };
    void startBusy(Busy* b, uint32_t ms = 0);
    bool busy(Busy* b);
    // A program or erase in progress, seen without taking a poll of its busy time.
    bool flashBusy() const;
    // Records a command the busy flash ignores; true when it must be ignored.
    bool ignoredBusy(Op::Kind kind, uint32_t address);
    void flashWrite(uint32_t address, uint8_t value, bool program);
    void persistSector(uint32_t sector);
    void load();
    void closePage();
    void command(uint8_t value);
    void dma();
    void graphics(uint8_t value);
    void textPort(uint8_t value);
    void colourPort(uint8_t bank, uint8_t value);
    void memWrite(uint32_t address, const uint8_t* data, uint32_t n);

    Banks& regs_;
    std::string file_;
    bool onDisk_ = false;
    std::map<uint32_t, std::vector<uint8_t>> sectors_;   // flash, 4 KB sectors
    std::map<uint32_t, std::vector<uint8_t>> memory_;    // chip memory, 64 KB pages, 0xFF unwritten
    std::vector<uint8_t> palette_;

    // Controller state.
    std::vector<uint8_t> pending_;
    uint32_t pendingAt_ = 0;
    uint32_t readPtr_ = 0;
    bool wel_ = false;
    Busy writeBusy_, eraseBusy_, readBusy_, dmaBusy_, gfxBusy_;
    int busyPolls_ = 1;
    uint32_t eraseMs_ = 0, programMs_ = 0;
    uint32_t dmaBytesPerMs_ = 0;
    std::chrono::steady_clock::time_point dmaUntil_{};
    bool neverReady_ = false;
    bool welStuck_ = false;
    bool readIgnored_ = false;
    int ignoredWhileBusy_ = 0;

    // Graphics engine state.
    std::vector<uint8_t> textFifo_;
    int textHeaderSize_ = 0;
    bool textHeaderNext_ = false;
    std::vector<TextLine> lines_;   // since the last fill
    uint32_t fillBase_ = 0, fillPitch_ = 0;
    unsigned colourPtr_ = 0;
    platform::BoundedLog<Op> ops_{100000};
};

// Little-endian value of n registers (at most 4, not past the bank's end) from `addr`.
uint32_t registerValue(const VideoChipGfx::Banks& regs, uint8_t bank, uint8_t addr, int n);

}  // namespace sim
