// The receiving-card self-recovery tab on simulated cards: the check finds a faulty card, its line
// shows, the self-recovery clears it, with the page closed and reopened while a job runs.
#include <QPointer>

#include <filesystem>

#include "card_fixture.h"
#include "ledout/card_job_report.h"
#include "ledout/job_block.h"
#include "ledout/recovery_files.h"
#include "links/register_hooks.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/tip.h"
#include "ui/system/advancedoption.h"
#include "support/diagnostics.h"

namespace {

constexpr const char* kRecoveryFile = "/data/rcvrecovery/JYFX_wall";
constexpr const char* kTabGrey = "background-color: gray;color:rgb(255,255,255)";
constexpr const char* kTabOther = "background-color: #10101C;color:rgb(255,255,255)";
constexpr const char* kSelected = "background-color:#4777FF;color:#FFFFFF";
constexpr const char* kUnselected = "background-color:#10101C;color:#FFFFFF";

rcvfiles::Net net(uint16_t ledx, int cards)
{
    rcvfiles::Net n;
    n.ledx = ledx;
    for (int c = 0; c < cards; ++c) {
        rcvfiles::Op op;
        op.address = 0x200;
        op.data = {uint8_t(ledx), uint8_t(c), 0xAB, 0xCD};
        n.cards.push_back({op});
    }
    return n;
}

class RecoveryTest : public CardPageTest {
protected:
    void SetUp() override
    {
        CardPageTest::SetUp();
        withCards({{0, 3}, {1, 6}, {2, 3}});
        for (int port : {0, 1, 2})
            sim::cardChain().setConfigId(port, 0xA1A1);
    }

    static void writeRecoveryFile()
    {
        rcvfiles::Screen s;
        s.configId = 0xA1A1;
        s.nets = {net(0, 3), net(1, 6), net(2, 3)};
        zeltest::writeFile(kRecoveryFile, rcvfiles::recoveryFile({s}));
    }

    void openRecoveryTab()
    {
        click(g_option, "AdvanceButton");
        ASSERT_NE(g_advancedoption, nullptr);
        click(g_advancedoption, "Button_rcv_recovery");
        ASSERT_EQ(g_advancedoption->currentTab(), AdvancedOption::kTabRecovery);
    }

    QString entry(int k)
    {
        auto* frame = g_advancedoption->findChild<QFrame*>("frame_file");
        auto* l = frame ? frame->findChild<QLabel*>(k < 0 ? QString("label_empty") : QStringLiteral("entry_%1").arg(k))
                        : nullptr;
        return l ? l->text() : QString();
    }
};

}  // namespace

TEST_F(RecoveryTest, WithoutRecoveryFilesTheTabIsGreyUntilOneArrives)
{
    click(g_option, "AdvanceButton");
    auto* tab = child<QPushButton>(g_advancedoption, "Button_rcv_recovery");
    EXPECT_EQ(tab->styleSheet(), kTabGrey);
    click(g_advancedoption, "Button_rcv_recovery");
    EXPECT_EQ(g_advancedoption->currentTab(), AdvancedOption::kTabLcd);

    // A recovery file written over the links: the page runs language_changed.
    writeRecoveryFile();
    g_advancedoption->language_changed();
    EXPECT_EQ(tab->styleSheet(), kTabOther);
    click(g_advancedoption, "Button_rcv_recovery");
    EXPECT_EQ(g_advancedoption->currentTab(), AdvancedOption::kTabRecovery);
    EXPECT_EQ(entry(-1), "No receiving cards that need to be updated!");
}

TEST_F(RecoveryTest, CheckWithAllCardsIntactClosesTheRingAtTheEnd)
{
    writeRecoveryFile();
    openRecoveryTab();
    click(g_advancedoption, "Button_check");
    EXPECT_EQ(g_send_para[0], 5);
    EXPECT_EQ(g_send_para[1], 0);
    ASSERT_NE(g_qround_bar, nullptr);
    EXPECT_EQ(g_qround_bar->geometry(), QRect(300, 140, 200, 200));
    EXPECT_EQ(child<QPushButton>(g_advancedoption, "Button_check")->styleSheet(), kSelected);
    // While the ring shows, the tabs stay.
    click(g_advancedoption, "Button_LCDshow");
    EXPECT_EQ(g_advancedoption->currentTab(), AdvancedOption::kTabRecovery);

    ASSERT_TRUE(runJob());
    EXPECT_EQ(g_qround_bar, nullptr) << "100 closed the ring";
    EXPECT_EQ(entry(-1), "No receiving cards that need to be updated!");
    EXPECT_EQ(jobblock::u16(jobblock::kCheckResult), 255);
}

TEST_F(RecoveryTest, FaultyCardFoundThenRecoveredAcrossAReopenedPage)
{
    writeRecoveryFile();
    sim::cardChain().setFaultyCard(1, 4);
    openRecoveryTab();
    click(g_advancedoption, "Button_check");
    passes(3);
    QCoreApplication::processEvents();

    // Closed under the running job: the ring goes with the page and nothing dangles.
    QPointer<AdvancedOption> first = g_advancedoption;
    click(g_advancedoption, "Button_back");
    flushDeletes();
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(g_qround_bar, nullptr);
    passes(3);
    QCoreApplication::processEvents();

    // Reopened while the check still runs: the report reaches the new page.
    click(g_option, "AdvanceButton");
    ASSERT_TRUE(runJob());
    EXPECT_EQ(cardjobs::recovery_list(), QStringList{"01/02/05/06"});
    click(g_advancedoption, "Button_rcv_recovery");
    EXPECT_EQ(entry(0), "Find Screen01, LED02, Rcv<font color = #FFFFFF >05</font>");

    g_tip->hide();
    click(g_advancedoption, "Button_self_recovery");
    EXPECT_EQ(g_send_para[28], 16);
    EXPECT_EQ(g_send_para[0], 6);
    EXPECT_EQ(child<QPushButton>(g_advancedoption, "Button_self_recovery")->styleSheet(), kSelected);
    EXPECT_EQ(child<QPushButton>(g_advancedoption, "Button_check")->styleSheet(), kUnselected);
    ASSERT_TRUE(runJob());
    EXPECT_EQ(sim::cardChain().ram16(1, 4, 0x200), 0x0401) << "card 5 of port 2 got its data again";
    EXPECT_TRUE(cardjobs::recovery_list().isEmpty());
    EXPECT_EQ(entry(-1), "No receiving cards that need to be updated!") << "redrawn on code 99";
    EXPECT_TRUE(g_tip->isVisible());
    EXPECT_EQ(g_qround_bar, nullptr);
}

TEST_F(RecoveryTest, ACardBeyondItsPortsCountIsRedAndBlocksTheRecovery)
{
    writeRecoveryFile();
    openRecoveryTab();
    jobblock::set16(jobblock::kCheckResult, 4);   // as the check leaves it
    fromOtherThread([] { cardjobs::report_faulty_card("01/02/05/04"); });
    EXPECT_EQ(entry(0), "Find Screen01, LED02, Rcv<font color = #FF0000 >05</font>");
    g_send_para[28] = 0;
    click(g_advancedoption, "Button_self_recovery");
    EXPECT_EQ(g_send_para[0], 0);
    EXPECT_EQ(g_send_para[28], 0);
    EXPECT_EQ(g_qround_bar, nullptr);

    // Short entries are not drawn; the drawing never reads past the list.
    fromOtherThread([] { cardjobs::report_faulty_card("01/02"); });
    EXPECT_EQ(entry(0), QString());
    fromOtherThread([] { cardjobs::report_faulty_card("01/02/05"); });
    EXPECT_EQ(entry(0), QString());

    // The port's last card is within its count: white, and the recovery starts.
    fromOtherThread([] { cardjobs::report_faulty_card("01/02/04/04"); });
    EXPECT_EQ(entry(0), "Find Screen01, LED02, Rcv<font color = #FFFFFF >04</font>");
    auto* frame = g_advancedoption->findChild<QFrame*>("frame_file");
    EXPECT_EQ(frame->findChild<QPushButton*>("Button_previous"), nullptr) << "one entry: no paging";
    EXPECT_EQ(frame->findChild<QPushButton*>("Button_next"), nullptr);
    click(g_advancedoption, "Button_self_recovery");
    EXPECT_EQ(g_send_para[28], 16);
    EXPECT_EQ(g_send_para[0], 6);
    ASSERT_TRUE(runJob());
}

TEST_F(RecoveryTest, TouchingAnEntryPrintsItsPositionAndText)
{
    ZEL_SKIP_WITHOUT_DIAGNOSTICS();
    writeRecoveryFile();
    openRecoveryTab();
    jobblock::set16(jobblock::kCheckResult, 4);
    fromOtherThread([] { cardjobs::report_faulty_card("01/03/02/06"); });
    testing::internal::CaptureStdout();
    click(g_advancedoption->findChild<QFrame*>("frame_file"), "0");
    fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("\n zel_button_file_clicked ...file_select = 0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Find Screen01, LED03, Rcv<font color = #FFFFFF >02</font>"), std::string::npos) << out;
}

TEST_F(RecoveryTest, JobButtonsDoNothingWhileAJobRuns)
{
    writeRecoveryFile();
    openRecoveryTab();
    fpga_manage::set_job(3, 0);
    click(g_advancedoption, "Button_check");
    EXPECT_EQ(g_send_para[0], 3);
    EXPECT_EQ(child<QPushButton>(g_advancedoption, "Button_check")->styleSheet(), kUnselected);
    EXPECT_EQ(g_qround_bar, nullptr);
    fpga_manage::set_job(0, 0);
    g_usb_grade = 1;
    click(g_advancedoption, "Button_check");
    EXPECT_EQ(g_send_para[0], 0) << "not under an upgrade either";
    g_usb_grade = 0;
}

TEST_F(RecoveryTest, RecoveryFileChangesOverTheLinksReachThePageOnItsThread)
{
    click(g_option, "AdvanceButton");
    auto* tab = child<QPushButton>(g_advancedoption, "Button_rcv_recovery");
    EXPECT_EQ(tab->styleSheet(), kTabGrey);
    writeRecoveryFile();
    fromOtherThread([] { linkhooks::recoveryFilesChanged(false); });
    EXPECT_EQ(tab->styleSheet(), kTabOther) << "counted again";

    // Deleted while the tab is shown: the page goes back.
    click(g_advancedoption, "Button_rcv_recovery");
    std::filesystem::remove(root.at(kRecoveryFile));
    fromOtherThread([] { linkhooks::recoveryFilesChanged(true); });
    flushDeletes();
    EXPECT_EQ(g_advancedoption, nullptr);
    EXPECT_EQ(g_page_focus.load(), 5);
}
