#include "sim/video_chip_view.h"

#include "sim/video_chip.h"
#include "sim/video_chip_crop.h"
#include "sim/video_chip_decode.h"
#include "sim/video_chip_memory.h"
#include "sim/video_chip_picture.h"

namespace sim {

namespace {

std::string describeOsd(const VideoChipStill& chip) { return "[osd]\n" + chip.osdView(); }

}  // namespace

const VideoChipSection kVideoChipSections[] = {
    {"windows", describeWindows},
    {"crops", describeCrops},
    {"memory", describeMemory},
    {"output picture", describeOutputPicture},
    {"osd", describeOsd},
};
const int kVideoChipSectionCount = sizeof(kVideoChipSections) / sizeof(kVideoChipSections[0]);

std::string describeVideoChip(const VideoChipStill& chip)
{
    std::string s;
    for (int i = 0; i < kVideoChipSectionCount; ++i)
        s += kVideoChipSections[i].describe(chip);
    return s;
}

}  // namespace sim
