// One input's receiver as the input-source manager sees it: does the chip answer, is there a
// signal, and what is its timing. On the simulated board the receivers expose a small register
// map; the box's HDMI receiver drivers (IT6602, IT6805) would stand behind the same interface,
// but they are not part of this program, so on the board every input reports no signal.
#pragma once

#include <memory>

#include "chips/tarvosource.h"

class tarvo_receiver {
public:
    virtual ~tarvo_receiver() = default;
    // True when the receiver chip answers with its identification.
    virtual bool identify() = 0;
    // Fills the timing fields, type, ip and nosignal of `info` (stable untouched).
    // 0, or 255 when the chip could not be read.
    virtual int read_vid_info(TARVO_HDMI_INFO& info) = 0;
};

// The receiver of input `input` (0-5) on the running board. The caller has opened the input's
// switch channel before each call.
std::unique_ptr<tarvo_receiver> make_tarvo_receiver(int input);
