// The two output FPGAs of the simulated board and the serial flash devices wired behind them,
// seen from the device side of the SPI bus and the GPIO pads.
//
// FPGA (spidev .1 and .2): a message sent while the FPGA's command line is high is a 4-byte
// command word (least significant byte first: kind<<1 | read, RAM id, then the 12-bit RAM
// address or the register number and the write mask); the next message is its data phase.
// 256 registers, RAMs of 4096 bytes. The FPGA only answers while its own chip select is low and
// the other one high; while its reset line is low it holds registers in reset (register 31 reads
// 0), and it powers up afresh when the line goes high again.
//
// Flash (spidev .3 and .4): 8 MB of serial flash behind each FPGA, answering only while its path
// is selected (device 2: FPGA 0's chip select and sel_flash2 low; device 3: FPGA 1's chip select
// and both sel_flash3 lines low). One message is one command. Contents persist under the root.
// An erase or a page program keeps the part busy for its time (status bit 0); a busy part takes
// no command but the status read, and its data line says nothing then (reads as 0xFF, the pulled-up
// line), as an unselected part's does.
//
// The send and reply engines of the output ports belong to the receiving-card chain model: it
// plugs in as a SimFpgaPortEngine and works on the FPGA's registers, RAMs and interrupt line
// through the public access below.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/spi.h"
#include "platform/bounded_log.h"

namespace platform {
class SimGpioWindow;
}

namespace sim {

class SimFpga;

// The port side of an FPGA (send RAMs, reply RAMs, ready/busy bits, link bits), attached by the
// receiving-card model. Called with the FPGA's lock held; use only SimFpga's access below.
class SimFpgaPortEngine {
public:
    virtual ~SimFpgaPortEngine() = default;
    // After a register write was applied: the bits that were in the mask, old and new value.
    virtual void onRegisterWrite(SimFpga& fpga, int reg, uint8_t mask, uint8_t before, uint8_t after) = 0;
    // Before a register's value is sent back (busy counters, reply loading).
    virtual void onRegisterRead(SimFpga& fpga, int reg) = 0;
    // After the FPGA powered up afresh (reset released or returned after a drop-out).
    virtual void onPowerUp(SimFpga& fpga) = 0;
    // The controller samples the interrupt pad: replies that came due by now show up.
    virtual void onIrqSample(SimFpga&) {}
};

class SimFpga : public platform::SpiDeviceModel {
public:
    static constexpr int kRamSize = 4096;
    // The RAM ids the FPGA holds: 1 the parameter block, 2 to 17 the reply (even) and send (odd)
    // RAMs of the eight port pairs. A command word naming any other id reaches no memory.
    static constexpr int kFirstRam = 1;
    static constexpr int kLastRam = 17;
    static constexpr bool ramExists(int id) { return id >= kFirstRam && id <= kLastRam; }
    static constexpr size_t kLogLimit = 100000;   // accesses kept for log()

    // One command with its data phase, as seen on the wire.
    struct Access {
        std::array<uint8_t, 4> word{};
        std::vector<uint8_t> data;      // bytes sent in the data phase
        std::vector<uint8_t> answer;    // bytes returned in the data phase
    };

    SimFpga(int index, platform::SimGpioWindow& gpio);

    bool spiMessage(const platform::SpiTransfer* xfers, unsigned count) override;
    void resetLine(bool high);          // follows the FPGA's reset pad
    void irqSampled();                  // the controller reads the interrupt pad

    // ---- access for tests and the port engine ----
    int index() const { return index_; }
    uint8_t reg(int n) const;
    void setReg(int n, uint8_t value);   // back door: no side effects
    // Back door to the RAMs; an id the FPGA does not hold reads empty, takes nothing, has no data.
    std::vector<uint8_t> ram(int id, int address, int length) const;
    void setRam(int id, int address, const std::vector<uint8_t>& bytes);
    uint8_t* ramData(int id);           // for the port engine (lock held)
    void setIrq(bool raised);           // drives the interrupt pad
    void setPortEngine(SimFpgaPortEngine* engine);
    std::recursive_mutex& lock() { return m_; }

    // ---- observation ----
    std::vector<Access> log() const;
    void clearLog();
    int registerReads(int n) const;     // reads of one register since the last clearLog
    int refusedRamAccesses() const;     // RAM commands naming an id the FPGA does not hold
    bool inReset() const;
    int powerUps() const;

    // ---- fault knobs ----
    void setNeverUp(bool on);           // the FPGA is never configured: register 31 reads 0
    void dropOut();                     // loses its configuration: status bit 6, interrupt
    void comeBack();                    // configured again, as after power-up
    void setVboErrorStuck(bool on);     // the V-by-One error bit never clears
    void setNeverLocks(bool on);        // the V-by-One receiver never locks
    void loseLock();                    // the receiver drops its lock (until restarted)
    void setRamIgnoresWrites(int id, bool on);
    // Register `reg` reads `value` whatever was written (-1: reads what was written).
    void setReadOverride(int reg, int value);
    // The picture the FPGA measures (RAM 1 bytes 116-123 once locked).
    void setPicture(uint16_t width, uint16_t height, uint32_t frame);

private:
    void powerUp();
    void applyWrite(int reg, uint8_t mask, uint8_t value);
    uint8_t readReg(int reg);
    void refreshStatus();
    void updateIrq();
    bool selected() const;
    bool commandPhase() const;

    mutable std::recursive_mutex m_;
    const int index_;
    platform::SimGpioWindow& gpio_;
    std::array<uint8_t, 256> regs_{};
    std::vector<std::vector<uint8_t>> rams_;
    std::array<uint8_t, 4> word_{};
    bool haveWord_ = false;
    platform::BoundedLog<Access> log_{kLogLimit};
    std::array<int, 256> reads_{};
    SimFpgaPortEngine* engine_ = nullptr;

    bool reset_ = false;
    bool neverUp_ = false;
    bool lost_ = false;
    bool vboErrorStuck_ = false;
    bool neverLocks_ = false;
    bool vboErrorCleared_ = false;
    bool locked_ = false;
    int powerUps_ = 0;
    int refusedRam_ = 0;
    std::array<bool, kLastRam + 1> ramIgnores_{};
    std::array<int, 256> readOverride_ = filledOverrides();
    static std::array<int, 256> filledOverrides()
    {
        std::array<int, 256> a{};
        a.fill(-1);
        return a;
    }
    uint16_t picWidth_ = 1920;
    uint16_t picHeight_ = 1080;
    uint32_t picFrame_ = 833333;
};

class SimSerialFlash : public platform::SpiDeviceModel {
public:
    static constexpr uint32_t kSize = 0x800000;
    static constexpr size_t kLogLimit = 100000;   // operations kept for log()

    struct Op {
        uint8_t opcode;
        uint32_t address;
        uint32_t length;   // bytes of data moved (program, read), erase unit size
        bool accepted;     // false: ignored (busy, not write-enabled)
    };

    // `device` 2 or 3; contents persist in `file` (a system path under the root).
    SimSerialFlash(int device, platform::SimGpioWindow& gpio, std::string file);
    ~SimSerialFlash() override;

    bool spiMessage(const platform::SpiTransfer* xfers, unsigned count) override;

    // ---- back door ----
    std::vector<uint8_t> contents(uint32_t address, uint32_t length) const;
    void write(uint32_t address, const std::vector<uint8_t>& bytes);   // raw, persisted
    std::vector<Op> log() const;
    void clearLog();
    int statusPolls() const;
    void setBusyPolls(int polls) { busyPolls_ = polls; }  // busy time of each erase/program
    // How long an erase of a 4 KB sector, a 32 KB block and a 64 KB block keeps the flash busy, in
    // milliseconds of the machine's clock, on top of the busy polls (0: no time).
    void setEraseTimes(uint32_t sectorMs, uint32_t block32Ms, uint32_t block64Ms)
    {
        std::lock_guard<std::mutex> lock(m_);
        eraseMs_ = {sectorMs, block32Ms, block64Ms};
    }
    // How long a page program keeps the flash busy, in microseconds of the machine's clock, on top
    // of the busy polls (0: no time).
    void setProgramTime(uint32_t us)
    {
        std::lock_guard<std::mutex> lock(m_);
        programUs_ = us;
    }
    void setStuckBusy(bool on)
    {
        std::lock_guard<std::mutex> lock(m_);
        stuckBusy_ = on;
    }
    void setUid(const std::array<uint8_t, 8>& uid) { uid_ = uid; }

private:
    bool selected() const;
    void load();
    void persist(uint32_t address, uint32_t length);
    void erase(uint32_t address, uint32_t unit);
    void program(uint32_t address, const uint8_t* data, uint32_t length);

    mutable std::mutex m_;
    const int device_;
    platform::SimGpioWindow& gpio_;
    std::string file_;
    std::string path_;
    std::vector<uint8_t> data_;
    bool onDisk_ = false;
    platform::BoundedLog<Op> log_{kLogLimit};
    bool wel_ = false;
    int busy_ = 0;
    int busyPolls_ = 3;
    std::array<uint32_t, 3> eraseMs_{};
    uint32_t programUs_ = 0;
    std::chrono::steady_clock::time_point busyUntil_{};
    bool stuckBusy_ = false;
    int statusPolls_ = 0;
    std::array<uint8_t, 8> uid_{{0x5A, 0x31, 0x07, 0x19, 0x84, 0x00, 0xC2, 0x11}};
};

struct FpgaBoard {
    std::unique_ptr<SimFpga> fpga[2];
    std::unique_ptr<SimSerialFlash> flash[2];   // device 2 behind FPGA 0, device 3 behind FPGA 1
};

// Builds the FPGAs and their flash on the current simulated board and attaches them to its SPI
// bus and GPIO window (again after the board was replaced). Returns the models.
FpgaBoard& attachFpgas();
// The models attached last (null before attachFpgas).
FpgaBoard* fpgaBoard();
// Tests: fpgaBoard() is null again, as before the first attachFpgas (the models stay alive for
// the listeners of the board they were attached to).
void forgetFpgas();

}  // namespace sim
