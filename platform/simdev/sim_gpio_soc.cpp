#include "platform/gpio.h"
#include "platform/soc.h"

namespace platform {

namespace {

template <typename F>
std::shared_ptr<const std::map<int, F>> withEntry(const std::map<int, F>& table, int id, F f)
{
    auto copy = std::make_shared<std::map<int, F>>(table);
    (*copy)[id] = std::move(f);
    return copy;
}

template <typename F>
std::shared_ptr<const std::map<int, F>> withoutEntry(const std::map<int, F>& table, int id)
{
    auto copy = std::make_shared<std::map<int, F>>(table);
    copy->erase(id);
    return copy;
}

}  // namespace

int SimGpioWindow::map()
{
    std::lock_guard<std::mutex> lock(m_);
    if (mapFails_)
        return 255;
    mapped_ = true;
    return 0;
}

uint16_t SimGpioWindow::read(uint32_t offset)
{
    std::shared_ptr<const std::map<int, ReadHook>> hooks;
    {
        std::lock_guard<std::mutex> lock(m_);
        hooks = readHooks_;
    }
    for (auto& h : *hooks)
        h.second(offset);
    std::lock_guard<std::mutex> lock(m_);
    auto it = pads_.find(offset);
    return it == pads_.end() ? 0 : it->second;
}

void SimGpioWindow::write(uint32_t offset, uint16_t value)
{
    std::shared_ptr<const std::map<int, Listener>> listeners;
    {
        std::lock_guard<std::mutex> lock(m_);
        pads_[offset] = value;
        // Bounded: select lines toggle on every bus transfer for the life of a run.
        history_.push(Change{offset, value, Clock::now()});
        listeners = listeners_;
    }
    for (auto& l : *listeners)
        l.second(offset, value);
}

void SimGpioWindow::drive(uint32_t offset, uint16_t value)
{
    std::lock_guard<std::mutex> lock(m_);
    pads_[offset] = value;
}

int SimGpioWindow::addListener(Listener listener)
{
    std::lock_guard<std::mutex> lock(m_);
    int id = nextListener_++;
    listeners_ = withEntry(*listeners_, id, std::move(listener));
    return id;
}

void SimGpioWindow::removeListener(int id)
{
    std::lock_guard<std::mutex> lock(m_);
    listeners_ = withoutEntry(*listeners_, id);
}

int SimGpioWindow::addReadHook(ReadHook hook)
{
    std::lock_guard<std::mutex> lock(m_);
    int id = nextListener_++;
    readHooks_ = withEntry(*readHooks_, id, std::move(hook));
    return id;
}

void SimGpioWindow::removeReadHook(int id)
{
    std::lock_guard<std::mutex> lock(m_);
    readHooks_ = withoutEntry(*readHooks_, id);
}

std::vector<SimGpioWindow::Change> SimGpioWindow::history(uint32_t offset) const
{
    std::lock_guard<std::mutex> lock(m_);
    std::vector<Change> out;
    history_.forEach([&](const Change& c) {
        if (c.offset == offset)
            out.push_back(c);
    });
    return out;
}

void SimGpioWindow::clearHistory()
{
    std::lock_guard<std::mutex> lock(m_);
    history_.clear();
}

bool SimSocIdentity::read(uint16_t words[3])
{
    if (!available_)
        return false;
    for (int i = 0; i < 3; ++i)
        words[i] = w_[i];
    return true;
}

}  // namespace platform
