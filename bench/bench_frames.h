// A command body as PC software sends it over a link, framed and escaped.
#pragma once

#include <cstdint>
#include <vector>

#include "links/protocol_phy.h"

namespace bench {

using Bytes = std::vector<uint8_t>;

// Group `group` with `payload`, from the PC to the box, with its XOR and its frame.
inline Bytes commandFrame(uint8_t group, const Bytes& payload)
{
    Bytes b = {0x00, 0xF0, 0x10, 0xF0, 0x10, 0x67, 0, 0, 0, group};
    b.insert(b.end(), payload.begin(), payload.end());
    b.push_back(frame::xorOf(b.data(), unsigned(b.size())));
    return protocol_phy::encode(b.data(), unsigned(b.size()));
}

}  // namespace bench
