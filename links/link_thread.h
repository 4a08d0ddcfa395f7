// The receive thread of a link: calls the link's step function until the process ends. The
// threads are stopped and joined at exit, before the globals they use go away.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

class LinkThread {
public:
    LinkThread() = default;
    ~LinkThread();
    // Starts the loop once; `step` must return within about 100 milliseconds, or end its wait
    // when `interrupt` is called.
    void start(std::function<void()> step, std::function<void()> interrupt = {});
    // Ends the loop after the current step (the thread is not waited for).
    void requestStop();
    void stop();
    bool running() const { return running_.load(); }

    LinkThread(const LinkThread&) = delete;
    LinkThread& operator=(const LinkThread&) = delete;

private:
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::function<void()> interrupt_;
};

// Stops every started link thread (registered with atexit by the first start).
void stopAllLinkThreads();
