#include "links/protocol_phy.h"

#include <cstring>

uint8_t frame::xorOf(const uint8_t* data, unsigned length)
{
    uint8_t x = 0;
    for (unsigned i = 0; i < length; ++i)
        x ^= data[i];
    return x;
}

namespace {
// The four bytes that stuffing keeps out of a body.
struct SpecialTable {
    bool special[256] = {};
    constexpr SpecialTable()
    {
        special[frame::kSync] = special[frame::kEnd] = special[frame::kEscA5] = special[frame::kEsc5A] = true;
    }
};
constexpr SpecialTable kSpecial;
}  // namespace

protocol_phy::protocol_phy() : body_(frame::kMaxBody) {}

unsigned int protocol_phy::data_re_transf_meaning(unsigned char* out, const unsigned char* in,
                                                  unsigned int length, unsigned char*)
{
    unsigned n = 0;
    for (int i = 0; i < frame::kSyncCount; ++i)
        out[n++] = frame::kSync;
    for (unsigned i = 0; i < length; ++i) {
        uint8_t b = in[i];
        if (!kSpecial.special[b]) {
            out[n++] = b;
            continue;
        }
        switch (b) {
        case frame::kSync: out[n++] = frame::kEscA5; out[n++] = 0x02; break;
        case frame::kEscA5: out[n++] = frame::kEscA5; out[n++] = 0x01; break;
        case frame::kEnd: out[n++] = frame::kEsc5A; out[n++] = 0x02; break;
        case frame::kEsc5A: out[n++] = frame::kEsc5A; out[n++] = 0x01; break;
        default: out[n++] = b; break;
        }
    }
    out[n++] = frame::kEnd;
    return n;
}

std::vector<uint8_t> protocol_phy::encode(const uint8_t* body, unsigned length)
{
    std::vector<uint8_t> out(frame::encodedCapacity(length));
    out.resize(data_re_transf_meaning(out.data(), body, length, nullptr));
    return out;
}

void protocol_phy::resetReceiver()
{
    state_ = kIdle;
    length_ = 0;
}

protocol_phy::Event protocol_phy::drop()
{
    ++dropped_;
    resetReceiver();
    return kDropped;
}

protocol_phy::Event protocol_phy::receive(uint8_t byte)
{
    if (byte == frame::kSync) {
        // Sync bytes never occur inside a stuffed body: whatever was collected is given up.
        bool partial = state_ != kIdle && length_ > 0;
        state_ = kCollect;
        length_ = 0;
        if (partial) {
            ++dropped_;
            return kDropped;
        }
        return kNone;
    }
    if (state_ == kIdle)
        return kNone;

    uint8_t value = byte;
    switch (state_) {
    case kEscapeA:
    case kEscapeB: {
        bool a = state_ == kEscapeA;
        if (byte == 0x01)
            value = a ? frame::kEscA5 : frame::kEsc5A;
        else if (byte == 0x02)
            value = a ? frame::kSync : frame::kEnd;
        else
            return drop();
        state_ = kCollect;
        break;
    }
    case kCollect:
        if (byte == frame::kEnd) {
            state_ = kIdle;
            if (length_ < frame::kMinBody || frame::xorOf(body_.data(), length_) != 0) {
                ++dropped_;
                return kDropped;
            }
            return kFrame;
        }
        if (byte == frame::kEscA5) {
            state_ = kEscapeA;
            return kNone;
        }
        if (byte == frame::kEsc5A) {
            state_ = kEscapeB;
            return kNone;
        }
        break;
    case kIdle:
        return kNone;
    }
    if (length_ >= body_.size())
        return drop();
    body_[length_++] = value;
    return kNone;
}

unsigned protocol_phy::receive(const uint8_t* data, unsigned length, Event& event)
{
    event = kNone;
    unsigned i = 0;
    while (i < length) {
        if (state_ == kCollect) {
            // Plain body bytes are copied in one run.
            unsigned room = unsigned(body_.size()) - length_;
            unsigned j = i;
            while (j < length && j - i < room && !kSpecial.special[data[j]])
                ++j;
            if (j > i) {
                std::memcpy(body_.data() + length_, data + i, j - i);
                length_ += j - i;
                i = j;
                continue;
            }
        }
        Event e = receive(data[i++]);
        if (e != kNone)
            event = e;
        if (e == kFrame)
            break;
    }
    return i;
}
