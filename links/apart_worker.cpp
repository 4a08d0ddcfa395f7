#include "links/apart_worker.h"

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "links/message_deal.h"

namespace {

class Runner {
public:
    std::shared_ptr<ApartWorker::Job> submit(const uint8_t* body, unsigned length)
    {
        auto job = std::make_shared<ApartWorker::Job>();
        job->body.assign(body, body + length);
        std::lock_guard<std::mutex> lock(m_);
        if (stopping_)
            return job;
        if (!thread_.joinable())
            thread_ = std::thread([this] { run(); });
        jobs_.push_back(job);
        ++pending_;
        cv_.notify_one();
        return job;
    }
    size_t pending()
    {
        std::lock_guard<std::mutex> lock(m_);
        return pending_;
    }
    // Ends the thread after the job it runs (queued ones are dropped).
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_);
            stopping_ = true;
            jobs_.clear();
            cv_.notify_one();
        }
        if (thread_.joinable())
            thread_.join();
    }

private:
    void run()
    {
        std::vector<uint8_t> reply(message_deal::kMaxReplyBody);
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
            cv_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                return;
            std::shared_ptr<ApartWorker::Job> job = jobs_.front();
            jobs_.pop_front();
            lock.unlock();
            const unsigned n = message_deal::deal_apart(job->body.data(), unsigned(job->body.size()), reply.data(),
                                                        unsigned(reply.size()));
            job->reply.assign(reply.begin(), reply.begin() + n);
            job->done = true;
            lock.lock();
            --pending_;
        }
    }

    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::shared_ptr<ApartWorker::Job>> jobs_;
    size_t pending_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

// Outlives every link (never deleted): a link thread may still hand a job over while the process
// ends, after the runner has stopped.
Runner& runner()
{
    static Runner* r = [] {
        Runner* made = new Runner;
        std::atexit([] { runner().stop(); });
        return made;
    }();
    return *r;
}

}  // namespace

std::shared_ptr<ApartWorker::Job> ApartWorker::submit(const uint8_t* body, unsigned length)
{
    return runner().submit(body, length);
}

size_t ApartWorker::pending() { return runner().pending(); }
