// The UDP link: frames in datagrams on the UDP command port, replies to the sender's port.
#pragma once

#include <netinet/in.h>

#include <mutex>

#include "links/link_core.h"
#include "links/link_thread.h"
#include "links/port_binding.h"
#include "links/protocol_phy.h"
#include "links/reply_queue.h"
#include "links/udpserver.h"

class udpnetManage : public LinkEndpoint {
public:
    static udpnetManage* pInstance();
    static udpnetManage* p_udpnetManage;

    void stepOnce(int timeoutMs);
    int port() const { return server_.port(); }

    protocol_phy codec;          // receiver of the datagrams, encoder of the replies
    sockaddr_in last_peer{};     // sender of the frame being handled
    UdpReplyQueue& reply_queue;  // filled by the FPGA manager's reply path

    void sendEncoded(const uint8_t* data, unsigned length) override;
    void sendEncodedTo(LinkClient client, const uint8_t* data, unsigned length) override;
    bool sendQueuedReply() override;
    void clearQueuedReplies() override { reply_queue.clear(); }
    void addressCardReply(LinkClient client) override;
    uint64_t hostOf(LinkClient client) const override;
    bool running() const override { return thread_.running(); }
    bool takesFrames() const override { return !budget_.spent(); }
    // A datagram's sender cannot be held back: a long command past its share is refused.
    bool holdsClients() const override { return false; }

private:
    udpnetManage();
    bool bindPort();

    // Sends to `peer` when the budget takes the bytes.
    void reply(const sockaddr_in& peer, const uint8_t* data, unsigned length, bool toCurrentDatagram);

    UdpServer server_;
    UdpReplyBudget budget_;   // the link thread's
    PortBinding binding_{alerts::kUdpPortNotBound, "UDP"};
    LinkCore core_{kPassbyUdp};
    std::mutex peerMutex_;
    sockaddr_in cardPeer_{};   // sender of the card frame the cards answer (under peerMutex_)
    LinkThread thread_;
    // A host that sent nothing and was answered nothing for this long (10 s) is gone: its commands
    // handed apart that have not started are dropped.
    static constexpr unsigned kSilentHostTicks = 1000;
};
