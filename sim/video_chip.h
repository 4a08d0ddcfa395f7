// The simulated video processing chip, seen from its side of the SPI wire.
//
// Every frame is one two-byte transfer: [0x80, bank] selects a bank (address 0 of every bank is
// the bank register), [0x80|a, d] writes a byte, [a, filler] reads one (data in the second
// received byte). The chip holds 256 banks of 128 byte registers and answers what its driver
// polls: chip id, measurement registers of its six input ports (from the simulated board's
// input signals, latched by the measurement hold), V-by-One lane counts, receiver lock bits,
// field counters, frame-event latches, and the serial-flash controller with its flash image.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <mutex>
#include <vector>

#include "platform/spi.h"
#include "platform/bounded_log.h"
#include "sim/video_chip_gfx.h"

namespace sim {

class VideoChipModel;

// The chip's registers and its on-screen display as one read under the chip's lock saw them:
// what its decoded view is made of, so that a view describes one moment of the chip.
class VideoChipStill {
public:
    // Reads `chip` once; a view asked of the live chip is a view of one such read.
    VideoChipStill(const VideoChipModel& chip);   // NOLINT(google-explicit-constructor)
    uint8_t reg(uint8_t bank, uint8_t addr) const;
    uint32_t regValue(uint8_t bank, uint8_t addr, int n) const;
    const std::string& osdView() const { return osd_; }
    // All registers, bank by bank, as VideoChipModel::registerImage gives them.
    std::string registerImage() const;

private:
    friend class VideoChipModel;
    VideoChipStill() = default;
    VideoChipGfx::Banks regs_;
    std::string osd_;
};

class VideoChipModel : public platform::SpiDeviceModel {
public:
    // One frame on the wire as the chip saw it.
    struct Frame {
        uint8_t byte0 = 0;
        uint8_t byte1 = 0;
        uint8_t answer = 0;        // what the chip drove on its second byte
        uint32_t speedHz = 0;
        bool duplex = false;       // a receive buffer was given
        uint16_t csFpga0 = 0;      // select-line levels during the transfer
        uint16_t csFpga1 = 0;
    };
    // One register write (bank selects included, address 0).
    struct Write {
        uint32_t seq = 0;
        uint8_t bank = 0;
        uint8_t addr = 0;
        uint8_t value = 0;
    };

    VideoChipModel();

    bool spiMessage(const platform::SpiTransfer* xfers, unsigned count) override;

    // ---- back door for tests ----
    uint8_t reg(uint8_t bank, uint8_t addr) const;
    // All registers, bank by bank (256 x 128 bytes), read under one lock.
    std::string registerImage() const;
    // The registers and the on-screen display, read under one lock.
    VideoChipStill still() const;
    // Little-endian value of n registers from addr.
    uint32_t regValue(uint8_t bank, uint8_t addr, int n) const;
    void setReg(uint8_t bank, uint8_t addr, uint8_t value);
    uint8_t currentBank() const;

    std::vector<Write> writes() const;
    std::vector<Frame> frames() const;
    void clearLog();
    // Writes to one register, in order.
    std::vector<uint8_t> writesTo(uint8_t bank, uint8_t addr) const;
    // Bytes the chip received (2 per frame) since the last clearLog().
    uint64_t bytesReceived() const;

    // Chip-id answers: each read of the id register takes the next scripted value; once the
    // script is empty it answers the chip's own id.
    void scriptIdReads(const std::vector<uint8_t>& values);
    // Make the next n transfers fail (the bus reports an error; the chip sees nothing).
    void failTransfers(int n);
    // Chip absent: every transfer fails.
    void setAbsent(bool absent);

    // Serial flash behind the chip's flash controller (see video_chip_gfx.h).
    uint8_t flashByte(uint32_t address) const;
    void setFlash(uint32_t address, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> flash(uint32_t address, uint32_t length) const;
    // The flash controller and graphics engine; its knobs and records are read under the
    // chip's lock through withGfx.
    template <typename F>
    auto withGfx(F f) -> decltype(f(std::declval<VideoChipGfx&>()))
    {
        std::lock_guard<std::mutex> lock(m_);
        return f(*gfx_);
    }
    // The on-screen display as the chip shows it (plane, colours, text lines).
    std::string osdView() const;

    // ---- input side (video_chip_inputs.cpp) ----
    // Lane `lane` of V-by-One receiver k (0, 1) loses its link: its counts read invalid.
    void setLaneFault(int receiver, int lane, bool bad);
    // Frame events never arrive: armed input/output frame latches stay clear and the field and
    // buffer indices stand still.
    void setFrameEventsStuck(bool stuck);
    // Lanes the receiver of chip port 4 + k runs on for the board's current signal.
    static int vboLanes(int receiver);

private:
    uint8_t readRegister(uint8_t addr);
    void writeRegister(uint8_t addr, uint8_t value);
    // Measurement banks: latched from the board's input signals while 00:29 bit 7 is set.
    static bool isInputBank(uint8_t bank);
    uint8_t inputRegister(uint8_t bank, uint8_t addr) const;
    void holdWritten(uint8_t value);
    void latchInputs();

    mutable std::mutex m_;
    std::vector<std::array<uint8_t, 128>> regs_;
    uint8_t bank_ = 0;
    platform::BoundedLog<Frame> frames_;
    platform::BoundedLog<Write> writes_;
    uint32_t seq_ = 0;
    uint64_t bytes_ = 0;
    std::deque<uint8_t> idScript_;
    int failNext_ = 0;
    bool absent_ = false;
    std::array<uint32_t, 8> fieldCounter_{};
    bool held_ = false;
    std::array<std::array<uint8_t, 128>, 3> latched_{};   // banks 0xAD, 0xAE, 0xAF
    std::array<std::array<bool, 8>, 2> laneFault_{};
    bool eventsStuck_ = false;
    std::unique_ptr<VideoChipGfx> gfx_;
};

// Creates the chip model and attaches it to the simulated SPI bus under "/dev/spidev32766.0".
// Called by the start-up code on the simulated board and by tests (after a fresh board).
VideoChipModel& attachVideoChip();
// The model last attached (attaches one when none is).
VideoChipModel& videoChip();

// Changes what input i (0-5) of the running simulated board receives; the chip measures it at
// its next measurement hold, the input receivers at their next poll.
void setInputSignal(int input, bool present, uint16_t width, uint16_t height, uint16_t refresh,
                    bool interlaced = false);

}  // namespace sim
