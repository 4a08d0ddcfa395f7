// The FPGA manager's side of the pass-through, as the links see it.
#pragma once

#include <cstdint>

namespace passby {

// Hands a frame body to the cards under the manager's pass-through mutex, clearing the
// reply-ready flag first. False when there is no FPGA manager to take it.
bool deliver(uint8_t* body, unsigned length);
// One poll for replies under the pass-through mutex; true (and the flag cleared) once a reply for
// a waiting link has been queued.
bool pollReply();
// The link that waits on `port` stops waiting: when the manager still names that link, its
// pass-through state is reset and `g_passby_trans_port` is 255 again; another link's wait is left.
void giveUp(uint8_t port);

}  // namespace passby
