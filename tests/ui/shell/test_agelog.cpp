// The factory aging log of the home page's tick.
#include <QRegularExpression>

#include "shell_fixture.h"

namespace {

void sample(uint8_t a42, uint8_t b42, uint8_t a40 = 1, uint8_t a43 = 2)
{
    const uint8_t regs[6] = {a42, a40, a43, b42, 40, 43};
    MainWindow::append_age_log("12-06 21:30", regs);
}

}  // namespace

TEST_F(ShellTest, AgingEntryIsDateTimeAndSixRegisters)
{
    factoryage_log.clear();
    sample(200, 7, 11, 250);
    ASSERT_EQ(factoryage_log.size(), 1u);
    EXPECT_EQ(factoryage_log[0], "12-06 21:30 200 11 250 7 40 43");
}

TEST_F(ShellTest, AgingCountersSortTheStepOfRegister42)
{
    factoryage_log.clear();
    sample(10, 100);
    EXPECT_EQ(factoryage_log_diff3 + factoryage_log_diff5 + factoryage_log_diff10 + factoryage_log_diff20 +
                  factoryage_log_diffmore,
              0u)
        << "one entry has nothing to compare with";
    sample(12, 100);    // +2, FPGA 1 unchanged
    sample(16, 103);    // +4, +3
    sample(25, 113);    // +9, +10
    sample(44, 132);    // +19, +19
    sample(64, 131);    // +20, 131 - 132 + 256 = 255
    sample(3, 2);       // 3 - 64 + 256 = 195; 2 - 131 + 256 = 127
    sample(3, 2);       // no step: not counted
    EXPECT_EQ(factoryage_log_diff3, 1u);
    EXPECT_EQ(factoryage_log_diff5, 1u);
    EXPECT_EQ(factoryage_log_diff10, 1u);
    EXPECT_EQ(factoryage_log_diff20, 1u);
    EXPECT_EQ(factoryage_log_diffmore, 2u);
    EXPECT_EQ(factoryage_log2_diff3, 0u);
    EXPECT_EQ(factoryage_log2_diff5, 1u);
    EXPECT_EQ(factoryage_log2_diff10, 0u);
    EXPECT_EQ(factoryage_log2_diff20, 2u);
    EXPECT_EQ(factoryage_log2_diffmore, 2u);
}

TEST_F(ShellTest, AgingLogKeepsTheNewest3360Entries)
{
    factoryage_log.clear();
    for (int i = 0; i < 3365; ++i)
        sample(static_cast<uint8_t>(i), 0);
    ASSERT_EQ(factoryage_log.size(), MainWindow::kAgeLogMax);
    EXPECT_TRUE(factoryage_log.front().startsWith("12-06 21:30 5 ")) << qPrintable(factoryage_log.front());
    EXPECT_TRUE(factoryage_log.back().startsWith(QStringLiteral("12-06 21:30 %1 ").arg(3364 % 256)));
}

TEST_F(ShellTest, TickSamplesOnlyWithTheOutputFpgasUp)
{
    factoryage_log.clear();
    G_timeTicks = MainWindow::kAgeLogTicks - 1;
    tick();   // no FPGA manager, no sample
    EXPECT_TRUE(factoryage_log.empty());
}

TEST_F(ShellTest, AgingSampleReadsTheClockAndTheRegisters)
{
    factoryage_log.clear();
    g_mainwindow->getagelog();   // without an FPGA manager there is nothing to sample
    EXPECT_TRUE(factoryage_log.empty());
}
