// The decoded view of the simulated chip's output channels, from registers set on the chip side.
#include <gtest/gtest.h>

#include "sim/video_chip.h"
#include "sim/video_chip_crop.h"
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
    EXPECT_TRUE(has(view, "och 7: off"));
    EXPECT_TRUE(has(view, "och 0: off #000000"));

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
    EXPECT_TRUE(has(view, "och 1: solid #FF0000 control 0x0003")) << view;
    EXPECT_TRUE(has(view, "och 2: generator mode 9 params 0/0/0 control 0x8095 sizes 0/0/3840 level #000000 ctl 0/0/0"))
        << view;
    EXPECT_TRUE(has(view, "och 3: on #00FF00 blanked")) << view;
    EXPECT_TRUE(has(view, "och 0: brightness -512 contrast 1023 saturation 0 (off) matrix 8192/0/0 sharpness gain 6 "
                          "strength 12/12"))
        << view;
    EXPECT_TRUE(has(view, "och 1: brightness 0 contrast 0 (off) saturation 0 (off) matrix 0/0/0 (off) sharpness gain 0 "
                          "strength 0/0"))
        << view;
}

TEST(VideoChipPicture, DecodesTheRectangleAWindowReadsFromItsInput)
{
    zeltest::TempRoot root;
    sim::VideoChipModel& chip = sim::attachVideoChip();
    auto set = [&](uint8_t bank, uint8_t addr, uint32_t v, int n) {
        for (int k = 0; k < n; ++k)
            chip.setReg(bank, static_cast<uint8_t>(addr + k), static_cast<uint8_t>(v >> (8 * k)));
    };
    // Input channel 2 stores a 1920x1080 picture at 0x100000, 4 bytes a pixel, 16 KiB a line.
    set(0x30, 0x19, 1920, 2);
    set(0x30, 0x1D, 1080, 2);
    set(0x36, 0x1C, 0x100000, 4);
    set(0x36, 0x31, 16, 1);
    // Two output channels side by side, 960 wide each, reading from line 50, pixel 100.
    const uint32_t start = 0x100000 + 50 * 16 * 1024 + 100 * 4;
    set(0x08, 0x08, 0x0201, 2);
    set(0x18, 0x08, 0x1011, 2);
    for (uint8_t b : {0x08, 0x18}) {
        set(b, 0x42, 960, 2);
        set(b, 0x46, 1081, 2);
    }
    set(0x16, 0x08, start, 4);
    set(0x26, 0x08, start + 960 * 4, 4);
    EXPECT_TRUE(has(sim::describeCrops(chip), "och 0: input 100,50 1920x1080 of 1920x1080 from ich 2"))
        << sim::describeCrops(chip);

    // Zoomed 2:1 across (16.16 ratio of 959 over 1919): half as many input pixels.
    set(0x0A, 0x49, 959 * 65536 / 1919 + 1, 2);
    // Stored at 2 bytes a pixel.
    chip.setReg(0x00, 0x73, 17);
    set(0x16, 0x08, 0x100000 + 50 * 16 * 1024 + 100 * 2, 4);
    set(0x26, 0x08, 0x100000 + 50 * 16 * 1024 + 580 * 2, 4);
    EXPECT_TRUE(has(sim::describeCrops(chip), "och 0: input 100,50 960x1080 of 1920x1080 from ich 2"))
        << sim::describeCrops(chip);
}
