// The simulated video chip seen from the wire (raw transfers, no driver).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "sim/sim_board.h"
#include "sim/sim_config.h"
#include "video_chip_wire.h"

using Wire = simtest::ChipWire;

TEST(VideoChip, BanksAndWriteLog)
{
    Wire w;
    w.write(0x00, 0x31);
    w.write(0x10, 0xAB);
    w.write(0x00, 0x32);
    w.write(0x10, 0xCD);
    EXPECT_EQ(w.chip.reg(0x31, 0x10), 0xAB);
    EXPECT_EQ(w.chip.reg(0x32, 0x10), 0xCD);
    EXPECT_EQ(w.read(0x10), 0xCD);
    EXPECT_EQ(w.read(0x00), 0x32);
    auto log = w.chip.writes();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1].bank, 0x31);
    EXPECT_EQ(log[1].addr, 0x10);
    EXPECT_EQ(log[1].value, 0xAB);
    EXPECT_EQ(w.chip.bytesReceived(), 12u);
}

TEST(VideoChip, AnswersIdentificationAndScriptedReads)
{
    Wire w;
    w.write(0x00, 0xB2);
    EXPECT_EQ(w.read(0x08), 0x24);
    w.chip.scriptIdReads({0x00, 0x24});
    EXPECT_EQ(w.read(0x08), 0x00);
    EXPECT_EQ(w.read(0x08), 0x24);
    EXPECT_EQ(w.read(0x63) & 0xA0, 0xA0);
}

TEST(VideoChip, MeasuresTheConfiguredInputsPerPortWhileHeld)
{
    Wire w;
    sim::SimConfig cfg = sim::SimConfig::defaults();   // 1080p60 on HDMI1 only
    sim::setConfig(cfg);
    auto hold = [&](bool on) {
        w.write(0x00, 0x00);
        w.write(0x29, on ? 0x80 : 0x00);
        w.write(0x00, 0xAE);
    };
    w.write(0x00, 0xAE);
    EXPECT_EQ(w.readN(0x08 + 2, 2), 0xFFFFu);   // nothing latched before the first hold
    hold(true);
    // HDMI1 is chip port 1: totals less one, frame length in 200 MHz cycles less one.
    EXPECT_EQ(w.readN(0x08 + 2, 2), 2199u);
    EXPECT_EQ(w.readN(0x38 + 2, 2), 1124u);
    EXPECT_EQ(w.readN(0x50 + 3, 3), 3333332u);
    // Nothing on HDMI2 (port 0) nor on the V-by-One port 4.
    EXPECT_EQ(w.readN(0x08, 2), 0xFFFFu);
    EXPECT_EQ(w.readN(0x10, 2), 0xFFFFu);
    EXPECT_EQ(w.readN(0x5C, 3), 0xFFFFFFu);
    hold(false);
    // Changed at run time: HDMI4 (port 4) gets 2160p60, seen from the next hold on.
    sim::setInputSignal(5, true, 3840, 2160, 60);
    EXPECT_EQ(w.readN(0x10, 2), 0xFFFFu);
    hold(true);
    EXPECT_EQ(w.readN(0x10, 2), 4399u);
    EXPECT_EQ(w.readN(0x40, 2), 2249u);
    EXPECT_EQ(w.readN(0x5C, 3), 3333332u);
    // Its receiver runs 8 lanes (bank 0xAD, receiver 0): all valid; a faulty lane reads invalid.
    EXPECT_EQ(sim::VideoChipModel::vboLanes(0), 8);
    w.write(0x00, 0xAD);
    EXPECT_EQ(w.readN(0x08 + 5 * 7, 2), 3840u / 8 - 1);
    w.chip.setLaneFault(0, 7, true);
    hold(false);
    hold(true);
    w.write(0x00, 0xAD);
    EXPECT_EQ(w.readN(0x08 + 5 * 7, 2), 0xFFFFu);
    EXPECT_EQ(w.readN(0x08 + 5 * 6 + 2, 3), 3333332u);
}

TEST(VideoChip, LatchesAndFieldCountersMoveAtOnce)
{
    Wire w;
    w.write(0x00, 0x05);
    w.write(0x08, 0x04);
    EXPECT_EQ(w.read(0x22), 0x04);
    w.write(0x09, 0x01);
    EXPECT_EQ(w.read(0x23), 0x01);
    w.chip.setFrameEventsStuck(true);
    w.write(0x08, 0x02);
    EXPECT_EQ(w.read(0x22), 0x00);
    w.chip.setFrameEventsStuck(false);
    w.write(0x00, 0xAB);
    const uint8_t a = w.read(0x47), b = w.read(0x47);
    EXPECT_NE((a >> 2) & 3, (b >> 2) & 3);
    EXPECT_NE(a & 3, b & 3);
}

TEST(VideoChip, InjectedFailuresAndAbsence)
{
    Wire w;
    w.chip.failTransfers(1);
    platform::SpiTransfer t;
    const uint8_t tx[2] = {0x80, 0x01};
    t.tx = tx;
    t.len = 2;
    EXPECT_LT(zeltest::simSpi().transfer(w.fd, &t, 1), 0);
    EXPECT_EQ(zeltest::simSpi().transfer(w.fd, &t, 1), 2);
    w.chip.setAbsent(true);
    EXPECT_LT(zeltest::simSpi().transfer(w.fd, &t, 1), 0);
}

// The decoded view written beside the register snapshot describes the very registers recorded
// with it, while the window of output channel 0 moves to x 480 and back again and again, and
// after the last move back.
TEST(VideoChip, SnapshotViewDescribesTheRecordedRegistersThroughMovesAndBack)
{
    Wire w;
    w.bank(0x08);
    w.write(0x42, 0xC0);   // width 960
    w.write(0x43, 0x03);
    w.write(0x46, 0x1D);   // height 540, plus one
    w.write(0x47, 0x02);
    std::atomic<bool> stop{false};
    std::thread mover([&] {
        while (!stop) {
            w.write(0x40, 0xE0);   // x 480
            w.write(0x41, 0x01);
            w.write(0x40, 0x00);   // and back to 0
            w.write(0x41, 0x00);
        }
    });
    auto recordedX = [] {
        const std::string bin = zeltest::readText("/var/sim/video_chip.bin");
        const size_t at = 0x08 * 128 + 0x40;   // bank 0x08, register 0x40: x, low byte first
        return bin.size() < at + 2 ? -1 : uint8_t(bin[at]) | uint8_t(bin[at + 1]) << 8;
    };
    auto described = [](int x) {
        return zeltest::readText("/var/sim/video_chip.txt").find("och 0: x " + std::to_string(x) + " y 0 960x540") !=
               std::string::npos;
    };
    for (int i = 0; i < 50; ++i) {
        sim::writeDeviceSnapshot();
        const int x = recordedX();
        EXPECT_TRUE(described(x)) << "snapshot " << i << " recorded x " << x;
    }
    stop = true;
    mover.join();
    sim::writeDeviceSnapshot();
    EXPECT_EQ(recordedX(), 0);
    EXPECT_TRUE(described(0));
}
