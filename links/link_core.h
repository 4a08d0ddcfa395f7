// What every control link does with a received frame body: mark the link busy, pass frames for
// the receiving cards to the FPGA manager and wait (bounded) for the cards' answer, or hand the
// frame to the command processor and send its reply back where the frame came from.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "links/protocol_phy.h"
#include "links/reply_queue.h"


// Ticks a link waits for the receiving cards before it gives the frame up (about 3 s).
constexpr unsigned kPassbyTimeoutTicks = 300;
// Frames for the cards must be shorter than this.
constexpr unsigned kPassbyMaxFrame = 1024;

// The side of a link that the frame handling talks back to.
class LinkEndpoint {
public:
    virtual ~LinkEndpoint() = default;
    // Sends encoded bytes to the peer the current frame came from.
    virtual void sendEncoded(const uint8_t* data, unsigned length) = 0;
    // Sends the first record of the link's pass-through reply queue and removes it; false when
    // the queue is empty.
    virtual bool sendQueuedReply() = 0;
    // Empties the link's pass-through reply queue.
    virtual void clearQueuedReplies() = 0;
    // False once the link is shutting down (ends a pass-through wait early).
    virtual bool running() const { return true; }
};

class LinkCore {
public:
    explicit LinkCore(uint8_t passbyPort);

    // Handles one received body (check byte included and good). Returns true when something was
    // sent back.
    bool handleBody(uint8_t* body, unsigned length, LinkEndpoint& endpoint);

    // Feeds received bytes through a link's frame receiver and handles every whole frame;
    // `beforeFrame` runs just before each one (the TCP link notes which client sent it).
    template <class BeforeFrame>
    void receive(protocol_phy& rx, const uint8_t* data, unsigned length, LinkEndpoint& endpoint,
                 BeforeFrame beforeFrame)
    {
        for (unsigned i = 0; i < length;) {
            protocol_phy::Event e;
            i += rx.receive(data + i, length - i, e);
            if (e != protocol_phy::kFrame)
                continue;
            beforeFrame();
            handleBody(rx.body(), rx.bodyLength(), endpoint);
        }
    }
    void receive(protocol_phy& rx, const uint8_t* data, unsigned length, LinkEndpoint& endpoint)
    {
        receive(rx, data, length, endpoint, [] {});
    }

    // A body whose first address is below 0xF000 and whose second address is 0xF010 goes to the
    // receiving cards.
    static bool isPassby(const uint8_t* body, unsigned length);

    uint8_t passbyPort() const { return passbyPort_; }

private:
    bool passThrough(uint8_t* body, unsigned length, LinkEndpoint& endpoint);

    uint8_t passbyPort_;
    std::vector<uint8_t> reply_;
    std::vector<uint8_t> encoded_;
};
