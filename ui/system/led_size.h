// The LED-size hand-over to the LED output, shared by the pages that change the screen layout.
#pragma once

namespace sys {

// Asks the LED output to blank its outputs and set them up for a new screen size or splice mode,
// only while both FPGAs have come up. False when it was not asked.
bool requestLedSizeHandover();

}  // namespace sys
