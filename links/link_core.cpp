#include "links/link_core.h"

#include <algorithm>

#include "core/global.h"
#include "core/utils.h"
#include "links/message_deal.h"

namespace {
constexpr uint16_t kCardsAddressLimit = 0xF000;
constexpr uint16_t kPcAddress = 0xF010;
}  // namespace

LinkCore::LinkCore(uint8_t passbyPort)
    : passbyPort_(passbyPort), reply_(message_deal::kMaxReplyBody),
      encoded_(frame::encodedCapacity(message_deal::kMaxReplyBody))
{
}

LinkCore::~LinkCore()
{
    dropWaiting([](const CardFrame&) { return true; });
    for (const ApartCommand& c : apart_)
        ApartWorker::withdraw(c.job);
}

template <class Pick>
void LinkCore::dropWaiting(Pick drop)
{
    auto gone = std::stable_partition(waiting_.begin(), waiting_.end(), [&](const CardFrame& f) { return !drop(f); });
    for (auto it = gone; it != waiting_.end(); ++it)
        passby::Turn::leave(it->ticket);
    waiting_.erase(gone, waiting_.end());
}

bool LinkCore::isPassby(const uint8_t* body, unsigned length)
{
    return length >= frame::kMinBody && frame::u16(body + frame::kFirstAddr) < kCardsAddressLimit &&
           frame::u16(body + frame::kSecondAddr) == kPcAddress;
}

LinkCore::Rest LinkCore::handleBody(uint8_t* body, unsigned length, LinkEndpoint& endpoint, LinkClient client)
{
    if (length < frame::kMinBody)
        return Rest::kGoOn;
    pc_cmd_time = G_timeTicks.load();
    pc_cmd_valid = 1;

    heardFrom(endpoint.hostOf(client));
    if (isPassby(body, length))
        return takeCardFrame(body, length, endpoint, client);

    if (message_deal::starts_record(body, length))
        return startRecord(body, length, endpoint, client);
    unsigned n = message_deal::deal_on_link(body, length, reply_.data(), unsigned(reply_.size()));
    if (n == message_deal::kRunApart)
        return runApart(body, length, endpoint, client);
    sendReply(n, endpoint);
    return Rest::kGoOn;
}

void LinkCore::sendReply(unsigned length, LinkEndpoint& endpoint)
{
    if (length == 0)
        return;
    unsigned e = protocol_phy::data_re_transf_meaning(encoded_.data(), reply_.data(), length, nullptr);
    endpoint.sendEncoded(encoded_.data(), e);
}

LinkCore::Rest LinkCore::startRecord(const uint8_t* body, unsigned length, LinkEndpoint& endpoint, LinkClient client)
{
    std::vector<uint8_t> record;
    const unsigned n = message_deal::take_starting_record(body, length, reply_.data(), unsigned(reply_.size()), record);
    if (record.empty()) {
        sendReply(n, endpoint);
        return Rest::kGoOn;
    }
    return runApart(body, length, endpoint, client, std::move(record),
                    std::vector<uint8_t>(reply_.begin(), reply_.begin() + n));
}

LinkCore::Rest LinkCore::runApart(const uint8_t* body, unsigned length, LinkEndpoint& endpoint, LinkClient client,
                                  std::vector<uint8_t> record, std::vector<uint8_t> reply)
{
    const uint64_t host = endpoint.hostOf(client);
    std::shared_ptr<ApartWorker::Job> job = ApartWorker::submit(this, client, host, body, length, record, reply);
    if (!job && endpoint.holdsClients()) {
        // Taken, not refused: the client's later frames wait until it has a place.
        held_[client] = Held{std::vector<uint8_t>(body, body + length), std::move(record), std::move(reply), {}, ++holds_};
        return Rest::kHold;
    }
    if (!job) {
        // Answered behind the client's earlier long commands, as their replies are. Those can
        // take minutes, so a sender's waiting refusals are bounded by a share too; past it the
        // datagram goes unanswered, as a lost one would.
        if (refusalsWaiting(client) >= ApartWorker::kClientShare) {
            ZEL_DEBUG("\n link %d: too many refusals waiting, a long command dropped \n", passbyPort_);
            return Rest::kGoOn;
        }
        ZEL_DEBUG("\n link %d: too many long commands waiting, one refused \n", passbyPort_);
        job = ApartWorker::refused(body, length);
    }
    apart_.push_back(ApartCommand{client, host, std::move(job)});
    hear(host);
    return Rest::kGoOn;
}

size_t LinkCore::refusalsWaiting(LinkClient client) const
{
    // A refusal is the one job that belongs to no link: nothing runs it.
    return size_t(std::count_if(apart_.begin(), apart_.end(),
                                [&](const ApartCommand& c) { return c.client == client && !c.job->link; }));
}

void LinkCore::retryHeld(LinkEndpoint& endpoint)
{
    // The one held longest first: a client whose fd sorts first must not take every place that
    // frees while another of its host (or, at the limit of all, of another host) waits.
    std::vector<std::pair<LinkClient, Held*>> waiting;
    for (auto& [client, held] : held_)
        if (!held.body.empty())
            waiting.emplace_back(client, &held);
    std::sort(waiting.begin(), waiting.end(), [](const auto& a, const auto& b) { return a.second->since < b.second->since; });
    for (auto& [client, held] : waiting) {
        const uint64_t host = endpoint.hostOf(client);
        std::shared_ptr<ApartWorker::Job> job = ApartWorker::submit(
            this, client, host, held->body.data(), unsigned(held->body.size()), held->record, held->reply);
        if (!job)
            continue;
        apart_.push_back(ApartCommand{client, host, std::move(job)});
        hear(host);
        held->body.clear();
    }
}

void LinkCore::keep(LinkClient client, const uint8_t* data, unsigned length)
{
    std::vector<uint8_t>& rest = held_[client].rest;
    rest.insert(rest.end(), data, data + length);
}

void LinkCore::hear(uint64_t host) { heard_[host] = G_timeTicks.load(); }

void LinkCore::heardFrom(uint64_t host)
{
    auto h = heard_.find(host);
    if (h != heard_.end())
        h->second = G_timeTicks.load();
}

void LinkCore::dropSilentHosts(unsigned silenceTicks)
{
    for (auto h = heard_.begin(); h != heard_.end();) {
        const uint64_t host = h->first;
        auto ofHost = [host](const ApartCommand& c) { return c.host == host; };
        const bool waits = std::any_of(apart_.begin(), apart_.end(), ofHost);
        // A host waiting for its own job that is running is not silent: it waits for the reply.
        const bool running = std::any_of(apart_.begin(), apart_.end(), [&](const ApartCommand& c) {
            return ofHost(c) && c.job->started.load() && !c.job->done.load();
        });
        if (waits && (running || Utils::getTimeSpace(h->second) < silenceTicks)) {
            ++h;
            continue;
        }
        // Silent: what has not started is dropped; what is done is still answered.
        std::deque<ApartCommand> kept;
        for (ApartCommand& c : apart_) {
            if (!ofHost(c) || !ApartWorker::withdraw(c.job))
                kept.push_back(std::move(c));
        }
        if (kept.size() != apart_.size())
            ZEL_DEBUG("\n link %d: %d long commands of a silent host dropped \n", passbyPort_,
                      int(apart_.size() - kept.size()));
        apart_.swap(kept);
        h = std::any_of(apart_.begin(), apart_.end(), ofHost) ? std::next(h) : heard_.erase(h);
    }
}

void LinkCore::answerApart(LinkEndpoint& endpoint)
{
    // Each reply goes as soon as its job is done, unless an earlier command of the same client
    // is still outstanding: the clients (connections) sharing this link do not wait for each
    // other, and each hears its own replies in the order its commands came.
    std::vector<LinkClient> held;
    for (auto it = apart_.begin(); it != apart_.end();) {
        const bool waits = std::find(held.begin(), held.end(), it->client) != held.end();
        if (waits || !it->job->done.load()) {
            if (!waits)
                held.push_back(it->client);
            ++it;
            continue;
        }
        const ApartCommand c = std::move(*it);
        it = apart_.erase(it);
        answer(c, endpoint);
    }
}

void LinkCore::answer(const ApartCommand& c, LinkEndpoint& endpoint)
{
    const bool more = std::any_of(apart_.begin(), apart_.end(), [&](const ApartCommand& a) { return a.host == c.host; });
    if (more)
        hear(c.host);   // answered: its silence starts again
    else
        heard_.erase(c.host);
    const std::vector<uint8_t>& reply = c.job->reply;
    if (reply.empty())
        return;
    unsigned e = protocol_phy::data_re_transf_meaning(encoded_.data(), reply.data(), unsigned(reply.size()), nullptr);
    endpoint.sendEncodedTo(c.client, encoded_.data(), e);
}

LinkCore::Rest LinkCore::takeCardFrame(uint8_t* body, unsigned length, LinkEndpoint& endpoint, LinkClient client)
{
    // The cards' send RAMs hold less: such a frame is never sent, so nothing is waited for.
    if (length >= kPassbyMaxFrame)
        return Rest::kGoOn;
    if (holds(client) || waiting_.size() >= kMaxWaitingCardFrames) {
        ZEL_DEBUG("\n pass-through frame dropped with what came behind it, link %d \n", passbyPort_);
        return Rest::kDrop;
    }
    const unsigned now = G_timeTicks.load();
    waiting_.push_back(CardFrame{client, std::vector<uint8_t>(body, body + length), now, passby::Turn::join(now)});
    service(endpoint);   // handed over at once when the cards are free
    return Rest::kGoOn;
}

bool LinkCore::holds(LinkClient client) const
{
    return (answering_ && answerClient_ == client) ||
           std::any_of(waiting_.begin(), waiting_.end(), [client](const CardFrame& f) { return f.client == client; });
}

void LinkCore::service(LinkEndpoint& endpoint)
{
    retryHeld(endpoint);
    answerApart(endpoint);
    if (answering_)
        pollAnswer(endpoint);
    while (!answering_ && !waiting_.empty()) {
        const CardFrame& f = waiting_.front();
        if (!endpoint.running() || Utils::getTimeSpace(f.arrived) > kPassbyTimeoutTicks) {
            ZEL_DEBUG("\n pass-through frame dropped, the cards stayed busy, link %d \n", passbyPort_);
            passby::Turn::leave(f.ticket);
            waiting_.pop_front();
            continue;
        }
        if (!turn_.tryTake(f.ticket))
            return;   // another link's frame has the cards, or came first
        handOver(endpoint);
    }
}

void LinkCore::handOver(LinkEndpoint& endpoint)
{
    CardFrame f = std::move(waiting_.front());
    waiting_.pop_front();
    handed_ = f.body;   // as it came: the hand-over marks the port in it
    endpoint.clearQueuedReplies();
    endpoint.addressCardReply(f.client);
    g_passby_trans_port = passbyPort_;
    if (!passby::deliver(f.body.data(), unsigned(f.body.size()))) {
        turn_.release();   // no answer can come: nothing to wait for
        return;
    }
    answering_ = true;
    answerClient_ = f.client;
    handedAt_ = G_timeTicks.load();
}

void LinkCore::pollAnswer(LinkEndpoint& endpoint)
{
    const passby::Poll p = passby::pollReply();
    if (p == passby::Poll::kQueued) {
        endpoint.sendQueuedReply();
        finish();
        return;
    }
    if (p == passby::Poll::kCutOff) {
        // An FPGA reset (an LED-size change resets both) took the frame: the client hears at once
        // that it failed, and the cards are free for the next frame.
        passby::giveUp(passbyPort_);
        const unsigned n = message_deal::refuse(handed_.data(), unsigned(handed_.size()), reply_.data(),
                                                unsigned(reply_.size()));
        if (n != 0) {
            const unsigned e = protocol_phy::data_re_transf_meaning(encoded_.data(), reply_.data(), n, nullptr);
            endpoint.sendEncodedTo(answerClient_, encoded_.data(), e);
        }
        ZEL_DEBUG("\n pass-through frame lost to an FPGA reset, link %d \n", passbyPort_);
        finish();
        return;
    }
    if (endpoint.running() && Utils::getTimeSpace(handedAt_) <= kPassbyTimeoutTicks)
        return;
    // No answer: the link goes back to normal and nobody waits any more.
    passby::giveUp(passbyPort_);
    ZEL_DEBUG("\n pass-through frame got no reply, link %d \n", passbyPort_);
    finish();
}

void LinkCore::finish()
{
    answering_ = false;
    turn_.release();
}

void LinkCore::dropClient(LinkClient client, LinkEndpoint& endpoint)
{
    held_.erase(client);
    dropWaiting([client](const CardFrame& f) { return f.client == client; });
    // Its commands that have not started are not carried out; one running goes on, unanswered.
    auto itsOwn = [client](const ApartCommand& c) { return c.client == client; };
    auto gone = std::stable_partition(apart_.begin(), apart_.end(), [&](const ApartCommand& c) { return !itsOwn(c); });
    for (auto it = gone; it != apart_.end(); ++it)
        ApartWorker::withdraw(it->job);
    apart_.erase(gone, apart_.end());
    for (auto h = heard_.begin(); h != heard_.end();) {
        const uint64_t host = h->first;
        const bool more = std::any_of(apart_.begin(), apart_.end(), [host](const ApartCommand& c) { return c.host == host; });
        h = more ? std::next(h) : heard_.erase(h);
    }
    if (!answering_ || answerClient_ != client)
        return;
    // Its answer would go nowhere (or to a newcomer on the same socket): the cards are free again.
    passby::giveUp(passbyPort_);
    endpoint.clearQueuedReplies();
    finish();
}
