// The smart-mapping page on simulated cards: the quick set-up wizard sending job 1, the scan-file
// lists and job 2, parameter curing (job 3), the mapping switch (job 4), and the page's guards
// while a job runs.
#include <QPointer>

#include <filesystem>
#include <QStackedWidget>
#include <QToolButton>

#include "card_fixture.h"
#include "ledout/card_job_report.h"
#include "ledout/job_block.h"
#include "ledout/recovery_files.h"
#include "ledout/scan_para.h"
#include "links/register_hooks.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/tip.h"
#include "ui/system/smartmapping.h"

namespace {

constexpr const char* kCellSelected = "background-color: #212435;border:1px solid #00D65B;";

class SmartMappingTest : public CardPageTest {
protected:
    void open()
    {
        click(g_option, "smart_mapping");
        ASSERT_NE(g_smartmapping, nullptr);
        EXPECT_EQ(g_page_focus.load(), SmartMapping::kFocus);
    }
    QWidget* grid() { return g_smartmapping->findChild<QFrame*>("frame_port"); }
    QString cellStyle(int i) { return child<QFrame>(grid(), QStringLiteral("cell_%1").arg(i))->styleSheet(); }
    QStringList rows()
    {
        QStringList out;
        auto* frame = g_smartmapping->findChild<QFrame*>("frame_file");
        for (int r = 0; r < SmartMapping::kPageRows; ++r)
            if (auto* l = frame ? frame->findChild<QLabel*>(QStringLiteral("file_%1").arg(r)) : nullptr)
                out << l->text() + (l->styleSheet().contains("4777FF") ? "*" : "") +
                           (l->styleSheet().contains("00FF00") ? "@" : "");
        return out;
    }
    static void scanFile(const std::string& path) { zeltest::writeText(path, "scan"); }
};

}  // namespace

TEST_F(SmartMappingTest, OpensOnTheCabinetStepWithItsDefaults)
{
    line_type.port = 9;
    open();
    EXPECT_EQ(g_smartmapping->currentIndex(), SmartMapping::kCabinet);
    EXPECT_EQ(text(g_smartmapping, "lineEdit_X"), "128");
    EXPECT_EQ(text(g_smartmapping, "lineEdit_Y"), "96");
    EXPECT_EQ(child<QPushButton>(g_smartmapping, "Button_shortcut")->styleSheet(), "background-color:#4777FF;color:#FFFFFF");
    EXPECT_EQ(line_type.port, 0);
    EXPECT_EQ(line_type.pattern, 1);
    EXPECT_EQ(image(g_smartmapping, "Button_route"), ":/png/line1.png");
    EXPECT_EQ(text(g_smartmapping, "label_title"), "Smart debugging screen");
}

TEST_F(SmartMappingTest, WizardStoresTheCabinetPortAndPattern)
{
    open();
    type(child<QWidget>(g_smartmapping, "lineEdit_X"), "160");
    click(g_smartmapping, "Button_next");
    EXPECT_EQ(line_type.width, 160);
    EXPECT_EQ(line_type.height, 96);
    EXPECT_EQ(g_smartmapping->currentIndex(), SmartMapping::kPort);
    EXPECT_EQ(cellStyle(0), kCellSelected);
    EXPECT_EQ(text(grid(), "text_0"), "LED1");

    click(g_smartmapping, "Button_wlan4");
    EXPECT_EQ(text(grid(), "text_2"), "LED27");
    click(grid(), "2");
    EXPECT_EQ(line_type.port, 26);
    EXPECT_EQ(cellStyle(2), kCellSelected);
    click(g_smartmapping, "Button_wlan1");
    for (int i = 0; i < 8; ++i)
        EXPECT_NE(cellStyle(i), kCellSelected) << i;

    click(g_smartmapping, "Button_next_2");
    click(g_smartmapping, "Button_route");
    EXPECT_EQ(g_smartmapping->currentIndex(), SmartMapping::kRouting);
    click(g_smartmapping, "Button_route7");
    EXPECT_EQ(line_type.pattern, 7);
    EXPECT_EQ(image(g_smartmapping, "Button_route"), ":/png/line7.png");
    EXPECT_EQ(child<QPushButton>(g_smartmapping, "Button_route")->text(), "Routing 7");
    EXPECT_EQ(g_smartmapping->currentIndex(), SmartMapping::kScreen);
    click(g_smartmapping, "Button_route");
    click(g_smartmapping, "Button_cancel");
    EXPECT_EQ(line_type.pattern, 7);
    EXPECT_EQ(g_smartmapping->currentIndex(), SmartMapping::kScreen);
}

TEST_F(SmartMappingTest, AWholeSmartMappingPlacesEveryCard)
{
    withCards({{18, 4}});
    open();
    click(g_smartmapping, "Button_next");
    click(g_smartmapping, "Button_wlan3");
    click(grid(), "2");   // port 18
    click(g_smartmapping, "Button_next_2");
    type(child<QWidget>(g_smartmapping, "lineEdit_line"), "2");
    type(child<QWidget>(g_smartmapping, "lineEdit_column"), "2");
    type(child<QWidget>(g_smartmapping, "lineEdit_horzion"), "10");
    type(child<QWidget>(g_smartmapping, "lineEdit_vert"), "20");
    click(g_smartmapping, "Button_route");
    click(g_smartmapping, "Button_route7");
    type(child<QWidget>(g_smartmapping, "lineEdit_X"), "128");

    std::vector<int> progress;
    QObject::connect(g_smartmapping, &SmartMapping::sig_qround_bar_update, [&](int v) { progress.push_back(v); });
    click(g_smartmapping, "Button_send");
    EXPECT_EQ(fpga_manage::job_word(), 1);
    ASSERT_NE(g_qround_bar, nullptr);

    // A second job, Back, the menu and Previous wait for the ring.
    click(g_smartmapping, "Button_confirm");
    EXPECT_EQ(fpga_manage::job_word(), 1);
    click(g_smartmapping, "Button_back");
    click(g_smartmapping, "Button_shortcut");
    click(g_smartmapping, "Button_front_3");
    EXPECT_NE(g_smartmapping, nullptr);
    EXPECT_EQ(g_smartmapping->currentIndex(), SmartMapping::kScreen);

    ASSERT_TRUE(runJob());
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    EXPECT_EQ(g_qround_bar, nullptr) << "the ring closed at 100";
    // Cabinet 128 x 96 (the default height), pattern 7, offsets 10 and 20.
    const std::pair<unsigned, unsigned> expect[4] = {{10, 20}, {10, 116}, {138, 116}, {138, 20}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(sim::cardChain().ram16(18, i, 0x180), expect[i].first) << i;
        EXPECT_EQ(sim::cardChain().ram16(18, i, 0x182), expect[i].second) << i;
    }
    click(g_smartmapping, "Button_back");
    flushDeletes();
    EXPECT_EQ(g_smartmapping, nullptr);
}

TEST_F(SmartMappingTest, RowsAboveAByteKeepTheirLowByte)
{
    open();
    click(g_smartmapping, "Button_next");
    click(g_smartmapping, "Button_next_2");
    type(child<QWidget>(g_smartmapping, "lineEdit_line"), "300");
    type(child<QWidget>(g_smartmapping, "lineEdit_column"), "3");
    type(child<QWidget>(g_smartmapping, "lineEdit_horzion"), "70000");
    type(child<QWidget>(g_smartmapping, "lineEdit_vert"), "65541");
    click(g_smartmapping, "Button_send");
    EXPECT_EQ(line_type.rows, 44);
    EXPECT_EQ(line_type.columns, 3);
    EXPECT_EQ(line_type.x_offset, 4464) << "70000 keeps its low 16 bits";
    EXPECT_EQ(line_type.y_offset, 5);
}

TEST_F(SmartMappingTest, ScanFileListsDeviceFilesThenTheStick)
{
    scanFile("/data/smartmapping/a.jyfile");
    scanFile("/data/smartmapping/b.jyfile");
    for (int k = 0; k < 5; ++k)
        scanFile("/mnt/usb1/s" + std::to_string(k) + ".jyfile");
    scanFile("/mnt/usb1/UPPER.JYFILE");
    scanFile("/mnt/usb1/x.jyfile.bak");
    fpga_manage::pInstance();
    open();
    EXPECT_EQ(g_smartmapping->scanFilesAvailable(), 2u);
    click(g_smartmapping, "Button_loadscan");
    EXPECT_EQ(g_smartmapping->currentIndex(), SmartMapping::kLoadPort);
    click(g_smartmapping, "Button_next_5");
    EXPECT_EQ(g_smartmapping->currentIndex(), SmartMapping::kFileList);
    ASSERT_EQ(g_smartmapping->filePaths().size(), 7);
    EXPECT_EQ(g_smartmapping->lastPage(), 1);
    const QStringList page0 = rows();
    ASSERT_EQ(page0.size(), 5);
    EXPECT_TRUE(page0[0].endsWith("*")) << qPrintable(page0[0]);
    EXPECT_FALSE(page0[1].contains("@"));
    EXPECT_TRUE(page0[2].endsWith("@"));
    EXPECT_TRUE(g_jyfile_name.startsWith("/data/smartmapping/"));
    EXPECT_EQ(g_jyfile_name, g_smartmapping->chosenFile());

    click(g_smartmapping->findChild<QFrame*>("frame_file"), "Button_next");
    EXPECT_EQ(rows().size(), 2);
    EXPECT_TRUE(g_jyfile_name.isEmpty()) << "page 1 chooses nothing";
    EXPECT_EQ(g_smartmapping->findChild<QFrame*>("frame_file")->findChild<QPushButton*>("Button_next"), nullptr);
    EXPECT_NE(g_smartmapping->findChild<QFrame*>("frame_file")->findChild<QPushButton*>("Button_previous"), nullptr);
    click(g_smartmapping->findChild<QFrame*>("frame_file"), "1");
    EXPECT_TRUE(g_jyfile_name.startsWith("/mnt/usb1/s"));

    // Unplugged: the list rebuilds without the stick's files; after leaving the flow nothing.
    std::filesystem::remove_all(root.at("/mnt/usb1"));
    model->test_signal(101);
    EXPECT_EQ(g_smartmapping->filePaths().size(), 2);
    EXPECT_EQ(g_tip->kind(), TIP::kUsbOut);
    click(g_smartmapping, "Button_paraweld");
    scanFile("/mnt/usb1/late.jyfile");
    model->test_signal(101);
    EXPECT_EQ(g_smartmapping->filePaths().size(), 2);
    // A stick ready brings the list to the front from any page.
    model->test_signal(102);
    EXPECT_EQ(g_smartmapping->currentIndex(), SmartMapping::kFileList);
    EXPECT_EQ(g_smartmapping->filePaths().size(), 3);
    // Back to the port step the list is still the one built: unplugging brings it back.
    click(g_smartmapping, "Button_front_6");
    EXPECT_EQ(g_smartmapping->currentIndex(), SmartMapping::kLoadPort);
    model->test_signal(101);
    EXPECT_EQ(g_smartmapping->currentIndex(), SmartMapping::kFileList);
}

TEST_F(SmartMappingTest, FileCountsStopAtAHundred)
{
    for (int k = 0; k < 300; ++k)
        scanFile("/mnt/usb1/f" + std::to_string(k) + ".jyfile");
    open();
    EXPECT_EQ(g_smartmapping->scanFilesAvailable(), 100u);
    click(g_smartmapping, "Button_loadscan");
    click(g_smartmapping, "Button_next_5");
    EXPECT_EQ(g_smartmapping->filePaths().size(), 100);
    EXPECT_EQ(g_smartmapping->lastPage(), 19);
}

TEST_F(SmartMappingTest, LoadingAScanFileFromTheStick)
{
    withCards({{9, 3}});
    rcvfiles::Op op;
    op.address = 0x4000;
    op.data = {0x11, 0x22, 0x33, 0x44};
    zeltest::writeFile("/mnt/usb1/panel.jyfile", rcvfiles::scanFile({op}));
    open();
    click(g_smartmapping, "Button_loadscan");
    click(g_smartmapping, "Button_wlan6");
    click(grid(), "1");   // port 9
    EXPECT_EQ(line_type.port, 9);
    click(g_smartmapping, "Button_next_5");
    EXPECT_EQ(g_jyfile_name, "/mnt/usb1/panel.jyfile");
    click(g_smartmapping, "Button_load");
    EXPECT_EQ(fpga_manage::job_word(), 2);

    // The choice cannot change under the running job: the list and a USB event leave the job's copy.
    click(g_smartmapping, "Button_front_6");
    model->test_signal(102);
    EXPECT_EQ(g_jyfile_name, "/mnt/usb1/panel.jyfile");
    ASSERT_TRUE(runJob());
    for (int card = 0; card < 3; ++card)
        EXPECT_EQ(sim::cardChain().ram16(9, card, 0x4000), 0x2211) << card;
    EXPECT_EQ(g_qround_bar, nullptr);
}

TEST_F(SmartMappingTest, AStickPluggedIntoTheOpenPageEnablesLoad)
{
    withCards({{0, 2}});
    std::filesystem::create_directories(root.at("/data/smartmapping"));   // the device holds none
    open();
    EXPECT_EQ(g_smartmapping->scanFilesAvailable(), 0u);
    auto* loadscan = child<QPushButton>(g_smartmapping, "Button_loadscan");
    EXPECT_EQ(loadscan->styleSheet(), "background-color: gray;border:2px;color: #FFFFFF");

    rcvfiles::Op op;
    op.address = 0x4000;
    op.data = {0x5A, 0xA5};
    zeltest::writeFile("/mnt/usb1/stick.jyfile", rcvfiles::scanFile({op}));
    model->test_signal(102);
    EXPECT_EQ(g_smartmapping->currentIndex(), SmartMapping::kFileList);
    EXPECT_EQ(g_smartmapping->scanFilesAvailable(), 1u);
    EXPECT_EQ(loadscan->styleSheet(), "background-color:#10101C;color: #FFFFFF");
    EXPECT_EQ(g_jyfile_name, "/mnt/usb1/stick.jyfile");
    click(g_smartmapping, "Button_load");
    EXPECT_EQ(fpga_manage::job_word(), 2);
    ASSERT_TRUE(runJob());
    EXPECT_EQ(sim::cardChain().ram16(0, 1, 0x4000), 0xA55A);

    // Unplugged: the list and the count lose the stick's file together.
    std::filesystem::remove_all(root.at("/mnt/usb1"));
    model->test_signal(101);
    EXPECT_EQ(g_smartmapping->scanFilesAvailable(), 0u);
    EXPECT_EQ(loadscan->styleSheet(), "background-color: gray;border:2px;color: #FFFFFF");
    click(g_smartmapping, "Button_load");
    EXPECT_EQ(fpga_manage::job_word() & 0xFF, 0);
}

TEST_F(SmartMappingTest, LoadNeedsAChosenFile)
{
    open();
    click(g_smartmapping, "Button_loadscan");
    EXPECT_EQ(g_smartmapping->currentIndex(), SmartMapping::kCabinet) << "no scan files: the menu is inert";
    EXPECT_EQ(child<QPushButton>(g_smartmapping, "Button_loadscan")->styleSheet(),
              "background-color: gray;border:2px;color: #FFFFFF");
    g_smartmapping->scan_file_list();
    click(g_smartmapping, "Button_load");
    EXPECT_EQ(fpga_manage::job_word() & 0xFF, 0);
}

TEST_F(SmartMappingTest, CuringSavesEveryCard)
{
    withCards({{1, 2}, {20, 3}});
    open();
    click(g_smartmapping, "Button_paraweld");
    EXPECT_EQ(g_smartmapping->currentIndex(), SmartMapping::kCuring);
    click(g_smartmapping, "Button_confirm");
    EXPECT_EQ(fpga_manage::job_word(), 3);
    ASSERT_TRUE(runJob());
    EXPECT_EQ(sim::cardChain().card(1, 0).saves, 1);
    EXPECT_EQ(sim::cardChain().card(20, 0).saves, 1);
}

TEST_F(SmartMappingTest, MappingSwitchSetsBit7OnBothFpgasAndTheCards)
{
    withCards({{0, 2}});
    sim::fpgaBoard()->fpga[0]->setReg(0, 0x81);
    sim::fpgaBoard()->fpga[1]->setReg(0, 0x01);
    open();
    click(g_smartmapping, "Button_mapping");
    EXPECT_EQ(g_smartmapping->currentIndex(), SmartMapping::kMapping);
    EXPECT_EQ(image(g_smartmapping, "Button_mapping_state"), sys::kOff);

    click(g_smartmapping, "Button_mapping_state");
    EXPECT_EQ(sim::fpgaBoard()->fpga[0]->reg(0) & 0x80, 0x80);
    EXPECT_EQ(sim::fpgaBoard()->fpga[1]->reg(0), 0x81) << "the other bits stay";
    EXPECT_EQ(jobblock::u32(jobblock::kParameter), 9u);
    EXPECT_EQ(image(g_smartmapping, "Button_mapping_state"), sys::kOn);
    ASSERT_TRUE(runJob());
    EXPECT_EQ(sim::cardChain().card(0, 1).regs[3] & 0x0F, 9);

    click(g_smartmapping, "Button_mapping_state");
    EXPECT_EQ(sim::fpgaBoard()->fpga[0]->reg(0) & 0x80, 0);
    EXPECT_EQ(sim::fpgaBoard()->fpga[1]->reg(0) & 0x80, 0);
    EXPECT_EQ(jobblock::u32(jobblock::kParameter), 0u);
    ASSERT_TRUE(runJob());

    // Set on FPGA 1 alone is off as well; the switch then turns both on.
    sim::fpgaBoard()->fpga[1]->setReg(0, 0x80);
    click(g_smartmapping, "Button_mapping");
    EXPECT_EQ(image(g_smartmapping, "Button_mapping_state"), sys::kOff);
    click(g_smartmapping, "Button_mapping_state");
    EXPECT_EQ(sim::fpgaBoard()->fpga[0]->reg(0) & 0x80, 0x80);
    EXPECT_EQ(jobblock::u32(jobblock::kParameter), 9u);
    ASSERT_TRUE(runJob());
}

TEST_F(SmartMappingTest, AJobStartsOnlyWhenNoneRuns)
{
    open();
    fpga_manage::set_job(5, 0);   // the self-recovery check, started elsewhere
    click(g_smartmapping, "Button_paraweld");
    click(g_smartmapping, "Button_confirm");
    EXPECT_EQ(fpga_manage::job_word(), 5);
    EXPECT_EQ(g_qround_bar, nullptr);
    fpga_manage::set_job(0, 0);
    g_usb_grade = 1;
    click(g_smartmapping, "Button_confirm");
    EXPECT_EQ(fpga_manage::job_word(), 0);
    g_usb_grade = 0;
}

TEST_F(SmartMappingTest, APageDestroyedUnderARunningJobLeavesNothingBehind)
{
    withCards({{0, 2}});
    open();
    click(g_smartmapping, "Button_paraweld");
    click(g_smartmapping, "Button_confirm");
    ASSERT_NE(g_qround_bar, nullptr);
    delete g_smartmapping;
    EXPECT_EQ(g_smartmapping, nullptr);
    EXPECT_EQ(g_qround_bar, nullptr);
    EXPECT_FALSE(cardjobs::attached(cardjobs::Page::SmartMapping));
    ASSERT_TRUE(runJob());   // its progress goes nowhere
}

TEST_F(SmartMappingTest, ScanFileChangesOverTheLinksCloseThePageUnlessAJobRuns)
{
    fpga_manage::pInstance();
    open();
    click(g_smartmapping, "Button_paraweld");
    click(g_smartmapping, "Button_confirm");
    fromOtherThread([] { linkhooks::scanFilesChanged(); });
    EXPECT_NE(g_smartmapping, nullptr) << "the ring keeps the page";
    g_qround_bar->para_sync(100);
    fpga_manage::set_job(0, 0);
    fromOtherThread([] { linkhooks::scanFilesChanged(); });
    flushDeletes();
    EXPECT_EQ(g_smartmapping, nullptr);
    EXPECT_EQ(g_page_focus.load(), 5);
}

TEST_F(SmartMappingTest, RussianNextAndPreviousAndTheGridFollowTheLanguage)
{
    open();
    click(g_smartmapping, "Button_next");
    ram_set_u16(model->ram_para, ramaddr::kLanguage, 2);
    model->test_signal(1);
    EXPECT_EQ(child<QPushButton>(g_smartmapping, "Button_next_2")->text(), QString::fromUtf8("Далее"));
    EXPECT_EQ(child<QPushButton>(g_smartmapping, "Button_front_2")->text(), QString::fromUtf8("Назад"));
    ram_set_u16(model->ram_para, ramaddr::kLanguage, 0);
    model->test_signal(1);
    EXPECT_EQ(text(grid(), "text_0"), QString::fromUtf8("网口LED1"));
}
