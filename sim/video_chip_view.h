// The simulated video chip's decoded view, the text written next to its register snapshot: a
// list of sections, each decoded from the registers by its own function and starting with its
// own "[name]" line. A new part of the chip's picture adds its function to the list.
#pragma once

#include <string>

namespace sim {

class VideoChipStill;

struct VideoChipSection {
    const char* name;
    std::string (*describe)(const VideoChipStill& chip);
};

extern const VideoChipSection kVideoChipSections[];
extern const int kVideoChipSectionCount;

// All sections in list order.
std::string describeVideoChip(const VideoChipStill& chip);

}  // namespace sim
