#include <gtest/gtest.h>

#include <cstring>

#include "links/reply_queue.h"

namespace {

// A stand-in codec: copies the body between two marker bytes.
unsigned int markEncode(unsigned char* out, const unsigned char* in, unsigned int length)
{
    out[0] = 0xA5;
    std::memcpy(out + 1, in, length);
    out[length + 1] = 0x5A;
    return length + 2;
}

}  // namespace

TEST(ReplyQueue, NewReplyReplacesTheQueueAndCarriesTheLinkAddress)
{
    TcpReplyQueue q;
    const unsigned char body[3] = {1, 2, 3};
    EXPECT_FALSE(q.replaceWith(body, 3));   // no link attached: dropped
    EXPECT_EQ(q.size(), 0u);

    q.attach(markEncode, [](TcpReplyRecord& r) { r.socket = 42; });
    ASSERT_TRUE(q.replaceWith(body, 3));
    const unsigned char second[2] = {9, 8};
    ASSERT_TRUE(q.replaceWith(second, 2));
    EXPECT_EQ(q.size(), 1u);
    auto r = q.takeFirst();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->length, 4u);
    EXPECT_EQ(r->socket, 42u);
    EXPECT_EQ(r->frame[1], 9);
    EXPECT_EQ(q.takeFirst(), nullptr);

    EXPECT_FALSE(q.replaceWith(second, TcpReplyQueue::kMaxBody + 1));
}

TEST(ReplyQueue, CardReplyGoesToTheNamedLinkOnly)
{
    uartReplyQueue().attach(markEncode, [](UartReplyRecord& r) { r.link_word = 7; });
    udpReplyQueue().attach(markEncode, [](UdpReplyRecord& r) { std::memset(r.peer, 0xEE, 16); });
    const unsigned char body[2] = {0x10, 0x20};
    EXPECT_TRUE(queueCardReply(kPassbyUdp, body, 2));
    EXPECT_FALSE(queueCardReply(kPassbyTcp, body, 2));   // TCP link not attached
    EXPECT_FALSE(queueCardReply(kPassbyNone, body, 2));
    EXPECT_EQ(uartReplyQueue().size(), 0u);
    auto r = udpReplyQueue().takeFirst();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->peer[15], 0xEE);
    EXPECT_EQ(r->length, 4u);
}
