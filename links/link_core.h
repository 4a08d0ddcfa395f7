// What every control link does with a received frame body: mark the link busy, pass frames for
// the receiving cards to the FPGA manager and send the cards' answer back once it comes, or hand
// the frame to the command processor and send its reply back where the frame came from.
//
// A frame for the cards never holds the link's thread: the link goes on serving every client
// while the answer is outstanding, and its thread calls `service` on each step to send the answer,
// give the frame up after kPassbyTimeoutTicks or hand the next waiting frame over when its turn
// comes: frames of all links take the cards in the order they arrived. Each client has
// at most one card frame outstanding; a further one is dropped together with the rest of the
// bytes it came with, so a burst of card frames costs one wait, not one each.
//
// A command that takes long (a flash erase, a font reload) does not hold the link's thread either:
// it is handed to the thread that runs such commands, and `service` sends its reply to the client
// that asked once it is done, while the link answers everything else meanwhile. A client, and a
// host, has ApartWorker::kClientShare such commands outstanding at most. A further one of a client
// the link can hold back (a connection, a serial line) is kept, and the link takes nothing more
// of that client (its bytes wait in the connection or the port) until the command finds a place:
// a stream of any length is taken whole and answered in order, while every other client is
// served. A UDP sender cannot be held: its further command is refused, and the refusal goes out in
// its order, behind the replies of its earlier long commands. Those of a client that went away
// and have not started are dropped, and so are those of a host that a link without connections
// (UDP) has not heard from for a while.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "links/apart_worker.h"
#include "links/link_thread.h"
#include "links/passby.h"
#include "links/protocol_phy.h"
#include "links/reply_queue.h"


using passby::kPassbyTimeoutTicks;
// Frames for the cards must be shorter than this.
constexpr unsigned kPassbyMaxFrame = 1024;

// A client of a link, for its card frames: the TCP connection's socket, the UDP sender's address
// and port; a serial line has one peer, 0.
using LinkClient = uint64_t;

// The side of a link that the frame handling talks back to.
class LinkEndpoint {
public:
    virtual ~LinkEndpoint() = default;
    // Sends encoded bytes to the peer the current frame came from.
    virtual void sendEncoded(const uint8_t* data, unsigned length) = 0;
    // Sends encoded bytes to `client` (a link with one peer sends to it).
    virtual void sendEncodedTo(LinkClient client, const uint8_t* data, unsigned length)
    {
        (void)client;
        sendEncoded(data, length);
    }
    // Sends the first record of the link's pass-through reply queue and removes it; false when
    // the queue is empty.
    virtual bool sendQueuedReply() = 0;
    // Empties the link's pass-through reply queue.
    virtual void clearQueuedReplies() = 0;
    // The cards' answer to the card frame handed over next is queued for `client`.
    virtual void addressCardReply(LinkClient client) { (void)client; }
    // False once the link is shutting down (ends a pass-through wait early).
    virtual bool running() const { return true; }
    // False when the rest of the bytes the current frame came with are to be dropped.
    virtual bool takesFrames() const { return true; }
    // True when the link can stop taking a client's frames (a connection, a serial line): a long
    // command past its share then waits with them; false where it is refused (UDP).
    virtual bool holdsClients() const { return true; }
    // The host `client` belongs to (ApartWorker::networkHost), 0 for none.
    virtual uint64_t hostOf(LinkClient client) const
    {
        (void)client;
        return 0;
    }
};

class LinkCore {
public:
    // What becomes of the rest of the bytes a frame came with: handled, dropped, or kept until
    // the client's long command that found no place has one.
    enum class Rest { kGoOn, kDrop, kHold };

    // Card frames of different clients waiting for the cards, at most.
    static constexpr size_t kMaxWaitingCardFrames = 64;
    // The longest wait of a link's thread for data while card frames are outstanding.
    static constexpr int kCardPollMs = 1;

    explicit LinkCore(uint8_t passbyPort);
    // Its waiting frames leave the line of the cards' turn.
    ~LinkCore();

    // Handles one received body (check byte included and good) of `client`. kDrop when it was a
    // card frame that could not be taken: the client already has one outstanding, or too many
    // clients' frames wait.
    Rest handleBody(uint8_t* body, unsigned length, LinkEndpoint& endpoint, LinkClient client = 0);

    // Feeds received bytes of `client` through a link's frame receiver and handles every whole
    // frame; `beforeFrame` runs just before each one (the TCP link notes which client sent it).
    template <class BeforeFrame>
    void receive(protocol_phy& rx, const uint8_t* data, unsigned length, LinkEndpoint& endpoint,
                 LinkClient client, BeforeFrame beforeFrame)
    {
        if (holding(client)) {
            keep(client, data, length);
            return;
        }
        for (unsigned i = 0; i < length;) {
            protocol_phy::Event e;
            i += rx.receive(data + i, length - i, e);
            if (e != protocol_phy::kFrame)
                continue;
            beforeFrame();
            const Rest rest = handleBody(rx.body(), rx.bodyLength(), endpoint, client);
            if (rest == Rest::kHold) {
                keep(client, data + i, length - i);
                return;
            }
            if (rest == Rest::kDrop || !endpoint.takesFrames()) {
                rx.resetReceiver();
                return;
            }
        }
    }
    void receive(protocol_phy& rx, const uint8_t* data, unsigned length, LinkEndpoint& endpoint,
                 LinkClient client = 0)
    {
        receive(rx, data, length, endpoint, client, [] {});
    }

    // One step of a link with a single peer (a serial line): the port is read only while the peer
    // is not held, so the bytes of a peer whose long command waits for a place stay in the port.
    template <class Port>
    void stepPeer(protocol_phy& rx, Port& port, std::vector<uint8_t>& buf, int stopFd, int timeoutMs,
                  LinkEndpoint& endpoint)
    {
        const int wait = stepWait(timeoutMs);
        unsigned n = 0;
        if (holding(0))
            waitReadable(-1, stopFd, wait);
        else
            n = port.readSome(buf.data(), unsigned(buf.size()), wait);
        receive(rx, buf.data(), n, endpoint);
        service(endpoint);
        resumeHeld([&](LinkClient, const std::vector<uint8_t>& rest) {
            receive(rx, rest.data(), unsigned(rest.size()), endpoint);
        });
    }

    // Moves the card frames on; the link's thread calls it on every step.
    void service(LinkEndpoint& endpoint);
    // True while `client` is held back: the link takes none of its bytes (they stay in the
    // connection or the port) until resumeHeld hands them on.
    bool holding(LinkClient client) const { return held_.count(client) != 0; }
    // Hands the bytes kept of each client whose held command has found its place to `feed`
    // (client, bytes), which the link passes to receive again; the link's thread calls it after
    // service.
    template <class Feed>
    void resumeHeld(Feed feed)
    {
        for (auto it = held_.begin(); it != held_.end();) {
            if (!it->second.body.empty()) {
                ++it;
                continue;
            }
            const LinkClient client = it->first;
            const std::vector<uint8_t> rest = std::move(it->second.rest);
            it = held_.erase(it);
            feed(client, rest);   // may hold the client again: before `it`, not visited again
        }
    }
    // True while a card frame or a command run apart is outstanding, or a client is held back.
    bool busy() const { return answering_ || !waiting_.empty() || !apart_.empty() || !held_.empty(); }
    // How long the link's thread may wait for data now, at most `longestMs`.
    int stepWait(int longestMs) const { return busy() && longestMs > kCardPollMs ? kCardPollMs : longestMs; }
    // A client that went away: its card frames are dropped, a wait for its answer ends, its
    // commands handed apart that have not started are dropped, and the reply of one running goes
    // nowhere.
    void dropClient(LinkClient client, LinkEndpoint& endpoint);
    // The commands handed apart that have not started, of each host this link has neither heard
    // from nor answered for `silenceTicks`, are dropped: a host of a link without connections is
    // gone once it is silent. One running goes on and is answered.
    void dropSilentHosts(unsigned silenceTicks);
    // Something came from `host` (its silence starts again).
    void heardFrom(uint64_t host);

    // A body whose first address is below 0xF000 and whose second address is 0xF010 goes to the
    // receiving cards.
    static bool isPassby(const uint8_t* body, unsigned length);

    uint8_t passbyPort() const { return passbyPort_; }

private:
    struct CardFrame {
        LinkClient client;
        std::vector<uint8_t> body;
        unsigned arrived;   // tick
        uint64_t ticket;    // place in the line for the cards' turn
    };

    struct ApartCommand {
        LinkClient client;
        uint64_t host;
        std::shared_ptr<ApartWorker::Job> job;
    };

    // A client held back: its long command that found no place yet (empty `body` once it has
    // one), and the bytes it sent behind it, not handled yet. `since` orders the held commands:
    // a place that frees goes to the one held longest.
    struct Held {
        std::vector<uint8_t> body, record, reply;   // as for runApart
        std::vector<uint8_t> rest;
        uint64_t since = 0;
    };

    Rest takeCardFrame(uint8_t* body, unsigned length, LinkEndpoint& endpoint, LinkClient client);
    // Hands a command to the thread that runs them apart (with `record`, the command record the
    // link took, to be run and answered with `reply`). kHold when it found no place and the
    // client is held back with it.
    Rest runApart(const uint8_t* body, unsigned length, LinkEndpoint& endpoint, LinkClient client,
                  std::vector<uint8_t> record = {}, std::vector<uint8_t> reply = {});
    // Hands the held commands over that find a place now.
    void retryHeld(LinkEndpoint& endpoint);
    // Refusals of `client` waiting behind its earlier long commands.
    size_t refusalsWaiting(LinkClient client) const;
    // Keeps bytes of a held client, behind those kept before.
    void keep(LinkClient client, const uint8_t* data, unsigned length);
    // A write that starts the command record: the register written and the record copied now,
    // in order with the client's other commands; the record runs apart.
    Rest startRecord(const uint8_t* body, unsigned length, LinkEndpoint& endpoint, LinkClient client);
    void sendReply(unsigned length, LinkEndpoint& endpoint);
    // Sends the replies of the commands run apart that are done, each client's in the order its
    // commands came.
    void answerApart(LinkEndpoint& endpoint);
    // Sends the reply of one done command that has left apart_.
    void answer(const ApartCommand& c, LinkEndpoint& endpoint);
    bool holds(LinkClient client) const;
    // Drops the waiting frames `drop` picks, and their places in the line.
    template <class Pick>
    void dropWaiting(Pick drop);
    void handOver(LinkEndpoint& endpoint);
    void pollAnswer(LinkEndpoint& endpoint);
    void finish();

    uint8_t passbyPort_;
    std::vector<uint8_t> reply_;
    std::vector<uint8_t> encoded_;
    std::deque<CardFrame> waiting_;   // for the cards' turn, in arrival order
    std::deque<ApartCommand> apart_;  // run apart, in arrival order
    std::map<uint64_t, unsigned> heard_;   // hosts of apart_: tick of their last frame or answer
    std::map<LinkClient, Held> held_;
    uint64_t holds_ = 0;              // clients held so far: the next one's `since`
    void hear(uint64_t host);
    passby::Turn turn_;
    bool answering_ = false;          // a frame handed over waits for its answer
    LinkClient answerClient_ = 0;
    std::vector<uint8_t> handed_;     // the frame handed over, as it came
    unsigned handedAt_ = 0;           // tick
};
