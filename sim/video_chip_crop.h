// Which rectangle of its input each window shows, decoded from the simulated chip's registers:
// the output channels read the stored input picture from a start address inside it, and the
// window's size on the panel with the scaling ratios gives the size of the rectangle read.
#pragma once

#include <string>
#include <vector>

namespace sim {

class VideoChipStill;

struct DecodedCrop {
    int och = 0;                  // the first output channel of the window's grid
    int ich = -1;
    int x = 0, y = 0;             // in the input's pixels and lines
    int width = 0, height = 0;
    int inputWidth = 0, inputHeight = 0;   // the whole picture the input channel stores
};

std::vector<DecodedCrop> decodeCrops(const VideoChipStill& chip);

// "[crops]": one line per window.
std::string describeCrops(const VideoChipStill& chip);

}  // namespace sim
