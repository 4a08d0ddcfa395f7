// The main serial link on "/dev/ttyS2" (RS-485, 115200 8N1).
#pragma once

#include <cstdint>
#include <vector>

#include "links/link_core.h"
#include "links/link_thread.h"
#include "links/protocol_phy.h"
#include "links/reply_queue.h"
#include "links/serial_modules.h"

class Jy_uart_inout : public LinkEndpoint {
public:
    static constexpr int kPortNumber = 2;

    static Jy_uart_inout* pInstance();
    static Jy_uart_inout* p_uart_inout;

    void stepOnce(int timeoutMs);
    bool portOpen() const { return port_.isOpen(); }

    // Sends the first queued pass-through reply on `port` (the 4G link takes the replies of
    // frames it passed on through here). False when the queue is empty.
    bool sendQueuedReplyOn(serial_modules& port);

    protocol_phy codec;
    UartReplyQueue& reply_queue;  // filled by the FPGA manager's reply path

    void sendEncoded(const uint8_t* data, unsigned length) override;
    bool sendQueuedReply() override { return sendQueuedReplyOn(port_); }
    void clearQueuedReplies() override { reply_queue.clear(); }
    bool running() const override { return thread_.running(); }

private:
    Jy_uart_inout();

    serial_modules port_{kPortNumber};
    LinkCore core_{kPassbyUart};
    std::vector<uint8_t> buf_ = std::vector<uint8_t>(4096);
    LinkThread thread_;
};
