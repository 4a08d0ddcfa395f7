// The FPGA and flash models from the wire: raw SPI messages and pad levels, no driver.
#include <gtest/gtest.h>

#include "platform/gpio.h"
#include "platform/platform.h"
#include "platform/spi.h"
#include "sim/fpga_model.h"
#include "support/test_root.h"

using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t kCs0 = 0x207810, kCs1 = 0x207900, kCmd0 = 0x207838, kSel2 = 0x207860, kRst0 = 0x207858,
                   kIrq0 = 0x207908;

struct Wire {
    zeltest::TempRoot root;
    sim::FpgaBoard& board = sim::attachFpgas();
    platform::SimGpioWindow& gpio = zeltest::simGpio();
    int fpga0 = platform::spi().open("/dev/spidev32766.1");
    int flash2 = platform::spi().open("/dev/spidev32766.3");

    Bytes xfer(int fd, Bytes tx)
    {
        Bytes rx(tx.size(), 0);
        platform::SpiTransfer t;
        t.tx = tx.data();
        t.rx = rx.data();
        t.len = uint32_t(tx.size());
        platform::spi().transfer(fd, &t, 1);
        return rx;
    }
    // One FPGA 0 command with its data phase, framed as the board does.
    Bytes command(Bytes word, Bytes data)
    {
        gpio.write(kCs1, 16);
        gpio.write(kCs0, 0);
        gpio.write(kCmd0, 16);
        xfer(fpga0, word);
        gpio.write(kCmd0, 0);
        Bytes rx = xfer(fpga0, data);
        gpio.write(kCs0, 16);
        return rx;
    }
    Bytes flash(Bytes tx)
    {
        gpio.write(kCs1, 16);
        gpio.write(kCs0, 0);
        gpio.write(kSel2, 0);
        Bytes rx = xfer(flash2, tx);
        gpio.write(kSel2, 16);
        gpio.write(kCs0, 16);
        return rx;
    }
};

}  // namespace

TEST(FpgaModel, RegistersOverTheCommandWord)
{
    Wire w;
    EXPECT_EQ(w.command({0x05, 0x00, 31, 0x00}, {0xFF}), Bytes{0x25});
    w.command({0x04, 0x00, 5, 0x0F}, {0xAB});       // only the masked bits change
    EXPECT_EQ(w.board.fpga[0]->reg(5), 0x0B);
    // Without the chip select the FPGA does not answer.
    w.gpio.write(kCs0, 16);
    w.gpio.write(kCmd0, 16);
    w.xfer(w.fpga0, {0x04, 0x00, 5, 0xFF});
    w.gpio.write(kCmd0, 0);
    w.xfer(w.fpga0, {0xFF});
    EXPECT_EQ(w.board.fpga[0]->reg(5), 0x0B);
    // RAM: 12-bit address, bytes in order.
    w.command({0x02, 0x03, 0xFE, 0x0F}, {1, 2, 3});
    EXPECT_EQ(w.board.fpga[0]->ram(3, 0xFFE, 2), (Bytes{1, 2}));
    EXPECT_EQ(w.board.fpga[0]->ram(3, 0, 1), Bytes{3});
}

TEST(FpgaModel, EveryRamIdOfTheBoardHasItsOwnMemoryAndNoOtherIdReachesOne)
{
    Wire w;
    sim::SimFpga& f = *w.board.fpga[0];
    for (int id = sim::SimFpga::kFirstRam; id <= sim::SimFpga::kLastRam; ++id)
        w.command({0x02, uint8_t(id), 0x20, 0x00}, {uint8_t(0x40 + id)});
    for (uint8_t id : {0, 18, 32, 0x80, 0xFF}) {
        w.command({0x02, id, 0x20, 0x00}, {0xEE});
        EXPECT_EQ(w.command({0x03, id, 0x20, 0x00}, {0xFF}), Bytes{0x00}) << int(id);
        EXPECT_TRUE(f.ram(id, 0x20, 1).empty()) << int(id);
    }
    for (int id = sim::SimFpga::kFirstRam; id <= sim::SimFpga::kLastRam; ++id) {
        EXPECT_EQ(f.ram(id, 0x20, 1), Bytes{uint8_t(0x40 + id)}) << id;
        EXPECT_EQ(w.command({0x03, uint8_t(id), 0x20, 0x00}, {0xFF}), Bytes{uint8_t(0x40 + id)}) << id;
    }
    EXPECT_EQ(f.refusedRamAccesses(), 10);
    f.clearLog();
    EXPECT_EQ(f.refusedRamAccesses(), 0);
}

TEST(FpgaModel, VboSequenceResetAndDropOut)
{
    Wire w;
    auto status = [&] { return w.command({0x05, 0x00, 22, 0x00}, {0xFF})[0]; };
    EXPECT_EQ(status() & 0x18, 0x08);               // error, not locked
    w.command({0x04, 0x00, 3, 0x40}, {0x40});
    EXPECT_EQ(status() & 0x18, 0x00);
    w.command({0x04, 0x00, 3, 0x80}, {0x80});
    EXPECT_EQ(status() & 0x98, 0x90);               // locked, picture ready
    EXPECT_EQ(w.command({0x03, 0x01, 116, 0x00}, Bytes(8, 0xFF)),
              (Bytes{0x80, 0x07, 0x38, 0x04, 0x35, 0xB7, 0x0C, 0x00}));   // 1920 x 1080, 833333

    w.gpio.write(kRst0, 0);
    EXPECT_EQ(w.command({0x05, 0x00, 31, 0x00}, {0xFF}), Bytes{0x00});
    w.gpio.write(kRst0, 16);
    EXPECT_EQ(w.command({0x05, 0x00, 31, 0x00}, {0xFF}), Bytes{0x25});
    EXPECT_EQ(status() & 0x18, 0x08);               // back to the start

    w.board.fpga[0]->dropOut();
    EXPECT_EQ(w.gpio.read(kIrq0), 1);
    EXPECT_EQ(status() & 0x40, 0x40);
    EXPECT_EQ(w.command({0x05, 0x00, 31, 0x00}, {0xFF}), Bytes{0x00});
    w.board.fpga[0]->comeBack();
    EXPECT_EQ(w.gpio.read(kIrq0), 0);
}

TEST(FpgaModel, FlashCommandSet)
{
    Wire w;
    // Not selected: nothing happens.
    w.xfer(w.flash2, {0x06});
    EXPECT_TRUE(w.board.flash[0]->log().empty());
    // Program needs write enable, only clears bits, wraps inside the page.
    w.flash({0x02, 0x00, 0x01, 0xFE, 0x11, 0x22, 0x33});
    EXPECT_FALSE(w.board.flash[0]->log().back().accepted);
    w.flash({0x06});
    w.flash({0x02, 0x00, 0x01, 0xFE, 0x11, 0x22, 0x33});
    EXPECT_EQ(w.board.flash[0]->contents(0x1FE, 2), (Bytes{0x11, 0x22}));
    EXPECT_EQ(w.board.flash[0]->contents(0x100, 1), Bytes{0x33});
    EXPECT_EQ(w.flash({0x05, 0xFF})[1] & 1, 1);    // busy for a few polls
    while (w.flash({0x05, 0xFF})[1] & 1) {
    }
    w.flash({0x06});
    w.flash({0x02, 0x00, 0x01, 0xFE, 0xF0});
    while (w.flash({0x05, 0xFF})[1] & 1) {
    }
    EXPECT_EQ(w.board.flash[0]->contents(0x1FE, 1), Bytes{0x10});
    // Erase the aligned sector; read from the sixth byte.
    w.flash({0x06});
    w.flash({0x20, 0x00, 0x01, 0x23});
    while (w.flash({0x05, 0xFF})[1] & 1) {
    }
    EXPECT_EQ(w.flash({0x0B, 0x00, 0x01, 0xFE, 0x00, 0, 0}), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    w.board.flash[0]->write(0x10, {0xA1, 0xA2});
    Bytes rx = w.flash({0x0B, 0x00, 0x00, 0x10, 0x00, 0, 0});
    EXPECT_EQ(Bytes(rx.begin() + 5, rx.end()), (Bytes{0xA1, 0xA2}));
}

// A page program keeps the part busy for its time, not for a count of polls, and a busy part
// answers only the status read: a read gives no data (the line floats), a program is ignored.
TEST(FpgaModel, ABusyFlashAnswersOnlyItsStatusForTheTimeItsWorkTakes)
{
    Wire w;
    sim::SimSerialFlash& f = *w.board.flash[0];
    f.write(0x2000, {0xA1, 0xA2});
    f.setProgramTime(60000000);   // a minute: a bound no run of this test reaches
    w.flash({0x06});
    w.flash({0x02, 0x00, 0x10, 0x00, 0x00});
    ASSERT_TRUE(f.log().back().accepted);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(w.flash({0x05, 0xFF})[1] & 1, 1) << "poll " << i;
    Bytes rx = w.flash({0x0B, 0x00, 0x20, 0x00, 0x00, 0, 0});
    EXPECT_EQ(Bytes(rx.begin() + 5, rx.end()), (Bytes{0xFF, 0xFF}));
    w.flash({0x06});
    w.flash({0x02, 0x00, 0x20, 0x00, 0x00});
    EXPECT_FALSE(f.log().back().accepted);
    EXPECT_EQ(f.contents(0x2000, 2), (Bytes{0xA1, 0xA2}));
}
