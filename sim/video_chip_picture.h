// What the simulated video chip's output channels show besides the windows, decoded from its
// registers: each channel's pattern generator, its background and blanking, and its picture
// values (brightness, contrast, saturation, colour matrix, sharpness). Lines of text for the
// decoded view written next to the register snapshot.
#pragma once

#include <string>

namespace sim {

class VideoChipStill;

// Three sections, "[pattern]", "[background]" and "[picture]", one line per output channel.
std::string describeOutputPicture(const VideoChipStill& chip);

}  // namespace sim
