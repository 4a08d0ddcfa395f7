// The engine's view of the parameter image, on a buffer of its own.
#include <gtest/gtest.h>

#include <vector>

#include "engine/c331_image.h"

using namespace ramaddr;

TEST(ImageViewTest, ColourTemperatureIsModeBlueGreenRedFromLowToHighByte)
{
    std::vector<uint8_t> image(ImageView::kSize, 0);
    ram_set_u16(image.data(), kColorTempMode, 0x0102);   // only the low byte of each word counts
    ram_set_u16(image.data(), kRedGain, 0x0311);
    ram_set_u16(image.data(), kGreenGain, 0x0422);
    ram_set_u16(image.data(), kBlueGain, 0x0533);
    EXPECT_EQ(static_cast<uint32_t>(ImageView(image.data()).colorTemp()), 0x11223302u);

    ram_set_u16(image.data(), kRedGain, 0xFF);   // red reaches the top byte whole
    ram_set_u16(image.data(), kBlueGain, 0x40);
    EXPECT_EQ(static_cast<uint32_t>(ImageView(image.data()).colorTemp()), 0xFF224002u);
}
