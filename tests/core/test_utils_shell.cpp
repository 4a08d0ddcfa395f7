#include <gtest/gtest.h>

#include <QStringList>

#include "core/global.h"
#include "core/utils.h"
#include "platform/command_runner.h"
#include "support/test_root.h"

using namespace zeltest;

TEST(TimeSpace, CountsAcrossTheWrap)
{
    G_timeTicks = 3;
    EXPECT_EQ(Utils::getTimeSpace(5), 0xFFFFFFFDu);
    G_timeTicks = 5;
    EXPECT_EQ(Utils::getTimeSpace(5), 0u);
    G_timeTicks = 305;
    EXPECT_EQ(Utils::getTimeSpace(5), 300u);
    G_timeTicks = 0xFFFFFFFFu;
    EXPECT_EQ(Utils::getTimeSpace(0xFFFFFFF0u), 15u);
    G_timeTicks = 0;
    EXPECT_EQ(Utils::getTimeSpace(0xFFFFFFFFu), 0u);  // one less than the modular difference
}

TEST(Shell, SystemMutexStatus)
{
    TempRoot root;
    simCommands().script("false", {256, ""});
    int raw = 0;
    EXPECT_EQ(Utils::system_mutex("false", &raw), 255);
    EXPECT_EQ(raw, 256);
    EXPECT_EQ(Utils::system_mutex("true", &raw), 0);
    EXPECT_EQ(raw, 0);
    simCommands().script("killed", {-1, ""});
    EXPECT_EQ(Utils::system_mutex("killed"), 255);
}

TEST(Shell, ShellExecReturnsAllOutputWhateverThePieceSize)
{
    TempRoot root;
    const std::string line(500, 'x');
    simCommands().script("ifconfig eth0 | grep HWaddr", {0, "00:11:22:33:44:55\n" + line + "\n"});
    for (int size : {-5, 0, 1, 2, 100, 100000}) {
        EXPECT_EQ(Utils::shell_exec("ifconfig eth0 | grep HWaddr | awk '{print $5}'", size),
                  "00:11:22:33:44:55\n" + line + "\n")
            << "piece size " << size;
    }
    EXPECT_EQ(Utils::shell_exec("printf ''", 100), "");
    EXPECT_EQ(simCommands().journal().size(), 7u);
}

TEST(Shell, UsleepMutex)
{
    EXPECT_EQ(Utils::usleep_mutex(0), 0);
    EXPECT_EQ(Utils::msleep_mutex(1), 0);
    EXPECT_TRUE(Utils::_usleep_mutex.tryLock());
    Utils::_usleep_mutex.unlock();
}

TEST(Files, ExistenceTestsUseTheRoot)
{
    TempRoot root;
    writeText("/data/configs/a.ini", "x");
    EXPECT_TRUE(Utils::isFileExists("/data/configs/a.ini", true));
    EXPECT_TRUE(Utils::isFileExists("/data/configs/a.ini", false));
    EXPECT_TRUE(Utils::isFileExists("/data/configs", false));
    EXPECT_FALSE(Utils::isFileExists("/data/configs", true));
    EXPECT_FALSE(Utils::isFileExists("/data/configs/b.ini", false));
    EXPECT_TRUE(Utils::isDirExists("/data/configs"));
    EXPECT_FALSE(Utils::isDirExists("/data/configs/a.ini"));
    EXPECT_FALSE(Utils::isDirExists("/data/nothing"));
}

TEST(Files, FileListBySuffix)
{
    TempRoot root;
    writeText("/data/smartmapping/a.ZEL", "1");
    writeText("/data/smartmapping/b.zel", "2");
    writeText("/data/smartmapping/c.ZELZK", "3");
    writeText("/data/smartmapping/sub/d.ZEL", "4");
    QStringList list;
    Utils::get_file_list_smartpath(list, "/data/smartmapping", "ZEL");
    EXPECT_EQ(list, QStringList{"/data/smartmapping/a.ZEL"});
    list.clear();
    Utils::get_file_list_smartpath(list, "/data/none", "ZEL");
    EXPECT_TRUE(list.isEmpty());
}

TEST(Files, ChangeFileFormat)
{
    TempRoot root;
    EXPECT_EQ(Utils::change_file_formt("/data/missing.txt"), -1);
    EXPECT_TRUE(simCommands().journal().empty());

    writeText("/data/list.txt", "\xEF\xBB\xBFone\r\ntwo\r\n");
    EXPECT_EQ(Utils::change_file_formt("/data/list.txt"), 0);
    EXPECT_EQ(simCommands().journal(),
              (std::vector<std::string>{"dos2unix /data/list.txt", "sync",
                                        "sed -i 's/\xEF\xBB\xBF//g' /data/list.txt", "sync"}));
    EXPECT_EQ(readText("/data/list.txt"), "one\ntwo\n");
}

TEST(Files, ChangeFileFormatRefusesShellText)
{
    TempRoot root;
    writeText("/data/a b", "x");
    writeText("/data/x;reboot", "x");
    EXPECT_EQ(Utils::change_file_formt("/data/a b"), -1);
    EXPECT_EQ(Utils::change_file_formt("/data/x;reboot"), -1);
    EXPECT_TRUE(simCommands().journal().empty());
}
