// The flash commands behind the FPGAs as they appear on the wire: every SPI message the driver
// sends to a flash device, in order, and whether the device's path was selected while it went.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "fpga_rig.h"
#include "platform/gpio.h"
#include "platform/spi.h"

namespace {

using fpgatest::Rig;
using Bytes = std::vector<uint8_t>;
using Wire = std::vector<std::string>;

constexpr const char* kFlashPath[2] = {"/dev/spidev32766.3", "/dev/spidev32766.4"};
constexpr uint32_t kCsFpga0 = 0x207810, kCsFpga1 = 0x207900;
constexpr uint32_t kSelFlash2 = 0x207860, kSelFlash3a = 0x20790C, kSelFlash3b = 0x207950;
constexpr size_t kShownWhole = 13;   // longer messages show their 4 command bytes and a count

// Sits on a flash device's path in front of the flash model and writes down each message.
struct WireTap : platform::SpiDeviceModel {
    WireTap(Rig& rig, int device) : device(device), flash(rig.flash(device))
    {
        zeltest::simSpi().attach(kFlashPath[device - 2], this);
    }
    ~WireTap() override { zeltest::simSpi().attach(kFlashPath[device - 2], &flash); }

    bool spiMessage(const platform::SpiTransfer* xfers, unsigned count) override
    {
        for (unsigned i = 0; i < count; ++i) {
            messages.push_back(Bytes(xfers[i].tx, xfers[i].tx + xfers[i].len));
            exchanges.push_back(xfers[i].rx != nullptr);
            selected.push_back(pathSelected());
        }
        return flash.spiMessage(xfers, count);
    }

    bool pathSelected() const
    {
        auto low = [](uint32_t pad) { return zeltest::simGpio().read(pad) == 0; };
        if (device == 2)
            return low(kCsFpga0) && !low(kCsFpga1) && low(kSelFlash2);
        return low(kCsFpga1) && !low(kCsFpga0) && low(kSelFlash3a) && low(kSelFlash3b);
    }

    // The messages as text: "x " in front of an exchange (the driver reads what comes back), a
    // run of status polls as one "wait".
    Wire wire() const
    {
        Wire out;
        for (size_t i = 0; i < messages.size(); ++i) {
            const Bytes& m = messages[i];
            std::string text = exchanges[i] ? "x" : "";
            const size_t shown = m.size() <= kShownWhole ? m.size() : 4;
            for (size_t k = 0; k < shown; ++k) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%02X", m[k]);
                text += (text.empty() ? "" : " ") + std::string(hex);
            }
            if (shown < m.size())
                text += " +" + std::to_string(m.size() - shown);
            if (text == "x 05 FF")
                text = "wait";
            if (!(text == "wait" && !out.empty() && out.back() == "wait"))
                out.push_back(text);
        }
        return out;
    }
    bool allSelected() const
    {
        return !selected.empty() && std::all_of(selected.begin(), selected.end(), [](bool s) { return s; });
    }
    // Both chip selects and the device's path lines back at their idle level (high).
    bool released() const
    {
        const std::vector<uint32_t> pads = device == 2 ? std::vector<uint32_t>{kCsFpga0, kCsFpga1, kSelFlash2}
                                                       : std::vector<uint32_t>{kCsFpga0, kCsFpga1, kSelFlash3a, kSelFlash3b};
        return std::all_of(pads.begin(), pads.end(), [](uint32_t pad) { return zeltest::simGpio().read(pad) == 16; });
    }
    void clear()
    {
        messages.clear();
        exchanges.clear();
        selected.clear();
    }

    const int device;
    sim::SimSerialFlash& flash;
    std::vector<Bytes> messages;
    std::vector<bool> exchanges;
    std::vector<bool> selected;
};

// The manager takes this test's board: its devices, and its lines at their idle levels.
struct FlashRig : Rig {
    FlashRig() { m->initialize(); }
};

}  // namespace

TEST(FlashWire, EraseWaitsThenSendsEnableAndCommandPerUnit)
{
    FlashRig rig;
    WireTap tap(rig, 3);
    ASSERT_EQ(rig.m->drv().FPGA_SPI_FLASH_VBYONE_ERASE(3, 0x123, 1, 2), 1);
    // 32 KB units from sector 0x123: byte addresses 0x123000 and 0x12B000, low byte always 0.
    EXPECT_EQ(tap.wire(), (Wire{"wait", "06", "wait", "52 12 30 00", "wait", "06", "wait", "52 12 B0 00", "wait"}));
    EXPECT_TRUE(tap.allSelected());
    EXPECT_TRUE(tap.released());

    tap.clear();
    ASSERT_EQ(rig.m->drv().FPGA_SPI_FLASH_VBYONE_ERASE(3, 7, 0, 1), 1);
    EXPECT_EQ(tap.wire(), (Wire{"wait", "06", "wait", "20 00 70 00", "wait"}));
    tap.clear();
    ASSERT_EQ(rig.m->drv().FPGA_SPI_FLASH_VBYONE_ERASE(3, 16, 2, 1), 1);
    EXPECT_EQ(tap.wire(), (Wire{"wait", "06", "wait", "D8 01 00 00", "wait"}));
    tap.clear();
    ASSERT_EQ(rig.m->drv().FPGA_SPI_FLASH_VBYONE_ERASE(3, 16, 2, 0), 1);
    EXPECT_EQ(tap.wire(), (Wire{"wait"})) << "count 0: only the first wait";
}

TEST(FlashWire, ProgramSendsEachPieceBehindItsPageCommand)
{
    FlashRig rig;
    WireTap tap(rig, 2);
    Bytes data(300);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 + 1);
    ASSERT_EQ(rig.m->drv().writeCopy(2, 0x1234F0, data.data(), 300), 1);
    // A busy part takes no command: every operation first reads its status.
    EXPECT_EQ(tap.wire(), (Wire{"wait", "06", "02 12 34 F0 +16", "wait",   //
                                "06", "02 12 35 00 +256", "wait",  //
                                "06", "02 12 36 00 +28", "wait"}));
    EXPECT_TRUE(tap.allSelected());
    EXPECT_TRUE(tap.released());
    // Each piece's data follow its command in the same message.
    Bytes sent;
    for (const Bytes& m : tap.messages)
        if (m.size() > 4 && m[0] == 0x02)
            sent.insert(sent.end(), m.begin() + 4, m.end());
    EXPECT_EQ(sent, data);
}

TEST(FlashWire, ReadExchangesAtMost2048BytesBehindFiveCommandBytes)
{
    FlashRig rig;
    WireTap tap(rig, 2);
    Bytes back(2048);
    ASSERT_EQ(rig.m->drv().FPGA_SPI_FLASH_VBYONE_READ(2, 0x0A0B0C, 2048, back.data()), 1);
    EXPECT_EQ(tap.wire(), (Wire{"wait", "x 0B 0A 0B 0C +2049"})) << "one exchange of 2053 bytes";

    tap.clear();
    back.resize(4100);
    ASSERT_EQ(rig.m->drv().FPGA_SPI_FLASH_VBYONE_READ(2, 0x10000, 4100, back.data()), 1);
    EXPECT_EQ(tap.wire(),
              (Wire{"wait", "x 0B 01 00 00 +2049", "x 0B 01 08 00 +2049", "x 0B 01 10 00 FF FF FF FF FF"}));
    EXPECT_TRUE(tap.allSelected());
    EXPECT_TRUE(tap.released());
}

TEST(FlashWire, UniqueIdIsOneThirteenByteExchange)
{
    FlashRig rig;
    rig.flash(3).setUid({{9, 8, 7, 6, 5, 4, 3, 2}});
    WireTap tap(rig, 3);
    uint8_t uid[8] = {};
    ASSERT_EQ(rig.m->drv().FPGA_SPI_FLASH_SSTF016B_RD_UID(3, uid), 1);
    EXPECT_EQ(tap.wire(), (Wire{"wait", "x 4B 00 00 00 00 FF FF FF FF FF FF FF FF"}));
    EXPECT_TRUE(tap.allSelected());
    EXPECT_EQ(Bytes(uid, uid + 8), (Bytes{9, 8, 7, 6, 5, 4, 3, 2}));
    EXPECT_TRUE(tap.released());
}

TEST(FlashWire, WriteProtectOffSequence)
{
    FlashRig rig;
    WireTap tap(rig, 2);
    rig.m->drv().FPGA_SPI_Disable_WP(rig.m->drv().fd(2));
    EXPECT_EQ(tap.wire(), (Wire{"06", "01 FF FF", "x FF FF", "06", "31 00", "06", "x FF 00", "06", "x FF 00",
                                "x FF 00"}));
}
