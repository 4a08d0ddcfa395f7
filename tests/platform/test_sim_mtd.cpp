#include <gtest/gtest.h>

#include "platform/mtd.h"
#include "support/test_root.h"

using namespace zeltest;

TEST(SimMtd, FlashSemanticsAndBackingFile)
{
    TempRoot root;
    platform::SimMtdBus& mtd = simMtd();
    EXPECT_EQ(mtd.open("/dev/mtd99"), -1);  // undeclared
    mtd.declare("/dev/mtd30", {0x4000, 0x1000, 1});
    int fd = mtd.open("/dev/mtd30");
    ASSERT_GE(fd, 0);

    platform::MtdInfo info;
    ASSERT_EQ(mtd.getInfo(fd, info), 0);
    EXPECT_EQ(info.erasesize, 0x1000u);

    const uint8_t a[2] = {0x3C, 0xFF};
    const uint8_t b[2] = {0x0F, 0xF0};
    EXPECT_EQ(mtd.pwrite(fd, a, 2, 0x10), 2);
    EXPECT_EQ(mtd.pwrite(fd, b, 2, 0x10), 2);
    uint8_t back[2];
    EXPECT_EQ(mtd.pread(fd, back, 2, 0x10), 2);
    EXPECT_EQ(back[0], 0x0C);
    EXPECT_EQ(back[1], 0xF0);

    EXPECT_EQ(mtd.erase(fd, 0x800, 0x1000), -1);  // not block-aligned
    EXPECT_EQ(mtd.erase(fd, 0, 0x800), -1);
    EXPECT_EQ(mtd.erase(fd, 0x4000, 0x1000), -1);  // past the end
    EXPECT_EQ(mtd.erase(fd, 0, 0x1000), 0);
    EXPECT_EQ(mtd.pread(fd, back, 2, 0x10), 2);
    EXPECT_EQ(back[0], 0xFF);

    EXPECT_EQ(mtd.pwrite(fd, a, 2, 0x3FFF), 1);  // cut at the end of the device
    EXPECT_EQ(mtd.close(fd), 0);
    EXPECT_EQ(mtd.openCount(), 0);
    auto file = readFile("/var/sim/mtd/mtd30.bin");
    ASSERT_EQ(file.size(), 0x4000u);
    EXPECT_EQ(file[0x3FFF], 0x3C);
    EXPECT_EQ(file[0x10], 0xFF);
}
