#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>

#include "param_fixture.h"
#include "unusable_file.h"
#include "platform/command_runner.h"
#include "platform/file_sync.h"

TEST(ModeFiles, NamesFollowTheSlotNumber)
{
    EXPECT_EQ(mode_file_path(0), "/data/modes/custom_mode1");
    EXPECT_EQ(mode_file_path(9), "/data/modes/custom_mode10");
    EXPECT_EQ(mode_osd_path(9), "/data/modes/MO0a.json");
    EXPECT_EQ(mode_osd_path(15), "/data/modes/MO10.json");
    EXPECT_EQ(mode_osd_path(2), "/data/modes/MO03.json");
}

TEST_F(ParamModelTest, SlotsLoadFromTheirFilesAtStart)
{
    std::vector<uint8_t> file(4096);
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<uint8_t>(i * 7);
    file[0] = file[1] = 0xAA;
    zeltest::writeFile("/data/modes/custom_mode2", file);
    ZelRamPara* m = start();
    EXPECT_EQ(m->ZelUserModeSaved(1), 1);
    EXPECT_EQ(0, std::memcmp(m->ram_user_mode[1], file.data(), 4096));
    EXPECT_EQ(m->ZelUserModeSaved(0), 0);
    EXPECT_EQ(m->ram_user_mode[0][0], 0xFF);
    EXPECT_EQ(m->ram_user_mode[0][1], 0xFF);
}

// A recalled user mode is held to the fields' ranges as a start holds the parameter file: a few
// bad fields are repaired and printed, a slot damaged as a whole changes nothing. Either way the
// image saved afterwards is one the next start keeps.
TEST_F(ParamModelTest, RecalledModeIsHeldToTheRangesAndTheNextStartKeepsTheFile)
{
    struct Row {
        const char* what;
        bool erased;   // the slot's content all 0xFF
        ZelRamPara::Recall result;
        const char* said;
    };
    const Row rows[] = {
        {"two fields out of range", false, ZelRamPara::Recall::Loaded,
         "user mode 4: brightness 0 (at 0x880): 1000 is out of range, 100 is used"},
        {"an erased slot", true, ZelRamPara::Recall::Damaged, "kinds of field out of range, the mode is not loaded"},
    };
    for (const Row& r : rows) {
        ZelRamPara* m = start();
        set16(m->ram_para, 0x300, 2);    // a language the factory file does not have
        set16(m->ram_para, 0x882, 70);   // contrast
        unsigned char* slot = m->ram_user_mode[3];
        std::memset(slot + 2, 0xFF, 4096);
        if (!r.erased) {
            std::memcpy(slot + 2, default_para_ramlist + 2 + 0x80, 3200);
            set16(slot + 2, 0x880 - 0x380, 1000);
            set16(slot + 2, 0x584 - 0x380, 60000);   // output 0's width
            set16(slot + 2, 0x8E0 + 18 - 0x380, 0x100);   // window 0 dot by dot over DVI and EXT side by side,
            set16(slot + 2, 0x8E0 + 22 - 0x380, 3);       // as PC software stores it
        }
        slot[0] = slot[1] = 0xAA;
        const uint16_t dbdBefore = u16(m->ram_para, 0x8E0 + 22);
        testing::internal::CaptureStderr();
        EXPECT_EQ(m->recall_user_mode(3), r.result) << r.what;
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(r.said), std::string::npos) << r.what << ": " << err;
        const bool loaded = r.result == ZelRamPara::Recall::Loaded;
        EXPECT_EQ(u16(m->ram_para, 0x362), loaded ? 4 : 0) << r.what;
        EXPECT_EQ(u16(m->ram_para, 0x882), loaded ? 50 : 70) << r.what;
        EXPECT_EQ(u16(m->ram_para, 0x880), 100) << r.what;
        EXPECT_EQ(u16(m->ram_para, 0x584), 1920) << r.what;
        EXPECT_EQ(u16(m->ram_para, 0x8E0 + 22), loaded ? 3 : dbdBefore) << r.what;

        ASSERT_EQ(m->save_parameter_file(), 0);
        testing::internal::CaptureStderr();
        m = start();
        err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.find("replaced by the defaults"), std::string::npos) << r.what << ": " << err;
        EXPECT_EQ(u16(m->ram_para, 0x300), 2) << r.what;
    }
}

TEST_F(ParamModelTest, ShortModeFileKeepsTheRestOfTheSlot)
{
    ZelRamPara* m = start();
    std::fill(m->ram_user_mode[4] + 2, m->ram_user_mode[4] + 4098, 0x33);
    zeltest::writeFile("/data/modes/custom_mode5", {0xAA, 0xAA, 1, 2, 3});
    EXPECT_EQ(m->mode_file_deal(4, 0), 1);
    EXPECT_EQ(m->ram_user_mode[4][4], 3);
    EXPECT_EQ(m->ram_user_mode[4][5], 0x33);
    EXPECT_EQ(m->ZelUserModeSaved(4), 1);
}

TEST_F(ParamModelTest, WritingCopiesTheImageAndTheOsdMenuWhenTheOsdIsOn)
{
    ZelRamPara* m = start();
    zeltest::writeText("/data/configs/omenu.json", "{\"menu\":[]}");
    set16(m->ram_para, 0x880, 33);
    EXPECT_EQ(m->mode_file_write(2, 1), 1);    // operation 1: image into the slot first
    std::vector<uint8_t> file = zeltest::readFile("/data/modes/custom_mode3");
    ASSERT_EQ(file.size(), 4096u);
    EXPECT_EQ(0, std::memcmp(file.data(), m->ram_user_mode[2], 4096));
    EXPECT_EQ(file[0], 0xAA);
    EXPECT_EQ(u16(file.data(), 2 + 0x880 - 0x380), 33);
    EXPECT_FALSE(zeltest::fileExists("/data/modes/MO03.json"));   // operation 1 never copies

    EXPECT_EQ(m->mode_file_write(2, 0), 1);    // OSD off: no copy
    EXPECT_FALSE(zeltest::fileExists("/data/modes/MO03.json"));
    set16(m->ram_para, 0x84C, 1);
    EXPECT_EQ(m->mode_file_write(2, 0), 1);
    EXPECT_EQ(zeltest::readText("/data/modes/MO03.json"), "{\"menu\":[]}");

    // With the OSD on, only operation 0 copies the menu; only operation 1 takes the image.
    set16(m->ram_para, 0x880, 55);
    for (int op : {1, 2}) {
        EXPECT_EQ(m->mode_file_write(4 + op, op), 1);
        EXPECT_FALSE(zeltest::fileExists(mode_osd_path(4 + op).toStdString())) << op;
    }
    for (int op : {0, 2}) {
        EXPECT_EQ(m->mode_file_write(2, op), 1);
        EXPECT_EQ(u16(zeltest::readFile("/data/modes/custom_mode3").data(), 2 + 0x880 - 0x380), 33) << op;
    }
    EXPECT_EQ(u16(zeltest::readFile("/data/modes/custom_mode6").data(), 2 + 0x880 - 0x380), 55);

    // The copy is written whole: a power cut leaves the old copy or the new one.
    zeltest::writeText("/data/configs/omenu.json", "{\"menu\":[\"a longer menu\"]}");
    ASSERT_TRUE(platform::files::watchPowerCuts());
    EXPECT_EQ(m->mode_file_write(2, 0), 1);
    platform::files::cutPower(platform::files::InPlace::CutShort);
    EXPECT_EQ(zeltest::readText("/data/modes/MO03.json"), "{\"menu\":[\"a longer menu\"]}");
}

TEST_F(ParamModelTest, FailedModeWriteLeavesTheSlot)
{
    ZelRamPara* m = start();
    zeltest::writeText("/data/modes/.custom_mode4.tmp/blocker", "x");   // temp path is a folder
    set16(m->ram_para, 0x880, 12);
    EXPECT_EQ(m->mode_file_write(3, 1), 0);
    EXPECT_EQ(m->ZelUserModeSaved(3), 0);
    EXPECT_EQ(u16(m->ram_user_mode[3] + 2, 0x880 - 0x380), 0);
}

TEST_F(ParamModelTest, DeletingRemovesTheOsdCopyOnlyWhenTheSlotHadTheOsdOn)
{
    ZelRamPara* m = start();
    for (int k : {5, 6}) {
        m->mode_file_write(k, 1);
        zeltest::writeText(mode_osd_path(k).toStdString(), "{}");
    }
    set16(m->ram_user_mode[5] + 2, 0x84C - 0x380, 1);
    set16(m->ram_user_mode[6] + 2, 0x84C - 0x380, 2);   // only the value 1 means "OSD on"
    EXPECT_EQ(m->mode_file_deal(5, 1), 0);
    EXPECT_EQ(m->mode_file_deal(6, 1), 0);
    for (int k : {5, 6}) {
        EXPECT_EQ(m->ZelUserModeSaved(k), 0);
        EXPECT_EQ(m->ram_user_mode[k][0], 0xFF);
        EXPECT_EQ(m->ram_user_mode[k][1], 0xFF);
        EXPECT_FALSE(zeltest::fileExists(mode_file_path(k).toStdString()));
    }
    EXPECT_EQ(u16(m->ram_user_mode[5] + 2, 0x84C - 0x380), 0);
    EXPECT_EQ(u16(m->ram_user_mode[6] + 2, 0x84C - 0x380), 2);
    EXPECT_FALSE(zeltest::fileExists("/data/modes/MO06.json"));
    EXPECT_TRUE(zeltest::fileExists("/data/modes/MO07.json"));
}

TEST_F(ParamModelTest, SlotIndexIsCheckedBeforeTheSlotIsTouched)
{
    ZelRamPara* m = start();
    unsigned char saved[16 * 4098];
    std::memcpy(saved, m->ram_user_mode, sizeof saved);
    zeltest::simCommands().clearJournal();
    EXPECT_EQ(m->mode_file_deal(16, 1), 0);
    EXPECT_EQ(m->mode_file_deal(-1, 1), 0);
    EXPECT_EQ(m->mode_file_write(16, 1), 0);
    EXPECT_EQ(m->ZelUserModeSaved(16), 0);
    EXPECT_TRUE(zeltest::simCommands().journal().empty());
    EXPECT_EQ(0, std::memcmp(saved, m->ram_user_mode, sizeof saved));
}

TEST_F(ParamModelTest, CurrentModeAndCircularSearch)
{
    ZelRamPara* m = start();
    set16(m->ram_para, 0x362, 16);
    EXPECT_EQ(m->ZelGetCurrentModeIndex(), 16u);
    set16(m->ram_para, 0x362, 17);
    EXPECT_EQ(m->ZelGetCurrentModeIndex(), 0u);

    EXPECT_EQ(m->ZelUserModeIndex(5, 1), 256);
    m->ram_user_mode[3][0] = m->ram_user_mode[3][1] = 0xAA;
    m->ram_user_mode[10][0] = m->ram_user_mode[10][1] = 0xAA;
    EXPECT_EQ(m->ZelUserModeIndex(5, 1), 10);
    EXPECT_EQ(m->ZelUserModeIndex(10, 2), 10);
    EXPECT_EQ(m->ZelUserModeIndex(10, 1), 3);
    EXPECT_EQ(m->ZelUserModeIndex(5, 0), 3);
    EXPECT_EQ(m->ZelUserModeIndex(3, 0), 10);
    EXPECT_EQ(m->ZelUserModeIndex(12, 1), 3);

    // Saved only when both marker bytes are AA.
    m->ram_user_mode[6][0] = 0xAA;
    m->ram_user_mode[6][1] = 0xFF;
    m->ram_user_mode[7][0] = 0xFF;
    m->ram_user_mode[7][1] = 0xAA;
    EXPECT_EQ(m->ZelUserModeSaved(6), 0);
    EXPECT_EQ(m->ZelUserModeSaved(7), 0);
    EXPECT_EQ(m->ZelUserModeIndex(5, 1), 10);

    m->ram_user_mode[15][0] = m->ram_user_mode[15][1] = 0xAA;   // user mode 16, the last
    EXPECT_EQ(m->ZelUserModeSaved(15), 1);
    EXPECT_EQ(m->ZelUserModeIndex(12, 1), 15);
    EXPECT_EQ(m->ZelUserModeIndex(0, 0), 15);
    EXPECT_EQ(m->ZelUserModeIndex(15, 2), 15);
    EXPECT_EQ(m->ZelUserModeIndex(15, 1), 3);
}

TEST_F(ParamModelTest, LanguageCheckFollowsTheMask)
{
    ZelRamPara* m = start();
    EXPECT_EQ(m->ZelLanguageChanged(), 0);
    m->ram_para[0x300] = 2;
    m->ram_para_shadow[0x300] = 0;
    g_lcd_lang_valid = 0x1001F;
    EXPECT_EQ(m->ZelLanguageChanged(), 1);
    EXPECT_EQ(g_language.load(), 2);
    m->ram_para[0x301] = 1;
    g_lcd_lang_valid = 0x03;
    EXPECT_EQ(m->ZelLanguageChanged(), 1);
    EXPECT_EQ(g_language.load(), 0);
    EXPECT_EQ(u16(m->ram_para, 0x300), 0);
    // A language of 32 or more is never offered, whatever the mask's bit of the same number modulo 32.
    m->ram_para[0x300] = 33;
    g_lcd_lang_valid = 0x06;
    EXPECT_EQ(m->ZelLanguageChanged(), 1);
    EXPECT_EQ(m->ram_para[0x300], 1);
    EXPECT_EQ(g_language.load(), 1);
}

TEST_F(ParamModelTest, DeletingAnEmptySlotRunsNoCommand)
{
    ZelRamPara* m = start();
    m->mode_file_write(2, 1);
    zeltest::simCommands().clearJournal();
    for (int k : {0, 1, 3})
        EXPECT_EQ(m->mode_file_deal(k, 1), 0);
    EXPECT_TRUE(zeltest::simCommands().journal().empty());
    // A slot with a file still has it removed, followed by a sync.
    EXPECT_EQ(m->mode_file_deal(2, 1), 0);
    EXPECT_FALSE(zeltest::fileExists(mode_file_path(2).toStdString()));
    const auto journal = zeltest::simCommands().journal();
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[0].rfind("rm  -rf  ", 0), 0u);
    EXPECT_EQ(journal[1], "sync");
}

TEST_F(ParamModelTest, ModeFileLoadsIntoItsSlotUnderTheModelMutex)
{
    // The links write and read the slots under the model's mutex.
    ZelRamPara* m = start();
    zeltest::writeFile("/data/modes/custom_mode4", {0xAA, 0xAA, 9});
    pthread_mutex_lock(&m->mutex);
    auto load = std::async(std::launch::async, [m] { return m->mode_file_deal(3, 0); });
    EXPECT_EQ(load.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    EXPECT_EQ(m->ram_user_mode[3][0], 0xFF);
    pthread_mutex_unlock(&m->mutex);
    EXPECT_EQ(load.get(), 1);
    EXPECT_EQ(m->ram_user_mode[3][2], 9);
}

// A mode file that is no file is moved aside and said at start; its slot is empty, and saving the
// mode again writes the file and ends the home page's alert.
TEST_F(ParamModelTest, UnusableModeFileIsSetAsideAndItsSlotEmpty)
{
    const std::string path = "/data/modes/custom_mode3";
    for (unusable::Kind kind : unusable::kKinds) {
        alerts::reset();
        unusable::forgetCopies(path);
        unusable::make(kind, path);
        testing::internal::CaptureStderr();
        ASSERT_TRUE(unusable::returnsInTime([this] { start(); }, path)) << unusable::name(kind);
        unusable::expectOneLineFor(testing::internal::GetCapturedStderr(), path, unusable::name(kind));
        ZelRamPara* m = ZelRamPara::p_zelrampara_config;
        EXPECT_EQ(m->ram_user_mode[2][0], 0xFF) << unusable::name(kind);
        EXPECT_EQ(m->ZelUserModeSaved(2), 0) << unusable::name(kind);
        EXPECT_TRUE(unusable::is(kind, path + ".bad")) << unusable::name(kind);
        EXPECT_EQ(m->mode_file_write(2, 1), 1);
        EXPECT_EQ(zeltest::readFile(path).size(), 4096u);
        EXPECT_FALSE(alerts::active(alerts::kFileReplaced)) << unusable::name(kind);
    }
}
