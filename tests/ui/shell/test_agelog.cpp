// The factory aging log of the home page's tick.
#include <QLabel>

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
    sample(4, 7);       // +1, +5: the lowest steps of their buckets
    sample(9, 8);       // +5, +1
    EXPECT_EQ(factoryage_log_diff3, 2u);
    EXPECT_EQ(factoryage_log_diff5, 1u);
    EXPECT_EQ(factoryage_log_diff10, 2u);
    EXPECT_EQ(factoryage_log_diff20, 1u);
    EXPECT_EQ(factoryage_log_diffmore, 2u);
    EXPECT_EQ(factoryage_log2_diff3, 1u);
    EXPECT_EQ(factoryage_log2_diff5, 1u);
    EXPECT_EQ(factoryage_log2_diff10, 1u);
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
    G_timeTicks = 18000 - 1;
    tick();   // no FPGA manager, no sample
    EXPECT_TRUE(factoryage_log.empty());
}

TEST_F(ShellTest, AgingSampleReadsTheClockAndTheRegisters)
{
    factoryage_log.clear();
    g_mainwindow->getagelog();   // without an FPGA manager there is nothing to sample
    EXPECT_TRUE(factoryage_log.empty());
}

// ---- with the simulated FPGAs --------------------------------------------------------------------

#include "ledout/fpga_manage.h"
#include "platform/clock.h"
#include "sim/fpga_model.h"
#include "support/fpga_board.h"
#include "ui/shell/machinestate.h"

namespace {

class AgingFpgaTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fpga = zeltest::bringUpFpgas();
        board = sim::fpgaBoard();
        ASSERT_EQ(fpga->get_fpga_status(), 1) << "the simulated FPGAs come up";
    }

    sim::FpgaBoard* board = nullptr;
    fpga_manage* fpga = nullptr;
};

}  // namespace

TEST_F(AgingFpgaTest, SampleReadsRegistersFreshFromBothFpgas)
{
    factoryage_log.clear();
    const uint8_t values[2][3] = {{17, 3, 250}, {200, 9, 0}};
    for (int f = 0; f < 2; ++f) {
        board->fpga[f]->setReg(42, values[f][0]);
        board->fpga[f]->setReg(40, values[f][1]);
        board->fpga[f]->setReg(43, values[f][2]);
        board->fpga[f]->clearLog();
    }
    platform::setSimClock(QDateTime(QDate(2030, 6, 15), QTime(12, 34, 0)));   // the board's clock
    g_mainwindow->getagelog();
    ASSERT_EQ(factoryage_log.size(), 1u);
    const QStringList fields = factoryage_log[0].split(' ');
    ASSERT_EQ(fields.size(), 8);
    EXPECT_EQ(fields[0], "06-15");
    EXPECT_EQ(fields[1], "12:34");
    // Register 40 carries the lane-lock bits the FPGA keeps itself.
    EXPECT_EQ(fields.mid(2).join(' '), QStringLiteral("17 %1 250 200 %2 0")
                                           .arg(board->fpga[0]->reg(40))
                                           .arg(board->fpga[1]->reg(40)));
    for (int f = 0; f < 2; ++f)
        for (int reg : {42, 40, 43})
            EXPECT_EQ(board->fpga[f]->registerReads(reg), 1) << "FPGA " << f << " register " << reg;

    board->fpga[0]->setReg(42, 30);    // +13
    board->fpga[1]->setReg(42, 1);     // 1 - 200 + 256 = 57
    G_timeTicks = 2 * 18000 - 1;
    tick();   // the tick takes the sample now that the FPGAs are up
    ASSERT_EQ(factoryage_log.size(), 2u);
    EXPECT_EQ(factoryage_log_diff20, 1u);
    EXPECT_EQ(factoryage_log2_diffmore, 1u);

    tick(100);
    EXPECT_EQ(factoryage_log.size(), 2u) << "one sample per 18000 ticks";
    pc_cmd_valid = 1;
    G_timeTicks = 3 * 18000 - 1;
    tick();
    EXPECT_EQ(factoryage_log.size(), 2u) << "not while a link is busy";
}

TEST_F(AgingFpgaTest, StatusPageShowsPortLinksAndRunningFpgas)
{
    board->fpga[0]->setReg(128, 0x05);   // ports 1 and 3
    board->fpga[0]->setReg(144, 0x00);
    board->fpga[1]->setReg(128, 0x00);
    board->fpga[1]->setReg(144, 0x80);   // port 16 of output 2
    click(g_mainwindow, "machinestate");
    ASSERT_NE(g_machinestate, nullptr);
    const auto lit = [](int port) {
        return g_machinestate->findChild<QLabel*>(QStringLiteral("label_port_%1").arg(port))->styleSheet().contains(
            "#00D65B");
    };
    EXPECT_TRUE(lit(0));
    EXPECT_FALSE(lit(1));
    EXPECT_TRUE(lit(2));
    EXPECT_TRUE(lit(31));
    EXPECT_FALSE(lit(16));
    EXPECT_EQ(child<QLabel>(g_machinestate, "label_fpga_1")->text(), "Output 2: running");
}
