#include "links/link_thread.h"

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
    std::lock_guard<std::mutex> lock(g_threadsMutex);
    auto& list = threads();
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (*it == this) {
            list.erase(it);
            break;
        }
    }
}

void LinkThread::requestStop()
{
    running_ = false;
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
