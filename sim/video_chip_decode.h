// What the simulated video chip shows on each output channel, decoded from the registers it was
// programmed with (the device's view, independent of the engine): the piece of a window the
// channel places, the input channel and port it reads, the scaling on both sides, its place in
// its mixer and whether its picture is held or being faded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class VideoChipStill;

struct DecodedChannel {
    int och = 0;
    bool on = false;                 // the channel places a picture (width not 0)
    int x = 0, y = 0;                // inside the channel's cell, output pixels
    int width = 0, height = 0;
    int ich = -1;                    // input channel it reads, -1 none
    int port = -1;                   // chip port that input channel takes, -1 none
    int inX = 0, inY = 0, inWidth = 0, inHeight = 0;   // what the input channel cuts from the port
    uint32_t hshrink = 0, vshrink = 0;   // 16.16 of the input channel, 0 without shrink
    uint32_t hzoom = 0, vzoom = 0;       // 16.16 of the output channel, 0 without zoom
    int mixer = -1;                  // mixer group (0-7) holding the channel, -1 none
    int layer = -1;                  // position in that mixer, 0 at the bottom
    int alpha = -1;                  // blending weight 0-128 in a blending mixer, -1 none
    bool frozen = false;             // its input channel holds its last frame
    bool fading() const { return alpha > 0 && alpha < 128; }
};

std::vector<DecodedChannel> decodeOutputs(const VideoChipStill& chip);

// Channel n's copy of a per-channel register block lies 16 banks after channel 0's.
constexpr uint8_t channelBank(uint8_t base, int n) { return static_cast<uint8_t>(base + 16 * n); }

// An output channel's source word: the channel it names in bits 8-10 is the input channel it
// reads, or, with kSourceFollows set, the grid's first output channel it reads through.
uint32_t outputSource(const VideoChipStill& chip, int och);
constexpr uint32_t kSourceFollows = 0x1000;
constexpr int sourceChannel(uint32_t source) { return static_cast<int>((source >> 8) & 7); }

// "[windows]": one line per output channel that places a picture.
std::string describeWindows(const VideoChipStill& chip);

}  // namespace sim
