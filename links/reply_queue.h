// Reply queues of the links for the receiving cards' answers to pass-through frames. The FPGA
// manager's reply path (on its own thread or on a link's thread) encodes a card reply with the
// link's frame codec into a new record, empties the queue and appends the record; the link's
// receive thread sends the first record and removes it. One lock covers both sides.
//
// Record layouts (the links' own formats):
//   main serial line: 65564 bytes: encoded frame from byte 0, u32 link word at 65556 (copied from
//                     the first word of the link object), u32 encoded length at 65560;
//   TCP:              131080 bytes: encoded frame from byte 0, u32 encoded length at 131072,
//                     u32 client socket at 131076;
//   UDP:              131092 bytes: encoded frame from byte 0, u32 encoded length at 131072,
//                     16-byte peer address at 131076-131091.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

struct UartReplyRecord {
    unsigned char frame[65556];
    uint32_t link_word;
    uint32_t length;
};

struct TcpReplyRecord {
    unsigned char frame[131072];
    uint32_t length;
    uint32_t socket;
};

struct UdpReplyRecord {
    unsigned char frame[131072];
    uint32_t length;
    unsigned char peer[16];
};

static_assert(sizeof(UartReplyRecord) == 65564, "serial reply record layout");
static_assert(offsetof(UartReplyRecord, link_word) == 65556, "serial reply record layout");
static_assert(offsetof(UartReplyRecord, length) == 65560, "serial reply record layout");
static_assert(sizeof(TcpReplyRecord) == 131080, "TCP reply record layout");
static_assert(offsetof(TcpReplyRecord, socket) == 131076, "TCP reply record layout");
static_assert(sizeof(UdpReplyRecord) == 131092, "UDP reply record layout");
static_assert(offsetof(UdpReplyRecord, peer) == 131076, "UDP reply record layout");

// Encodes a frame body of `length` bytes into `out` (sync bytes, stuffing, end byte) and returns
// the encoded length; the link hands its frame codec's `data_re_transf_meaning` here.
using ReplyEncoder = std::function<unsigned int(unsigned char* out, const unsigned char* in,
                                                unsigned int length)>;

// The addressing of a record (which client, which peer) is filled by a callback of the link,
// called under the queue's lock while the record is built.
template <typename Record>
class ReplyQueue {
public:
    using Addresser = std::function<void(Record&)>;

    // Set by the link when it starts; until then replies for it are dropped.
    void attach(ReplyEncoder encoder, Addresser addresser)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        encoder_ = std::move(encoder);
        addresser_ = std::move(addresser);
    }
    void detach()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        encoder_ = nullptr;
        addresser_ = nullptr;
    }

    // Encodes `body` into a new record, empties the queue and appends the record.
    // Returns false (queue unchanged) when no link is attached or the body does not fit.
    bool replaceWith(const unsigned char* body, unsigned int length)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!encoder_ || body == nullptr || length == 0 || length > kMaxBody)
            return false;
        auto record = std::make_unique<Record>();
        const unsigned int encoded = encoder_(record->frame, body, length);
        if (encoded == 0 || encoded > sizeof(record->frame))
            return false;
        record->length = encoded;
        if (addresser_)
            addresser_(*record);
        queue_.clear();
        queue_.push_back(std::move(record));
        return true;
    }

    // The first record, removed from the queue (null when empty).
    std::unique_ptr<Record> takeFirst()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.empty())
            return nullptr;
        std::unique_ptr<Record> r = std::move(queue_.front());
        queue_.pop_front();
        return r;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.clear();
    }

    size_t size() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return queue_.size();
    }

    // A body longer than this cannot be encoded into any record even when every byte is stuffed.
    static constexpr unsigned int kMaxBody = (sizeof(Record::frame) - 4) / 2;

private:
    mutable std::mutex mutex_;
    std::deque<std::unique_ptr<Record>> queue_;
    ReplyEncoder encoder_;
    Addresser addresser_;
};

using UartReplyQueue = ReplyQueue<UartReplyRecord>;
using TcpReplyQueue = ReplyQueue<TcpReplyRecord>;
using UdpReplyQueue = ReplyQueue<UdpReplyRecord>;

// Values of `g_passby_trans_port`: the link that waits for the cards' reply.
constexpr uint8_t kPassbyUart = 1;   // main serial line (and the 4G line)
constexpr uint8_t kPassbyTcp = 2;
constexpr uint8_t kPassbyUdp = 3;
constexpr uint8_t kPassbyNone = 255;

// The process-wide queues the reply path fills; the link objects own the sending side.
UartReplyQueue& uartReplyQueue();
TcpReplyQueue& tcpReplyQueue();
UdpReplyQueue& udpReplyQueue();

// Queues a card reply for the link named by `link` (1, 2 or 3). False when nothing was queued.
bool queueCardReply(uint8_t link, const unsigned char* body, unsigned int length);
