#include "links/passby.h"

#include <mutex>

#include "core/global.h"
#include "ledout/fpga_manage.h"
#include "links/reply_queue.h"

// The FPGA manager's pass-through entry points, for the links.
namespace passby {

namespace {
std::mutex g_turn;
}  // namespace

bool Turn::tryTake()
{
    if (!held_)
        held_ = g_turn.try_lock();
    return held_;
}

void Turn::release()
{
    if (held_)
        g_turn.unlock();
    held_ = false;
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

bool pollReply()
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    return m != nullptr && m->passby_poll() == 1;
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
