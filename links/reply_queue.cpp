#include "links/reply_queue.h"

UartReplyQueue& uartReplyQueue()
{
    static UartReplyQueue queue;
    return queue;
}

TcpReplyQueue& tcpReplyQueue()
{
    static TcpReplyQueue queue;
    return queue;
}

UdpReplyQueue& udpReplyQueue()
{
    static UdpReplyQueue queue;
    return queue;
}

bool queueCardReply(uint8_t link, const unsigned char* body, unsigned int length)
{
    switch (link) {
    case kPassbyUart:
        return uartReplyQueue().replaceWith(body, length);
    case kPassbyTcp:
        return tcpReplyQueue().replaceWith(body, length);
    case kPassbyUdp:
        return udpReplyQueue().replaceWith(body, length);
    default:
        return false;
    }
}
