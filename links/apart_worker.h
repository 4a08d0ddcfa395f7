// The thread that carries out the commands which take long (a flash erase, up to seconds; a font
// reload) away from the links' threads, so every link goes on answering its other clients
// meanwhile. Jobs run one after another, one of each waiting host in turn (each host's in the
// order they came), so a host's first command waits about one job per other busy host, not for
// their whole shares; the link that handed a job over polls it and sends its reply to the client
// that asked once it is done.
//
// A job counts against the client that asked, from the hand-over until it leaves the worker
// (done, or dropped before it started because its client went away): each client has a share
// of its own, each host (all its connections and source ports, over TCP and UDP) a share of the
// same size, and all clients together a bound, so one client or host neither refuses another's
// commands nor makes the queue grow without end. A job past a share is not taken: a link that
// can hold its client back (a connection, a serial line) keeps it and its later frames until a
// place frees; one that cannot (UDP) answers it refused, in the client's order.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class ApartWorker {
public:
    // Jobs of one client queued or running, at most; a further one is refused.
    static constexpr size_t kClientShare = 16;
    // Jobs of one host queued or running, at most.
    static constexpr size_t kHostShare = 16;
    // Jobs of all clients queued or running, at most.
    static constexpr size_t kMaxJobs = 256;

    // The host of a client of a network link (its IPv4 address as on the wire), the same over TCP
    // and UDP; 0 stands for no host
    // (a serial line's one peer counts as its client only).
    static uint64_t networkHost(uint32_t address) { return uint64_t(1) << 32 | address; }

    struct Job {
        std::vector<uint8_t> body;    // the request, check byte included
        std::vector<uint8_t> reply;   // the reply body, once done
        // A command record the link copied when it took the command that starts it, the reply
        // made then in `reply`: the job only runs the record (a refusal replaces the reply).
        std::vector<uint8_t> record;
        std::atomic<bool> started{false};   // taken by the worker: it is answered, never dropped
        std::atomic<bool> done{false};
        const void* link = nullptr;   // with `client` and `host`: whom the job counts against
        uint64_t client = 0;
        uint64_t host = 0;
    };

    // Queues a command of `client` (of `host`) of the link `link` (the thread is started on the
    // first use). Null when that client's or that host's share or the queue is full. While the
    // worker is being stopped the job comes back done, refused.
    // With `record`, the job runs that command record and answers `reply`, or status 1 when the
    // record's work was refused.
    static std::shared_ptr<Job> submit(const void* link, uint64_t client, uint64_t host, const uint8_t* body,
                                       unsigned length, std::vector<uint8_t> record = {},
                                       std::vector<uint8_t> reply = {});
    // A job that is not carried out: done, answered refused (status 1).
    static std::shared_ptr<Job> refused(const uint8_t* body, unsigned length);
    // Drops a job that has not started (its client went away): true. A running one goes on and
    // counts until it ends (false).
    static bool withdraw(const std::shared_ptr<Job>& job);
    // The box's stop: the queued jobs are refused and the running one ends (an erase between two
    // units); then, for a short while at most, the links are given the time to send the replies.
    // A later job starts the thread again.
    static void stop();
    // Jobs queued or running (for tests).
    static size_t pending();
};
