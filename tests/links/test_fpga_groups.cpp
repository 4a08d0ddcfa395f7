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

TEST_F(FpgaGroups, ParameterSaveStoresTheBlock)
{
    Bytes p = ramWrite(0x20, {7, 7, 7});
    p[6] = 1;
    EXPECT_EQ(status(run(0x81, p)), 0);
    EXPECT_EQ(m->MCU_RAM_PARA_func[1][0x21], 7);
    p = ramWrite(1022, {7, 7, 7});
    EXPECT_EQ(status(run(0x81, p)), 1);
}
