#include <gtest/gtest.h>

#include <QRegularExpression>

#include "core/utils.h"
#include "platform/command_runner.h"
#include "support/test_root.h"

using namespace zeltest;

TEST(SimCommandRunner, RebootIsJournaledAndNeverRun)
{
    TempRoot root;
    EXPECT_EQ(Utils::system_mutex("reboot"), 0);
    auto journal = simCommands().journal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0], "reboot");
    // One line: local date and time to the millisecond, then the command.
    const std::string line = readText("/var/log/commands.log");
    const QRegularExpression stamped(
        QRegularExpression::anchoredPattern(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} reboot\n)"));
    EXPECT_TRUE(stamped.match(QString::fromStdString(line)).hasMatch()) << line;
}

TEST(SimCommandRunner, ScriptedStatusAndOutput)
{
    TempRoot root;
    simCommands().script("ifconfig eth0", {256, "eth0 up\n"});
    int raw = 0;
    EXPECT_EQ(Utils::system_mutex("ifconfig eth0 >/dev/null 2>&1", &raw), 255);
    EXPECT_EQ(raw, 256);
    bool ok = false;
    EXPECT_EQ(simCommands().capture("ifconfig eth0 | grep HWaddr", &ok), "eth0 up\n");
    EXPECT_TRUE(ok);
}

TEST(SimCommandRunner, FileCommandsStayInsideTheRoot)
{
    TempRoot root;
    writeText("/data/a.txt", "x\r\ny\r\n");
    EXPECT_EQ(simCommands().run("cp /data/a.txt /data/b.txt"), 0);
    EXPECT_EQ(simCommands().run("dos2unix /data/b.txt"), 0);
    EXPECT_EQ(readText("/data/b.txt"), "x\ny\n");
    EXPECT_EQ(simCommands().run("rm -rf /data/a.txt"), 0);
    EXPECT_FALSE(fileExists("/data/a.txt"));
    EXPECT_NE(simCommands().run("rm -rf /data/../../etc"), 0);
    EXPECT_NE(simCommands().run("cp relative.txt /data/x"), 0);
}

// The board's runner, with commands that only print: status and complete output.
TEST(ShellCommandRunner, StatusAndLongOutput)
{
    platform::ShellCommandRunner shell;
    EXPECT_EQ(shell.run("true"), 0);
    EXPECT_EQ(shell.run("exit 1"), 256);
    bool ok = false;
    std::string out = shell.capture("printf '%0600d\\nend\\n' 7", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(out, std::string(599, '0') + "7\nend\n");
    EXPECT_EQ(shell.capture("true", &ok), "");
}

TEST(SimCommandRunner, StartedDaemonsAnswerPidofUntilKilled)
{
    TempRoot root;
    EXPECT_EQ(simCommands().capture("pidof hostapd"), "");
    EXPECT_EQ(simCommands().run("hostapd -B /etc/rtl_hostapd_2G.conf"), 0);
    EXPECT_EQ(simCommands().capture("pidof hostapd"), "4242\n");
    EXPECT_EQ(simCommands().run("pidof udhcpd"), 256);
    simCommands().run("kill -9 $(pidof hostapd)");
    EXPECT_EQ(simCommands().capture("pidof hostapd"), "");
}

TEST(SimCommandRunner, JournalInMemoryStaysBoundedForALongRun)
{
    TempRoot root;
    const size_t limit = platform::SimCommandRunner::kJournalLimit;
    for (size_t i = 0; i < limit + 10; ++i)
        simCommands().run("pidof hostapd");
    simCommands().run("reboot");
    auto journal = simCommands().journal();
    EXPECT_LE(journal.size(), limit);
    EXPECT_GE(journal.size(), limit / 2);
    EXPECT_EQ(journal.back(), "reboot");
}

TEST(SimCommandRunner, JournalFileIsRotatedAtItsLimit)
{
    TempRoot root;
    // A journal just at the limit: the next command starts a new file, the old one is kept once.
    const std::string old(platform::SimCommandRunner::kJournalFileLimit, 'x');
    writeText("/var/log/commands.log", old);
    writeText("/var/log/commands.log.1", "oldest");
    simCommands().run("pidof hostapd");
    EXPECT_EQ(readText("/var/log/commands.log.1"), old);
    const std::string fresh = readText("/var/log/commands.log");
    EXPECT_LT(fresh.size(), 64u);
    EXPECT_NE(fresh.find(" pidof hostapd\n"), std::string::npos);
    // Below the limit lines are appended.
    simCommands().run("reboot");
    EXPECT_NE(readText("/var/log/commands.log").find(" reboot\n"), std::string::npos);
    EXPECT_NE(readText("/var/log/commands.log").find(" pidof hostapd\n"), std::string::npos);
}
