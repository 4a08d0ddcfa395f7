#include "links/link_thread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {
std::mutex g_threadsMutex;
std::vector<LinkThread*>& threads()
{
    static std::vector<LinkThread*>* list = new std::vector<LinkThread*>;  // outlives every link
    return *list;
}
}  // namespace

LinkThread::LinkThread() : stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void LinkThread::start(std::function<void()> step, std::function<void()> interrupt)
{
    if (running_.exchange(true))
        return;
    interrupt_ = std::move(interrupt);
    {
        std::lock_guard<std::mutex> lock(g_threadsMutex);
        if (threads().empty())
            std::atexit(stopAllLinkThreads);
        threads().push_back(this);
    }
    thread_ = std::thread([this, step] {
        while (running_.load())
            step();
    });
}

LinkThread::~LinkThread()
{
    stop();
    {
        std::lock_guard<std::mutex> lock(g_threadsMutex);
        auto& list = threads();
        for (auto it = list.begin(); it != list.end(); ++it) {
            if (*it == this) {
                list.erase(it);
                break;
            }
        }
    }
    if (stopFd_ >= 0)
        ::close(stopFd_);
}

void LinkThread::requestStop()
{
    running_ = false;
    if (stopFd_ >= 0) {
        const uint64_t one = 1;
        (void)!::write(stopFd_, &one, sizeof one);   // stays readable: every later wait ends too
    }
    if (interrupt_)
        interrupt_();
}

void LinkThread::stop()
{
    requestStop();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void stopAllLinkThreads()
{
    std::vector<LinkThread*> list;
    {
        std::lock_guard<std::mutex> lock(g_threadsMutex);
        list.swap(threads());
    }
    // All are told first, so their waits end together instead of one after another.
    for (LinkThread* t : list)
        t->requestStop();
    for (LinkThread* t : list)
        t->stop();
}

bool waitReadable(int fd, int stopFd, int timeoutMs)
{
    pollfd fds[2];
    nfds_t n = 0;
    if (fd >= 0)
        fds[n++] = pollfd{fd, POLLIN, 0};
    if (stopFd >= 0)
        fds[n++] = pollfd{stopFd, POLLIN, 0};
    if (::poll(fds, n, timeoutMs) <= 0 || fd < 0)
        return false;
    return (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}
