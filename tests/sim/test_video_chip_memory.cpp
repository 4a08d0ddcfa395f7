// The simulated chip's frame memory, decoded from registers set on the chip side.
#include <gtest/gtest.h>

#include <functional>

#include "sim/video_chip.h"
#include "sim/video_chip_memory.h"
#include "support/test_root.h"

namespace {

constexpr uint32_t kLine = 64 * 1024;
constexpr uint32_t kPlainBuffer = 0x08800000;   // frame buffer b of the plain memory starts at b times this
constexpr uint32_t kDbdFirst = 0x2A800000, kDbdBuffer = 0x0B280000;   // the dot-by-dot frame buffers

void set16(sim::VideoChipModel& chip, uint8_t bank, uint8_t addr, uint32_t v)
{
    chip.setReg(bank, addr, uint8_t(v));
    chip.setReg(bank, uint8_t(addr + 1), uint8_t(v >> 8));
}

void set32(sim::VideoChipModel& chip, uint8_t bank, uint8_t addr, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        chip.setReg(bank, uint8_t(addr + i), uint8_t(v >> (8 * i)));
}

// Input channel i writes w x h pixels in write-mode code `code` from `base` in each of the five
// frame buffers (`apart` bytes apart, plain ones unless told) with a pitch of `pitchKiB`.
void writer(sim::VideoChipModel& chip, int i, uint32_t base, int w, int h, uint8_t pitchKiB, uint8_t code = 0,
            uint32_t apart = kPlainBuffer)
{
    const uint8_t ib = uint8_t(0x10 + 16 * i), mb = uint8_t(0x16 + 16 * i);
    chip.setReg(ib, 0x09, 1);
    set16(chip, ib, 0x19, uint32_t(w));
    set16(chip, ib, 0x1D, uint32_t(h));
    for (int b = 0; b < 5; ++b)
        set32(chip, mb, uint8_t(0x1C + 4 * b), base + uint32_t(b) * apart);
    chip.setReg(mb, 0x31, pitchKiB);
    chip.setReg(0x00, uint8_t(0x71 + i), code);
}

// Output channel c places w x h read from `start` in each frame buffer with line step `step`
// (register value), naming input channel ich or following grid channel `follows`.
void reader(sim::VideoChipModel& chip, int c, int ich, uint32_t start, int w, int h, uint8_t step, int follows = -1)
{
    const uint8_t ob = uint8_t(0x08 + 16 * c), mb = uint8_t(0x16 + 16 * c);
    set16(chip, ob, 0x08, follows >= 0 ? 0x1000u | uint32_t(follows) << 8 | 17 : uint32_t(ich) << 8 | 1);
    set16(chip, ob, 0x42, uint32_t(w));
    set16(chip, ob, 0x46, uint32_t(h + 1));
    for (int b = 0; b < 5; ++b)
        set32(chip, mb, uint8_t(0x08 + 4 * b), start + uint32_t(b) * kPlainBuffer);
    chip.setReg(mb, 0x30, step);
}

bool has(const std::string& text, const std::string& line) { return text.find(line + "\n") != std::string::npos; }

}  // namespace

TEST(VideoChipMemory, WritersReadsAndOverlapsFromTheRegisters)
{
    zeltest::TempRoot root;
    sim::VideoChipModel& chip = sim::attachVideoChip();
    EXPECT_TRUE(has(sim::describeMemory(chip), "[memory]\noverlaps: none"));

    // Two 1080p writers in 8 KiB slots of a 64 KiB line; a frozen channel still holds its frame.
    writer(chip, 0, 0x0000, 1920, 1080, 64);
    writer(chip, 2, 0x4000, 1920, 1080, 64);
    chip.setReg(0x30, 0x09, 2);
    reader(chip, 0, 0, 0x0000, 1920, 1080, 64);
    reader(chip, 1, 2, 0x4000 + 960 * 4 + 540 * kLine, 960, 540, 64);   // the lower right quarter
    reader(chip, 2, 0, 0x1000, 3840, 1080, 64);   // over both slots and the gap between them
    std::string view = sim::describeMemory(chip);
    EXPECT_TRUE(has(view, "ich 0: writes 0x00000000-0x04371e00 pitch 64 KiB, 7680 bytes x 1080 lines, mode 0")) << view;
    EXPECT_TRUE(has(view, "ich 2: writes 0x00004000-0x04375e00 pitch 64 KiB, 7680 bytes x 1080 lines, mode 0")) << view;
    EXPECT_TRUE(has(view, "och 0 piece 0: reads ich 0, mode 0")) << view;
    EXPECT_TRUE(has(view, "och 1 piece 0: reads ich 2, mode 0")) << view;
    EXPECT_TRUE(has(view, "och 2 piece 0: reads ich 0 and ich 2 and unwritten memory, mode 0")) << view;
    EXPECT_TRUE(has(view, "overlaps: none")) << view;

    // A pitch of 16 KiB over 8 KiB slots: line n + 1 of channel 0 is line n of channel 2.
    chip.setReg(0x16, 0x31, 16);
    view = sim::describeMemory(chip);
    EXPECT_TRUE(has(view, "overlaps: ich 0/ich 2")) << view;
    chip.setReg(0x16, 0x31, 64);

    // Another channel's buffer 3 over channel 0's buffer 1 collides too.
    writer(chip, 5, kPlainBuffer - 3 * kPlainBuffer + 0x1000, 64, 4, 64);
    EXPECT_TRUE(has(sim::describeMemory(chip), "overlaps: ich 0/ich 5")) << sim::describeMemory(chip);
    chip.setReg(0x60, 0x09, 12);   // tied to channel 4: still a writer
    EXPECT_NE(sim::decodeMemory(chip).writer(5), nullptr);
    chip.setReg(0x60, 0x09, 0);   // writing fields: still a writer
    EXPECT_NE(sim::decodeMemory(chip).writer(5), nullptr);
    set16(chip, 0x60, 0x19, 0);   // channel 5's window switched off: no longer a writer
    EXPECT_EQ(sim::decodeMemory(chip).writer(5), nullptr);

    // Read in 8 bytes per 3 pixels what was written 4 bytes a pixel; memory nobody wrote.
    chip.setReg(0x00, 0x69, 0x01);
    reader(chip, 3, 0, 0x0F000000u, 100, 10, 64);   // past every picture: nothing written there
    const sim::MemoryMap m = sim::decodeMemory(chip);
    ASSERT_EQ(m.reads.size(), 4u);
    EXPECT_TRUE(m.reads[0].mismatch);
    EXPECT_EQ(m.reads[0].mode, 2);
    EXPECT_EQ(m.reads[3].ichs.size(), 0u);
    EXPECT_TRUE(m.reads[3].unwritten);
    view = sim::describeMemory(chip);
    EXPECT_TRUE(has(view, "och 0 piece 0: reads ich 0, mode mismatch")) << view;
    EXPECT_TRUE(has(view, "och 3 piece 0: reads unwritten memory")) << view;
}

TEST(VideoChipMemory, ShrinkZoomWeaveBackwardStepsAndGridPieces)
{
    zeltest::TempRoot root;
    sim::VideoChipModel& chip = sim::attachVideoChip();
    // 1920 x 1080 shrunk to 1280 x 720 in 16/5 bytes a pixel.
    writer(chip, 1, 0x2000, 1920, 1080, 64, 0x80);
    chip.setReg(0x21, 0x44, 199);
    set16(chip, 0x21, 0x47, 43680);
    chip.setReg(0x21, 0x49, 132);
    set16(chip, 0x21, 0x4C, 43671);
    // Two fields woven into one frame.
    writer(chip, 3, 0x6000, 1280, 360, 64, 0x01);
    chip.setReg(0x46, 0x5B, 1);
    sim::MemoryMap m = sim::decodeMemory(chip);
    ASSERT_NE(m.writer(1), nullptr);
    EXPECT_EQ(m.writer(1)->pixels, 1280);
    EXPECT_EQ(m.writer(1)->lines, 720);
    EXPECT_EQ(m.writer(1)->bytes, 1280u / 5 * 16);
    EXPECT_EQ(m.writer(1)->mode, 1);
    EXPECT_EQ(m.writer(3)->lines, 720);
    EXPECT_EQ(m.writer(3)->bytes, 1281u * 8 / 3);   // whole groups of three pixels

    // A grid of two channels zooming 960 stored pixels to 3840, reading backward from the last
    // line: both pieces stay inside channel 1's picture.
    chip.setReg(0x00, 0x69, 0x80);
    chip.setReg(0x00, 0x6A, 0x80);
    reader(chip, 0, 1, 0x2000 + 719 * kLine, 1920, 720, 256 - 64);
    reader(chip, 1, 0, 0x2000 + 480 / 5 * 16 + 719 * kLine, 1920, 720, 256 - 64, 0);
    set16(chip, 0x0A, 0x49, 16372);
    set16(chip, 0x1A, 0x49, 16372);
    m = sim::decodeMemory(chip);
    ASSERT_EQ(m.readsOf(0).size(), 2u);
    for (const sim::MemoryRead* r : m.readsOf(0)) {
        EXPECT_EQ(r->step, -int64_t(kLine));
        EXPECT_EQ(r->bytes, 480u / 5 * 16);
        EXPECT_TRUE(r->clean()) << r->och;
        EXPECT_EQ(r->ichs, std::vector<int>{1});
    }
    EXPECT_EQ(m.readsOf(0)[1]->piece, 1);
    // Started at the top line, a backward read runs into the memory above the picture.
    reader(chip, 0, 1, 0x2000, 1920, 720, 256 - 64);
    EXPECT_TRUE(sim::decodeMemory(chip).readsOf(0)[0]->unwritten);
}

TEST(VideoChipMemory, EachBufferRegionAndModeCodeJudgedOnItsOwn)
{
    zeltest::TempRoot root;
    sim::VideoChipModel& chip = sim::attachVideoChip();
    writer(chip, 0, 0x0000, 1920, 1080, 64);
    reader(chip, 0, 0, 0x0000, 1920, 1080, 64);
    ASSERT_TRUE(sim::decodeMemory(chip).reads[0].clean()) << sim::describeMemory(chip);
    // Buffer 3 read where buffer 0 lies: nobody writes that in buffer 3.
    set32(chip, 0x16, 0x08 + 4 * 3, 0x0000);
    std::string view = sim::describeMemory(chip);
    EXPECT_TRUE(has(view, "och 0 piece 0: reads ich 0 and unwritten memory, mode 0")) << view;
    set32(chip, 0x16, 0x08 + 4 * 3, 3 * kPlainBuffer);

    // 2400 lines run 224 lines past the end of each plain buffer, and so does their read.
    writer(chip, 1, 0x2000, 1920, 2400, 64);
    reader(chip, 1, 1, 0x2000, 1920, 2400, 64);
    sim::MemoryMap m = sim::decodeMemory(chip);
    EXPECT_FALSE(m.writersSound());
    EXPECT_EQ(m.writer(1)->leak.lines, 224);
    EXPECT_FALSE(m.reads[1].clean());
    view = sim::describeMemory(chip);
    EXPECT_TRUE(has(view, "ich 1: leaves plain buffer 0 by 224 lines")) << view;
    EXPECT_TRUE(has(view, "och 1 piece 0: leaves plain buffer 0 by 224 lines")) << view;
    writer(chip, 1, 0x2000, 1920, 2176, 64);   // exactly a plain buffer's height
    EXPECT_FALSE(sim::decodeMemory(chip).writer(1)->leak.any()) << sim::describeMemory(chip);

    // A frame buffer among the fonts or outside the memory map; one running out of plain buffer 4
    // into the dot-by-dot memory.
    writer(chip, 3, 0x6000, 64, 4, 64);
    set32(chip, 0x46, 0x1C + 4 * 2, 0x7F000100);
    EXPECT_TRUE(has(sim::describeMemory(chip), "ich 3: buffer 2 lies in the font area")) << sim::describeMemory(chip);
    set32(chip, 0x46, 0x1C + 4 * 2, 0x64000000);
    EXPECT_TRUE(has(sim::describeMemory(chip), "ich 3: buffer 2 lies outside the memory map"));
    writer(chip, 3, 0x6000, 64, 4, 64);
    set32(chip, 0x46, 0x1C + 4 * 4, 0x2A800000 - 2 * kLine + 0x6000);
    EXPECT_TRUE(has(sim::describeMemory(chip), "ich 3: leaves plain buffer 4 by 2 lines")) << sim::describeMemory(chip);
    writer(chip, 3, 0x6000, 64, 4, 64);

    // Mode codes the chip does not know are no mode 0.
    chip.setReg(0x00, 0x71, 0x05);
    chip.setReg(0x00, 0x69, 0x22);
    m = sim::decodeMemory(chip);
    EXPECT_EQ(m.writer(0)->mode, sim::kUnknownMode);
    EXPECT_FALSE(m.writersSound());
    EXPECT_FALSE(m.reads[0].clean());
    view = sim::describeMemory(chip);
    EXPECT_TRUE(has(view, "ich 0: writes 0x00000000-0x04371e00 pitch 64 KiB, 7680 bytes x 1080 lines, mode code 0x05 unknown"))
        << view;
    EXPECT_TRUE(has(view, "och 0 piece 0: reads ich 0, mode code 0x22 unknown")) << view;
}

TEST(VideoChipMemory, FieldStoresDualPairsAndMirroredGridParts)
{
    zeltest::TempRoot root;
    sim::VideoChipModel& chip = sim::attachVideoChip();
    writer(chip, 0, 0x0000, 1920, 1080, 64);
    // Channel 1 weaves two fields of 540 lines; its processor keeps them in its slot of plain
    // buffers 1 and 2.
    writer(chip, 1, 0x2000, 1920, 540, 64, 0x01);
    chip.setReg(0x26, 0x5B, 1);
    set16(chip, 0x24, 0x0F, 1920);
    set16(chip, 0x24, 0x13, 1080);
    const uint32_t fields[4] = {kPlainBuffer + 0x2000, kPlainBuffer + 0x2000, 2 * kPlainBuffer + 0x2000,
                                2 * kPlainBuffer + 0x2000};
    for (int b = 0; b < 4; ++b) {
        set32(chip, 0x27, uint8_t(0x18 + 4 * b), fields[b]);
        set32(chip, 0x27, uint8_t(0x08 + 4 * b), fields[3 - b]);
    }
    set16(chip, 0x27, 0x59, 64);
    sim::MemoryMap m = sim::decodeMemory(chip);
    ASSERT_EQ(m.fields.size(), 1u);
    EXPECT_EQ(m.fields[0].lines, 540);
    EXPECT_EQ(m.fields[0].bytes, 5120u);
    EXPECT_TRUE(m.writersSound()) << sim::describeMemory(chip);
    EXPECT_TRUE(m.overlaps.empty());
    EXPECT_TRUE(has(sim::describeMemory(chip),
                    "ich 1 fields: writes 0x08802000, 0x08802000, 0x11002000, 0x11002000 pitch 64 KiB, 5120 bytes x 540 lines"));
    set32(chip, 0x27, 0x10, 0x0A000000);   // reads a field from where none is written
    EXPECT_TRUE(has(sim::describeMemory(chip), "ich 1 fields: reads a field buffer it does not write"));
    set32(chip, 0x27, 0x10, fields[1]);
    set32(chip, 0x27, 0x18, kPlainBuffer);   // a field over channel 0's buffer 1
    EXPECT_EQ(sim::decodeMemory(chip).overlaps, (std::vector<std::pair<int, int>>{{0, 1}}));
    set32(chip, 0x27, 0x18, 2 * kPlainBuffer - 100 * kLine);
    EXPECT_TRUE(has(sim::describeMemory(chip), "ich 1 fields: leaves plain buffer 1 by 440 lines"))
        << sim::describeMemory(chip);
    chip.setReg(0x26, 0x5B, 0);   // progressive: no fields kept
    EXPECT_TRUE(sim::decodeMemory(chip).fields.empty());

    // Pair 4/5 in dual mode stores one picture: the second half right after the first.
    chip.setReg(0x03, 0x08 + 9 * 2, 3);
    writer(chip, 4, 0x8000, 960, 1080, 64);
    writer(chip, 5, 0x8000 + 960 * 4, 960, 1080, 64);
    m = sim::decodeMemory(chip);
    EXPECT_EQ(m.writer(4)->dualWith, 5);
    EXPECT_FALSE(m.writer(4)->dualApart);
    writer(chip, 5, 0xA000, 960, 1080, 64);
    EXPECT_TRUE(has(sim::describeMemory(chip), "ich 4: dual mode with ich 5, whose half is not stored beside it"));
    set16(chip, 0x60, 0x19, 0);
    EXPECT_TRUE(has(sim::describeMemory(chip), "ich 4: dual mode with ich 5, which writes nothing"));
    chip.setReg(0x03, 0x08 + 9 * 2, 0);
    EXPECT_TRUE(sim::decodeMemory(chip).writersSound()) << sim::describeMemory(chip);

    // 960 stored pixels zoomed over a row of two channels, mixed at positions 0 and 1: without the
    // mirror channel 2 shows the left half, with it the right half.
    writer(chip, 2, 0x4000, 960, 540, 64);
    reader(chip, 2, 2, 0x4000, 1920, 540, 64);
    reader(chip, 3, 2, 0x4000 + 480 * 4, 1920, 540, 64, 2);
    set16(chip, 0x2A, 0x49, 16372);
    set16(chip, 0x3A, 0x49, 16372);
    set32(chip, 0x2E, 0x09, 0x0A);   // position 2 holds channel 2
    set32(chip, 0x3E, 0x09, 0x0B);   // position 3 holds channel 3
    auto partsRight = [&chip] {
        const sim::MemoryMap map = sim::decodeMemory(chip);
        for (const sim::MemoryRead* r : map.readsOf(2))
            if (r->wrongPart)
                return false;
        return true;
    };
    EXPECT_TRUE(partsRight()) << sim::describeMemory(chip);
    chip.setReg(0x28, 0x22, 1);
    chip.setReg(0x38, 0x22, 1);
    EXPECT_FALSE(partsRight());
    EXPECT_TRUE(has(sim::describeMemory(chip), "och 2 piece 0: reads ich 2, mode 0, wrong part of the picture"));
    reader(chip, 2, 2, 0x4000 + 480 * 4, 1920, 540, 64);
    reader(chip, 3, 2, 0x4000, 1920, 540, 64, 2);
    EXPECT_TRUE(partsRight()) << sim::describeMemory(chip);
    // The same reads with the channels' places swapped show the halves the wrong way round.
    set32(chip, 0x2E, 0x09, 0x0B);
    set32(chip, 0x3E, 0x09, 0x0A);
    EXPECT_FALSE(partsRight());
}

namespace {

using Chip = sim::VideoChipModel;

// Channel 1 weaves fields of w pixels in mode 3, kept `offset` bytes into its slot of plain
// buffers 1 and 2.
void weave(Chip& c, int w, uint32_t offset)
{
    writer(c, 1, 0x2000, w, 540, 64, 0x11);
    c.setReg(0x26, 0x5B, 1);
    set16(c, 0x24, 0x0F, uint32_t(w));
    set16(c, 0x24, 0x13, 1080);
    const uint32_t a = kPlainBuffer + 0x2000, b = 2 * kPlainBuffer + 0x2000;
    const uint32_t fields[4] = {a + offset, a, b + offset, b};
    for (int k = 0; k < 4; ++k) {
        set32(c, 0x27, uint8_t(0x18 + 4 * k), fields[k]);
        set32(c, 0x27, uint8_t(0x08 + 4 * k), fields[k]);
    }
    set16(c, 0x27, 0x59, 64);
}

// Pair 4/5 stores one line of 2 x `half` pixels in mode 3, the second half `second` pixels.
void pair(Chip& c, int half, int second)
{
    writer(c, 4, 0x8000, half, 4, 64, 0x11);
    writer(c, 5, 0x8000 + 2 * uint32_t(half), second, 4, 64, 0x11);
}

// A 1080-line picture read over a grid of two rows of 540, the top row from stored line `top`,
// the bottom one from `bottom`, with line step `step`.
std::function<void(Chip&)> rows(int top, int bottom, uint8_t step)
{
    return [=](Chip& c) {
        writer(c, 0, 0x0000, 1920, 1080, 64);
        reader(c, 0, 0, uint32_t(top) * kLine, 1920, 540, step);
        reader(c, 1, 0, uint32_t(bottom) * kLine, 1920, 540, step, 0);
    };
}

// Every frame buffer of channel 0's writer and read where its buffer 0 lies.
void allAtBufferZero(Chip& c)
{
    writer(c, 0, 0x0000, 1920, 1080, 64);
    reader(c, 0, 0, 0x0000, 1920, 1080, 64);
    for (int b = 1; b < 5; ++b) {
        set32(c, 0x16, uint8_t(0x1C + 4 * b), 0);
        set32(c, 0x16, uint8_t(0x08 + 4 * b), 0);
    }
}

}  // namespace

// Each row on a fresh chip: the lines the model prints for it, none when every writer and read
// is sound.
TEST(VideoChipMemory, BuffersSlotsBandsAndGridRowsEachInTheirPlace)
{
    zeltest::TempRoot root;
    const char* const kFlipped = "och 0 piece 0: reads ich 0, mode 0, wrong part of the picture";
    const struct {
        const char* what;
        std::function<void(Chip&)> set;
        std::vector<std::string> faults;
    } cases[] = {
        {"4096 pixels in mode 3 fill slot 1", [](Chip& c) { writer(c, 1, 0x2000, 4096, 4, 64, 0x11); }, {}},
        {"4097 pixels in mode 3", [](Chip& c) { writer(c, 1, 0x2000, 4097, 4, 64, 0x11); },
         {"ich 1: leaves slot 1 by 2 bytes a line"}},
        {"started in the next slot", [](Chip& c) { writer(c, 1, 0x4000, 64, 4, 64); },
         {"ich 1: buffer 0 writes in slot 2"}},
        {"a pitch that moves the second line on", [](Chip& c) { writer(c, 1, 0x2000, 64, 4, 72); },
         {"ich 1: buffer 0 writes in slot 2"}},
        {"a pair in dual mode fills its two slots",
         [](Chip& c) {
             c.setReg(0x03, 0x08 + 9 * 2, 3);
             pair(c, 4096, 4096);
         },
         {}},
        {"one past the pair's slots",
         [](Chip& c) {
             c.setReg(0x03, 0x08 + 9 * 2, 3);
             pair(c, 4096, 4097);
         },
         {"ich 5: leaves slots 4-5 by 2 bytes a line"}},
        {"a V-by-One receiver's halves side by side",
         [](Chip& c) {
             c.setReg(0x00, 0x14, 8);
             c.setReg(0x00, 0x15, 9);
             pair(c, 4096, 4096);
         },
         {}},
        {"halves of two receivers", [](Chip& c) {
             c.setReg(0x00, 0x14, 8);
             c.setReg(0x00, 0x15, 12);
             pair(c, 1920, 1920);
         },
         {"ich 5: buffer 0 writes in slot 4"}},
        {"a dot-by-dot line fills its band", [](Chip& c) { writer(c, 0, kDbdFirst, 8192, 4, 32, 0, kDbdBuffer); }, {}},
        {"one pixel past the band", [](Chip& c) { writer(c, 0, kDbdFirst, 8193, 4, 32, 0, kDbdBuffer); },
         {"ich 0: leaves its band by 4 bytes a line"}},
        {"all five buffers at buffer 0", allAtBufferZero,
         {"ich 0: buffer 1 lies in plain buffer 0", "och 0 piece 0: buffer 1 lies in plain buffer 0"}},
        {"fields fill the slot", [](Chip& c) { weave(c, 4096, 0); }, {}},
        {"fields 1 KiB into the slot", [](Chip& c) { weave(c, 4096, 1024); },
         {"ich 1 fields: leaves slot 1 by 1024 bytes a line"}},
        {"fields in the neighbour's slot",
         [](Chip& c) {
             weave(c, 1920, 0x2000);
             writer(c, 2, 0x4000, 1920, 1080, 64);
         },
         {"ich 1 fields: buffer 0 writes in slot 2", "overlaps: ich 1/ich 2"}},
        {"rows top to bottom", rows(0, 540, 64), {}},
        {"rows swapped", rows(540, 0, 64), {kFlipped}},
        {"mirrored rows swapped", rows(1079, 539, 256 - 64), {}},
        {"mirrored rows flipped in place", rows(539, 1079, 256 - 64), {kFlipped}},
        {"a V-by-One receiver's halves mirrored over a row of two channels",
         [](Chip& c) {
             c.setReg(0x00, 0x14, 8);
             c.setReg(0x00, 0x15, 9);
             pair(c, 960, 960);
             reader(c, 0, 4, 0x8000 + 2 * 960, 960, 4, 64);   // the right half on the left
             reader(c, 1, 4, 0x8000, 960, 4, 64, 0);
             for (int och = 0; och < 2; ++och) {
                 c.setReg(0x00, uint8_t(0x69 + och), 0x11);
                 c.setReg(uint8_t(0x08 + 16 * och), 0x22, 1);
             }
         },
         {}},
        {"one stored line zoomed onto the last line of a row and the top of the next",
         [](Chip& c) {
             writer(c, 0, 0x0000, 1920, 1080, 64);
             reader(c, 0, 0, 0x0000, 1920, 1, 64);
             reader(c, 1, 0, 0x0000, 1920, 540, 64, 0);
             set16(c, 0x0A, 0x4E, 0x8000);
             set16(c, 0x1A, 0x4E, 0x8000);
         },
         {}},
        {"the ports of a dot-by-dot window side by side, of unequal widths, over a row of two channels",
         [](Chip& c) {
             // Channel 1 stores the left port's 720 pixels at the band's start, channel 0 the
             // right port's 3840 after them; the left piece reads 3000 pixels over both, the
             // right piece the rest of the line.
             writer(c, 1, kDbdFirst, 720, 4, 32, 0x11, kDbdBuffer);
             writer(c, 0, kDbdFirst + 2 * 720, 3840, 4, 32, 0x11, kDbdBuffer);
             reader(c, 0, 0, kDbdFirst, 3000, 4, 32);
             reader(c, 1, 0, kDbdFirst + 2 * 3000, 1560, 4, 32, 0);
             for (int och = 0; och < 2; ++och) {
                 c.setReg(0x00, uint8_t(0x69 + och), 0x11);
                 const uint32_t start = kDbdFirst + (och ? 2 * 3000 : 0);
                 for (int b = 0; b < 5; ++b)
                     set32(c, uint8_t(0x16 + 16 * och), uint8_t(0x08 + 4 * b), start + uint32_t(b) * kDbdBuffer);
             }
         },
         {}},
        {"fields woven from a V-by-One source",
         [](Chip& c) {
             c.setReg(0x00, 0x12, 8);
             c.setReg(0x00, 0x13, 9);
             writer(c, 2, 0x4000, 960, 540, 64);
             writer(c, 3, 0x4000 + 960 * 4, 960, 540, 64);
             c.setReg(0x36, 0x5B, 1);
         },
         {"ich 2: weaves fields of a V-by-One source"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::VideoChipModel& chip = sim::attachVideoChip();
        c.set(chip);
        const sim::MemoryMap m = sim::decodeMemory(chip);
        bool sound = m.writersSound() && m.overlaps.empty();
        for (const sim::MemoryRead& r : m.reads)
            sound = sound && r.clean();
        const std::string view = sim::describeMemory(chip);
        EXPECT_EQ(sound, c.faults.empty()) << view;
        for (const std::string& f : c.faults)
            EXPECT_TRUE(has(view, f)) << view;
    }
    // An output channel showing its background colour, as for an input without signal: what it
    // would read, written or not, is not seen.
    sim::VideoChipModel& chip = sim::attachVideoChip();
    reader(chip, 0, 0, 0x0F000000u, 1920, 1080, 64);
    chip.setReg(0x08, 0x48, 1);
    EXPECT_TRUE(sim::decodeMemory(chip).reads.at(0).clean());
    EXPECT_TRUE(has(sim::describeMemory(chip), "och 0 piece 0: covered by the input background"));
}
