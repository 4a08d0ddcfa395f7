// The bytes that leave the program, over a wire or onto a disk or flash, are the same whichever
// processor it was built for (the PC or the ARMv7 board): fixed inputs give the same bytes, pinned
// here by their CRC-32 so both builds are held to one value.
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "core/global.h"
#include "core/ram_layout.h"
#include "core/utils.h"
#include "core/zelrampara.h"
#include "ledout/clock_record_run.h"
#include "ledout/fpga_manage.h"
#include "ledout/rcv_card_cmd.h"
#include "ledout/scan_para.h"
#include "links/protocol_phy.h"
#include "platform/clock.h"
#include "sim/fpga_model.h"
#include "support/test_root.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Records kept as structures whose bytes are stored as they are.
static_assert(sizeof(LineType) == 12 && offsetof(LineType, height) == 2 && offsetof(LineType, x_offset) == 4 &&
                  offsetof(LineType, y_offset) == 6 && offsetof(LineType, port) == 8 &&
                  offsetof(LineType, rows) == 9 && offsetof(LineType, columns) == 10 &&
                  offsetof(LineType, pattern) == 11,
              "smart-mapping record");
static_assert(sizeof(CROP_PARA) == 20, "crop entry: five 32-bit words");
static_assert(ramaddr::kRamSize == 4096, "parameter image");

uint32_t crc(const Bytes& b) { return Utils::calcCRC32(b.data(), static_cast<unsigned>(b.size())); }

void append(Bytes& out, const unsigned char* data, unsigned length) { out.insert(out.end(), data, data + length); }

TEST(Layouts, CommandFramesOnTheWire)
{
    const Bytes body = {0x00, 0xF0, 0x10, 0xF0, 0x10, 0x67, 0x00, 0x00, 0x00, 0x60, 0x80, 0x08,
                        0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x5A, 0x00, 0xD7};
    const Bytes wire = protocol_phy::encode(body.data(), static_cast<unsigned>(body.size()));
    EXPECT_EQ(wire, (Bytes{0xA5, 0xA5, 0xA5, 0x00, 0xF0, 0x10, 0xF0, 0x10, 0x67, 0x00, 0x00, 0x00, 0x60,
                           0x80, 0x08, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x5B, 0x02, 0x00, 0xD7, 0x5A}));
}

TEST(Layouts, ReceivingCardPackets)
{
    const unsigned char data[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    unsigned char buf[rcv_card::kMaxPacket];
    Bytes all;
    append(all, buf, rcv_card::cardPosition(buf, 5, 7, 640, 360));
    append(all, buf, rcv_card::writeRam(buf, 2, 3, 0x12345678, data, 8, false));
    append(all, buf, rcv_card::writeRam(buf, 2, 3, 0x180, data, 4, true));
    append(all, buf, rcv_card::activateFirmware(buf, 15, 1, data, 8));
    append(all, buf, rcv_card::ramReset(buf, 9, 0x21, 0xF0, 0x50));
    append(all, buf, rcv_card::saveParams(buf, 4));
    append(all, buf, rcv_card::writeReg(buf, 1, 2, data, 6, false));
    append(all, buf, rcv_card::userDefined(buf, 0, 12, data, 8, true));
    append(all, buf, rcv_card::reconfig(buf, 6, 4, data, 2));
    append(all, buf, rcv_card::search(buf, 3, data, 8));
    append(all, buf, rcv_card::saveParamsToFlash(buf, 8, 9, false));
    append(all, buf, rcv_card::mappingEnable(buf, 10, 1));
    append(all, buf, rcv_card::searchPacket(buf, 11, 0xA1B2C3D4, 0x01020304, 1));
    append(all, buf, rcv_card::searchPacket(buf, 20, 0xA1B2C3D4, 0x01020304, 0));
    EXPECT_EQ(all.size(), 275u);
    EXPECT_EQ(crc(all), 0x71B0F01Bu);
}

TEST(Layouts, ParameterFile)
{
    const Bytes table(default_para_ramlist, default_para_ramlist + ramaddr::kRamSize);
    EXPECT_EQ(crc(table), 0x134EE4F0u);
    // The file a first start writes.
    zeltest::TempRoot root;
    ZelRamPara::pInstance();
    const Bytes file = zeltest::readFile("/data/ram_device_info");
    ASSERT_EQ(file.size(), 4096u);
    EXPECT_EQ(crc(file), 0x134EE4F0u);
}

TEST(Layouts, RunTimeRecorderRecordsInFlash)
{
    zeltest::TempRoot root;
    sim::FpgaBoard& board = sim::attachFpgas();
    ClockRecordState state;
    clock_record_run recorder(*fpga_manage::pInstance(), state);
    platform::setSimClock(QDateTime(QDate(2024, 3, 7), QTime(9, 5, 0)));
    recorder.step(true);
    for (int minute = 0; minute < 35; ++minute) {
        G_timeTicks += 6001;
        recorder.step(true);
    }
    auto flash = [&](uint32_t logical, uint32_t n) {
        return board.flash[0]->contents(logical + clock_record_run::kFlashOffset, n);
    };
    Bytes records = flash(clock_record_run::kHead, 16);
    for (uint32_t at : {clock_record_run::kRecordsA, clock_record_run::kRecordsB, clock_record_run::kLog}) {
        const Bytes part = flash(at, clock_record_run::kRecordSize);
        records.insert(records.end(), part.begin(), part.end());
    }
    EXPECT_EQ(Bytes(records.begin(), records.begin() + 3), (Bytes{0xAA, 0x5A, 0xA5}));
    EXPECT_EQ(crc(records), 0x0BDC6CE4u);
}

}  // namespace
