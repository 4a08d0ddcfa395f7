// Register, RAM, flash and parameter-save commands that reach the simulated FPGAs and their flash.
#include <gtest/gtest.h>

#include "core/zelrampara.h"
#include "ledout/fpga_manage.h"
#include "link_client.h"
#include "links/message_deal.h"
#include "sim/fpga_model.h"
#include "support/test_root.h"

using namespace linktest;

namespace {

class FpgaGroups : public ::testing::Test {
protected:
    void SetUp() override
    {
        board = &sim::attachFpgas();
        m = fpga_manage::pInstance();
        ZelRamPara::pInstance();
    }
    Bytes run(uint8_t group, const Bytes& payload) { return deal(group, payload); }
    zeltest::TempRoot root;
    sim::FpgaBoard* board = nullptr;
    fpga_manage* m = nullptr;
};

}  // namespace

TEST_F(FpgaGroups, RegistersOfEitherFpga)
{
    board->fpga[1]->setReg(3, 0x01);
    EXPECT_EQ(status(run(0xA0, regWrite(3, 0x20, 0xFF, 2))), 0);
    EXPECT_EQ(board->fpga[1]->reg(3), 0x21);   // masked, the FPGA's own bit kept
    EXPECT_EQ(board->fpga[0]->reg(3) & 0x20, 0);
    Bytes r = run(0xA1, regRead(3, 1, 2));
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(replyData(r), Bytes{0x21});
    EXPECT_EQ(status(run(0xA0, regWrite(100, 0xFF, 1, 1))), 1);   // no such register
    EXPECT_EQ(status(run(0xA0, regWrite(3, 0xFF, 1, 3))), 1);     // no such target
}

TEST_F(FpgaGroups, FpgaRamAndCommandRam)
{
    uint32_t ram5 = 0x01000000 + 0x100000 * 1 + 0x1000 * 5;   // RAM 5 of FPGA 1
    EXPECT_EQ(status(run(0x60, ramWrite(ram5 + 0x10, {1, 2, 3}))), 0);
    EXPECT_EQ(board->fpga[1]->ram(5, 0x10, 3), (Bytes{1, 2, 3}));
    Bytes r = run(0x61, ramRead(ram5 + 0x10, 3));
    EXPECT_EQ(replyData(r), (Bytes{1, 2, 3}));
    EXPECT_EQ(status(run(0x60, ramWrite(ram5 + 1023, {1, 2}))), 1);   // past the 1024-byte RAM

    EXPECT_EQ(status(run(0x60, ramWrite(0x100000 + 1022, {9, 8}))), 0);
    EXPECT_EQ(m->MCU_RAM_CMD[1023], 8);
    EXPECT_EQ(status(run(0x60, ramWrite(0x100000 + 1023, {9, 8}))), 1);
}

TEST_F(FpgaGroups, FlashBehindTheFpgas)
{
    auto& flash = *board->flash[0];
    // Erase one 4 KB sector at 0x3000, program across a page boundary, read back.
    EXPECT_EQ(status(run(0x70, {0, 0x30, 0, 0, 1, 0, 2, 1})), 0);
    Bytes data(300);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i);
    Bytes w = ramWrite(0x30F0, data);
    w[6] = 2;   // device
    EXPECT_EQ(status(run(0x71, w)), 0);
    EXPECT_EQ(flash.contents(0x30F0, 300), data);
    Bytes rd = ramRead(0x30F0, 300);
    rd[6] = 2;
    EXPECT_EQ(replyData(run(0x72, rd)), data);
    // A write ending past the flash is refused.
    w = ramWrite(0x7FFFFF, {1, 2});
    w[6] = 2;
    EXPECT_EQ(status(run(0x71, w)), 1);
    // Without a video engine the video chip's flash is not offered.
    w[6] = 4;
    EXPECT_EQ(status(run(0x71, w)), 1);

    flash.setUid({1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(replyData(run(0x83, {2})), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(FpgaGroups, EraseEndingAtTheEndOfTheFlashIsDoneAndTheListedRefusalsChangeNothing)
{
    auto& flash = *board->flash[1];
    auto erase = [&](uint32_t address, uint16_t count, uint8_t unit) {
        return status(run(0x70, {uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16),
                                 uint8_t(address >> 24), uint8_t(count), uint8_t(count >> 8), 3, unit}));
    };
    const Bytes kept(16, 0x5A);
    // The last unit of each size, and all of the last 64 KB as 4 KB sectors.
    flash.write(0x7F0000, Bytes(0x10000, 0x5A));
    EXPECT_EQ(erase(0x7F8000, 1, 2), 0);   // sector 2040, one 32 KB unit
    EXPECT_EQ(flash.contents(0x7F8000, 0x8000), Bytes(0x8000, 0xFF));
    EXPECT_EQ(flash.contents(0x7F7FF0, 16), kept);
    flash.write(0x7F0000, Bytes(0x10000, 0x5A));
    EXPECT_EQ(erase(0x7F0000, 1, 4), 0);
    EXPECT_EQ(flash.contents(0x7F0000, 0x10000), Bytes(0x10000, 0xFF));
    flash.write(0x7F0000, Bytes(0x10000, 0x5A));
    EXPECT_EQ(erase(0x7F0000, 16, 1), 0);
    EXPECT_EQ(flash.contents(0x7F0000, 0x10000), Bytes(0x10000, 0xFF));

    flash.write(0x7F0000, Bytes(0x10000, 0x5A));
    EXPECT_EQ(erase(0x7F8000, 2, 2), 1);   // one unit past the end
    EXPECT_EQ(erase(0x7F8000, 1, 4), 1);   // 64 KB unit not on a 16-sector boundary
    EXPECT_EQ(erase(0x7F1000, 1, 2), 1);   // 32 KB unit not on an 8-sector boundary
    EXPECT_EQ(erase(0x7F0800, 1, 1), 1);   // not on a sector
    EXPECT_EQ(erase(0x7F0000, 1, 3), 1);   // no such unit
    EXPECT_EQ(erase(0x800000, 1, 1), 1);   // past the flash
    EXPECT_EQ(flash.contents(0x7F0000, 0x10000), Bytes(0x10000, 0x5A));
}

TEST_F(FpgaGroups, ParameterSaveStoresTheBlock)
{
    Bytes p = ramWrite(0x20, {7, 7, 7});
    p[6] = 1;
    EXPECT_EQ(status(run(0x81, p)), 0);
    EXPECT_EQ(m->MCU_RAM_PARA_func[1][0x21], 7);
    p = ramWrite(1022, {7, 7, 7});
    EXPECT_EQ(status(run(0x81, p)), 1);
}
