// A PC-side client of the control protocol for the tests: builds frame bodies, encodes and
// decodes frames on its own (not with the system's codec), and talks to the running links over
// TCP, UDP or a pseudo-terminal linked where the serial link looks for its port.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace linktest {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kDevice = 0xF000;   // any address at or above 0xF000 reaches the controller
constexpr uint16_t kPc = 0xF010;

// Header bytes 4-8 are 0x10, tag, handling, port, 0; the check byte is appended.
Bytes body(uint8_t group, const Bytes& payload, uint16_t first = kDevice, uint16_t second = kPc,
           uint8_t tag = 0x67, uint8_t handling = 0, uint8_t port = 0);
Bytes withCheck(Bytes b);
Bytes encode(const Bytes& body);
// Every complete frame found in `wire` (bodies, check bytes kept), from its last 0xA5 run.
std::vector<Bytes> decodeAll(const Bytes& wire);
bool checkOk(const Bytes& body);
// Runs one body through the command processor and returns the reply body (its check byte is
// checked as a test expectation).
Bytes deal(uint8_t group, const Bytes& payload);
// Polls `done` until it holds; false when it still does not after `timeoutMs`.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 3000);

// Payload helpers for the documented layouts.
Bytes ramWrite(uint32_t address, const Bytes& data);
Bytes ramRead(uint32_t address, uint16_t length);
Bytes regWrite(uint8_t reg, uint8_t mask, uint8_t value, uint8_t target = 0);
Bytes regRead(uint8_t reg, uint8_t count, uint8_t target = 0);

// A whole reply body: header, status byte and a good check byte. Tests check this before they
// read any byte of a reply, so a missing reply fails instead of reading an empty buffer.
bool isReply(const Bytes& reply);
// Status byte and data of a reply body.
uint8_t status(const Bytes& reply);
Bytes replyData(const Bytes& reply);

class Client {
public:
    virtual ~Client() = default;
    virtual void sendRaw(const Bytes& wire) = 0;
    // Waits up to `timeoutMs` for one frame; empty when none arrived.
    Bytes receiveFrame(int timeoutMs = 3000);
    Bytes call(const Bytes& body, int timeoutMs = 3000)
    {
        sendRaw(encode(body));
        return receiveFrame(timeoutMs);
    }

protected:
    // Reads what is there within `timeoutMs` (appends to `out`); false on timeout or close.
    virtual bool readSome(Bytes& out, int timeoutMs) = 0;
    Bytes pending_;
};

class TcpClient : public Client {
public:
    // `receiveBuffer` (bytes, 0 for the system's default) is set before connecting: a small one
    // makes a client that does not read fill up quickly. `from` (host order, 0 for any) is the
    // loopback address the client connects from.
    explicit TcpClient(int port, int receiveBuffer = 0, uint32_t from = 0);
    ~TcpClient() override;
    void sendRaw(const Bytes& wire) override;
    bool connected() const { return fd_ >= 0; }
    // Reads and discards until the box closes the connection; false when it is still open after
    // `timeoutMs`.
    bool closedByPeer(int timeoutMs);

protected:
    bool readSome(Bytes& out, int timeoutMs) override;

private:
    int fd_ = -1;
};

class UdpClient : public Client {
public:
    // `from` (host order, 0 for 127.0.0.1): the loopback address the client sends from. It hears
    // on 127.0.0.1 and the same port, where the box sends its replies.
    explicit UdpClient(int port, uint32_t from = 0);
    ~UdpClient() override;
    void sendRaw(const Bytes& wire) override;
    int localPort() const { return localPort_; }

protected:
    bool readSome(Bytes& out, int timeoutMs) override;

private:
    int fd_ = -1;
    int sendFd_ = -1;   // bound to `from` and the same port, when it is not 127.0.0.1
    int localPort_ = 0;
    sockaddr_in to_{};
};

// A pseudo-terminal whose slave is linked at `systemPath` under the current root.
class PtyClient : public Client {
public:
    explicit PtyClient(const std::string& systemPath);
    ~PtyClient() override;
    void sendRaw(const Bytes& wire) override;

protected:
    bool readSome(Bytes& out, int timeoutMs) override;

private:
    int master_ = -1;
};

}  // namespace linktest
