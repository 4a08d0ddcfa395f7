#include "links/udpnetmanage.h"

#include <arpa/inet.h>

#include <cstring>

#include "core/global.h"
#include "core/utils.h"
#include "links/link_env.h"

udpnetManage* udpnetManage::p_udpnetManage = nullptr;

namespace {

// A sender as a link client: its address and port (both as on the wire), and back.
LinkClient clientOf(const sockaddr_in& peer) { return LinkClient(peer.sin_addr.s_addr) << 16 | peer.sin_port; }

sockaddr_in peerOf(LinkClient client)
{
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = uint32_t(client >> 16);
    peer.sin_port = uint16_t(client);
    return peer;
}

}  // namespace

udpnetManage::udpnetManage() : reply_queue(udpReplyQueue())
{
    reply_queue.attach(
        [](unsigned char* out, const unsigned char* in, unsigned int n) {
            return protocol_phy::data_re_transf_meaning(out, in, n, nullptr);
        },
        [this](UdpReplyRecord& r) {
            static_assert(sizeof(sockaddr_in) == sizeof(r.peer), "peer address size");
            std::lock_guard<std::mutex> lock(peerMutex_);
            std::memcpy(r.peer, &cardPeer_, sizeof r.peer);
        });
    writeLogMsg(LOG_BANNER, "====udpnetManage::udpnetManage()=====");
    bindPort();
}

bool udpnetManage::bindPort()
{
    const int port = linkenv::udpPort();
    return binding_.attempt(port, [this, port] { return server_.bindOn(port); });
}

udpnetManage* udpnetManage::pInstance()
{
    if (!p_udpnetManage) {
        p_udpnetManage = new udpnetManage();
        p_udpnetManage->server_.setStopFd(p_udpnetManage->thread_.stopFd());
        p_udpnetManage->thread_.start([] { p_udpnetManage->stepOnce(LinkThread::kStepWaitMs); });
    }
    return p_udpnetManage;
}

void udpnetManage::stepOnce(int timeoutMs)
{
    // A port another program held at start is taken as soon as it is free; until then the step
    // only waits.
    if (!server_.bound())
        bindPort();
    sockaddr_in from{};
    unsigned n = server_.receive(core_.stepWait(timeoutMs), from);
    if (n != 0) {
        {
            std::lock_guard<std::mutex> lock(peerMutex_);
            last_peer = from;
        }
        // A datagram carries whole frames; nothing is carried over to the next one.
        codec.resetReceiver();
        budget_.startDatagram(from.sin_addr.s_addr, G_timeTicks.load());
        core_.heardFrom(hostOf(clientOf(from)));   // a datagram over the budget says it is there too
        if (!budget_.spent())
            core_.receive(codec, server_.data(), n, *this, clientOf(from));
        if (budget_.firstCut()) {
            char sender[INET_ADDRSTRLEN] = "?";
            ::inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
            ZEL_DEBUG("\n udp: reply limit reached, the rest of the datagram from %s dropped \n", sender);
        }
    }
    core_.dropSilentHosts(kSilentHostTicks);
    core_.service(*this);
}

uint64_t udpnetManage::hostOf(LinkClient client) const { return ApartWorker::networkHost(uint32_t(client >> 16)); }

void udpnetManage::addressCardReply(LinkClient client)
{
    std::lock_guard<std::mutex> lock(peerMutex_);
    cardPeer_ = peerOf(client);
}

void udpnetManage::sendEncoded(const uint8_t* data, unsigned length)
{
    sockaddr_in peer;
    {
        std::lock_guard<std::mutex> lock(peerMutex_);
        peer = last_peer;
    }
    reply(peer, data, length, true);
}

void udpnetManage::sendEncodedTo(LinkClient client, const uint8_t* data, unsigned length)
{
    reply(peerOf(client), data, length, false);
}

void udpnetManage::reply(const sockaddr_in& peer, const uint8_t* data, unsigned length, bool toCurrentDatagram)
{
    const bool fits = toCurrentDatagram ? budget_.take(length)
                                        : budget_.takeFor(peer.sin_addr.s_addr, length, G_timeTicks.load());
    if (fits)
        server_.replyTo(peer, data, length);
}

bool udpnetManage::sendQueuedReply()
{
    std::unique_ptr<UdpReplyRecord> r = reply_queue.takeFirst();
    if (!r)
        return false;
    sockaddr_in peer;
    std::memcpy(&peer, r->peer, sizeof peer);
    reply(peer, r->frame, r->length, false);
    return true;
}
