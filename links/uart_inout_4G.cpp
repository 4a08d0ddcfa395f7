#include "links/uart_inout_4G.h"

#include "core/utils.h"
#include "links/uart_inout.h"

Jy_uart_inout_4G* Jy_uart_inout_4G::p_uart_inout_4G = nullptr;

Jy_uart_inout_4G::Jy_uart_inout_4G() { writeLogMsg(LOG_BANNER, "====Jy_uart_inout_4G::Jy_uart_inout_4G()====="); }

Jy_uart_inout_4G* Jy_uart_inout_4G::pInstance()
{
    if (!p_uart_inout_4G) {
        p_uart_inout_4G = new Jy_uart_inout_4G();
        p_uart_inout_4G->port_.setStopFd(p_uart_inout_4G->thread_.stopFd());
        p_uart_inout_4G->thread_.start([] { p_uart_inout_4G->stepOnce(LinkThread::kStepWaitMs); });
    }
    return p_uart_inout_4G;
}

void Jy_uart_inout_4G::stepOnce(int timeoutMs)
{
    // While the peer's long command waits for a place, its bytes stay in the port.
    const int wait = core_.stepWait(timeoutMs);
    unsigned n = 0;
    if (core_.holding(0))
        waitReadable(-1, thread_.stopFd(), wait);
    else
        n = port_.readSome(buf_.data(), unsigned(buf_.size()), wait);
    core_.receive(codec, buf_.data(), n, *this);
    core_.service(*this);
    core_.resumeHeld([this](LinkClient, const std::vector<uint8_t>& rest) {
        core_.receive(codec, rest.data(), unsigned(rest.size()), *this);
    });
}

void Jy_uart_inout_4G::sendEncoded(const uint8_t* data, unsigned length) { port_.sendAll(data, length); }

bool Jy_uart_inout_4G::sendQueuedReply()
{
    Jy_uart_inout* main = Jy_uart_inout::p_uart_inout;
    return main && main->sendQueuedReplyOn(port_);
}

void Jy_uart_inout_4G::clearQueuedReplies()
{
    uartReplyQueue().clear();
}
