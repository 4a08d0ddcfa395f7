#include "links/networkmanage.h"

#include <arpa/inet.h>

#include <cstring>

#include "core/global.h"
#include "core/utils.h"
#include "links/link_env.h"

networkManage* networkManage::p_networkManage = nullptr;

networkManage::networkManage() : reply_queue(tcpReplyQueue())
{
    reply_queue.attach(
        [](unsigned char* out, const unsigned char* in, unsigned int n) {
            return protocol_phy::data_re_transf_meaning(out, in, n, nullptr);
        },
        [this](TcpReplyRecord& r) { r.socket = uint32_t(card_socket.load()); });
    writeLogMsg(LOG_BANNER, "====networkManage::networkManage()=====");
    bindPort();
}

bool networkManage::bindPort()
{
    const int port = linkenv::tcpPort();
    return binding_.attempt(port, [this, port] { return server_.listenOn(port); });
}

networkManage* networkManage::pInstance()
{
    if (!p_networkManage) {
        p_networkManage = new networkManage();
        p_networkManage->server_.setStopFd(p_networkManage->thread_.stopFd());
        p_networkManage->thread_.start([] { p_networkManage->stepOnce(LinkThread::kStepWaitMs); });
    }
    return p_networkManage;
}

void networkManage::stepOnce(int timeoutMs)
{
    // A port another program held at start is taken as soon as it is free; until then the step
    // only waits.
    if (!server_.listening())
        bindPort();
    server_.pollOnce(
        core_.stepWait(timeoutMs), [this](int fd, const uint8_t* d, unsigned n) { onData(fd, d, n); },
        [this](int fd) { onClose(fd); }, [this](int fd) { return core_.holding(LinkClient(fd)); });
    core_.service(*this);
    core_.resumeHeld([this](LinkClient fd, const std::vector<uint8_t>& rest) {
        onData(int(fd), rest.data(), unsigned(rest.size()));
    });
}

void networkManage::onData(int fd, const uint8_t* data, unsigned length)
{
    std::unique_ptr<protocol_phy>& rx = receivers_[fd];
    if (!rx)
        rx = std::make_unique<protocol_phy>();
    core_.receive(*rx, data, length, *this, LinkClient(fd), [this, fd] {
        current_socket = fd;
        server_.noteFrame(fd);
    });
}

void networkManage::onClose(int fd)
{
    core_.dropClient(LinkClient(fd), *this);
    receivers_.erase(fd);
}

uint64_t networkManage::hostOf(LinkClient client) const
{
    return ApartWorker::networkHost(htonl(server_.addressOf(int(client))));
}

void networkManage::sendEncoded(const uint8_t* data, unsigned length)
{
    server_.send(current_socket.load(), data, length);
}

void networkManage::sendEncodedTo(LinkClient client, const uint8_t* data, unsigned length)
{
    server_.send(int(client), data, length);
}

bool networkManage::sendQueuedReply()
{
    std::unique_ptr<TcpReplyRecord> r = reply_queue.takeFirst();
    if (!r)
        return false;
    server_.send(int(r->socket), r->frame, r->length);
    return true;
}
