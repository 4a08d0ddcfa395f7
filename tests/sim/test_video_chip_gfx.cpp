// The simulated chip's serial flash, flash controller and graphics engine, driven over the wire
// as the chip's documentation describes them (no driver code).
#include <gtest/gtest.h>

#include "sim/sim_clock.h"
#include "sim/video_chip.h"
#include "support/test_root.h"
#include "video_chip_wire.h"

namespace {

using Op = sim::VideoChipGfx::Op;

struct Wire : simtest::ChipWire {
    // Flash controller in bank 0x04, write-enable and program opcodes loaded.
    void controller()
    {
        bank(0x04);
        write(0x4C, 0x06);
        write(0x49, 0x12);
        write(0x4A, 0x0C);
    }
    void program(uint32_t at, const std::vector<uint8_t>& bytes)
    {
        write32(0x4E, at);
        for (uint8_t b : bytes)
            write(0x53, b);
        write32(0x4E, at);   // closes the page buffer
    }
    // Polls the flash status until no program or erase is in progress: the flash takes no
    // command before.
    void idle()
    {
        for (int i = 0; i < 100 && (read(0x55) & 0x01); ++i) {
        }
    }
    std::vector<Op> ops(Op::Kind kind)
    {
        std::vector<Op> out;
        for (const Op& o : chip.withGfx([](sim::VideoChipGfx& g) { return g.ops(); }))
            if (o.kind == kind)
                out.push_back(o);
        return out;
    }
};

}  // namespace

TEST(VideoChipFlash, ProgramClearsBitsWithinItsPageAndEraseUnitsRestore)
{
    Wire w;
    w.controller();
    EXPECT_EQ(w.read(0x52) & 0x20, 0x20);   // write buffer empty
    w.program(0x2000FE, {0x0F, 0xF0, 0x3C, 0x55});
    // Four bytes from 0xFE wrap inside their 256-byte page.
    EXPECT_EQ(w.chip.flash(0x2000FE, 2), (std::vector<uint8_t>{0x0F, 0xF0}));
    EXPECT_EQ(w.chip.flash(0x200000, 2), (std::vector<uint8_t>{0x3C, 0x55}));
    EXPECT_EQ(w.chip.flashByte(0x200100), 0xFF);
    w.idle();
    w.program(0x2000FE, {0xFF, 0x0F});
    EXPECT_EQ(w.chip.flash(0x2000FE, 2), (std::vector<uint8_t>{0x0F, 0x00}));   // AND, never sets
    w.idle();

    // A 32 KB unit erases its whole aligned block and nothing beside it.
    w.chip.setFlash(0x1F8000 - 1, {0x00});
    w.chip.setFlash(0x208000, {0x00});
    w.write(0x4B, 0x52);
    w.write32(0x4E, 0x204321);
    w.write(0x48, 4);
    EXPECT_EQ(w.chip.flashByte(0x2000FE), 0xFF);
    EXPECT_EQ(w.chip.flashByte(0x1F8000 - 1), 0x00);
    EXPECT_EQ(w.chip.flashByte(0x208000), 0x00);
    // The erase keeps EBUSY and WIP up for its busy time and leaves WEL to the flash.
    EXPECT_EQ(w.read(0x54) & 0x08, 0x08);
    EXPECT_EQ(w.read(0x54) & 0x08, 0);
    EXPECT_EQ(w.read(0x55) & 0x03, 0);
}

TEST(VideoChipFlash, WriteDisableOpcodeErasesNothingAndWithoutWriteEnableNothingChanges)
{
    Wire w;
    w.controller();
    w.chip.setFlash(0x3000, {0x00});
    w.chip.withGfx([](sim::VideoChipGfx& g) { g.setWelStuck(true); return 0; });
    w.write(0x4B, 0x20);
    w.write32(0x4E, 0x3000);
    w.write(0x48, 4);
    EXPECT_EQ(w.chip.flashByte(0x3000), 0xFF);
    w.read(0x54);
    EXPECT_EQ(w.read(0x55) & 0x02, 0x02);   // WEL stays set
    w.write(0x4B, 0x04);
    w.write(0x48, 5);
    EXPECT_EQ(w.read(0x55) & 0x02, 0);
    // Opcode 4 left in the erase register: the next run only disables writes again.
    w.chip.setFlash(0x4000, {0x00});
    w.write32(0x4E, 0x4000);
    w.write(0x48, 4);
    EXPECT_EQ(w.chip.flashByte(0x4000), 0x00);
    // Without the write-enable opcode a program is refused.
    w.write(0x4C, 0x00);
    w.program(0x5000, {0x00});
    EXPECT_EQ(w.chip.flashByte(0x5000), 0xFF);
    ASSERT_FALSE(w.ops(Op::Program).empty());
    EXPECT_FALSE(w.ops(Op::Program).back().done);
}

TEST(VideoChipFlash, ThreeByteOpcodesTakeTwentyFourAddressBitsAndFourByteOnesThirtyTwo)
{
    Wire w;
    w.controller();
    struct Case {
        uint8_t opcode;
        uint32_t unit;
        bool fourByte;
    };
    const Case erases[] = {{0x20, 0x1000, false}, {0x52, 0x8000, false}, {0xD8, 0x10000, false},
                           {0x21, 0x1000, true},  {0x5C, 0x8000, true},  {0xDC, 0x10000, true}};
    for (const Case& c : erases) {
        w.chip.setFlash(0x0D3C00, {0x00});
        w.chip.setFlash(0x10D3C00, {0x00});
        w.write(0x4B, c.opcode);
        w.write32(0x4E, 0x10D3C00 & ~(c.unit - 1));
        w.write(0x48, 4);
        w.read(0x54);
        EXPECT_EQ(w.chip.flashByte(0x10D3C00), c.fourByte ? 0xFF : 0x00) << std::hex << int(c.opcode);
        EXPECT_EQ(w.chip.flashByte(0x0D3C00), c.fourByte ? 0x00 : 0xFF) << std::hex << int(c.opcode);
    }
    // Page program 0x02 and read 0x03 drop the top address byte as well.
    w.write(0x49, 0x02);
    w.program(0x1005010, {0x5A});
    w.idle();
    EXPECT_EQ(w.chip.flashByte(0x5010), 0x5A);
    EXPECT_EQ(w.chip.flashByte(0x1005010), 0xFF);
    w.write(0x4A, 0x03);
    w.write32(0x4E, 0x1005010);
    w.write(0x52, 0x01);
    w.read(0x52);
    EXPECT_EQ(w.read(0x53), 0x5A);
}

TEST(VideoChipFlash, EraseAndProgramStayBusyForTheirSetTime)
{
    uint32_t ticks = 0;
    sim::setTickSource([&ticks] { return ticks; });
    Wire w;
    w.controller();
    w.chip.withGfx([](sim::VideoChipGfx& g) {
        g.setBusyPolls(0);
        g.setEraseTime(1000);
        g.setProgramTime(5);
        return 0;
    });
    w.write(0x4B, 0xD8);
    w.write32(0x4E, 0x20000);
    w.write(0x48, 4);
    for (uint32_t t : {0u, 50u, 99u}) {
        ticks = t;
        EXPECT_EQ(w.read(0x54) & 0x08, 0x08) << t;
        EXPECT_EQ(w.read(0x55) & 0x01, 0x01) << t;
    }
    ticks = 100;   // 1 s in ticks of 10 ms
    EXPECT_EQ(w.read(0x54) & 0x08, 0);
    EXPECT_EQ(w.read(0x55) & 0x01, 0);
    w.program(0x3000, {0x00});
    EXPECT_EQ(w.read(0x54) & 0x02, 0x02);   // 5 ms: busy to the next tick
    ticks = 101;
    EXPECT_EQ(w.read(0x54) & 0x02, 0);
    sim::setTickSource(nullptr);
}

TEST(VideoChipFlash, CommandsWhileAProgramOrEraseRunsAreIgnoredAndCounted)
{
    Wire w;
    w.controller();
    w.chip.setFlash(0x3000, {0x00});
    w.chip.setFlash(0x5000, {0x00});
    w.chip.setFlash(0x7000, {0x12});
    auto ignored = [&w] { return w.chip.withGfx([](sim::VideoChipGfx& g) { return g.ignoredWhileBusy(); }); };
    w.write(0x4B, 0x20);
    w.write32(0x4E, 0x3000);
    w.write(0x48, 4);
    ASSERT_EQ(w.chip.flashByte(0x3000), 0xFF);
    EXPECT_EQ(ignored(), 0);
    // Nothing has polled the erase to its end: the flash is still busy with it.
    w.program(0x6000, {0x00});
    EXPECT_EQ(w.chip.flashByte(0x6000), 0xFF);
    ASSERT_FALSE(w.ops(Op::Program).empty());
    EXPECT_FALSE(w.ops(Op::Program).back().done);
    EXPECT_TRUE(w.ops(Op::Program).back().whileBusy);
    w.write32(0x4E, 0x5000);
    w.write(0x48, 4);
    EXPECT_EQ(w.chip.flashByte(0x5000), 0x00);
    w.write32(0x4E, 0x7000);
    w.write(0x52, 0x01);
    EXPECT_EQ(w.read(0x53), 0xFF);
    w.write32(0x56, 0x80000001);
    w.write(0x5A, 0);
    w.write32(0x11, 0x7F000000);
    w.write(0x48, 2);
    EXPECT_EQ(w.chip.withGfx([](sim::VideoChipGfx& g) { return g.memByte(0x7F000000); }), 0xFF);
    EXPECT_EQ(ignored(), 4);
    // Once the status shows it idle, the same commands run.
    w.idle();
    w.program(0x6000, {0x00});
    EXPECT_EQ(w.chip.flashByte(0x6000), 0x00);
    w.idle();
    w.write32(0x4E, 0x7000);
    w.write(0x52, 0x01);
    w.read(0x52);
    EXPECT_EQ(w.read(0x53), 0x12);
    EXPECT_EQ(ignored(), 4);
}

TEST(VideoChipFlash, ReadPortAndNeverReadyKnob)
{
    Wire w;
    w.controller();
    w.chip.setFlash(0x1FFFFFE, {1, 2});   // the last bytes of 32 MiB
    w.write32(0x4E, 0x1FFFFFE);
    w.write(0x52, 0x01);
    EXPECT_EQ(w.read(0x52) & 0x80, 0x80);   // busy for one poll
    EXPECT_EQ(w.read(0x52) & 0x80, 0);
    EXPECT_EQ(w.read(0x53), 1);
    EXPECT_EQ(w.read(0x53), 2);
    w.chip.withGfx([](sim::VideoChipGfx& g) { g.setNeverReady(true); return 0; });
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(w.read(0x17) & 1, 1);
        EXPECT_EQ(w.read(0x54) & 0x0B, 0x0B);
    }
}

TEST(VideoChipFlash, ContentsPersistUnderTheRoot)
{
    zeltest::TempRoot root;
    sim::VideoChipModel& a = sim::attachVideoChip();
    EXPECT_EQ(a.flashByte(0x000000), 'P');   // a new flash holds the font heads
    a.setFlash(0x1800000, {0x12, 0x34});
    a.setFlash(0x000000, {'X'});
    sim::VideoChipModel& b = sim::attachVideoChip();
    EXPECT_EQ(b.flash(0x1800000, 2), (std::vector<uint8_t>{0x12, 0x34}));
    EXPECT_EQ(b.flashByte(0x000000), 'X');
    EXPECT_EQ(b.flashByte(0x010000), 'P');
    EXPECT_EQ(b.flashByte(0x1800002), 0xFF);
}

TEST(VideoChipGraphics, DmaCopiesFlashIntoMemoryAndPalette)
{
    Wire w;
    w.chip.setFlash(0x20000, {9, 8, 7});
    w.bank(0x04);
    w.write32(0x4E, 0x20000);
    w.write32(0x56, 0x80000003);
    w.write(0x5A, 0);
    w.write32(0x11, 0x7F000000);
    w.write(0x48, 2);
    EXPECT_EQ(w.read(0x54) & 1, 1);
    EXPECT_EQ(w.read(0x54) & 1, 0);
    w.chip.withGfx([](sim::VideoChipGfx& g) {
        EXPECT_EQ(g.memByte(0x7F000000), 9);
        EXPECT_EQ(g.memByte(0x7F000002), 7);
        EXPECT_EQ(g.memByte(0x7F000003), 0xFF);
        return 0;
    });
    // Palette DMA (type 4) to colour entry 0.
    w.bank(0x09);
    w.write(0x1F, 0);
    w.bank(0x04);
    w.write(0x5A, 4);
    w.write(0x48, 2);
    const auto pal = w.chip.withGfx([](sim::VideoChipGfx& g) { return g.palette(); });
    EXPECT_EQ(pal[0], 9);
    EXPECT_EQ(pal[2], 7);
}

TEST(VideoChipGraphics, TextLinesAndColoursAppearInTheView)
{
    Wire w;
    // Colours through the all-channel switch: background 0x0000FF (BBGGRR), characters 0x00FF00.
    w.bank(0xFF);
    w.write(0x01, 1);
    w.bank(0x09);
    w.write(0x1F, 1);
    for (uint8_t b : {0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00})
        w.write(0x20, b);
    w.write(0x08, 0x03);
    w.write(0x09, 0x40);
    w.bank(0xFF);
    w.write(0x01, 0);
    EXPECT_EQ(w.chip.reg(0x79, 0x08), 0x03);   // broadcast to channel 7's plane
    // Fill the buffer (stride 32, not wide), then one line "Hi" and a CJK character at y 40.
    w.bank(0x04);
    w.write32(0x11, 0x725C0000);
    w.write(0x1B, 32);
    w.write(0x22, 0);
    w.write(0x08, 1);
    w.write(0x08, 0);
    w.write(0x27, 0x00);
    w.write(0x28, 0x0A);
    w.write(0x29, 32);
    w.write(0x27, 0);
    w.write(0x28, 0);
    for (uint16_t g : {uint16_t('H' - 32), uint16_t('i' - 32), uint16_t(96 + 1)}) {
        for (uint8_t b : {uint8_t(g), uint8_t(g >> 8), uint8_t(2), uint8_t(1), uint8_t(16)})
            w.write(0x29, b);
    }
    w.write(0x24, 2);
    w.write32(0x11, 0x725C0000 + 8 + 40 * 32 * 128);
    w.write(0x08, 3);
    const std::string view = w.chip.osdView();
    EXPECT_NE(view.find("osd plane: on"), std::string::npos) << view;
    EXPECT_NE(view.find("osd line 1 at x 8 y 40, 32 dots, text 00FF00 on FF0000: \"Hi\xE4\xB8\x81\""), std::string::npos)
        << view;
}
