#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdlib>
#include <cstring>
#include <random>

#include <filesystem>
#include <thread>

#include "core/alerts.h"
#include "core/file_store.h"
#include "core/para_commit.h"
#include "core/syncupdate.h"
#include "platform/file_sync.h"
#include "param_fixture.h"

namespace {

class DispatcherTest : public ParamModelTest {
protected:
    void SetUp() override
    {
        ParamModelTest::SetUp();
        m = start();
        sync = SyncUpdate::pInstance();
        QObject::connect(m, &ZelRamPara::sig_update_para, sync, &SyncUpdate::para_sync);
        filestore::before_rename = [this](const std::string& temp) {
            if (temp.find("ram_device_info") != std::string::npos)
                ++parameterWrites;
            return !failWrites;
        };
        SyncUpdate::set_notice_hook([this](int kind) { notices.push_back(kind); });
        g_page_focus = 13;   // no page: only the language check
    }
    void TearDown() override
    {
        sync->finish_file_work();   // none of it left for the next test's root
        filestore::before_rename = nullptr;
        SyncUpdate::turn_over = nullptr;
        ZelRamPara::mode_removed = nullptr;
    }

    // Slot k as a link writes it (under the model's mutex): saved, tagged at image byte 0x400.
    void linkWritesSlot(int k, uint8_t tag)
    {
        pthread_mutex_lock(&m->mutex);
        m->ram_user_mode[k][0] = m->ram_user_mode[k][1] = 0xAA;
        m->ram_user_mode[k][2 + 0x400 - 0x380] = tag;
        pthread_mutex_unlock(&m->mutex);
    }
    // A word written into the image as the links' RAM write does (not committed).
    void linkWritesWord(unsigned addr, uint16_t value)
    {
        ParaCommit lock;
        unsigned char bytes[2] = {uint8_t(value), uint8_t(value >> 8)};
        pthread_mutex_lock(&m->mutex);
        m->ZelRamParaDeal(bytes, 2, addr);
        pthread_mutex_unlock(&m->mutex);
        m->mark_uncommitted();
    }
    // The update register's commit.
    static void linkCommits()
    {
        ParaCommit commit;
        commit.set(2);
    }

    uint16_t fileWord(unsigned addr)
    {
        std::vector<uint8_t> f = zeltest::readFile("/data/ram_device_info");
        return u16(f.data(), fileOffset(addr));
    }

    ZelRamPara* m = nullptr;
    SyncUpdate* sync = nullptr;
    int parameterWrites = 0;
    bool failWrites = false;
    std::vector<int> notices;
};

}  // namespace

TEST_F(DispatcherTest, SavesOnlyWhenThePersistedPartDiffers)
{
    m->test_signal(1);
    EXPECT_EQ(parameterWrites, 0);
    set16(m->ram_para, 0x880, 80);
    EXPECT_EQ(m->test_signal(1), 1);
    EXPECT_EQ(parameterWrites, 1);
    EXPECT_EQ(fileWord(0x880), 80);
    EXPECT_EQ(0, std::memcmp(m->ram_para, m->ram_para_shadow, 4096));
    std::vector<uint8_t> file = zeltest::readFile("/data/ram_device_info");
    EXPECT_EQ(file.size(), 4096u);
    EXPECT_EQ(file[0], 0xAA);
    EXPECT_EQ(file[1], 0xAA);

    m->ram_para[0xFFF] = 0x5A;   // the last persisted byte, then the first
    m->test_signal(1);
    EXPECT_EQ(parameterWrites, 2);
    EXPECT_EQ(zeltest::readFile("/data/ram_device_info")[fileOffset(0xFFF)], 0x5A);
    m->ram_para[0x300] = 1;
    m->test_signal(1);
    EXPECT_EQ(parameterWrites, 3);
    EXPECT_EQ(fileWord(0x300), 1);
}

TEST_F(DispatcherTest, ChangeBelow0x300NeitherSavesNorRefreshesTheShadow)
{
    set16(m->ram_para, 0x100, 1920);   // input summary
    m->ram_para[0x2FF] = 1;
    sync->para_sync(12);
    EXPECT_EQ(parameterWrites, 0);
    EXPECT_EQ(u16(m->ram_para_shadow, 0x100), 0);
    EXPECT_EQ(m->ram_para_shadow[0x2FF], 0);
}

TEST_F(DispatcherTest, SaveRequestStoresTheModeAndClearsTheRequest)
{
    set16(m->ram_para, 0x880, 61);
    set16(m->ram_para, 0x364, 3);
    sync->para_sync(1);
    EXPECT_EQ(m->ZelUserModeSaved(2), 1);
    EXPECT_EQ(0, std::memcmp(m->ram_user_mode[2] + 2, m->ram_para + 0x380, 3200));
    std::vector<uint8_t> mode = zeltest::readFile("/data/modes/custom_mode3");
    ASSERT_EQ(mode.size(), 4096u);
    EXPECT_EQ(u16(mode.data(), 2 + 0x880 - 0x380), 61);
    EXPECT_EQ(u16(m->ram_para, 0x362), 3);
    EXPECT_EQ(u16(m->ram_para, 0x364), 0);
    EXPECT_EQ(fileWord(0x362), 3);
    EXPECT_EQ(fileWord(0x364), 0);
    EXPECT_FALSE(zeltest::fileExists("/data/modes/custom_mode1"));

    set16(m->ram_para, 0x364, 16);   // the last user mode
    sync->para_sync(1);
    EXPECT_EQ(m->ZelUserModeSaved(15), 1);
    EXPECT_EQ(u16(m->ram_para, 0x362), 16);
    EXPECT_EQ(zeltest::readFile("/data/modes/custom_mode16").size(), 4096u);
}

TEST_F(DispatcherTest, ModeFilesAreWrittenWithTheModelMutexFree)
{
    // A mode file's write and sync take long: the links' RAM commands and the input summary must
    // not wait for them (a link waiting there would also hold the engine's commit point).
    int modeWrites = 0, writesUnderTheMutex = 0;
    filestore::before_rename = [&](const std::string& temp) {
        if (temp.find("custom_mode") == std::string::npos)
            return true;
        ++modeWrites;
        if (pthread_mutex_trylock(&m->mutex) != 0)
            ++writesUnderTheMutex;
        else
            pthread_mutex_unlock(&m->mutex);
        return true;
    };
    set16(m->ram_para, 0x364, 3);                     // save request
    sync->para_sync(1);
    m->ram_user_mode[2][300] ^= 1;                    // the slot then written over a link
    sync->para_sync(2);                               // and the rewrite of every saved slot
    sync->finish_file_work();
    EXPECT_EQ(modeWrites, 2);
    EXPECT_EQ(writesUnderTheMutex, 0);
    EXPECT_EQ(m->ZelUserModeSaved(2), 1);
    EXPECT_EQ(u16(m->ram_para, 0x364), 0);
}

// The save request word served when the engine reports a commit, which waits while the LED output
// hands over to a new size: saves acknowledged meanwhile are each the image at their commit, those
// of two clients both carried out, and a change committed after them is in neither.
TEST_F(DispatcherTest, SavesAcknowledgedBeforeTheReportAreEachTheImageAtTheirCommit)
{
    c331_manage* engine = makeCommitPoint();
    zeltest::writeText("/data/configs/omenu.json", "{\"menu\":[]}");
    linkWritesWord(0x880, 41);                 // client A: brightness, then its save of mode 5
    linkWritesWord(0x364, 5);
    linkCommits();
    linkWritesWord(0x882, 42);                 // client B: contrast and the OSD, then mode 7
    linkWritesWord(0x84C, 1);
    linkWritesWord(0x364, 7);
    linkCommits();
    EXPECT_EQ(u16(m->ram_para, 0x364), 7);     // the word, as peers read it until served
    linkWritesWord(0x880, 90);                 // client A again, after both were answered
    linkWritesWord(0x84C, 0);
    linkCommits();
    sync->para_sync(engine->para_chg_flag.exchange(0));   // the report of all three
    sync->finish_file_work();
    struct Row { int slot; uint16_t brightness, contrast; bool osdCopy; };
    for (const Row& r : {Row{4, 41, 50, false}, Row{6, 41, 42, true}}) {
        EXPECT_EQ(m->ZelUserModeSaved(r.slot), 1) << r.slot;
        const std::vector<uint8_t> file = zeltest::readFile(mode_file_path(r.slot).toStdString());
        ASSERT_EQ(file.size(), 4096u) << r.slot;
        EXPECT_EQ(u16(file.data(), 2 + 0x880 - 0x380), r.brightness) << r.slot;
        EXPECT_EQ(u16(file.data(), 2 + 0x882 - 0x380), r.contrast) << r.slot;
        EXPECT_EQ(zeltest::fileExists(mode_osd_path(r.slot).toStdString()), r.osdCopy) << r.slot;
    }
    EXPECT_EQ(u16(m->ram_para, 0x362), 7);
    EXPECT_EQ(u16(m->ram_para, 0x364), 0);

    // Two requests written before one commit: both are taken by it, the word holding the second.
    linkWritesWord(0x364, 2);
    linkWritesWord(0x364, 3);
    sync->para_sync(1);                         // a report before the commit serves neither
    EXPECT_EQ(m->ZelUserModeSaved(1) + m->ZelUserModeSaved(2), 0);
    linkCommits();
    linkWritesWord(0x880, 12);
    sync->para_sync(2);
    for (int slot : {1, 2})
        EXPECT_EQ(u16(m->ram_user_mode[slot] + 2, 0x880 - 0x380), 90) << slot;

    // A request for the mode whose word the shadow took from an image copied before the commit
    // (the word written, the parameter file being saved meanwhile) is carried out all the same,
    // and the word cleared.
    linkWritesWord(0x364, 3);
    set16(m->ram_para_shadow, 0x364, 3);
    linkWritesWord(0x880, 33);
    linkCommits();
    sync->para_sync(1);
    EXPECT_EQ(u16(m->ram_user_mode[2] + 2, 0x880 - 0x380), 33);
    EXPECT_EQ(u16(m->ram_para, 0x364), 0);
}

// With the OSD on a mode save is its mode file and its OSD copy: with no room for the copy the
// save is said to have failed as any save is, and the retry writes the copy.
TEST_F(DispatcherTest, AModeSaveWhoseOsdCopyFindsTheDiskFullIsSaidAndWrittenAgain)
{
    zeltest::writeText("/data/configs/omenu.json", "{\"menu\":[\"first\"]}");
    set16(m->ram_para, 0x84C, 1);
    set16(m->ram_para, 0x364, 3);
    sync->para_sync(1);
    ASSERT_EQ(zeltest::readText("/data/modes/MO03.json"), "{\"menu\":[\"first\"]}");
    zeltest::writeText("/data/configs/omenu.json", "{\"menu\":[\"second\"]}");
    set16(m->ram_para, 0x364, 3);               // the same mode again: only its copy is new
    platform::files::failAsFull({1 << 20});
    testing::internal::CaptureStderr();
    sync->para_sync(1);
    const std::string said = testing::internal::GetCapturedStderr();
    platform::files::failAsFull({});
    EXPECT_TRUE(alerts::active(alerts::kSettingsNotSaved));
    EXPECT_NE(said.find("cannot save the settings"), std::string::npos) << said;
    EXPECT_EQ(zeltest::readText("/data/modes/MO03.json"), "{\"menu\":[\"first\"]}");
    sync->para_sync(12);                        // the retry (or the next report)
    EXPECT_EQ(zeltest::readText("/data/modes/MO03.json"), "{\"menu\":[\"second\"]}");
    EXPECT_FALSE(alerts::active(alerts::kSettingsNotSaved));
}

// A mode deleted (by a link's FF FF and commit, or on the panel) and written again by another link
// while the delete removes its file: the slot keeps what was written, and its commit writes the file.
TEST_F(DispatcherTest, AModeWrittenAgainDuringAnotherClientsDeleteIsKept)
{
    for (const bool panel : {false, true}) {
        linkWritesSlot(4, 0x11);
        ASSERT_EQ(m->mode_file_write(4, 2), 1);
        ZelRamPara::mode_removed = [this](int k) {
            if (k == 4)
                linkWritesSlot(4, 0x22);        // PC B, between the delete's removal and its end
        };
        if (panel) {
            m->mode_file_deal(4, 1);
        } else {
            m->ram_user_mode[4][0] = m->ram_user_mode[4][1] = 0xFF;   // PC A
            sync->para_sync(2);
            sync->finish_file_work();
        }
        ZelRamPara::mode_removed = nullptr;
        sync->para_sync(2);                     // PC B's commit
        sync->finish_file_work();
        EXPECT_EQ(m->ZelUserModeSaved(4), 1) << panel;
        const std::vector<uint8_t> file = zeltest::readFile(mode_file_path(4).toStdString());
        ASSERT_EQ(file.size(), 4096u) << panel;
        EXPECT_EQ(file[2 + 0x400 - 0x380], 0x22) << panel;
    }
}

TEST_F(DispatcherTest, SaveRequestEqualToTheShadowIsNotServedAgain)
{
    set16(m->ram_para, 0x364, 4);
    set16(m->ram_para_shadow, 0x364, 4);
    sync->para_sync(1);
    EXPECT_EQ(m->ZelUserModeSaved(3), 0);
    EXPECT_EQ(u16(m->ram_para, 0x364), 4);
}

TEST_F(DispatcherTest, SaveRequestOutsideOneToSixteenIsOnlyCleared)
{
    unsigned char before[16 * 4098];
    std::memcpy(before, m->ram_user_mode, sizeof before);
    for (uint16_t n : {17, 0x100, 0xFFFF}) {
        set16(m->ram_para, 0x364, n);
        sync->para_sync(1);
        EXPECT_EQ(u16(m->ram_para, 0x364), 0) << n;
        EXPECT_EQ(u16(m->ram_para, 0x362), 0) << n;
    }
    EXPECT_EQ(0, std::memcmp(before, m->ram_user_mode, sizeof before));
    EXPECT_FALSE(zeltest::fileExists("/data/modes/custom_mode17"));
}

TEST_F(DispatcherTest, CodeTwoDeletesEmptySlotsAndRewritesSavedOnes)
{
    zeltest::writeFile("/data/modes/custom_mode5", std::vector<uint8_t>(4096, 0xAA));
    zeltest::writeFile("/data/modes/custom_mode8", std::vector<uint8_t>(4096, 0x11));
    m->ram_user_mode[4][0] = m->ram_user_mode[4][1] = 0xFF;   // user mode 5: deleted over the link
    m->ram_user_mode[5][0] = m->ram_user_mode[5][1] = 0xAA;   // user mode 6: written over the link
    m->ram_user_mode[5][100] = 0x42;
    m->ram_user_mode[7][0] = m->ram_user_mode[7][1] = 0x00;   // user mode 8: neither
    set16(m->ram_para, 0x364, 6);
    set16(m->ram_para_shadow, 0x364, 6);
    sync->para_sync(2);
    sync->finish_file_work();
    EXPECT_FALSE(zeltest::fileExists("/data/modes/custom_mode5"));
    std::vector<uint8_t> six = zeltest::readFile("/data/modes/custom_mode6");
    ASSERT_EQ(six.size(), 4096u);
    EXPECT_EQ(0, std::memcmp(six.data(), m->ram_user_mode[5], 4096));
    EXPECT_EQ(zeltest::readFile("/data/modes/custom_mode8"), std::vector<uint8_t>(4096, 0x11));
    EXPECT_EQ(u16(m->ram_para, 0x364), 0);
    EXPECT_EQ(m->ram_user_mode[4][0], 0xFF);
}

// A plain commit right behind the one that asks for the user-mode files: the engine's pass still
// reports 2, and every slot written over the link gets its file.
TEST_F(DispatcherTest, ACommitBehindAModeFileRequestKeepsTheRequest)
{
    c331_manage* engine = makeCommitPoint();
    engine->para_chg_flag = 0;
    for (int slot = 0; slot < 16; ++slot) {
        m->ram_user_mode[slot][0] = m->ram_user_mode[slot][1] = 0xAA;
        m->ram_user_mode[slot][300] = uint8_t(0x40 + slot);
    }
    {
        ParaCommit commit;   // the links' mode transfer
        commit.set(2);
    }
    {
        ParaCommit commit;   // a page, before the engine's pass
        set16(m->ram_para, 0x882, 66);
        commit.set(1);
    }
    sync->para_sync(engine->para_chg_flag.exchange(0));   // the engine's report
    sync->finish_file_work();
    for (int slot = 0; slot < 16; ++slot) {
        const std::vector<uint8_t> file = zeltest::readFile(mode_file_path(slot).toStdString());
        ASSERT_EQ(file.size(), 4096u) << slot;
        EXPECT_EQ(file[300], 0x40 + slot) << slot;
    }
}

// Either marker byte decides: one FF byte deletes, else one AA byte rewrites, else the file stays.
TEST_F(DispatcherTest, CodeTwoReadsEitherMarkerByteOfAHalfMarkedSlot)
{
    struct Row {
        int slot;
        uint8_t first, second;
        bool kept, rewritten;
    };
    const Row rows[] = {
        {1, 0xAA, 0xFF, false, false}, {2, 0xFF, 0xAA, false, false}, {3, 0xFF, 0x00, false, false},
        {9, 0xAA, 0x00, true, true},   {10, 0x00, 0xAA, true, true},  {11, 0x00, 0x5A, true, false},
    };
    for (const Row& r : rows) {
        zeltest::writeFile(mode_file_path(r.slot).toStdString(), std::vector<uint8_t>(4096, 0x11));
        m->ram_user_mode[r.slot][0] = r.first;
        m->ram_user_mode[r.slot][1] = r.second;
        m->ram_user_mode[r.slot][200] = uint8_t(0x30 + r.slot);
    }
    sync->para_sync(2);
    sync->finish_file_work();
    for (const Row& r : rows) {
        const std::string path = mode_file_path(r.slot).toStdString();
        ASSERT_EQ(zeltest::fileExists(path), r.kept) << r.slot;
        if (r.kept) {
            EXPECT_EQ(zeltest::readFile(path)[200], r.rewritten ? 0x30 + r.slot : 0x11) << r.slot;
        }
    }
}

TEST_F(DispatcherTest, FailedSaveKeepsTheShadowSoTheChangeIsSavedLater)
{
    set16(m->ram_para, 0x882, 70);
    failWrites = true;
    sync->para_sync(1);
    EXPECT_EQ(u16(m->ram_para_shadow, 0x882), 50);
    EXPECT_EQ(fileWord(0x882), 50);
    failWrites = false;
    sync->para_sync(1);
    EXPECT_EQ(fileWord(0x882), 70);
    EXPECT_EQ(u16(m->ram_para_shadow, 0x882), 70);
}

TEST_F(DispatcherTest, ASaveIntoAnUnwritableDataFolderIsShownUntilOneSucceeds)
{
    // The links answered the commit before this save: the failure is said on stderr and the
    // home page's alerts, and the next report (or the retry timer) saves it.
    std::filesystem::rename(root.at("/data"), root.at("/data.away"));
    zeltest::writeText("/data", "a file where the data folder should be");
    set16(m->ram_para, 0x884, 17);
    set16(m->ram_para, 0x364, 2);   // and a user mode
    testing::internal::CaptureStderr();
    sync->para_sync(1);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(alerts::active(alerts::kSettingsNotSaved));
    EXPECT_NE(said.find("cannot save the settings"), std::string::npos) << said;
    EXPECT_EQ(u16(m->ram_para_shadow, 0x884), 10);

    std::filesystem::remove(root.at("/data"));
    std::filesystem::rename(root.at("/data.away"), root.at("/data"));
    testing::internal::CaptureStderr();
    sync->para_sync(12);   // a report with nothing new of its own
    said = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(alerts::active(alerts::kSettingsNotSaved));
    EXPECT_NE(said.find("saved again"), std::string::npos) << said;
    EXPECT_EQ(fileWord(0x884), 17);
    std::vector<uint8_t> mode = zeltest::readFile("/data/modes/custom_mode2");
    ASSERT_EQ(mode.size(), 4096u);
    EXPECT_EQ(u16(mode.data(), 2 + 0x884 - 0x380), 17);
}

TEST_F(DispatcherTest, CommitFollowedBySaveIsStillSeenByTheEngine)
{
    c331_manage* engine = makeCommitPoint();
    pthread_mutex_lock(&engine->para_mutex);   // a page commits ...
    set16(m->ram_para, 0x886, 90);
    engine->para_chg_flag = 1;
    pthread_mutex_unlock(&engine->para_mutex);
    ZelRamPara::ram_para_save();                // ... and asks for the save at once
    EXPECT_EQ(fileWord(0x886), 90);             // saved,
    EXPECT_EQ(u16(m->ram_para_shadow, 0x886), 50);   // but the engine can still see the change
    EXPECT_EQ(engine->para_chg_flag.load(), 1);

    // The engine's pass: compare, apply, clear the flag, report.
    pthread_mutex_lock(&engine->para_mutex);
    EXPECT_NE(u16(m->ram_para, 0x886), u16(m->ram_para_shadow, 0x886));
    engine->para_chg_flag = 0;
    pthread_mutex_unlock(&engine->para_mutex);
    m->test_signal(1);
    EXPECT_EQ(u16(m->ram_para_shadow, 0x886), 90);
}

TEST_F(DispatcherTest, ShadowFollowsOnceTheEngineReleasesItsMutex)
{
    c331_manage* engine = makeCommitPoint();
    set16(m->ram_para, 0x884, 3);
    pthread_mutex_lock(&engine->para_mutex);   // the engine's pass is running
    sync->para_sync(1);
    EXPECT_EQ(fileWord(0x884), 3);
    EXPECT_EQ(u16(m->ram_para_shadow, 0x884), 10);
    pthread_mutex_unlock(&engine->para_mutex);
    QElapsedTimer t;
    t.start();
    while (u16(m->ram_para_shadow, 0x884) != 3 && t.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(u16(m->ram_para_shadow, 0x884), 3);
}

TEST_F(DispatcherTest, LongEnginePassDoesNotRewriteTheFileOnEveryRetry)
{
    c331_manage* engine = makeCommitPoint();
    set16(m->ram_para, 0x884, 4);
    pthread_mutex_lock(&engine->para_mutex);   // a pass that waits for the LED output
    sync->para_sync(1);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 100)                  // several retries fall due meanwhile
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(parameterWrites, 1);
    EXPECT_EQ(u16(m->ram_para_shadow, 0x884), 10);

    set16(m->ram_para, 0x886, 77);              // a change while still waiting is saved
    t.restart();
    while (fileWord(0x886) != 77 && t.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(fileWord(0x886), 77);
    EXPECT_EQ(parameterWrites, 2);

    pthread_mutex_unlock(&engine->para_mutex);
    t.restart();
    while (u16(m->ram_para_shadow, 0x886) != 77 && t.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(u16(m->ram_para_shadow, 0x884), 4);
    EXPECT_EQ(u16(m->ram_para_shadow, 0x886), 77);
    EXPECT_EQ(parameterWrites, 2);
}

TEST_F(DispatcherTest, UncommittedChangeKeepsTheShadowUntilTheEngineAppliedIt)
{
    c331_manage* engine = makeCommitPoint();
    {
        ParaCommit lock;                        // a RAM write of the protocol: no flag
        set16(m->ram_para, 0x880, 33);
        m->mark_uncommitted();
    }
    sync->para_sync(12);                        // another report comes first
    EXPECT_EQ(fileWord(0x880), 33);              // saved,
    EXPECT_EQ(u16(m->ram_para_shadow, 0x880), 100);   // but still a difference for the engine
    {
        ParaCommit commit;                      // the update register commits
        commit.set(2);
    }
    EXPECT_FALSE(m->has_uncommitted());
    pthread_mutex_lock(&engine->para_mutex);   // the engine's pass sees the change
    EXPECT_NE(u16(m->ram_para, 0x880), u16(m->ram_para_shadow, 0x880));
    engine->para_chg_flag = 0;
    pthread_mutex_unlock(&engine->para_mutex);
    sync->para_sync(1);                         // its report
    EXPECT_EQ(u16(m->ram_para_shadow, 0x880), 33);
    EXPECT_EQ(parameterWrites, 1);              // the same bytes are not written twice
}

TEST_F(DispatcherTest, PagesAreRefreshedByFocusWithTheirNotices)
{
    std::vector<std::pair<int, int>> calls;   // (page, code)
    for (int focus : {1, 4, 7, 9, 10, 11, 12, 16, 24})
        SyncUpdate::set_page_refresh(focus, [&calls, focus](int code) {
            calls.emplace_back(focus, code);
            return focus == 1;   // the home page has a notice request pending
        });
    EXPECT_FALSE(SyncUpdate::set_page_refresh(13, [](int) { return false; }));

    struct Case {
        int focus, code;
        std::vector<int> notices;
    } cases[] = {
        {1, 1, {1}},   {4, 1, {1}},   {7, 103, {}},  {10, 100, {3}}, {10, 101, {4}},
        {10, 102, {5}}, {10, 104, {}}, {10, 12, {1}}, {24, 100, {3}}, {24, 101, {4}},
        {24, 102, {5}}, {24, 1, {}},   {6, 1, {}},    // output page not open: nothing
        {9, 1, {1}},   {11, 1, {}},   {12, 99, {1}}, {16, 1, {}},
    };
    for (const Case& c : cases) {
        calls.clear();
        notices.clear();
        g_page_focus = c.focus;
        sync->para_sync(c.code);
        EXPECT_EQ(notices, c.notices) << c.focus << "/" << c.code;
        if (c.focus == 6)
            EXPECT_TRUE(calls.empty());
        else
            EXPECT_EQ(calls, (std::vector<std::pair<int, int>>{{c.focus, c.code}}));
    }
    SyncUpdate::clear_page_refresh(4);
    calls.clear();
    g_page_focus = 4;
    sync->para_sync(1);
    EXPECT_TRUE(calls.empty());
}

TEST_F(DispatcherTest, UnroutedFocusRunsOnlyTheLanguageCheck)
{
    SyncUpdate::set_page_refresh(5, [](int) {
        ADD_FAILURE() << "settings page called";
        return false;
    });
    g_page_focus = 13;
    g_lcd_lang_valid = 0x1F;
    m->ram_para[0x300] = 3;
    sync->para_sync(1);
    EXPECT_EQ(g_language.load(), 3);
    EXPECT_TRUE(notices.empty());
}

// The engine reports every pass, and the PC commits through the update register many times a
// second: while one report waits for the GUI thread the others merge into it (the highest code
// wins), and a saved mode whose file already holds its bytes is not written again.
TEST_F(DispatcherTest, AFloodOfModeFileReportsIsServedOnceAndWritesNoUnchangedFile)
{
    for (int slot = 0; slot < 16; ++slot) {
        m->ram_user_mode[slot][0] = m->ram_user_mode[slot][1] = 0xAA;
        m->ram_user_mode[slot][300] = uint8_t(0x40 + slot);
        ASSERT_EQ(m->mode_file_write(slot, 2), 1);
    }
    int modeWrites = 0;
    filestore::before_rename = [&](const std::string& temp) {
        modeWrites += temp.find("custom_mode") != std::string::npos;
        return true;
    };
    std::vector<int> serves;
    SyncUpdate::set_page_refresh(11, [&serves](int code) {
        serves.push_back(code);
        return false;
    });
    g_page_focus = 11;
    std::thread engine([this] {
        for (int i = 0; i < 100; ++i)
            m->test_signal(i == 40 ? 2 : 1 + i % 2);
    });
    engine.join();
    QCoreApplication::processEvents();
    sync->finish_file_work();
    EXPECT_EQ(serves, std::vector<int>{2});
    EXPECT_EQ(modeWrites, 0);

    // One slot changed over a link: only its file is written.
    m->ram_user_mode[6][300] = 0x11;
    std::thread again([this] { m->test_signal(2); });
    again.join();
    QCoreApplication::processEvents();
    sync->finish_file_work();
    EXPECT_EQ(modeWrites, 1);
    EXPECT_EQ(zeltest::readFile(mode_file_path(6).toStdString())[300], 0x11);
    SyncUpdate::clear_page_refresh(11);
}

// Saves (the panel's, or a PC's committed through register 162), deletes, slots written over a link
// (one of them while another link's or the panel's delete of the same mode runs) and 0x10 commits
// in a random order, the code-2 file work cut into random turns: after quiet each
// mode file and slot is what was acknowledged last. ZEL_MODE_ROUNDS rounds (20) from ZEL_MODE_SEED (1).
TEST_F(DispatcherTest, SlicedModeFileWorkNeverUndoesASaveOrADelete)
{
    auto env = [](const char* name, int fallback) { return std::getenv(name) ? std::atoi(std::getenv(name)) : fallback; };
    constexpr unsigned kTag = 2 + 0x400 - 0x380;   // slot and file offset of image byte 0x400
    std::mt19937 rng;
    SyncUpdate::turn_over = [&rng] { return rng() % 3 != 0; };
    const int first = env("ZEL_MODE_SEED", 1), rounds = env("ZEL_MODE_ROUNDS", 20);
    for (int seed = first; seed < first + rounds; ++seed) {
        rng.seed(uint32_t(seed));
        std::vector<int> model(16, -1);   // the tag of each saved mode, -1 for none
        for (int k = 0; k < 16; ++k)
            m->mode_file_deal(k, 1);
        std::string log;
        for (int step = 0; step < 40; ++step) {
            const int k = int(rng() % 16), tag = int(rng() % 256), op = int(rng() % 7);
            unsigned char* slot = m->ram_user_mode[k];
            if (op == 0) {
                m->ram_para[0x400] = uint8_t(tag);
                set16(m->ram_para, 0x364, uint16_t(k + 1));
                sync->para_sync(1);
            } else if (op == 1 && model[k] >= 0) {
                m->mode_file_deal(k, 1);   // the user-mode page's delete
            } else if (op == 2 || op == 3) {
                slot[0] = slot[1] = op == 2 ? 0xAA : 0xFF;
                slot[kTag] = uint8_t(tag);
            } else if (op == 6) {
                // Two links around a commit: one deletes mode k (FF FF and its commit; or the
                // panel does), the other writes it again, inside that delete when it runs before
                // the other's commit, and commits.
                bool written = false;
                auto rewrite = [&] {
                    if (!written)
                        linkWritesSlot(k, uint8_t(tag));
                    written = true;
                };
                ZelRamPara::mode_removed = [&](int removed) {
                    if (removed == k)
                        rewrite();
                };
                if (model[k] >= 0 && rng() % 2 == 0) {
                    m->mode_file_deal(k, 1);
                } else {
                    slot[0] = slot[1] = 0xFF;
                    sync->para_sync(2);
                    if (rng() % 2 == 0)
                        QCoreApplication::processEvents();
                }
                ZelRamPara::mode_removed = nullptr;
                rewrite();
                model[k] = tag;
            }
            if ((op >= 2 && op <= 4) || op == 6)
                sync->para_sync(2);
            if (op == 5)
                QCoreApplication::processEvents();
            if (op <= 3)
                model[k] = op == 0 || op == 2 ? tag : -1;
            log += " " + std::to_string(op) + ":" + std::to_string(k + 1) + (op == 0 || op == 2 || op == 6 ? "=" + std::to_string(tag) : "");
        }
        sync->finish_file_work();
        for (int k = 0; k < 16; ++k) {
            const std::string path = mode_file_path(k).toStdString();
            const std::vector<uint8_t> file = model[k] < 0 ? std::vector<uint8_t>() : zeltest::readFile(path);
            const std::vector<uint8_t> want = {0xAA, 0xAA, uint8_t(model[k])};
            const bool holds = model[k] < 0 ? !zeltest::fileExists(path) && m->ram_user_mode[k][0] == 0xFF
                                            : file.size() == 4096 && std::vector<uint8_t>{file[0], file[1], file[kTag]} == want &&
                                                  std::vector<uint8_t>{m->ram_user_mode[k][0], m->ram_user_mode[k][1], m->ram_user_mode[k][kTag]} == want;
            ASSERT_TRUE(holds) << "ZEL_MODE_SEED=" << seed << " ZEL_MODE_ROUNDS=1: mode " << k + 1 << " should be "
                               << (model[k] < 0 ? "empty" : "saved with " + std::to_string(model[k])) << " after (op:mode)" << log;
        }
    }
}
