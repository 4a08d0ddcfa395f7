#include "links/passby.h"

#include <iterator>
#include <map>
#include <mutex>

#include "core/global.h"
#include "core/utils.h"
#include "ledout/fpga_manage.h"
#include "links/reply_queue.h"

// The FPGA manager's pass-through entry points, for the links.
namespace passby {

namespace {

// The cards' turn and the line of frames waiting for it.
struct Line {
    std::mutex m;
    bool taken = false;
    uint64_t nextTicket = 0;
    std::map<uint64_t, uint32_t> frames;   // ticket -> tick of arrival, oldest first
};

Line& line()
{
    static Line l;
    return l;
}

void dropExpired(Line& l)
{
    for (auto it = l.frames.begin(); it != l.frames.end();)
        it = Utils::getTimeSpace(it->second) > kPassbyTimeoutTicks ? l.frames.erase(it) : std::next(it);
}

}  // namespace

uint64_t Turn::join(uint32_t arrived)
{
    Line& l = line();
    std::lock_guard<std::mutex> lock(l.m);
    const uint64_t ticket = l.nextTicket++;
    l.frames.emplace(ticket, arrived);
    return ticket;
}

void Turn::leave(uint64_t ticket)
{
    Line& l = line();
    std::lock_guard<std::mutex> lock(l.m);
    l.frames.erase(ticket);
}

size_t Turn::waiting()
{
    Line& l = line();
    std::lock_guard<std::mutex> lock(l.m);
    return l.frames.size();
}

bool Turn::tryTake(uint64_t ticket)
{
    Line& l = line();
    std::lock_guard<std::mutex> lock(l.m);
    dropExpired(l);
    if (l.taken || l.frames.empty() || l.frames.begin()->first != ticket)
        return false;
    l.frames.erase(l.frames.begin());
    l.taken = held_ = true;
    return true;
}

void Turn::release()
{
    if (!held_)
        return;
    Line& l = line();
    std::lock_guard<std::mutex> lock(l.m);
    l.taken = held_ = false;
}

bool deliver(uint8_t* body, unsigned length)
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (m == nullptr) {
        g_passby_trans_port = kPassbyNone;
        return false;
    }
    return m->passby_deliver(length, body) == 1;
}

Poll pollReply()
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (m == nullptr)
        return Poll::kNothing;
    switch (m->passby_poll()) {
    case 1:
        return Poll::kQueued;
    case fpga_manage::kPassbyCutOff:
        return Poll::kCutOff;
    default:
        return Poll::kNothing;
    }
}

void giveUp(uint8_t port)
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (m == nullptr) {
        g_passby_trans_port.compare_exchange_strong(port, kPassbyNone);
        return;
    }
    std::lock_guard<std::recursive_mutex> lock(m->passby_mutex);
    if (g_passby_trans_port.load() == port)
        m->passby_give_up();
}

}  // namespace passby
