#include <gtest/gtest.h>

#include "link_client.h"
#include "links/protocol_phy.h"

using linktest::Bytes;

namespace {

// Feeds wire bytes; returns the bodies the receiver accepted.
std::vector<Bytes> feed(protocol_phy& rx, const Bytes& wire)
{
    std::vector<Bytes> got;
    for (uint8_t b : wire) {
        if (rx.receive(b) == protocol_phy::kFrame)
            got.emplace_back(rx.body(), rx.body() + rx.bodyLength());
    }
    return got;
}

}  // namespace

TEST(ProtocolPhy, StuffingOfEverySpecialByteMatchesTheWireFormat)
{
    Bytes body = {0xA5, 0xA6, 0x5A, 0x5B, 0x00};
    Bytes wire = protocol_phy::encode(body.data(), unsigned(body.size()));
    Bytes expect = {0xA5, 0xA5, 0xA5, 0xA6, 0x02, 0xA6, 0x01, 0x5B, 0x02, 0x5B, 0x01, 0x00, 0x5A};
    EXPECT_EQ(wire, expect);
    EXPECT_EQ(wire, linktest::encode(body));
}

TEST(ProtocolPhy, EveryByteValueRoundTrips)
{
    Bytes payload;
    for (int i = 0; i < 256; ++i)
        payload.push_back(uint8_t(i));
    Bytes body = linktest::body(0x60, payload);
    protocol_phy rx;
    auto got = feed(rx, protocol_phy::encode(body.data(), unsigned(body.size())));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], body);
}

TEST(ProtocolPhy, ReceiverResyncsOnAnySyncByteAndDropsBadFrames)
{
    Bytes good = linktest::body(0x82, {});
    Bytes bad = good;
    bad.back() ^= 0x01;  // wrong check byte
    Bytes wire = {0x00, 0x5A, 0x13, 0xA5, 0x01, 0x02};  // garbage, then a frame cut short by a sync
    Bytes e = linktest::encode(bad);
    wire.insert(wire.end(), e.begin(), e.end());
    wire.insert(wire.end(), {0xA5, 0xA6, 0x07, 0x5A});  // bad escape
    e = linktest::encode(good);
    wire.insert(wire.end(), e.begin(), e.end());
    protocol_phy rx;
    auto got = feed(rx, wire);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], good);
    EXPECT_GE(rx.droppedFrames(), 3u);
}

TEST(ProtocolPhy, OverlongAndShortFramesAreDropped)
{
    protocol_phy rx;
    Bytes wire = {0xA5};
    wire.insert(wire.end(), frame::kMaxBody + 10, 0x11);
    wire.push_back(0x5A);
    wire.insert(wire.end(), {0xA5, 0x01, 0x01, 0x5A});  // XOR 0 but shorter than a header
    EXPECT_TRUE(feed(rx, wire).empty());
    Bytes good = linktest::body(0x82, {});
    EXPECT_EQ(feed(rx, linktest::encode(good)).size(), 1u);
}

TEST(ProtocolPhy, BulkReceiveMatchesByteByByte)
{
    // Frames, garbage, a bad escape and an overlong frame, fed in bulk in uneven pieces.
    Bytes wire = {0x33, 0x5A};
    for (uint8_t g : {0x60, 0x61, 0xA0}) {
        Bytes payload;
        for (int i = 0; i < 300; ++i)
            payload.push_back(uint8_t(i * g));
        Bytes e = linktest::encode(linktest::body(g, payload));
        wire.insert(wire.end(), e.begin(), e.end());
        wire.insert(wire.end(), {0xA5, 0xA6, 0x09, 0x01});
    }
    wire.push_back(0xA5);
    wire.insert(wire.end(), frame::kMaxBody + 5, 0x01);
    Bytes last = linktest::encode(linktest::body(0x82, {}));
    wire.insert(wire.end(), last.begin(), last.end());

    protocol_phy one;
    std::vector<Bytes> expect = feed(one, wire);
    ASSERT_EQ(expect.size(), 4u);
    for (unsigned piece : {1u, 7u, 1000u, 100000u}) {
        protocol_phy bulk;
        std::vector<Bytes> got;
        for (size_t i = 0; i < wire.size();) {
            protocol_phy::Event e;
            unsigned n = unsigned(std::min<size_t>(piece, wire.size() - i));
            i += bulk.receive(wire.data() + i, n, e);
            if (e == protocol_phy::kFrame)
                got.emplace_back(bulk.body(), bulk.body() + bulk.bodyLength());
        }
        EXPECT_EQ(got, expect) << piece;
        EXPECT_EQ(bulk.droppedFrames(), one.droppedFrames()) << piece;
    }
}
