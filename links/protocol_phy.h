// The frame codec of the control links (pc_cmd_frame).
//
// On the wire a frame is three sync bytes 0xA5, the byte-stuffed body and the end byte 0x5A.
// Stuffing keeps 0xA5 and 0x5A out of the body (A5 -> A6 02, A6 -> A6 01, 5A -> 5B 02,
// 5B -> 5B 01), so a receiver can restart a frame at any 0xA5 it sees. The body holds the two
// 16-bit addresses, header bytes 4-8, the command group in byte 9, the payload from byte 10 and an
// XOR check byte last, which makes the XOR of the whole body 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace frame {

constexpr uint8_t kSync = 0xA5;
constexpr uint8_t kEnd = 0x5A;
constexpr uint8_t kEsc5A = 0x5B;   // escape of 0x5A and of itself
constexpr uint8_t kEscA5 = 0xA6;   // escape of 0xA5 and of itself
constexpr int kSyncCount = 3;

// Body offsets.
constexpr int kFirstAddr = 0;
constexpr int kSecondAddr = 2;
constexpr int kTag = 5;
constexpr int kHandling = 6;
constexpr int kPort = 7;
constexpr int kGroup = 9;
constexpr int kPayload = 10;
constexpr int kHeaderSize = 10;
constexpr unsigned kMinBody = kHeaderSize + 1;  // header and check byte

// Largest body a link accepts: a RAM write of 0xFFFF data bytes with its header and check byte.
constexpr unsigned kMaxBody = 65600;
// Room for any encoded body of `n` bytes.
constexpr unsigned encodedCapacity(unsigned n) { return kSyncCount + 2 * n + 1; }

inline uint16_t u16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t u32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void put16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
uint8_t xorOf(const uint8_t* data, unsigned length);

}  // namespace frame

class protocol_phy {
public:
    // What one received byte did to the frame being collected.
    enum Event { kNone, kFrame, kDropped };

    protocol_phy();

    // Encodes a body of `length` bytes (check byte included) into `out` (at least
    // frame::encodedCapacity(length) bytes): sync bytes, stuffed body, end byte. Returns the
    // encoded length. `scratch` is not needed and may be null.
    static unsigned int data_re_transf_meaning(unsigned char* out, const unsigned char* in,
                                               unsigned int length, unsigned char* scratch);
    // The same into a vector.
    static std::vector<uint8_t> encode(const uint8_t* body, unsigned length);

    // Receiver: feeds one byte. kFrame when a complete body with a good check byte is ready in
    // body()/bodyLength() (valid until the next byte); kDropped when a frame was given up
    // (bad escape, overlong, too short, bad check byte). Any 0xA5 starts a new frame.
    Event receive(uint8_t byte);
    // Feeds up to `length` bytes and stops right after a frame ends. Returns the bytes consumed;
    // `event` is kFrame when a frame is ready, else the last event met.
    unsigned receive(const uint8_t* data, unsigned length, Event& event);
    const uint8_t* body() const { return body_.data(); }
    uint8_t* body() { return body_.data(); }
    unsigned bodyLength() const { return length_; }
    void resetReceiver();

    unsigned droppedFrames() const { return dropped_; }

private:
    Event drop();

    enum State { kIdle, kCollect, kEscapeA, kEscapeB };
    State state_ = kIdle;
    std::vector<uint8_t> body_;
    unsigned length_ = 0;
    unsigned dropped_ = 0;
};
