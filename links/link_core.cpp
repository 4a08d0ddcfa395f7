#include "links/link_core.h"

#include <unistd.h>

#include "core/global.h"
#include "core/utils.h"
#include "links/message_deal.h"
#include "links/passby.h"

namespace {
constexpr uint16_t kCardsAddressLimit = 0xF000;
constexpr uint16_t kPcAddress = 0xF010;
constexpr unsigned kPollPauseUs = 1000;
}  // namespace

LinkCore::LinkCore(uint8_t passbyPort)
    : passbyPort_(passbyPort), reply_(message_deal::kMaxReplyBody),
      encoded_(frame::encodedCapacity(message_deal::kMaxReplyBody))
{
}

bool LinkCore::isPassby(const uint8_t* body, unsigned length)
{
    return length >= frame::kMinBody && frame::u16(body + frame::kFirstAddr) < kCardsAddressLimit &&
           frame::u16(body + frame::kSecondAddr) == kPcAddress;
}

bool LinkCore::handleBody(uint8_t* body, unsigned length, LinkEndpoint& endpoint)
{
    if (length < frame::kMinBody)
        return false;
    pc_cmd_time = G_timeTicks.load();
    pc_cmd_valid = 1;

    if (isPassby(body, length))
        return passThrough(body, length, endpoint);

    unsigned n = message_deal::message_group_deal(body, length, reply_.data(), unsigned(reply_.size()));
    if (n == 0)
        return false;
    unsigned e = protocol_phy::data_re_transf_meaning(encoded_.data(), reply_.data(), n, nullptr);
    endpoint.sendEncoded(encoded_.data(), e);
    return true;
}

bool LinkCore::passThrough(uint8_t* body, unsigned length, LinkEndpoint& endpoint)
{
    // The cards' send RAMs hold less: such a frame is never sent, so nothing is waited for.
    if (length >= kPassbyMaxFrame)
        return false;
    passby::Turn turn;
    const unsigned arrived = G_timeTicks.load();
    if (!turn.take([&] { return !endpoint.running() || Utils::getTimeSpace(arrived) > kPassbyTimeoutTicks; })) {
        ZEL_DEBUG("\n pass-through frame dropped, the cards stayed busy, link %d \n", passbyPort_);
        return false;
    }
    endpoint.clearQueuedReplies();
    g_passby_trans_port = passbyPort_;
    if (!passby::deliver(body, length)) {
        g_passby_trans_port = kPassbyNone;
        return false;
    }
    unsigned start = G_timeTicks.load();
    while (endpoint.running()) {
        if (passby::pollReply())
            return endpoint.sendQueuedReply();
        if (Utils::getTimeSpace(start) > kPassbyTimeoutTicks)
            break;
        usleep(kPollPauseUs);
    }
    // No answer: the link goes back to normal and nobody waits any more.
    passby::giveUp(passbyPort_);
    ZEL_DEBUG("\n pass-through frame got no reply, link %d \n", passbyPort_);
    return false;
}
