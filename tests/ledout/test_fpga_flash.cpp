#include <gtest/gtest.h>

#include <algorithm>

#include "fpga_rig.h"
#include "platform/gpio.h"

using fpgatest::Rig;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(seed + i * 13);
    return b;
}

// The caller's buffer: 4 free bytes, then the data.
Bytes withHead(const Bytes& data)
{
    Bytes b(data.size() + 4, 0);
    std::copy(data.begin(), data.end(), b.begin() + 4);
    return b;
}

std::vector<sim::SimSerialFlash::Op> opsOf(sim::SimSerialFlash& f, uint8_t opcode)
{
    std::vector<sim::SimSerialFlash::Op> out;
    for (auto& op : f.log())
        if (op.opcode == opcode)
            out.push_back(op);
    return out;
}

}  // namespace

TEST(FpgaFlash, ProgramAcrossPagesAndReadBack)
{
    Rig rig;
    fpga_drv& drv = rig.m->drv();
    Bytes data = pattern(300, 3);
    Bytes buf = withHead(data);
    ASSERT_EQ(drv.FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x1F0, buf.data(), 300), 1);
    auto programs = opsOf(rig.flash(2), 0x02);
    ASSERT_EQ(programs.size(), 3u);
    EXPECT_EQ(programs[0].address, 0x1F0u);
    EXPECT_EQ(programs[0].length, 16u);
    EXPECT_EQ(programs[1].address, 0x200u);
    EXPECT_EQ(programs[1].length, 256u);
    EXPECT_EQ(programs[2].address, 0x300u);
    EXPECT_EQ(programs[2].length, 28u);
    for (auto& p : programs)
        EXPECT_TRUE(p.accepted);
    EXPECT_EQ(rig.flash(2).contents(0x1F0, 300), data);
    EXPECT_TRUE(rig.flash(3).log().empty());

    Bytes back(300, 0xEE);
    ASSERT_EQ(drv.FPGA_SPI_FLASH_VBYONE_READ(2, 0x1F0, 300, back.data()), 1);
    EXPECT_EQ(back, data);

    // A whole-page write sends no empty tail.
    rig.flash(2).clearLog();
    Bytes page = withHead(pattern(256, 9));
    ASSERT_EQ(drv.FPGA_SPI_FLASH_VBYONE_WRITE(2, 0x1000, page.data(), 256), 1);
    EXPECT_EQ(opsOf(rig.flash(2), 0x02).size(), 1u);
}

TEST(FpgaFlash, ReadInPiecesOnDevice3)
{
    Rig rig;
    Bytes data = pattern(4100, 1);
    rig.flash(3).write(0x10000, data);
    Bytes back(4100, 0xEE);
    ASSERT_EQ(rig.m->drv().FPGA_SPI_FLASH_VBYONE_READ(3, 0x10000, 4100, back.data()), 1);
    EXPECT_EQ(back, data);
    auto reads = opsOf(rig.flash(3), 0x0B);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0].length, 2048u);   // 2053-byte exchanges: 5 command bytes in front
    EXPECT_EQ(reads[1].length, 2048u);
    EXPECT_EQ(reads[1].address, 0x10800u);
    EXPECT_EQ(reads[2].length, 4u);
    EXPECT_TRUE(rig.flash(2).log().empty());
    auto& gpio = zeltest::simGpio();
    EXPECT_EQ(gpio.read(0x20790C), 16);   // path released
    EXPECT_EQ(gpio.read(0x207950), 16);
    EXPECT_EQ(gpio.read(0x207900), 16);
}

TEST(FpgaFlash, OutOfRangeRefusedWithoutBusActivity)
{
    Rig rig;
    fpga_drv& drv = rig.m->drv();
    zeltest::simGpio().clearHistory();
    Bytes buf(16, 0);
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_READ(2, 0x7FFFF8, 9, buf.data()), 0);
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_READ(2, 0xFFFFFFF0, 0x20, buf.data()), 0);   // would wrap in 32 bits
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_READ(2, 0, 0, buf.data()), 0);
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_WRITE(3, 0x7FFFFC, buf.data(), 8), 0);
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 2047, 0, 2), 0);
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 3, 1), 0);
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 16, 2, 0xFFFFFFFFu), 0);           // would wrap in 32 bits
    EXPECT_TRUE(rig.flash(2).log().empty());
    EXPECT_TRUE(rig.flash(3).log().empty());
    EXPECT_EQ(rig.flash(2).statusPolls() + rig.flash(3).statusPolls(), 0);
    EXPECT_TRUE(zeltest::simGpio().history(0x207810).empty());
    EXPECT_TRUE(zeltest::simGpio().history(0x207900).empty());
    // The last bytes of the flash are in range.
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_READ(2, 0x7FFFFF, 1, buf.data()), 1);
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_WRITE(3, 0x7FFFFC, buf.data(), 4), 1);
}

TEST(FpgaFlash, EraseUnits)
{
    Rig rig;
    fpga_drv& drv = rig.m->drv();
    rig.flash(2).write(0x20000, pattern(0x12000, 5));
    ASSERT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0x20, 1, 2), 1);   // two 32 KB blocks from sector 32
    auto erases = opsOf(rig.flash(2), 0x52);
    ASSERT_EQ(erases.size(), 2u);
    EXPECT_EQ(erases[0].address, 0x20000u);
    EXPECT_EQ(erases[1].address, 0x28000u);
    EXPECT_EQ(rig.flash(2).contents(0x20000, 0x10000), Bytes(0x10000, 0xFF));
    EXPECT_NE(rig.flash(2).contents(0x30000, 16), Bytes(16, 0xFF));
    ASSERT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0x30, 0, 1), 1);
    ASSERT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0x30, 2, 0), 1);   // count 0: nothing to do
    EXPECT_EQ(rig.flash(2).contents(0x30000, 0x1000), Bytes(0x1000, 0xFF));
    EXPECT_NE(rig.flash(2).contents(0x31000, 16), Bytes(16, 0xFF));
}

TEST(FpgaFlash, LastUnitOfEachModeIsErasedAndOneFurtherIsRefused)
{
    Rig rig;
    fpga_drv& drv = rig.m->drv();
    // Mode, first sector of the last unit, opcode: each ends exactly at sector 2048.
    const struct {
        int mode;
        uint32_t last;
        uint8_t opcode;
    } kModes[] = {{0, 2047, 0x20}, {1, 2040, 0x52}, {2, 2032, 0xD8}};
    for (const auto& m : kModes) {
        rig.flash(2).write(0x7F0000, pattern(0x10000, 9));
        rig.flash(2).clearLog();
        ASSERT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, m.last, m.mode, 1), 1) << "mode " << m.mode;
        auto erases = opsOf(rig.flash(2), m.opcode);
        ASSERT_EQ(erases.size(), 1u) << "mode " << m.mode;
        EXPECT_EQ(erases[0].address, m.last * 4096u);
        EXPECT_EQ(rig.flash(2).contents(m.last * 4096u, 0x800000 - m.last * 4096u),
                  Bytes(0x800000 - m.last * 4096u, 0xFF));
        // The unit after it, or two units from one before it, would pass the end.
        rig.flash(2).clearLog();
        const uint32_t unit = m.mode == 0 ? 1 : m.mode == 1 ? 8 : 16;
        EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, m.last + 1, m.mode, 1), 0) << "mode " << m.mode;
        EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, m.last - unit, m.mode, 3), 0) << "mode " << m.mode;
        EXPECT_TRUE(rig.flash(2).log().empty());
    }
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 2040, 2, 1), 0);   // 64 KB from 2040 ends at 2056
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 2048, 0, 1), 0);
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 3, 1), 0);
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, -1, 1), 0);
    EXPECT_TRUE(rig.flash(2).log().empty());
}

TEST(FpgaFlash, StuckBusyFailsInBoundedTimeAndReleasesPath)
{
    Rig rig;
    rig.flash(3).setStuckBusy(true);
    Bytes buf = withHead(pattern(10, 0));
    // A part busy when the operation begins gets no command at all.
    EXPECT_EQ(rig.m->drv().FPGA_SPI_FLASH_VBYONE_WRITE(3, 0, buf.data(), 10), 0);
    EXPECT_GT(rig.flash(3).statusPolls(), 0);
    EXPECT_TRUE(rig.flash(3).log().empty());
    Bytes back(10, 0xEE);
    EXPECT_EQ(rig.m->drv().FPGA_SPI_FLASH_VBYONE_READ(3, 0, 10, back.data()), 0);
    EXPECT_EQ(back, Bytes(10, 0));
    EXPECT_TRUE(rig.flash(3).log().empty());
    auto& gpio = zeltest::simGpio();
    EXPECT_EQ(gpio.read(0x20790C), 16);
    EXPECT_EQ(gpio.read(0x207950), 16);
    EXPECT_EQ(gpio.read(0x207900), 16);
    EXPECT_EQ(gpio.read(0x207810), 16);
    EXPECT_EQ(rig.m->drv().FPGA_SPI_FLASH_VBYONE_ERASE(3, 0, 0, 1), 0);
}

TEST(FpgaFlash, FailedTransferReportsFailure)
{
    Rig rig;
    fpga_drv& drv = rig.m->drv();
    drv.setFd(2, -1);
    Bytes buf(32, 0xEE);
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_READ(2, 0, 32, buf.data()), 0);
    EXPECT_EQ(buf, Bytes(32, 0));   // nothing uninitialised handed back
    Bytes w = withHead(pattern(8, 1));
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_WRITE(2, 0, w.data(), 8), 0);
    EXPECT_EQ(drv.FPGA_SPI_FLASH_VBYONE_ERASE(2, 0, 0, 1), 0);
    EXPECT_EQ(zeltest::simGpio().read(0x207860), 16);
}

TEST(FpgaFlash, UniqueIdAndPersistence)
{
    Rig rig;
    uint8_t uid[8] = {};
    rig.flash(2).setUid({{1, 2, 3, 4, 5, 6, 7, 8}});
    ASSERT_EQ(rig.m->drv().FPGA_SPI_FLASH_SSTF016B_RD_UID(2, uid), 1);
    EXPECT_EQ(Bytes(uid, uid + 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));

    Bytes data = pattern(40, 77);
    Bytes buf = withHead(data);
    ASSERT_EQ(rig.m->drv().FPGA_SPI_FLASH_VBYONE_WRITE(3, 0x6C7001, buf.data(), 40), 1);
    // Programming only clears bits: a second write over it ANDs.
    Bytes zeros = withHead(Bytes(40, 0x0F));
    ASSERT_EQ(rig.m->drv().FPGA_SPI_FLASH_VBYONE_WRITE(3, 0x6C7001, zeros.data(), 40), 1);
    sim::FpgaBoard& again = sim::attachFpgas();   // a fresh model reads the file under the root
    Bytes expect = data;
    for (auto& b : expect)
        b &= 0x0F;
    EXPECT_EQ(again.flash[1]->contents(0x6C7001, 40), expect);
}
