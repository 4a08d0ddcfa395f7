// The thread that carries out the commands which take long (a flash erase, up to seconds) away
// from the links' threads, so every link goes on answering its other clients meanwhile. Jobs run
// one after another in the order they came; the link that handed a job over polls it and sends
// its reply to the client that asked once it is done.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class ApartWorker {
public:
    struct Job {
        std::vector<uint8_t> body;    // the request, check byte included
        std::vector<uint8_t> reply;   // the reply body, once done
        std::atomic<bool> done{false};
    };

    // Queues a command (started on the first use; stopped and joined when the process exits).
    // The job is never done once the process is ending.
    static std::shared_ptr<Job> submit(const uint8_t* body, unsigned length);
    // Jobs queued or running (for tests).
    static size_t pending();
};
