// The receive thread of a link: calls the link's step function until the process ends. The
// threads are stopped and joined at exit, before the globals they use go away.
//
// A step waits for its link's data for up to kStepWaitMs. It waits on the thread's stop
// descriptor too (waitReadable), or is interrupted, so the long wait never holds up a stop, and
// an idle link wakes its thread once a second.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

class LinkThread {
public:
    // The longest wait of a step.
    static constexpr int kStepWaitMs = 1000;

    LinkThread();
    ~LinkThread();
    // Starts the loop once. `step` ends its wait when the stop descriptor is signalled or when
    // `interrupt` (called by a stop) tells it to.
    void start(std::function<void()> step, std::function<void()> interrupt = {});
    // Ends the loop after the current step (the thread is not waited for).
    void requestStop();
    void stop();
    bool running() const { return running_.load(); }
    // Readable once a stop was asked for (-1 when it could not be made: steps then wait out
    // their time).
    int stopFd() const { return stopFd_; }

    LinkThread(const LinkThread&) = delete;
    LinkThread& operator=(const LinkThread&) = delete;

private:
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::function<void()> interrupt_;
    int stopFd_ = -1;
};

// Waits up to `timeoutMs` until `fd` is readable or `stopFd` is signalled (a negative descriptor
// is left out). True when `fd` is readable.
bool waitReadable(int fd, int stopFd, int timeoutMs);

// Stops every started link thread (registered with atexit by the first start).
void stopAllLinkThreads();
