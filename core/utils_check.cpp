// Check values over byte buffers: the frame check byte and the CRC family.
#include "core/utils.h"

#include <array>
#include <cstdint>

namespace {

// Entry i is i shifted right eight times, XOR-ing the reflected polynomial whenever a 1 is
// shifted out.
template <class T>
constexpr std::array<T, 256> reflectedTable(T poly)
{
    std::array<T, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        T crc = static_cast<T>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<T>((crc >> 1) ^ poly) : static_cast<T>(crc >> 1);
        table[i] = crc;
    }
    return table;
}

constexpr auto kCrc16ArcTable = reflectedTable<uint16_t>(0xA001);     // 0x8005 reflected
constexpr auto kCrc32Table = reflectedTable<uint32_t>(0xEDB88320u);   // IEEE 802.3, reflected
constexpr auto kCrc16CcittTable = reflectedTable<uint16_t>(0x8408);   // 0x1021 reflected

template <class T>
T runTable(const std::array<T, 256>& table, T crc, const unsigned char* data, unsigned int length)
{
    for (unsigned int i = 0; i < length; ++i)
        crc = static_cast<T>(table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8));
    return crc;
}

}  // namespace

unsigned int Utils::BCC(const unsigned char* data, unsigned int length)
{
    unsigned char x = 0;
    for (unsigned int i = 0; i < length; ++i)
        x ^= data[i];
    return x;
}

unsigned int Utils::calcCRC16(const unsigned char* data, unsigned int length)
{
    return runTable<uint16_t>(kCrc16ArcTable, 0x0000, data, length);
}

unsigned int Utils::calcCRC32(const unsigned char* data, unsigned int length)
{
    // Starts from 0 and has no final XOR: not the usual CRC-32.
    return runTable<uint32_t>(kCrc32Table, 0u, data, length);
}

unsigned int Utils::ccittCalcCRC16(const unsigned char* data, unsigned int length)
{
    return runTable<uint16_t>(kCrc16CcittTable, 0xFFFF, data, length);
}

unsigned int Utils::jtc1CRC16Code(const unsigned char* data, unsigned int length)
{
    uint16_t crc = 0;
    for (unsigned int i = 0; i < length; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            bool dataBit = (data[i] >> bit) & 1;
            bool crcBit = (crc >> 15) & 1;
            crc = static_cast<uint16_t>(crc << 1);
            if (dataBit != crcBit)
                crc ^= 0x1021;
        }
    }
    return crc;
}
