// A video input of the simulated board as the input-source manager and the video chip both see it.
#pragma once

#include <cstdint>

#include "chips/tarvosource.h"

namespace zeltest {

// The timing record the input-source manager publishes for a CEA-like w x h signal at `refresh`
// Hz (1920 x 1080: totals 2200 x 1125, sync 44 + back porch 148, 5 + 36), horizontal sync
// positive.
TARVO_HDMI_INFO videoRecord(int w, int h, int refresh, int lanes = 0);

// Publishes `record` for input i (0-5) and feeds the same signal to the simulated chip.
void feedVideo(int input, const TARVO_HDMI_INFO& record, int refresh);
inline void feedVideo(int input, int w, int h, int refresh, int lanes = 0)
{
    feedVideo(input, videoRecord(w, h, refresh, lanes), refresh);
}

// Writes input i's row of the parameter image's input summary: width, height, rate and flag, as
// the input-source manager publishes them for the pages.
void setInputSummary(unsigned char* image, int input, uint16_t w, uint16_t h, uint8_t rate, uint8_t flag = 0);

}  // namespace zeltest
