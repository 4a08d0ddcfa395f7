// The 4G modem's serial line on "/dev/ttyS1": the same frames as the main serial link. Frames
// for the receiving cards wait under the main serial link's number (1); their replies are taken
// from that link's queue and sent back on this line.
#pragma once

#include <cstdint>
#include <vector>

#include "links/link_core.h"
#include "links/link_thread.h"
#include "links/protocol_phy.h"
#include "links/serial_modules.h"

class Jy_uart_inout_4G : public LinkEndpoint {
public:
    static constexpr int kPortNumber = 1;

    static Jy_uart_inout_4G* pInstance();
    static Jy_uart_inout_4G* p_uart_inout_4G;

    void stepOnce(int timeoutMs);
    bool portOpen() const { return port_.isOpen(); }

    protocol_phy codec;

    void sendEncoded(const uint8_t* data, unsigned length) override;
    bool sendQueuedReply() override;
    void clearQueuedReplies() override;
    bool running() const override { return thread_.running(); }

private:
    Jy_uart_inout_4G();

    serial_modules port_{kPortNumber};
    LinkCore core_{kPassbyUart};
    std::vector<uint8_t> buf_ = std::vector<uint8_t>(4096);
    LinkThread thread_;
};
