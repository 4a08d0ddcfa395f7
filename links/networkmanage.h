// The TCP link: frames of the clients of the TCP command port (limits: links/tcpserver.h).
#pragma once

#include <atomic>
#include <map>
#include <memory>

#include "links/link_core.h"
#include "links/link_thread.h"
#include "links/port_binding.h"
#include "links/protocol_phy.h"
#include "links/reply_queue.h"
#include "links/tcpserver.h"

class networkManage : public LinkEndpoint {
public:
    // Creates the link, listens on the TCP command port and starts the receive thread.
    static networkManage* pInstance();
    static networkManage* p_networkManage;

    // One pass of the receive thread: waits up to `timeoutMs` and handles what arrived.
    void stepOnce(int timeoutMs);
    int port() const { return server_.port(); }
    // Connected clients, and accepts that failed for want of descriptors (readable anywhere).
    size_t clientCount() const { return server_.clientCount(); }
    unsigned acceptFailures() const { return server_.acceptFailures(); }

    protocol_phy codec;                        // encoder of the queued replies
    std::atomic<int> current_socket{-1};       // client of the frame being handled
    std::atomic<int> card_socket{-1};          // client whose card frame the cards answer
    TcpReplyQueue& reply_queue;                // filled by the FPGA manager's reply path

    // LinkEndpoint
    void sendEncoded(const uint8_t* data, unsigned length) override;
    void sendEncodedTo(LinkClient client, const uint8_t* data, unsigned length) override;
    bool sendQueuedReply() override;
    void clearQueuedReplies() override { reply_queue.clear(); }
    void addressCardReply(LinkClient client) override { card_socket = int(client); }
    uint64_t hostOf(LinkClient client) const override;
    bool running() const override { return thread_.running(); }

private:
    networkManage();
    void onData(int fd, const uint8_t* data, unsigned length);
    void onClose(int fd);
    bool bindPort();

    TcpServer server_;
    PortBinding binding_{alerts::kTcpPortNotBound, "TCP"};
    LinkCore core_{kPassbyTcp};
    std::map<int, std::unique_ptr<protocol_phy>> receivers_;
    LinkThread thread_;
};
