// Input crops: clamping, edge offsets and their refresh.
#include "engine/c331_picture_calc.h"
#include "engine_fixture.h"
#include "sim/video_chip_crop.h"
#include "sim/video_chip_view.h"
#include "support/video_input.h"

using namespace ramaddr;

TEST(CropCalc, ClampAndOffsets)
{
    // Too wide: the whole width again, not a shortened crop.
    picture::Rect r{100, 0, 1900, 1080};
    EXPECT_EQ(picture::clampCrop(r, 1920, 1080), 1);
    EXPECT_EQ(r.x, 0);
    EXPECT_EQ(r.width, 1920);
    EXPECT_EQ(picture::cropOffset(r, 1920, 1080, picture::kCropLeft), 0);
    EXPECT_EQ(picture::cropOffset(r, 1920, 1080, picture::kCropRight), 0);

    picture::Rect tall{10, 700, 100, 400};
    EXPECT_EQ(picture::clampCrop(tall, 1920, 1080), 2);
    EXPECT_EQ(tall.y, 0);
    EXPECT_EQ(tall.height, 1080);
    EXPECT_EQ(tall.x, 10);
    // Ending exactly on the input's right or bottom edge is inside: kept as it is.
    picture::Rect edge{100, 80, 1820, 1000};
    EXPECT_EQ(picture::clampCrop(edge, 1920, 1080), 0);
    EXPECT_EQ(edge.x, 100);
    EXPECT_EQ(edge.width, 1820);
    EXPECT_EQ(edge.y, 80);
    EXPECT_EQ(edge.height, 1000);

    // Ports 4 and 5 below format 4 carry twice the measured width.
    EXPECT_EQ(picture::effectiveWidth(4, 1920, 3), 3840);
    EXPECT_EQ(picture::effectiveWidth(5, 1920, 4), 1920);
    EXPECT_EQ(picture::effectiveWidth(3, 1920, 1), 1920);
    picture::Rect wide{0, 0, 3000, 1080};
    EXPECT_EQ(picture::clampCrop(wide, 3840, 1080), 0);
    EXPECT_EQ(picture::cropOffset(wide, 3840, 1080, picture::kCropRight), 840);

    const picture::Rect inner{100, 50, 800, 600};
    EXPECT_EQ(picture::cropOffset(inner, 1920, 1080, picture::kCropLeft), 100);
    EXPECT_EQ(picture::cropOffset(inner, 1920, 1080, picture::kCropRight), 1020);
    EXPECT_EQ(picture::cropOffset(inner, 1920, 1080, picture::kCropTop), 50);
    EXPECT_EQ(picture::cropOffset(inner, 1920, 1080, picture::kCropBottom), 430);
    EXPECT_EQ(picture::cropOffset(inner, 1920, 1080, 4), 0);
    EXPECT_EQ(picture::cropOffset(inner, 500, 300, picture::kCropRight), 0);   // never negative
}

namespace {

class CropTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        bringUp();
        // A 1080p input on HDMI1 (chip port 1).
        signal(1, 1920, 1080, 4);
        writeCropEntry(3, 2, 100, 50, 800, 600);
        model->refresh_shadow();
    }
    void signal(int port, int w, int h, int state)
    {
        e->PI_ACT[port][0] = 192;
        e->PI_ACT[port][1] = w;
        e->PI_ACT[port][2] = 41;
        e->PI_ACT[port][3] = h;
        e->PI_STATE[port] = state;
    }
    std::vector<int> offsets(int w) const { return {e->PM_OFFSET[w], e->PM_OFFSET[w] + 4}; }
};

}  // namespace

TEST_F(CropTest, ACropSourceBecomesTheWindowsOffsets)
{
    setWord(window(0) + kWinSource, 0x8003);
    commitAndPass();
    EXPECT_EQ(e->win_info[0].crop, 3);
    EXPECT_EQ(e->win_info[0].port, 2);
    EXPECT_EQ(e->PM_CROP_EN[0], 1);
    EXPECT_EQ(offsets(0), (std::vector<int>{100, 1020, 50, 430}));
    model->refresh_shadow();

    // Back to a plain input: the crop goes.
    setWord(window(0) + kWinSource, 2);
    commitAndPass();
    EXPECT_EQ(e->PM_CROP_EN[0], 0);
    EXPECT_EQ(offsets(0), (std::vector<int>{0, 0, 0, 0}));
}

TEST_F(CropTest, BindingRefusesWindowsAndEntriesThatDoNotExist)
{
    e->c331_SetInputsourceCrop(0, 0x8000 | 39);   // the last entry
    ASSERT_EQ(e->win_info[0].crop, 39);
    e->c331_SetInputsourceCrop(0, 0x8003);
    ASSERT_EQ(e->win_info[0].crop, 3);
    e->c331_SetInputsourceCrop(0, 0x8000 | 40);
    e->c331_SetInputsourceCrop(0, 0x80FF);
    EXPECT_EQ(e->win_info[0].crop, 3);
    EXPECT_EQ(e->win_info[0].port, 2);
    ASSERT_FALSE(e->zelApi_IsWinShown(4));
    const ST_WIN_INFO before = e->win_info[4];
    e->c331_SetInputsourceCrop(4, 0x8003);
    e->c331_SetInputsourceCrop(-1, 0x8003);
    e->c331_SetInputsourceCrop(9, 0x8003);
    EXPECT_EQ(e->win_info[4].crop, before.crop);
    EXPECT_EQ(e->win_info[4].port, before.port);

    // A source byte the protocol filled with anything: input bits only, beyond 5 no input.
    model->ram_para[cropEntry(7)] = 0xFE;
    e->c331_SetInputsourceCrop(0, 0x8007);
    EXPECT_EQ(e->win_info[0].port, c331_manage::kNoInput);
    ST_RECT r{10, 10, 100, 100};
    e->c331_SetCrop(0, 1, &r);
    EXPECT_EQ(offsets(0), (std::vector<int>{0, 0, 0, 0}));
    model->ram_para[cropEntry(7)] = 0x85;   // input 5: chip port 4
    e->c331_SetInputsourceCrop(0, 0x8007);
    EXPECT_EQ(e->win_info[0].port, 5);
    // Input 6, one past the last, and input 9, whose top input bit must not be dropped.
    for (uint8_t source : {uint8_t(0x86), uint8_t(0x89)}) {
        model->ram_para[cropEntry(7)] = source;
        e->c331_SetInputsourceCrop(0, 0x8007);
        EXPECT_EQ(e->win_info[0].port, c331_manage::kNoInput) << int(source);
    }
}

TEST_F(CropTest, ClampsToTheInputAndZeroesWithoutSignal)
{
    e->c331_SetInputsourceCrop(0, 0x8003);
    ST_RECT r{100, 0, 1900, 1080};
    e->c331_SetCrop(0, 1, &r);
    EXPECT_EQ(r.x, 0);
    EXPECT_EQ(r.width, 1920);
    EXPECT_EQ(offsets(0), (std::vector<int>{0, 0, 0, 0}));

    // HDMI4 is chip port 4: below format 4 it is twice as wide as measured.
    model->ram_para[cropEntry(5)] = kCropValid | 5;
    e->c331_SetInputsourceCrop(0, 0x8005);
    signal(4, 1920, 1080, 3);
    ST_RECT wide{0, 0, 3000, 1080};
    e->c331_SetCrop(0, 1, &wide);
    EXPECT_EQ(wide.width, 3000);
    EXPECT_EQ(offsets(0), (std::vector<int>{0, 840, 0, 0}));

    signal(4, 0, 0, 0);
    ST_RECT none{10, 10, 100, 100};
    e->c331_SetCrop(0, 1, &none);
    EXPECT_EQ(e->PM_CROP_EN[0], 1);
    EXPECT_EQ(offsets(0), (std::vector<int>{0, 0, 0, 0}));

    signal(4, 1920, 1080, 4);
    ST_RECT r2{10, 20, 100, 100};
    e->c331_SetCrop(0, 1, &r2);
    EXPECT_EQ(offsets(0)[0], 10);
    e->c331_SetCrop(0, 0, &r2);
    EXPECT_EQ(e->PM_CROP_EN[0], 0);
    EXPECT_EQ(offsets(0), (std::vector<int>{0, 0, 0, 0}));
    e->c331_SetCrop(6, 1, &r2);
    e->c331_SetCrop(0, 1, nullptr);
    EXPECT_EQ(e->zelApi_CropGetOffset(6, &r2, 0), 0);
    EXPECT_EQ(e->zelApi_CropGetOffset(-1, &r2, 0), 0);
}

TEST_F(CropTest, TimingChangeRefreshesOnlyCroppedWindowsOnThatPort)
{
    e->c331_SetInputsourceCrop(0, 0x8003);
    ST_RECT r{100, 50, 800, 600};
    e->c331_SetCrop(0, 1, &r);
    e->win_port[0] = 1;
    // Window 1 on the same port without a crop, window 2 cropped on another port.
    e->win_info[1].enable = 1;
    e->win_port[1] = 1;
    e->PM_OFFSET[1][1] = 77;
    e->win_info[2].enable = 1;
    e->win_info[2].crop = 3;
    e->win_port[2] = 0;
    e->PM_CROP_EN[2] = 1;
    e->PM_OFFSET[2][1] = 66;

    signal(1, 1280, 720, 4);
    e->zelApi_updateCrop(1);
    EXPECT_EQ(offsets(0), (std::vector<int>{100, 380, 50, 70}));
    EXPECT_EQ(e->PM_OFFSET[1][1], 77);
    EXPECT_EQ(e->PM_OFFSET[2][1], 66);
    // Straight from the image, not clamped: a crop larger than the new picture ends at 0.
    signal(1, 720, 480, 4);
    e->zelApi_updateCrop(1);
    EXPECT_EQ(offsets(0), (std::vector<int>{100, 0, 50, 0}));
    e->zelApi_updateCrop(6);
    e->zelApi_updateCrop(255);
    EXPECT_EQ(offsets(0)[0], 100);
}

namespace {

// A 1080p60 signal on HDMI1, windows committed through the image, passes run until the inputs
// settle: what the chip then reads of the input.
class CroppedWindowTest : public EngineTest {
protected:
    static constexpr int kHdmi1 = 2;

    void SetUp() override
    {
        EngineTest::SetUp();
        zeltest::feedVideo(kHdmi1, 1920, 1080, 60);
        bringUp();
        settle();
    }
    void settle()
    {
        commitAndPass();
        model->refresh_shadow();
        e->stepOnce();
        e->stepOnce();
    }
    void showWindow0(int width, int height, uint16_t source)
    {
        setWord(window(0) + kWinX, 0);
        setWord(window(0) + kWinY, 0);
        setWord(window(0) + kWinWidth, uint16_t(width));
        setWord(window(0) + kWinHeight, uint16_t(height));
        setWord(window(0) + kWinSource, source);
        settle();
    }
    std::string crops() const { return sim::describeCrops(chip); }
};

}  // namespace

TEST_F(CroppedWindowTest, TheChipReadsTheCropsRectangle)
{
    showWindow0(1920, 1080, kHdmi1);
    EXPECT_NE(crops().find("och 0: input 0,0 1920x1080 of 1920x1080"), std::string::npos) << crops();

    // Shown 1:1.
    writeCropEntry(2, kHdmi1, 100, 50, 800, 600);
    showWindow0(800, 600, 0x8002);
    ASSERT_EQ(e->PM_CROP_EN[0], 1);
    EXPECT_NE(crops().find("och 0: input 100,50 800x600 of 1920x1080"), std::string::npos) << crops();

    // Zoomed to the whole panel.
    writeCropEntry(3, kHdmi1, 480, 270, 960, 540);
    showWindow0(1920, 1080, 0x8003);
    EXPECT_NE(crops().find("och 0: input 480,270 960x540 of 1920x1080"), std::string::npos) << crops();
    // The decoded view written next to the register snapshot carries it.
    EXPECT_NE(sim::describeVideoChip(chip).find("[crops]\noch 0: input 480,270 960x540"), std::string::npos);

    // Back to the plain input.
    showWindow0(1920, 1080, kHdmi1);
    EXPECT_NE(crops().find("och 0: input 0,0 1920x1080 of 1920x1080"), std::string::npos) << crops();
}
