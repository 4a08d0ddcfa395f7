// The receiving-card packet `rcv_card_cmd`: 10 header bytes, a payload and an XOR check byte,
// little-endian fields, no sync bytes and no stuffing. The builders here are pure: they fill a
// caller's buffer and return the packet length (0 when the packet would not fit the FPGA's send
// RAM). The `fpga_manage` members of the same names wrap them and keep the job block up to date.
#pragma once

#include <cstdint>

namespace rcv_card {

// ---- layout ------------------------------------------------------------------------------------
constexpr unsigned kHeaderLen = 10;        // bytes 0-9; the payload starts at byte 10
constexpr unsigned kMaxPacket = 1024;      // one send or reply RAM transfer
constexpr unsigned kOffDest = 0;           // u16 destination
constexpr unsigned kOffSrc = 2;            // u16 source
constexpr unsigned kOffHeader4 = 4;
constexpr unsigned kOffTag = 5;
constexpr unsigned kOffHandling = 6;
constexpr unsigned kOffPort = 7;
constexpr unsigned kOffCommand = 9;
constexpr unsigned kOffPayload = 10;

constexpr uint16_t kSrcController = 0xF000;
constexpr uint16_t kSrcPc = 0xF010;
constexpr uint16_t kAllCards = 0x0FFF;
constexpr uint16_t kAllCardsAlt = 0x0FFE;
constexpr uint16_t kIndexMask = 0x0FFF;
constexpr uint8_t kPortBitsMask = 0x30;     // destination bits 12-13 as they sit in byte 1

constexpr uint8_t kHeader4 = 0x10;
constexpr uint8_t kTagJob = 0x67;
constexpr uint8_t kTagSearch = 0xAA;
constexpr uint8_t kTagMultifunction = 0xBB;
constexpr uint8_t kHandlingJob = 1;
constexpr uint8_t kHandlingSearch = 0xFF;

// ---- commands (byte 9) -------------------------------------------------------------------------
constexpr uint8_t kCmdSearch = 0x10;
constexpr uint8_t kCmdWriteRam = 0x60;
constexpr uint8_t kCmdReadRam = 0x61;
constexpr uint8_t kCmdSave = 0x81;
constexpr uint8_t kCmdReconfig = 0x84;
constexpr uint8_t kCmdWriteReg = 0xA0;
constexpr uint8_t kCmdActivate = 0xB4;

constexpr uint32_t kCardPositionAddr = 0x180;   // u16 x, u16 y of the card
constexpr unsigned kSearchPacketLen = 30;

// ---- the builder table --------------------------------------------------------------------------
enum class Dest : uint8_t {
    Card,         // (port mod 4) << 12 | index
    CardOrAll,    // broadcast ? 0x0FFF : Card
    PortAll,      // (port mod 4) << 12 | 0x0FFE
    All,          // 0x0FFF
};
enum class PortByte : uint8_t { PortPlusOne, Zero };

struct Layout {
    Dest dest;
    PortByte portByte;
    int command;  // -1: no command byte of its own; the data starts at byte 9
};

enum Kind : unsigned {
    kCardPosition,
    kWriteRam,
    kActivateFirmware,
    kRamReset,
    kSaveParams,
    kWriteReg,
    kUserDefined,
    kReconfig,
    kSearch,
    kSaveParamsToFlash,
    kMappingEnable,
    kKindCount
};

constexpr Layout kLayouts[kKindCount] = {
    /* kCardPosition      */ {Dest::Card, PortByte::PortPlusOne, kCmdWriteRam},
    /* kWriteRam          */ {Dest::CardOrAll, PortByte::PortPlusOne, kCmdWriteRam},
    /* kActivateFirmware  */ {Dest::Card, PortByte::PortPlusOne, kCmdActivate},
    /* kRamReset          */ {Dest::PortAll, PortByte::PortPlusOne, kCmdWriteReg},
    /* kSaveParams        */ {Dest::All, PortByte::PortPlusOne, kCmdSave},
    /* kWriteReg          */ {Dest::CardOrAll, PortByte::Zero, kCmdWriteReg},
    /* kUserDefined       */ {Dest::CardOrAll, PortByte::Zero, -1},
    /* kReconfig          */ {Dest::Card, PortByte::PortPlusOne, kCmdReconfig},
    /* kSearch            */ {Dest::PortAll, PortByte::PortPlusOne, kCmdSearch},
    /* kSaveParamsToFlash */ {Dest::CardOrAll, PortByte::Zero, kCmdSave},
    /* kMappingEnable     */ {Dest::All, PortByte::PortPlusOne, kCmdWriteReg},
};

// One packet of `kind`: header, `head` (fixed payload bytes of the builder), then `data`, then
// the check byte. Returns the length, or 0 (buffer untouched) when it exceeds kMaxPacket.
unsigned assemble(Kind kind, unsigned char* buf, unsigned port, unsigned index, bool broadcast,
                  const unsigned char* head, unsigned headLen, const unsigned char* data,
                  unsigned dataLen);

// ---- the builders (port 0-15 within its FPGA) -------------------------------------------------
unsigned cardPosition(unsigned char* buf, unsigned port, unsigned index, uint16_t x, uint16_t y);
unsigned writeRam(unsigned char* buf, unsigned port, unsigned index, uint32_t address,
                  const unsigned char* data, uint16_t len, bool broadcast);
unsigned activateFirmware(unsigned char* buf, unsigned port, unsigned index,
                          const unsigned char* data, uint16_t len);
unsigned ramReset(unsigned char* buf, unsigned port, uint8_t reg, uint8_t mask, uint8_t value);
unsigned saveParams(unsigned char* buf, unsigned port);
unsigned writeReg(unsigned char* buf, unsigned port, unsigned index, const unsigned char* data,
                  uint16_t len, bool broadcast);
unsigned userDefined(unsigned char* buf, unsigned port, unsigned index, const unsigned char* data,
                     uint16_t len, bool broadcast);
unsigned reconfig(unsigned char* buf, unsigned port, unsigned index, const unsigned char* data,
                  uint16_t len);
unsigned search(unsigned char* buf, unsigned port, const unsigned char* data, uint16_t len);
unsigned saveParamsToFlash(unsigned char* buf, unsigned port, unsigned index, bool broadcast);
unsigned mappingEnable(unsigned char* buf, unsigned port, uint8_t value);

// The card search's own 30-byte packet (tag 0xAA, handling 0xFF). A port above 15 is addressed
// to 0x0FFE without port bits.
unsigned searchPacket(unsigned char* buf, unsigned port, uint32_t configId, uint32_t deviceId,
                      uint8_t enable);

// ---- helpers -----------------------------------------------------------------------------------
inline uint16_t rd16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t rd32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void wr16(unsigned char* p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void wr32(unsigned char* p, uint32_t v)
{
    wr16(p, static_cast<uint16_t>(v));
    wr16(p + 2, static_cast<uint16_t>(v >> 16));
}

uint16_t destination(Dest dest, unsigned port, unsigned index, bool broadcast);
// XOR of the first len - 1 bytes equals the last byte (false for an empty buffer).
bool checkByteOk(const unsigned char* buf, unsigned len);
// Replaces byte `offset` of a packet by `value`, keeping its check byte (the last byte) valid.
void replaceByte(unsigned char* buf, unsigned len, unsigned offset, unsigned char value);
// Re-addresses a built packet to `port`: destination bits 12-13 = port mod 4.
void readdress(unsigned char* buf, unsigned len, unsigned port);
// ORs the port bits of `port` into the destination (a PC frame passed through to one port).
void orPortBits(unsigned char* buf, unsigned len, unsigned port);

}  // namespace rcv_card
