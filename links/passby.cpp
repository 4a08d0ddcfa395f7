#include "links/passby.h"

#include "ledout/fpga_manage.h"

// The FPGA manager's pass-through entry points, for the links.
namespace passby {

bool deliver(uint8_t* body, unsigned length)
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (m == nullptr)
        return false;
    m->passby_deliver(length, body);
    return true;
}

bool pollReply()
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    return m != nullptr && m->passby_poll() == 1;
}

}  // namespace passby
