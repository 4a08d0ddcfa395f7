#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "core/utils.h"
#include "platform/mtd.h"
#include "platform/platform.h"
#include "support/test_root.h"

using namespace zeltest;

namespace {

constexpr const char* kDev = "/dev/mtd20";
constexpr uint32_t kBlock = 0x1000;

// A simulated board whose flash bus also records every positioned write.
class RecordingMtd : public platform::SimMtdBus {
public:
    long pwrite(int fd, const void* buf, size_t len, uint32_t offset) override
    {
        writes.emplace_back(offset, static_cast<uint32_t>(len));
        return SimMtdBus::pwrite(fd, buf, len, offset);
    }
    std::vector<std::pair<uint32_t, uint32_t>> writes;  // (offset, length)
};

class RecordingBoard : public platform::Board {
public:
    RecordingBoard() : inner_(platform::makeSimBoard()) {}
    platform::CommandRunner& commands() override { return inner_->commands(); }
    platform::SpiBus& spi() override { return inner_->spi(); }
    platform::I2cBus& i2c() override { return inner_->i2c(); }
    platform::GpioWindow& gpio() override { return inner_->gpio(); }
    platform::MtdBus& mtd() override { return mtd_; }
    platform::SocIdentity& soc() override { return inner_->soc(); }
    platform::UeventSource& uevents() override { return inner_->uevents(); }
    bool simulated() const override { return true; }
    RecordingMtd mtd_;

private:
    std::unique_ptr<platform::Board> inner_;
};

class FlashTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto b = std::make_unique<RecordingBoard>();
        mtd = &b->mtd_;
        platform::setBoard(std::move(b));
    }
    int open(platform::MtdInfo geometry)
    {
        mtd->declare(kDev, geometry);
        int fd = mtd->open(kDev);
        EXPECT_GE(fd, 0);
        return fd;
    }
    TempRoot root;
    RecordingMtd* mtd = nullptr;
};

using Erases = std::vector<std::pair<uint32_t, uint32_t>>;

}  // namespace

TEST_F(FlashTest, EraseCoversWholeBlocks)
{
    int fd = open({8 * kBlock, kBlock, 1});
    EXPECT_EQ(Utils::non_region_erase(fd, 0, 0, 0), 0);
    EXPECT_EQ(mtd->eraseLog(kDev), Erases{});
    EXPECT_EQ(Utils::non_region_erase(fd, 0, 1, 0), 0);
    EXPECT_EQ(mtd->eraseLog(kDev), (Erases{{0, kBlock}}));
    EXPECT_EQ(Utils::non_region_erase(fd, 2 * kBlock, kBlock + 1, 1), 0);
    EXPECT_EQ(mtd->eraseLog(kDev), (Erases{{0, kBlock}, {2 * kBlock, kBlock}, {3 * kBlock, kBlock}}));
    EXPECT_EQ(Utils::non_region_erase(fd, 5 * kBlock, kBlock, 0), 0);   // exactly one block
    EXPECT_EQ(mtd->eraseLog(kDev),
              (Erases{{0, kBlock}, {2 * kBlock, kBlock}, {3 * kBlock, kBlock}, {5 * kBlock, kBlock}}));
    EXPECT_EQ(mtd->close(fd), 0);
}

TEST_F(FlashTest, EraseThenWriteStoresTheData)
{
    int fd = open({4 * kBlock, kBlock, 1});
    std::vector<unsigned char> data(kBlock + 10);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 7 + 1);
    ASSERT_EQ(Utils::non_region_erase(fd, 0, static_cast<int>(data.size()), 0), 0);
    ASSERT_EQ(Utils::non_region_write(fd, data.data(), static_cast<int>(data.size()), 0), 0);
    mtd->close(fd);
    auto flash = mtd->contents(kDev);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin()));
    EXPECT_EQ(flash[data.size()], 0xFF);
}

TEST_F(FlashTest, WriteWithoutEraseShows)
{
    int fd = open({4 * kBlock, kBlock, 1});
    const unsigned char first[] = {0x0F, 0xFF};
    const unsigned char second[] = {0xF0, 0x5A};
    ASSERT_EQ(Utils::non_region_erase(fd, 0, 2, 0), 0);
    ASSERT_EQ(Utils::non_region_write(fd, first, 2, 0), 0);
    ASSERT_EQ(Utils::non_region_write(fd, second, 2, 0), 0);
    auto flash = mtd->contents(kDev);
    EXPECT_EQ(flash[0], 0x00);  // programming only clears bits
    EXPECT_EQ(flash[1], 0x5A);
    ASSERT_EQ(Utils::non_region_erase(fd, 0, 2, 0), 0);
    ASSERT_EQ(Utils::non_region_write(fd, second, 2, 0), 0);
    flash = mtd->contents(kDev);
    EXPECT_EQ(flash[0], 0xF0);
    mtd->close(fd);
}

TEST_F(FlashTest, WritesInPiecesOfTheWriteSize)
{
    int fd = open({4 * kBlock, kBlock, 1});
    const unsigned char data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_EQ(Utils::non_region_write(fd, data, 5, 0x20), 0);
    EXPECT_EQ(mtd->writes, (Erases{{0x20, 1}, {0x21, 1}, {0x22, 1}, {0x23, 1}, {0x24, 1}}));
    mtd->close(fd);

    mtd->writes.clear();
    fd = open({4 * kBlock, kBlock, 4});
    ASSERT_EQ(Utils::non_region_write(fd, data, 10, 0), 0);
    EXPECT_EQ(mtd->writes, (Erases{{0, 4}, {4, 4}, {8, 2}}));
    mtd->writes.clear();
    ASSERT_EQ(Utils::non_region_write(fd, data, 8, 0x100), 0);  // no remainder write
    EXPECT_EQ(mtd->writes, (Erases{{0x100, 4}, {0x104, 4}}));
    mtd->close(fd);
}

TEST_F(FlashTest, FailuresAreReportedAndTheDescriptorStaysOpen)
{
    int fd = open({4 * kBlock, kBlock, 1});
    const unsigned char data[4] = {0};
    mtd->setFailGetInfo(true);
    EXPECT_EQ(Utils::non_region_erase(fd, 0, 4, 0), 8);
    EXPECT_EQ(Utils::non_region_write(fd, data, 4, 0), 1);
    EXPECT_EQ(mtd->openCount(), 1);
    mtd->setFailGetInfo(false);

    mtd->setFailErase(true);
    EXPECT_EQ(Utils::non_region_erase(fd, 0, 4, 0), 8);
    EXPECT_EQ(mtd->openCount(), 1);
    mtd->setFailErase(false);

    // Past the end of the device: the erase is refused, the write comes back short.
    EXPECT_EQ(Utils::non_region_erase(fd, 4 * kBlock, 1, 0), 8);
    EXPECT_EQ(Utils::non_region_write(fd, data, 4, 4 * kBlock - 2), 1);
    EXPECT_EQ(Utils::non_region_erase(fd, -1, 4, 0), 8);
    EXPECT_EQ(Utils::non_region_write(fd, data, -4, 0), 1);
    EXPECT_EQ(mtd->close(fd), 0);  // still ours to close
}

TEST_F(FlashTest, ZeroGeometryIsRefused)
{
    int fd = open({4 * kBlock, 0, 0});
    const unsigned char data[4] = {0};
    EXPECT_EQ(Utils::non_region_erase(fd, 0, 4, 0), 8);
    EXPECT_EQ(Utils::non_region_write(fd, data, 4, 0), 1);
    EXPECT_EQ(mtd->close(fd), 0);
}
