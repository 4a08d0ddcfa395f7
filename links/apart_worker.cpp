#include "links/apart_worker.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "core/worker_stop.h"
#include "links/message_deal.h"

namespace {

using JobPtr = std::shared_ptr<ApartWorker::Job>;

// How long a stop waits at most for the links to take the replies of the jobs it ended.
constexpr auto kRepliesTakenWithin = std::chrono::milliseconds(300);

void refuse(ApartWorker::Job& job, const uint8_t* body, unsigned length)
{
    std::vector<uint8_t> reply(message_deal::kMaxReplyBody);
    const unsigned n = message_deal::refuse(body, length, reply.data(), unsigned(reply.size()));
    job.reply.assign(reply.begin(), reply.begin() + n);
    job.done = true;
}

void refuse(ApartWorker::Job& job) { refuse(job, job.body.data(), unsigned(job.body.size())); }

class Runner {
public:
    JobPtr submit(const void* link, uint64_t client, uint64_t host, const uint8_t* body, unsigned length,
                  std::vector<uint8_t> record, std::vector<uint8_t> reply)
    {
        std::lock_guard<std::mutex> lock(m_);
        if (stopping_ || stopRequested())
            return ApartWorker::refused(body, length);
        // Checked before anything is copied: a held client's link asks again on every step.
        auto mine = counts_.find({link, client});
        auto ours = hostCounts_.find(host);
        if ((mine != counts_.end() && mine->second >= ApartWorker::kClientShare) ||
            (host != 0 && ours != hostCounts_.end() && ours->second >= ApartWorker::kHostShare) ||
            pending_ >= ApartWorker::kMaxJobs)
            return nullptr;
        auto job = std::make_shared<ApartWorker::Job>();
        job->body.assign(body, body + length);
        job->record = std::move(record);
        job->reply = std::move(reply);
        job->link = link;
        job->client = client;
        job->host = host;
        ++counts_[{link, client}];
        if (host != 0)
            ++hostCounts_[host];
        ++pending_;
        if (!thread_.joinable())
            thread_ = std::thread([this] { run(); });
        enqueue(job);
        cv_.notify_one();
        return job;
    }

    bool withdraw(const JobPtr& job)
    {
        std::lock_guard<std::mutex> lock(m_);
        auto queue = queues_.find(job->host);
        if (queue == queues_.end())
            return false;
        auto& mine = queue->second;
        for (auto it = mine.begin(); it != mine.end(); ++it) {
            if (*it == job) {
                mine.erase(it);
                if (mine.empty())
                    dropTurn(job->host);
                leave(*job);
                return true;
            }
        }
        return false;
    }

    size_t pending()
    {
        std::lock_guard<std::mutex> lock(m_);
        return pending_;
    }

    void stop()
    {
        std::vector<std::weak_ptr<ApartWorker::Job>> answered;
        std::thread ending;
        {
            std::lock_guard<std::mutex> lock(m_);
            stopping_ = true;
            for (auto& queue : queues_) {
                for (const JobPtr& job : queue.second) {
                    refuse(*job);
                    leave(*job);
                    answered.push_back(job);
                }
            }
            queues_.clear();
            turns_.clear();
            if (running_)
                answered.push_back(running_);
            cv_.notify_one();
            ending = std::move(thread_);
        }
        if (ending.joinable())
            ending.join();
        // A link lets go of a job once it sent the reply (or its client went away).
        const auto end = std::chrono::steady_clock::now() + kRepliesTakenWithin;
        auto taken = [&] {
            for (const auto& job : answered)
                if (!job.expired())
                    return false;
            return true;
        };
        while (!taken() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::lock_guard<std::mutex> lock(m_);
        stopping_ = false;
    }

private:
    // The job no longer counts against its client (called with m_ held).
    void leave(const ApartWorker::Job& job)
    {
        auto it = counts_.find({job.link, job.client});
        if (it != counts_.end() && --it->second == 0)
            counts_.erase(it);
        auto host = hostCounts_.find(job.host);
        if (host != hostCounts_.end() && --host->second == 0)
            hostCounts_.erase(host);
        --pending_;
    }

    // A job goes behind those of its host; a host that had none waiting takes its turn last.
    // (Called with m_ held.)
    void enqueue(const JobPtr& job)
    {
        auto& mine = queues_[job->host];
        if (mine.empty())
            turns_.push_back(job->host);
        mine.push_back(job);
    }

    // The first job of the host whose turn it is; the host, if it has more, waits for its next
    // turn behind every other waiting host. (Called with m_ held, some job waiting.)
    JobPtr next()
    {
        const uint64_t host = turns_.front();
        turns_.pop_front();
        auto queue = queues_.find(host);
        JobPtr job = queue->second.front();
        queue->second.pop_front();
        if (queue->second.empty())
            queues_.erase(queue);
        else
            turns_.push_back(host);
        return job;
    }

    // A host with nothing left waiting leaves the turn. (Called with m_ held.)
    void dropTurn(uint64_t host)
    {
        queues_.erase(host);
        turns_.erase(std::find(turns_.begin(), turns_.end(), host));
    }

    // The job's command, without m_ held: a record the link took is run and answered as the
    // link made the reply, or refused when its work was.
    static void carryOut(ApartWorker::Job& job, std::vector<uint8_t>& reply)
    {
        if (!job.record.empty()) {
            if (!message_deal::run_record(job.record.data())) {
                // Refused or cut short (a clock the calendar has not, a record the flash did not take).
                const unsigned n = message_deal::refuse(job.body.data(), unsigned(job.body.size()), reply.data(),
                                                        unsigned(reply.size()));
                job.reply.assign(reply.begin(), reply.begin() + n);
            }
            return;
        }
        const unsigned n =
            message_deal::deal_apart(job.body.data(), unsigned(job.body.size()), reply.data(), unsigned(reply.size()));
        job.reply.assign(reply.begin(), reply.begin() + n);
    }

    void run()
    {
        std::vector<uint8_t> reply(message_deal::kMaxReplyBody);
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
            cv_.wait(lock, [this] { return stopping_ || !turns_.empty(); });
            if (stopping_)
                return;
            running_ = next();
            running_->started = true;
            lock.unlock();
            carryOut(*running_, reply);
            lock.lock();
            running_->done = true;
            leave(*running_);
            running_.reset();
        }
    }

    std::mutex m_;
    std::condition_variable cv_;
    // The jobs waiting, each host's in the order they came (a serial line's client counts as
    // host 0), and the hosts in the order of their turns: one job of each waiting host in turn.
    std::map<uint64_t, std::deque<JobPtr>> queues_;
    std::deque<uint64_t> turns_;
    JobPtr running_;
    std::map<std::pair<const void*, uint64_t>, size_t> counts_;
    std::map<uint64_t, size_t> hostCounts_;   // hosts other than 0
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

std::shared_ptr<ApartWorker::Job> ApartWorker::submit(const void* link, uint64_t client, uint64_t host,
                                                      const uint8_t* body, unsigned length,
                                                      std::vector<uint8_t> record, std::vector<uint8_t> reply)
{
    return runner().submit(link, client, host, body, length, std::move(record), std::move(reply));
}

std::shared_ptr<ApartWorker::Job> ApartWorker::refused(const uint8_t* body, unsigned length)
{
    // Only its reply is kept: a UDP sender's refusals wait behind its earlier replies, and each
    // command may be a 64 KB write.
    auto job = std::make_shared<Job>();
    refuse(*job, body, length);
    return job;
}

bool ApartWorker::withdraw(const std::shared_ptr<Job>& job) { return runner().withdraw(job); }

void ApartWorker::stop() { runner().stop(); }

size_t ApartWorker::pending() { return runner().pending(); }
