#include <gtest/gtest.h>

#include <vector>

#include "ledout/eth_param.h"
#include "ledout/rcv_card_cmd.h"

using namespace rcv_card;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes packet(const unsigned char* buf, unsigned len) { return Bytes(buf, buf + len); }

unsigned char xorAll(const unsigned char* buf, unsigned len)
{
    unsigned char x = 0;
    for (unsigned i = 0; i < len; ++i)
        x ^= buf[i];
    return x;
}

}  // namespace

TEST(RcvCardPacket, CardPositionBytes)
{
    unsigned char buf[64];
    ASSERT_EQ(cardPosition(buf, 6, 3, 256, 64), 23u);
    const Bytes expect = {0x03, 0x20, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x07, 0x00, 0x60,
                          0x80, 0x01, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00,
                          0x00, 0x01, 0x40, 0x00};
    EXPECT_EQ(Bytes(buf, buf + 22), expect);
    EXPECT_EQ(xorAll(buf, 23), 0);
}

TEST(RcvCardPacket, WriteRamWithoutDataAndBroadcast)
{
    unsigned char buf[64];
    ASSERT_EQ(writeRam(buf, 5, 7, 0x12345678, nullptr, 0, false), 19u);
    EXPECT_EQ(rd16(buf), 0x1007);   // port 5 → position 1 in its group of four
    EXPECT_EQ(rd32(buf + 10), 0x12345678u);
    EXPECT_EQ(rd16(buf + 14), 0);
    EXPECT_EQ(buf[18], xorAll(buf, 18));

    const unsigned char data[3] = {1, 2, 3};
    ASSERT_EQ(writeRam(buf, 5, 7, 0x40, data, 3, true), 22u);
    EXPECT_EQ(rd16(buf), kAllCards);
    EXPECT_EQ(buf[7], 6);           // byte 7 still follows the table
    EXPECT_EQ(rd16(buf + 14), 3);
    EXPECT_EQ(Bytes(buf + 18, buf + 21), Bytes({1, 2, 3}));
}

TEST(RcvCardPacket, RegisterSaveAndMappingPackets)
{
    unsigned char buf[64];
    ASSERT_EQ(mappingEnable(buf, 14, 9), 15u);
    EXPECT_EQ(packet(buf, 14), Bytes({0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 15, 0x00, 0xA0,
                                      3, 0x0F, 1, 9}));
    ASSERT_EQ(saveParams(buf, 2), 13u);
    EXPECT_EQ(packet(buf, 12), Bytes({0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 3, 0x00, 0x81,
                                      0xFF, 0x00}));
    ASSERT_EQ(ramReset(buf, 3, 1, 0xFF, 0xFF), 15u);
    EXPECT_EQ(rd16(buf), 0x3FFE);
    EXPECT_EQ(packet(buf + 9, 5), Bytes({0xA0, 1, 0xFF, 1, 0xFF}));

    ASSERT_EQ(saveParamsToFlash(buf, 3, 2, false), 13u);
    EXPECT_EQ(rd16(buf), 0x3002);
    EXPECT_EQ(buf[7], 0);
    const unsigned char reg[4] = {5, 0xF0, 0, 0x30};
    ASSERT_EQ(writeReg(buf, 1, 9, reg, 4, true), 15u);
    EXPECT_EQ(rd16(buf), kAllCards);
    EXPECT_EQ(buf[7], 0);
    EXPECT_EQ(buf[9], 0xA0);
}

TEST(RcvCardPacket, CallerDataBuilders)
{
    unsigned char buf[64];
    const unsigned char cmd[1] = {0x61};
    // user-defined: the data starts at byte 9, so its first byte is the command
    ASSERT_EQ(userDefined(buf, 0, 1, cmd, 1, false), 11u);
    EXPECT_EQ(buf[9], 0x61);
    EXPECT_EQ(buf[10], buf[0] ^ buf[1] ^ buf[2] ^ buf[3] ^ buf[4] ^ buf[5] ^ buf[6] ^ buf[7] ^
                           buf[8] ^ buf[9]);

    const unsigned char two[2] = {0xAB, 0xCD};
    EXPECT_EQ(activateFirmware(buf, 4, 2, two, 2), 13u);
    EXPECT_EQ(buf[9], 0xB4);
    EXPECT_EQ(reconfig(buf, 4, 2, two, 2), 13u);
    EXPECT_EQ(buf[9], 0x84);
    EXPECT_EQ(search(buf, 7, two, 2), 13u);
    EXPECT_EQ(rd16(buf), 0x3FFE);
    EXPECT_EQ(buf[9], 0x10);
}

TEST(RcvCardPacket, SearchPacketOfTheCardSearch)
{
    unsigned char buf[32];
    ASSERT_EQ(searchPacket(buf, 6, 0x11223344, 0xA1B2C3D4, 3), 30u);
    EXPECT_EQ(buf[1], 0x2F);
    EXPECT_EQ(buf[0], 0xFE);
    EXPECT_EQ(buf[5], 0xAA);
    EXPECT_EQ(buf[6], 0xFF);
    EXPECT_EQ(buf[7], 7);
    EXPECT_EQ(buf[16], 1);   // only bit 0 of the enable value
    EXPECT_EQ(rd32(buf + 17), 0x11223344u);
    EXPECT_EQ(buf[21], 0xFF);
    EXPECT_EQ(rd32(buf + 23), 0xA1B2C3D4u);
    EXPECT_EQ(xorAll(buf, 30), 0);
    searchPacket(buf, 20, 0, 0, 0);
    EXPECT_EQ(rd16(buf), 0x0FFE);
    searchPacket(buf, 15, 0, 0, 0);
    EXPECT_EQ(rd16(buf), 0x3FFE);
    searchPacket(buf, 17, 0, 0, 0);   // 17 mod 4 would give 0x1FFE
    EXPECT_EQ(rd16(buf), 0x0FFE);
}

TEST(RcvCardPacket, EveryBuilderXorsToZeroAndRefusesOversize)
{
    std::vector<unsigned char> data(1100, 0x5C);
    unsigned char buf[1200];
    for (unsigned port = 0; port < 16; ++port) {
        for (unsigned len : {0u, 1u, 17u, 1005u}) {
            const unsigned lens[] = {
                writeRam(buf, port, 3, 0x1000, data.data(), static_cast<uint16_t>(len), port & 1),
                activateFirmware(buf, port, 3, data.data(), static_cast<uint16_t>(len)),
                writeReg(buf, port, 3, data.data(), static_cast<uint16_t>(len), false),
                userDefined(buf, port, 3, data.data(), static_cast<uint16_t>(len), true),
                reconfig(buf, port, 3, data.data(), static_cast<uint16_t>(len)),
                search(buf, port, data.data(), static_cast<uint16_t>(len)),
            };
            for (unsigned l : lens) {
                if (l == 0)
                    continue;   // refused
                EXPECT_LE(l, kMaxPacket);
            }
        }
        unsigned l = writeRam(buf, port, 3, 0x1000, data.data(), 1005, false);
        ASSERT_EQ(l, 1024u);
        EXPECT_EQ(xorAll(buf, l), 0);
        EXPECT_EQ(writeRam(buf, port, 3, 0x1000, data.data(), 1006, false), 0u);
        EXPECT_EQ(xorAll(buf, cardPosition(buf, port, 1, 0xFFFF, 2)), 0);
        EXPECT_EQ(xorAll(buf, saveParams(buf, port)), 0);
        EXPECT_EQ(xorAll(buf, mappingEnable(buf, port, 0)), 0);
        EXPECT_EQ(xorAll(buf, ramReset(buf, port, 1, 2, 3)), 0);
        EXPECT_EQ(xorAll(buf, searchPacket(buf, port, 7, 8, 1)), 0);
        l = reconfig(buf, port, 5, data.data(), 40);
        EXPECT_EQ(xorAll(buf, l), 0);
    }
}

TEST(RcvCardPacket, ReaddressingKeepsTheCheckByte)
{
    unsigned char buf[64];
    const unsigned len = saveParamsToFlash(buf, 1, 0x123, false);
    ASSERT_EQ(rd16(buf), 0x1123);
    for (unsigned port = 0; port < 32; ++port) {
        readdress(buf, len, port);
        EXPECT_EQ((rd16(buf) >> 12) & 3, port % 4);
        EXPECT_EQ(rd16(buf) & 0x0FFF, 0x123);
        EXPECT_EQ(xorAll(buf, len), 0);
        EXPECT_TRUE(checkByteOk(buf, len));
    }
    unsigned char pc[16] = {0x05, 0x00, 0x10, 0xF0, 0x10, 0x22, 1, 20, 0, 0x61};
    pc[10] = xorAll(pc, 10);
    orPortBits(pc, 11, 19);   // port 3 of FPGA 1
    EXPECT_EQ(rd16(pc), 0x3005);
    EXPECT_EQ(xorAll(pc, 11), 0);
}

TEST(EthParamAreas, PortFieldsAndCountOffsetsOfEveryPort)
{
    const uint16_t expectX[16] = {8, 19, 32, 43, 520, 528, 536, 544,
                                  576, 584, 592, 600, 608, 616, 624, 632};
    for (unsigned p = 0; p < 16; ++p) {
        uint16_t x, y, w, h;
        eth_param::portFields(p, &x, &y, &w, &h);
        EXPECT_EQ(x, expectX[p]);
        EXPECT_EQ(y, expectX[p] + 2);
        EXPECT_EQ(w, expectX[p] + 4);
        EXPECT_EQ(h, expectX[p] + 6);
        EXPECT_EQ(eth_param::countSpan(p), p < 4 ? 5u : 3u);
        // geometry, counts and the window never overlap
        for (unsigned q = 0; q < 16; ++q) {
            EXPECT_FALSE(eth_param::kCardCount[q] >= x && eth_param::kCardCount[q] < x + 8);
            EXPECT_FALSE(eth_param::kCardStatus[q] >= x && eth_param::kCardStatus[q] < x + 8);
        }
        EXPECT_LE(h + 2u, eth_param::kBlockSize);
    }
    uint16_t x, y, w, h;
    eth_param::portFields(16, &x, &y, &w, &h);
    EXPECT_EQ(x, 8);
    EXPECT_EQ(y, 10);
    EXPECT_EQ(w, 12);
    EXPECT_EQ(h, 14);
}
