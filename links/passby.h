// The FPGA manager's side of the pass-through, as the links see it.
#pragma once

#include <cstdint>

namespace passby {

// One pass-through transaction at a time across all links: from the hand-over of a frame until
// its reply is sent or given up, no other link hands a frame to the cards, so the reply path
// always queues the answer for the link (and the client) that asked. Taken and released on the
// link's own thread, never waited for.
class Turn {
public:
    Turn() = default;
    ~Turn() { release(); }
    // True when this link holds the turn (now or already).
    bool tryTake();
    void release();

    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

private:
    bool held_ = false;
};

// Hands a frame body to the cards under the manager's pass-through mutex, clearing the
// reply-ready flag first. True when an answer can come and is to be waited for; false when there
// is no FPGA manager, or no port the frame went to has cards by the card count (the hand-over is
// then over and `g_passby_trans_port` is 255 again).
bool deliver(uint8_t* body, unsigned length);
// One poll for replies under the pass-through mutex; true (and the flag cleared) once a reply for
// a waiting link has been queued.
bool pollReply();
// The link that waits on `port` stops waiting: when the manager still names that link, its
// pass-through state is reset and `g_passby_trans_port` is 255 again; another link's wait is left.
void giveUp(uint8_t port);

}  // namespace passby
