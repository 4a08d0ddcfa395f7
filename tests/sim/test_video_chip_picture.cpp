// The decoded view of the simulated chip's output channels, from registers set on the chip side.
#include <gtest/gtest.h>

#include "sim/video_chip.h"
#include "sim/video_chip_picture.h"
#include "support/test_root.h"

namespace {

bool has(const std::string& text, const std::string& line) { return text.find(line + "\n") != std::string::npos; }

}  // namespace

TEST(VideoChipPicture, DecodesPatternBackgroundAndPictureValues)
{
    zeltest::TempRoot root;
    sim::VideoChipModel& chip = sim::attachVideoChip();
    std::string view = sim::describeOutputPicture(chip);
    EXPECT_TRUE(has(view, "[pattern]"));
    EXPECT_TRUE(has(view, "och7: off"));
    EXPECT_TRUE(has(view, "och0: off #000000"));

    // Channel 1: a solid red pattern; channel 2: a generated one.
    chip.setReg(0x18, 0x57, 4);
    chip.setReg(0x18, 0x63, 0xFF);
    chip.setReg(0x18, 0x5B, 3);
    chip.setReg(0x28, 0x57, 9);
    chip.setReg(0x28, 0x5B, 0x95);
    chip.setReg(0x28, 0x5C, 0x80);
    chip.setReg(0x28, 0x61, 0x00);
    chip.setReg(0x28, 0x62, 0x0F);
    // Channel 3: green background, blanked.
    chip.setReg(0x38, 0x48, 1);
    chip.setReg(0x38, 0x4A, 0xFF);
    chip.setReg(0x3E, 0x0D, 0x55);
    // Channel 0: brightness -512, contrast on at 1023, colour matrix switched on.
    chip.setReg(0x0C, 0x3A, 0x00);
    chip.setReg(0x0C, 0x3B, 0x0E);
    chip.setReg(0x0C, 0x21, 0x01);
    chip.setReg(0x0C, 0x28, 0xFF);
    chip.setReg(0x0C, 0x29, 0x03);
    chip.setReg(0x0C, 0x5B, 0x00);
    chip.setReg(0x0C, 0x5C, 0x20);
    chip.setReg(0x00, 0x59, 0x20);
    chip.setReg(0x0B, 0x08, 6);
    chip.setReg(0x0B, 0x09, 12);
    chip.setReg(0x0B, 0x12, 12);
    view = sim::describeOutputPicture(chip);
    EXPECT_TRUE(has(view, "och1: solid #FF0000 control 0x0003")) << view;
    EXPECT_TRUE(has(view, "och2: generator mode 9 params 0/0/0 control 0x8095 sizes 0/0/3840 level #000000 ctl 0/0/0"))
        << view;
    EXPECT_TRUE(has(view, "och3: on #00FF00 blanked")) << view;
    EXPECT_TRUE(has(view, "och0: brightness -512 contrast 1023 saturation 0 (off) matrix 8192/0/0 sharpness gain 6 "
                          "strength 12/12"))
        << view;
    EXPECT_TRUE(has(view, "och1: brightness 0 contrast 0 (off) saturation 0 (off) matrix 0/0/0 (off) sharpness gain 0 "
                          "strength 0/0"))
        << view;
}
