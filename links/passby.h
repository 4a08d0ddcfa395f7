// The FPGA manager's side of the pass-through, as the links see it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace passby {

// Ticks a card frame waits for the cards' answer, or for its turn, before it is given up (about 3 s).
constexpr unsigned kPassbyTimeoutTicks = 300;

// One pass-through transaction at a time across all links: from the hand-over of a frame until
// its reply is sent or given up, no other link hands a frame to the cards, so the reply path
// always queues the answer for the link (and the client) that asked. The frames waiting for the
// cards stand in one line across all links, in the order they arrived: a link whose frame was
// answered does not go again before an older frame of another link. Taken and released on the
// link's own thread, never waited for.
class Turn {
public:
    Turn() = default;
    ~Turn() { release(); }
    // A frame that arrived at tick `arrived` joins the line; its ticket.
    static uint64_t join(uint32_t arrived);
    // The frame of `ticket` leaves the line without its turn (dropped, or its link stops).
    static void leave(uint64_t ticket);
    // Frames of all links in the line.
    static size_t waiting();
    // True when this link takes the turn for the frame of `ticket`: nobody holds it and no older
    // frame waits. The frame then leaves the line. Frames that waited longer than
    // kPassbyTimeoutTicks are out of the line for good (their link drops them), so a link whose
    // thread is held up elsewhere does not hold the others' frames back.
    bool tryTake(uint64_t ticket);
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
// One poll for replies under the pass-through mutex: kQueued (and the flag cleared) once a reply
// for a waiting link has been queued; kCutOff when the frame was lost to a reset of an FPGA it
// went to, so no answer can come.
enum class Poll { kNothing, kQueued, kCutOff };
Poll pollReply();
// The link that waits on `port` stops waiting: when the manager still names that link, its
// pass-through state is reset and `g_passby_trans_port` is 255 again; another link's wait is left.
void giveUp(uint8_t port);

}  // namespace passby
