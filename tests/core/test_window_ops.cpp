#include <gtest/gtest.h>

#include <cstring>

#include "param_fixture.h"

namespace {

// Writes crop entry e of an image directly: source, id (1-40, 0 = free), x, y, width, height.
void putCrop(unsigned char* image, unsigned e, uint8_t source, int id, uint16_t x, uint16_t y, uint16_t w, uint16_t h)
{
    const unsigned a = 0x5C0 + 10 * e;
    image[a] = source;
    image[a + 1] = id ? static_cast<unsigned char>(0x80 + id - 1) : 0;
    set16(image, a + 2, x);
    set16(image, a + 4, y);
    set16(image, a + 6, w);
    set16(image, a + 8, h);
}

class WindowOpsTest : public ParamModelTest {
protected:
    void SetUp() override
    {
        ParamModelTest::SetUp();
        m = start();
        for (unsigned e = 0; e < 40; ++e)
            putCrop(m->ram_para, e, 0, 0, 0, 0, 0, 0);
        m->ZelCropSourceInit();
    }
    ZelRamPara* m = nullptr;
};

}  // namespace

TEST_F(WindowOpsTest, EmptyTableHasNoCrops)
{
    for (int s = 0; s < 6; ++s) {
        EXPECT_EQ(m->ZelGetSourceNum(s, 40), 0);
        EXPECT_EQ(m->ZelGetCropID(s, 1), 0);
        EXPECT_EQ(m->ZelAddCropID(s), 1);
    }
    EXPECT_EQ(m->ZelAddCropID(6), 0);   // sources above 5 own no ids
}

TEST_F(WindowOpsTest, OrdinalsCountIdsUpward)
{
    putCrop(m->ram_para, 5, 2, 3, 10, 20, 30, 40);
    putCrop(m->ram_para, 9, 2, 1, 1, 2, 3, 4);
    putCrop(m->ram_para, 11, 4, 1, 7, 7, 7, 7);
    m->ZelCropSourceInit();
    EXPECT_EQ(g_cut_source_state[10], 0x05);   // source 2 owns bytes 10-14: ids 1 and 3
    EXPECT_EQ(m->ZelGetCropID(2, 1), 1);
    EXPECT_EQ(m->ZelGetCropID(2, 2), 3);
    EXPECT_EQ(m->ZelGetCropID(2, 3), 0);
    EXPECT_EQ(m->ZelGetCropID(2, 0), 0);
    EXPECT_EQ(m->ZelAddCropID(2), 2);
    EXPECT_EQ(m->ZelGetSourceNum(2, 40), 2);
    EXPECT_EQ(m->ZelGetSourceNum(2, 6), 1);     // position of entry 5 among source 2's crops
    EXPECT_EQ(m->ZelGetSourceNum(2, 1000), 2);

    CROP_PARA p{};
    int index = -1;
    m->ZelGetCropPara(2, 2, &p, &index);        // ordinal 2 = id 3 = entry 5
    EXPECT_EQ(index, 5);
    EXPECT_EQ(p.source, 0x82 * 256 + 2);
    EXPECT_EQ(p.x, 10);
    EXPECT_EQ(p.height, 40);
    CROP_PARA untouched{9, 9, 9, 9, 9};
    m->ZelGetCropPara(2, 3, &untouched, &index);
    EXPECT_EQ(index, 40);
    EXPECT_EQ(untouched.x, 9);

    CROP_PARA edit{0, 100, 200, 300, 400};
    m->ZelSetCropPara(2, 2, &edit);
    EXPECT_EQ(u16(m->ram_para, 0x5C0 + 50 + 2), 100);
    EXPECT_EQ(u16(m->ram_para, 0x5C0 + 50 + 8), 400);
    EXPECT_EQ(m->ram_para[0x5C0 + 50], 2);
    EXPECT_EQ(m->ram_para[0x5C0 + 51], 0x82);
}

TEST_F(WindowOpsTest, CorruptEntriesDoNotSpillIntoOtherSources)
{
    m->ram_para[0x5C0] = 1;
    m->ram_para[0x5C1] = 0xFF;    // id 128
    m->ram_para[0x5CA] = 9;       // source 9
    m->ram_para[0x5CB] = 0x80;
    m->ZelCropSourceInit();
    for (unsigned i = 0; i < sizeof g_cut_source_state; ++i)
        EXPECT_EQ(g_cut_source_state[i], 0) << i;
}

// Forty crops an input at most: ids 1 to 40 over the 40 entries of the table.
TEST_F(WindowOpsTest, TheFortiethCropIsTheLast)
{
    for (unsigned e = 0; e < 39; ++e)
        putCrop(m->ram_para, e, 1, int(e) + 1, 0, 0, 8, 8);
    m->ZelCropSourceInit();
    EXPECT_EQ(m->ZelAddCropID(1), 40);
    EXPECT_EQ(m->ZelGetSourceNum(1, 1), 1);
    EXPECT_EQ(m->ZelGetSourceNum(1, 0), 0);
    putCrop(m->ram_para, 39, 1, 40, 0, 0, 8, 8);
    m->ZelCropSourceInit();
    EXPECT_EQ(m->ZelAddCropID(1), 0);
    EXPECT_EQ(m->ZelGetCropID(1, 40), 40);
    EXPECT_EQ(m->ZelGetCropID(1, 41), 0);
    EXPECT_EQ(m->ZelGetSourceNum(1, 40), 40);
    CROP_PARA p{};
    int index = -1;
    m->ZelGetCropPara(1, 40, &p, &index);
    EXPECT_EQ(index, 39);
}

TEST_F(WindowOpsTest, AddAndDeleteCommitAndReuseTheLowestFreeEntry)
{
    c331_manage* engine = makeCommitPoint();
    CROP_PARA a{0, 1, 2, 3, 4}, b{0, 5, 6, 7, 8}, c{0, 9, 9, 9, 9};
    EXPECT_EQ(m->ZelAddNewCrop(3, &a), 0);
    EXPECT_EQ(engine->para_chg_flag.load(), 1);
    m->ZelCropSourceInit();
    EXPECT_EQ(m->ZelAddNewCrop(3, &b), 0);
    m->ZelCropSourceInit();
    EXPECT_EQ(m->ram_para[0x5C0], 3);
    EXPECT_EQ(m->ram_para[0x5C1], 0x80);
    EXPECT_EQ(m->ram_para[0x5CA], 3);
    EXPECT_EQ(m->ram_para[0x5CB], 0x81);
    EXPECT_EQ(u16(m->ram_para, 0x5CA + 2), 5);

    engine->para_chg_flag = 0;
    m->ZelDeleteCrop(3, 1);
    EXPECT_EQ(engine->para_chg_flag.load(), 1);
    m->ZelCropSourceInit();
    EXPECT_EQ(m->ram_para[0x5C0], 0);
    EXPECT_EQ(m->ram_para[0x5C1], 0);
    EXPECT_EQ(u16(m->ram_para, 0x5C0 + 2), 1);   // geometry stays
    EXPECT_EQ(m->ZelGetCropID(3, 1), 2);

    EXPECT_EQ(m->ZelAddNewCrop(3, &c), 0);       // id 1 again, in entry 0
    m->ZelCropSourceInit();
    EXPECT_EQ(m->ram_para[0x5C1], 0x80);
    EXPECT_EQ(u16(m->ram_para, 0x5C0 + 2), 9);
    EXPECT_EQ(m->ZelGetCropID(3, 1), 1);

    engine->para_chg_flag = 0;
    m->ZelDeleteCrop(3, 5);                      // no such ordinal
    EXPECT_EQ(engine->para_chg_flag.load(), 0);
    EXPECT_EQ(m->ZelAddNewCrop(7, &c), 0);       // no ids for source 7: nothing stored
    EXPECT_EQ(m->ram_para[0x5D4 + 1], 0);
    EXPECT_EQ(engine->para_chg_flag.load(), 0);
}

TEST_F(WindowOpsTest, FullTableStoresNothing)
{
    for (unsigned e = 0; e < 40; ++e)
        putCrop(m->ram_para, e, 0, static_cast<int>(e + 1), 0, 0, 0, 0);
    m->ZelCropSourceInit();
    CROP_PARA p{0, 1, 1, 1, 1};
    EXPECT_EQ(m->ZelAddNewCrop(1, &p), 1);       // the id it would have used
    EXPECT_EQ(m->ZelAddNewCrop(0, &p), 0);       // source 0 has all 40 ids
    EXPECT_EQ(m->ZelGetSourceNum(1, 40), 0);
}

TEST_F(WindowOpsTest, SourceFiveOwnsIdsUpToForty)
{
    for (unsigned e = 0; e < 39; ++e)
        putCrop(m->ram_para, e, 5, static_cast<int>(e + 1), 0, 0, 0, 0);
    m->ZelCropSourceInit();
    EXPECT_EQ(m->ZelAddCropID(5), 40);
    EXPECT_EQ(g_cut_source_state[29], 0x7F);   // ids 33-39; byte 29 is source 5's last
    putCrop(m->ram_para, 39, 5, 40, 0, 0, 0, 0);
    m->ZelCropSourceInit();
    EXPECT_EQ(g_cut_source_state[29], 0xFF);
    EXPECT_EQ(m->ZelGetCropID(5, 40), 40);
    EXPECT_EQ(m->ZelGetSourceNum(5, 40), 40);
    EXPECT_EQ(m->ZelAddCropID(5), 0);
}

TEST_F(WindowOpsTest, SourceChangeLeavesTheUserModeUnlessOnePending)
{
    c331_manage* engine = makeCommitPoint();
    set16(m->ram_para, 0x362, 5);
    set16(m->ram_para_shadow, 0x362, 5);
    EXPECT_EQ(m->ZelSetImageSource(0, 4, 1), 0);
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 26 + 8), 4);
    EXPECT_EQ(u16(m->ram_para, 0x362), 0);
    EXPECT_EQ(engine->para_chg_flag.load(), 1);

    set16(m->ram_para, 0x362, 5);
    set16(m->ram_para_shadow, 0x362, 0);
    m->ZelSetImageSource(0, 3, 1);
    EXPECT_EQ(u16(m->ram_para, 0x362), 5);

    putCrop(m->ram_para, 7, 3, 1, 0, 0, 100, 100);
    m->ZelCropSourceInit();
    m->ZelSetImageSource(1, 3, 2);
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 52 + 8), 0x8007);
    m->ZelSetImageSource(2, 3, 2);              // no second crop
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 52 + 8), 0);
}

TEST_F(WindowOpsTest, WindowsAndPortsOutsideTheImageAreIgnored)
{
    c331_manage* engine = makeCommitPoint();
    unsigned char before[4096];
    std::memcpy(before, m->ram_para, sizeof before);
    EXPECT_EQ(m->ZelSetImageSource(0, 2, 16), 255);
    EXPECT_EQ(m->ZelSetImageSource(0, 2, static_cast<char>(200)), 255);
    EXPECT_EQ(m->ZelSetEDIDPara(6, 1, 2, 3), 255);
    EXPECT_EQ(m->ZelSetEDIDPara(-1, 1, 2, 3), 255);
    EXPECT_EQ(0, std::memcmp(before, m->ram_para, sizeof before));
    EXPECT_EQ(engine->para_chg_flag.load(), 0);
    short crop = 7;
    EXPECT_EQ(m->ZelGetImageSource(m->ram_para, 16, &crop, nullptr, 0), 0);
    EXPECT_EQ(crop, 0);

    EXPECT_EQ(m->ZelSetEDIDPara(5, 1280, 720, 50), 0);
    EXPECT_EQ(u16(m->ram_para, 0x380 + 30), 1280);
    EXPECT_EQ(u16(m->ram_para, 0x380 + 34), 50);
    EXPECT_EQ(engine->para_chg_flag.load(), 1);
}

TEST_F(WindowOpsTest, ImageSourceReadsTheImageOrASlot)
{
    short crop = -1;
    char index = -1;
    EXPECT_EQ(m->ZelGetImageSource(m->ram_para, 0, &crop, &index, 0), 2);
    EXPECT_EQ(crop, 0);

    // Slot 4: window 3 shows crop entry 7 of that slot, whose source is 4.
    unsigned char* content = m->ram_user_mode[3] + 2;
    set16(content, 0x8E0 + 26 * 3 + 8 - 0x380, 0x8007);
    content[0x5C0 - 0x380 + 70] = 4;
    EXPECT_EQ(m->ZelGetImageSource(content, 3, &crop, &index, 1), 4);
    EXPECT_EQ(crop, 1);
    EXPECT_EQ(index, 7);

    set16(m->ram_para, 0x8E0 + 8, 0x8000 + 45);    // names no entry of the table
    EXPECT_EQ(m->ZelGetImageSource(m->ram_para, 0, &crop, &index, 0), 0);
    EXPECT_EQ(crop, 1);

    // The last entry (39) is read; 40 would be the byte after the table.
    putCrop(m->ram_para, 39, 5, 1, 0, 0, 8, 8);
    m->ram_para[0x750] = 3;
    set16(m->ram_para, 0x8E0 + 8, 0x8000 + 39);
    EXPECT_EQ(m->ZelGetImageSource(m->ram_para, 0, &crop, &index, 0), 5);
    set16(m->ram_para, 0x8E0 + 8, 0x8000 + 40);
    EXPECT_EQ(m->ZelGetImageSource(m->ram_para, 0, &crop, &index, 0), 0);

    // Window 15 is the last record.
    EXPECT_EQ(m->ZelSetImageSource(0, 2, 15), 0);
    EXPECT_EQ(m->ZelGetImageSource(m->ram_para, 15, &crop, &index, 0), 2);
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 26 * 15 + 8), 2);
}

TEST_F(WindowOpsTest, SourceIdIsOnFollowsEnabledWindows)
{
    EXPECT_EQ(m->ZelSourceId_is_on(2), 1);    // window 0: input 2
    EXPECT_EQ(m->ZelSourceId_is_on(5), 0);    // window 1 shows 5 but is disabled
    EXPECT_EQ(m->ZelSourceId_is_on(0), 0);
    set16(m->ram_para, 0x8E0 + 26 * 5, 1);    // window 5: input 0 (EXT)
    EXPECT_EQ(m->ZelSourceId_is_on(0), 1);
    putCrop(m->ram_para, 3, 5, 1, 0, 0, 0, 0);
    set16(m->ram_para, 0x8E0 + 8, 0x8003);    // window 0 through crop entry 3 of input 5
    EXPECT_EQ(m->ZelSourceId_is_on(5), 1);
    EXPECT_EQ(m->ZelSourceId_is_on(2), 0);
    set16(m->ram_para, 0x8E0 + 26 * 5, 0);    // window 5 off; window 0 shows input 7, device 0
    set16(m->ram_para, 0x8E0 + 8, 7);
    EXPECT_EQ(m->ZelSourceId_is_on(7), 0);
    EXPECT_EQ(m->ZelSourceId_is_on(0), 1);
}

TEST_F(WindowOpsTest, FreezeAndBlackToggleTheSelectedWindow)
{
    c331_manage* engine = makeCommitPoint();
    g_image_current = 0;
    m->ZelSetImageFreeze();
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 18), 0x0002);
    m->ZelSetImageBlack();
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 18), 0x0003);
    m->ZelSetImageFreeze();
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 18), 0x0001);
    engine->para_chg_flag = 0;
    g_image_current = 1;                      // disabled: no toggle, the flag is still set
    m->ZelSetImageFreeze();
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 26 + 18), 0);
    EXPECT_EQ(engine->para_chg_flag.load(), 1);
}

TEST_F(WindowOpsTest, WritersWorkBeforeTheEngineExists)
{
    ASSERT_EQ(c331_manage::p_c331_manage, nullptr);
    EXPECT_EQ(m->ZelSetEDIDPara(0, 800, 600, 60), 0);
    EXPECT_EQ(u16(m->ram_para, 0x380), 800);
}
