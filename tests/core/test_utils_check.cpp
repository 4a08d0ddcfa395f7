#include <gtest/gtest.h>

#include <string>

#include "core/utils.h"

namespace {

const unsigned char* bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }
unsigned int len(const std::string& s) { return static_cast<unsigned int>(s.size()); }

const std::string kCheck = "123456789";  // the catalogue's check input

}  // namespace

TEST(Checksums, BlockCheckCharacter)
{
    EXPECT_EQ(Utils::BCC(bytes("abc"), 3), 0x60u);
    EXPECT_EQ(Utils::BCC(nullptr, 0), 0u);
    const unsigned char frame[] = {0xA5, 0x5A, 0xFF, 0x01};
    EXPECT_EQ(Utils::BCC(frame, 4), 0xA5u ^ 0x5Au ^ 0xFFu ^ 0x01u);
}

// Check values from the public CRC catalogue.
TEST(Checksums, CatalogueCheckValues)
{
    EXPECT_EQ(Utils::calcCRC16(bytes(kCheck), len(kCheck)), 0xBB3Du);       // CRC-16/ARC
    EXPECT_EQ(Utils::jtc1CRC16Code(bytes(kCheck), len(kCheck)), 0x31C3u);   // CRC-16/XMODEM
    EXPECT_EQ(Utils::ccittCalcCRC16(bytes(kCheck), len(kCheck)), 0x6F91u);  // CRC-16/MCRF4XX
}

TEST(Checksums, Crc32StartsFromZeroWithoutFinalXor)
{
    EXPECT_EQ(Utils::calcCRC32(bytes("abc"), 3), 0xCA6598D0u);
    // Not the usual CRC-32 (0x352441C2 over "abc").
    EXPECT_NE(Utils::calcCRC32(bytes("abc"), 3), 0x352441C2u);
}

TEST(Checksums, EmptyInput)
{
    EXPECT_EQ(Utils::calcCRC16(nullptr, 0), 0u);
    EXPECT_EQ(Utils::calcCRC32(nullptr, 0), 0u);
    EXPECT_EQ(Utils::jtc1CRC16Code(nullptr, 0), 0u);
    EXPECT_EQ(Utils::ccittCalcCRC16(nullptr, 0), 0xFFFFu);
}

TEST(Checksums, SixteenBitResultsStayInSixteenBits)
{
    std::string long_(1000, '\xff');
    EXPECT_LE(Utils::calcCRC16(bytes(long_), len(long_)), 0xFFFFu);
    EXPECT_LE(Utils::jtc1CRC16Code(bytes(long_), len(long_)), 0xFFFFu);
    EXPECT_LE(Utils::ccittCalcCRC16(bytes(long_), len(long_)), 0xFFFFu);
}
