#include "ledout/rcv_card_cmd.h"

#include <cstring>

#include "core/utils.h"

namespace rcv_card {

namespace {

constexpr unsigned kCheckLen = 1;

void setCheckByte(unsigned char* buf, unsigned len)
{
    buf[len - 1] = static_cast<unsigned char>(Utils::BCC(buf, len - 1));
}

// Writes byte 1 of the destination with new port bits and fixes the check byte by the XOR of the
// old and the new byte.
void setByte1(unsigned char* buf, unsigned len, unsigned char newByte1)
{
    replaceByte(buf, len, kOffDest + 1, newByte1);
}

}  // namespace

uint16_t destination(Dest dest, unsigned port, unsigned index, bool broadcast)
{
    const uint16_t portBits = static_cast<uint16_t>((port % 4) << 12);
    switch (dest) {
    case Dest::Card:
        return static_cast<uint16_t>(portBits | (index & kIndexMask));
    case Dest::CardOrAll:
        return broadcast ? kAllCards : static_cast<uint16_t>(portBits | (index & kIndexMask));
    case Dest::PortAll:
        return static_cast<uint16_t>(portBits | kAllCardsAlt);
    case Dest::All:
        return kAllCards;
    }
    return kAllCards;
}

unsigned assemble(Kind kind, unsigned char* buf, unsigned port, unsigned index, bool broadcast,
                  const unsigned char* head, unsigned headLen, const unsigned char* data,
                  unsigned dataLen)
{
    if (kind >= kKindCount || buf == nullptr)
        return 0;
    const Layout& layout = kLayouts[kind];
    const unsigned start = layout.command < 0 ? kOffCommand : kOffPayload;
    const unsigned long total = static_cast<unsigned long>(start) + headLen + dataLen + kCheckLen;
    if (total > kMaxPacket)
        return 0;
    const unsigned len = static_cast<unsigned>(total);

    wr16(buf + kOffDest, destination(layout.dest, port, index, broadcast));
    wr16(buf + kOffSrc, kSrcController);
    buf[kOffHeader4] = kHeader4;
    buf[kOffTag] = kTagJob;
    buf[kOffHandling] = kHandlingJob;
    buf[kOffPort] = layout.portByte == PortByte::PortPlusOne ? static_cast<unsigned char>(port + 1) : 0;
    buf[8] = 0;
    if (layout.command >= 0)
        buf[kOffCommand] = static_cast<unsigned char>(layout.command);
    if (headLen != 0)
        std::memcpy(buf + start, head, headLen);
    if (dataLen != 0 && data != nullptr)
        std::memcpy(buf + start + headLen, data, dataLen);
    else if (dataLen != 0)
        std::memset(buf + start + headLen, 0, dataLen);
    setCheckByte(buf, len);
    return len;
}

namespace {

// Bytes 10-17 of the RAM commands: u32 address, u16 length, two zero bytes.
void ramHead(unsigned char* head, uint32_t address, uint16_t len)
{
    wr32(head, address);
    wr16(head + 4, len);
    head[6] = 0;
    head[7] = 0;
}

constexpr unsigned kRamHeadLen = 8;

}  // namespace

unsigned cardPosition(unsigned char* buf, unsigned port, unsigned index, uint16_t x, uint16_t y)
{
    unsigned char head[kRamHeadLen];
    unsigned char xy[4];
    ramHead(head, kCardPositionAddr, sizeof(xy));
    wr16(xy, x);
    wr16(xy + 2, y);
    return assemble(kCardPosition, buf, port, index, false, head, kRamHeadLen, xy, sizeof(xy));
}

unsigned writeRam(unsigned char* buf, unsigned port, unsigned index, uint32_t address,
                  const unsigned char* data, uint16_t len, bool broadcast)
{
    unsigned char head[kRamHeadLen];
    ramHead(head, address, len);
    return assemble(kWriteRam, buf, port, index, broadcast, head, kRamHeadLen, data, len);
}

unsigned activateFirmware(unsigned char* buf, unsigned port, unsigned index,
                          const unsigned char* data, uint16_t len)
{
    return assemble(kActivateFirmware, buf, port, index, false, nullptr, 0, data, len);
}

unsigned ramReset(unsigned char* buf, unsigned port, uint8_t reg, uint8_t mask, uint8_t value)
{
    const unsigned char head[4] = {reg, mask, 1, value};
    return assemble(kRamReset, buf, port, 0, false, head, sizeof(head), nullptr, 0);
}

unsigned saveParams(unsigned char* buf, unsigned port)
{
    const unsigned char head[2] = {0xFF, 0};
    return assemble(kSaveParams, buf, port, 0, false, head, sizeof(head), nullptr, 0);
}

unsigned writeReg(unsigned char* buf, unsigned port, unsigned index, const unsigned char* data,
                  uint16_t len, bool broadcast)
{
    return assemble(kWriteReg, buf, port, index, broadcast, nullptr, 0, data, len);
}

unsigned userDefined(unsigned char* buf, unsigned port, unsigned index, const unsigned char* data,
                     uint16_t len, bool broadcast)
{
    return assemble(kUserDefined, buf, port, index, broadcast, nullptr, 0, data, len);
}

unsigned reconfig(unsigned char* buf, unsigned port, unsigned index, const unsigned char* data,
                  uint16_t len)
{
    return assemble(kReconfig, buf, port, index, false, nullptr, 0, data, len);
}

unsigned search(unsigned char* buf, unsigned port, const unsigned char* data, uint16_t len)
{
    return assemble(kSearch, buf, port, 0, false, nullptr, 0, data, len);
}

unsigned saveParamsToFlash(unsigned char* buf, unsigned port, unsigned index, bool broadcast)
{
    const unsigned char head[2] = {0xFF, 0};
    return assemble(kSaveParamsToFlash, buf, port, index, broadcast, head, sizeof(head), nullptr, 0);
}

unsigned mappingEnable(unsigned char* buf, unsigned port, uint8_t value)
{
    const unsigned char head[4] = {3, 0x0F, 1, value};
    return assemble(kMappingEnable, buf, port, 0, false, head, sizeof(head), nullptr, 0);
}

unsigned searchPacket(unsigned char* buf, unsigned port, uint32_t configId, uint32_t deviceId,
                      uint8_t enable)
{
    std::memset(buf, 0, kSearchPacketLen);
    const uint16_t dest = port > 15 ? kAllCardsAlt : destination(Dest::PortAll, port, 0, false);
    wr16(buf + kOffDest, dest);
    wr16(buf + kOffSrc, kSrcController);
    buf[kOffHeader4] = kHeader4;
    buf[kOffTag] = kTagSearch;
    buf[kOffHandling] = kHandlingSearch;
    buf[kOffPort] = static_cast<unsigned char>(port + 1);
    buf[kOffCommand] = kCmdSearch;
    buf[16] = enable & 1;
    wr32(buf + 17, configId);
    buf[21] = 0xFF;
    wr32(buf + 23, deviceId);
    setCheckByte(buf, kSearchPacketLen);
    return kSearchPacketLen;
}

bool checkByteOk(const unsigned char* buf, unsigned len)
{
    if (buf == nullptr || len == 0)
        return false;
    return (Utils::BCC(buf, len - 1) & 0xFF) == buf[len - 1];
}

void replaceByte(unsigned char* buf, unsigned len, unsigned offset, unsigned char value)
{
    if (buf == nullptr || len < 2 || offset >= len - 1)
        return;
    buf[len - 1] = static_cast<unsigned char>(buf[len - 1] ^ buf[offset] ^ value);
    buf[offset] = value;
}

void readdress(unsigned char* buf, unsigned len, unsigned port)
{
    if (len < kHeaderLen)
        return;
    const unsigned char bits = static_cast<unsigned char>((port % 4) << 4);
    setByte1(buf, len, static_cast<unsigned char>((buf[kOffDest + 1] & ~kPortBitsMask) | bits));
}

void orPortBits(unsigned char* buf, unsigned len, unsigned port)
{
    if (len < kHeaderLen)
        return;
    const unsigned char bits = static_cast<unsigned char>((port % 4) << 4);
    setByte1(buf, len, static_cast<unsigned char>(buf[kOffDest + 1] | bits));
}

}  // namespace rcv_card
