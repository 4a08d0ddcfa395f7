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

void Jy_uart_inout_4G::stepOnce(int timeoutMs) { core_.stepPeer(codec, port_, buf_, thread_.stopFd(), timeoutMs, *this); }

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
