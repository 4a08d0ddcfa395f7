#include "links/uart_inout.h"

#include "core/utils.h"

Jy_uart_inout* Jy_uart_inout::p_uart_inout = nullptr;

Jy_uart_inout::Jy_uart_inout() : reply_queue(uartReplyQueue())
{
    writeLogMsg(LOG_BANNER, "====Jy_uart_inout::Jy_uart_inout()=====");
    reply_queue.attach(
        [](unsigned char* out, const unsigned char* in, unsigned int n) {
            return protocol_phy::data_re_transf_meaning(out, in, n, nullptr);
        },
        [this](UartReplyRecord& r) { r.link_word = uint32_t(port_.fd()); });
}

Jy_uart_inout* Jy_uart_inout::pInstance()
{
    if (!p_uart_inout) {
        p_uart_inout = new Jy_uart_inout();
        p_uart_inout->port_.setStopFd(p_uart_inout->thread_.stopFd());
        p_uart_inout->thread_.start([] { p_uart_inout->stepOnce(LinkThread::kStepWaitMs); });
    }
    return p_uart_inout;
}

void Jy_uart_inout::stepOnce(int timeoutMs) { core_.stepPeer(codec, port_, buf_, thread_.stopFd(), timeoutMs, *this); }

void Jy_uart_inout::sendEncoded(const uint8_t* data, unsigned length) { port_.sendAll(data, length); }

bool Jy_uart_inout::sendQueuedReplyOn(serial_modules& port)
{
    std::unique_ptr<UartReplyRecord> r = reply_queue.takeFirst();
    if (!r)
        return false;
    port.sendAll(r->frame, r->length);
    return true;
}
