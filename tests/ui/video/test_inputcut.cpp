// The input crop page: cards and pages of an input's crops, adding, editing and deleting through
// the form, and what reaches the crop table, the engine and the parameter file.
#include "core/alias.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/option.h"
#include "ui/video/imagelayout.h"
#include "ui/video/inputchoose.h"
#include "ui/video/inputcut.h"
#include "sim/video_chip_crop.h"
#include "support/video_input.h"
#include "video_fixture.h"

using namespace ramaddr;

namespace {

class InputCutTest : public VideoPageTest {
protected:
    InputCut* openCut()
    {
        click(g_mainwindow, "option");
        click(g_option, "input_cut");
        EXPECT_NE(g_inputcut, nullptr);
        EXPECT_EQ(g_page_focus.load(), InputCut::kFocus);
        return g_inputcut;
    }
    QWidget* cards() { return child<QWidget>(g_inputcut, "frame_source"); }
    QString cardName(int place) { return text(cards(), QStringLiteral("label_name_%1").arg(place)); }
    void addOnPage(const QString& w = QString())
    {
        click(cards(), "Button_add");
        if (!w.isNull())
            typeInto(g_inputcut, "lineEdit_W", w);
        click(g_inputcut, "Button_ok");
    }
    uint16_t entryWord(int e, unsigned off = 0) const { return imageWord(cropEntry(e) + off); }
    // Crop entries 0 to count-1 in use, all of HDMI1 (input 2) with id k and width 100 + k.
    void fillCrops(int count)
    {
        for (int k = 0; k < count; ++k) {
            ram_set_u16(model->ram_para, cropEntry(k), static_cast<uint16_t>(0x8000 | (k << 8) | 2));
            ram_set_u16(model->ram_para, cropEntry(k) + 6, static_cast<uint16_t>(100 + k));
        }
        model->refresh_shadow();
    }
};

}  // namespace

TEST_F(InputCutTest, AddTakesTheLowestFreeEntryAndDeleteKeepsTheRectangle)
{
    InputCut* page = openCut();
    EXPECT_EQ(text(page, "HDMI1_num"), "(1)");
    EXPECT_EQ(cardName(0), "HDMI1");
    EXPECT_FALSE(child<QWidget>(page, "frame_add")->isVisible());
    click(cards(), "Button_add");
    click(cards(), "0");
    EXPECT_FALSE(child<QWidget>(page, "frame_add")->isVisible()) << "the input's own card closes the form";
    EXPECT_EQ(flag(), 0);

    addOnPage("640");
    EXPECT_EQ(entryWord(0), 0x8002);
    EXPECT_EQ(entryWord(0, 6), 640);
    EXPECT_EQ(entryWord(0, 8), 1080);
    EXPECT_EQ(flag(), 1);
    EXPECT_EQ(text(page, "HDMI1_num"), "(2)");
    EXPECT_EQ(cardName(1), "HDMI1_crop1");
    EXPECT_FALSE(child<QWidget>(page, "frame_add")->isVisible());
    engineStep();
    EXPECT_EQ(fileWord(cropEntry(0)), 0x8002);

    // A second crop on DVI takes entry 1 with the DVI's first id.
    click(page, "4");
    addOnPage();
    EXPECT_EQ(entryWord(1), 0x8001);
    engineStep();

    // Delete: the word is cleared, the rectangle stays.
    click(page, "0");
    click(cards(), "1");
    EXPECT_EQ(text(page, "label_change_source"), "Name:HDMI1-Crop-1");
    EXPECT_TRUE(child<QWidget>(page, "Button_delete")->isVisible());
    click(page, "Button_delete");
    EXPECT_EQ(entryWord(0), 0);
    EXPECT_EQ(entryWord(0, 6), 640);
    EXPECT_EQ(flag(), 1);
    EXPECT_EQ(text(page, "HDMI1_num"), "(1)");
    engineStep();

    // The next add takes entry 0 again.
    addOnPage();
    EXPECT_EQ(entryWord(0), 0x8002);
}

TEST_F(InputCutTest, EditCommitsTheRectangleAndBadTextsStoreZero)
{
    CROP_PARA c = {0, 0, 0, 960, 540};
    model->ZelAddNewCrop(2, &c);
    model->ZelAddNewCrop(2, &c);   // same id until the index is rebuilt: the page rebuilds it
    model->ram_para[cropEntry(1) + 1] = 0x81;   // id 2
    model->refresh_shadow();
    clearFlag();
    InputCut* page = openCut();
    click(cards(), "2");
    EXPECT_EQ(text(page, "label_change_source"), "Name:HDMI1-Crop-2");
    EXPECT_EQ(child<QLineEdit>(page, "lineEdit_W")->text(), "960");
    typeInto(page, "lineEdit_X", "");
    confirmRaw(page, "lineEdit_Y", "70000");
    typeInto(page, "lineEdit_W", "480");
    click(page, "Button_ok");
    EXPECT_EQ(entryWord(1, 2), 0);
    EXPECT_EQ(entryWord(1, 4), 0);
    EXPECT_EQ(entryWord(1, 6), 480);
    EXPECT_EQ(flag(), 1) << "an edit is committed at once";
    engineStep();
    EXPECT_EQ(fileWord(cropEntry(1) + 6), 480);
    EXPECT_EQ(entryWord(0, 6), 960) << "the other crop is untouched";
}

TEST_F(InputCutTest, ACropEditedOnThePageIsWhatTheChipReadsOnceAWindowShowsIt)
{
    // HDMI1 carries 1080p60; window 1 shows it on the whole panel.
    zeltest::feedVideo(2, 1920, 1080, 60);
    for (int i = 0; i < 3; ++i)
        engineStep();
    ASSERT_NE(sim::describeCrops(chip).find("och 0: input 0,0 1920x1080 of 1920x1080"), std::string::npos)
        << sim::describeCrops(chip);

    // Added, then edited on the page.
    InputCut* page = openCut();
    click(cards(), "Button_add");
    typeInto(page, "lineEdit_X", "100");
    typeInto(page, "lineEdit_Y", "50");
    typeInto(page, "lineEdit_W", "800");
    typeInto(page, "lineEdit_H", "600");
    click(page, "Button_ok");
    engineStep();
    click(cards(), "1");
    typeInto(page, "lineEdit_X", "200");
    click(page, "Button_ok");
    engineStep();
    EXPECT_EQ(entryWord(0, 2), 200);

    // Chosen for window 1 on the source page: the chip reads the edited rectangle.
    click(page, "Button_back");
    click(g_mainwindow, "inputchoose");
    ASSERT_NE(g_inputchoose, nullptr);
    click(child<QWidget>(g_inputchoose, "frame"), "1");
    EXPECT_EQ(windowWord(0, kWinSource), 0x8000);
    for (int i = 0; i < 3; ++i)
        engineStep();
    EXPECT_NE(sim::describeCrops(chip).find("och 0: input 200,50 800x600 of 1920x1080"), std::string::npos)
        << sim::describeCrops(chip);
    flushDeletes();
}

TEST_F(InputCutTest, FullTableWritesNothingAndFortyCropsMakeSevenPages)
{
    fillCrops(40);
    InputCut* page = openCut();
    EXPECT_EQ(text(page, "HDMI1_num"), "(41)");
    EXPECT_EQ(page->lastPage(), 6);
    const std::vector<uint8_t> before(model->ram_para, model->ram_para + kRamSize);
    addOnPage();
    EXPECT_EQ(std::vector<uint8_t>(model->ram_para, model->ram_para + kRamSize), before);
    EXPECT_EQ(flag(), 0);

    for (int p = 0; p < 6; ++p)
        click(cards(), "Button_next");
    EXPECT_EQ(page->sourcePage(), 6);
    EXPECT_NE(cards()->findChild<QPushButton*>("4"), nullptr);
    EXPECT_EQ(cards()->findChild<QPushButton*>("5"), nullptr);
    EXPECT_EQ(cardName(4), "HDMI1_crop40");

    // Card 2 on page 1 is ordinal 8.
    for (int p = 0; p < 5; ++p)
        click(cards(), "Button_previous");
    click(cards(), "2");
    EXPECT_EQ(page->selectedOrdinal(), 8);
    EXPECT_EQ(text(page, "label_change_source"), "Name:HDMI1-Crop-8");
    EXPECT_EQ(child<QLineEdit>(page, "lineEdit_W")->text(), "107");
}

TEST_F(InputCutTest, SourcesFillingTheirLastPageLeaveNoEmptyPageAfterIt)
{
    fillCrops(35);
    InputCut* page = openCut();
    EXPECT_EQ(text(page, "HDMI1_num"), "(36)");
    EXPECT_EQ(page->lastPage(), 5);
    for (int p = 0; p < 5; ++p)
        click(cards(), "Button_next");
    EXPECT_EQ(page->sourcePage(), 5);
    EXPECT_NE(cards()->findChild<QPushButton*>("5"), nullptr);
    EXPECT_EQ(cards()->findChild<QPushButton*>("Button_next"), nullptr);
}

TEST_F(InputCutTest, AddAfterADeleteNamesTheNextOrdinalButTakesTheFreedId)
{
    fillCrops(3);   // ids 1, 2, 3 in entries 0, 1, 2
    InputCut* page = openCut();
    click(cards(), "2");
    click(page, "Button_delete");
    EXPECT_EQ(entryWord(1), 0);
    click(cards(), "Button_add");
    EXPECT_EQ(text(page, "label_change_source"), "Name:HDMI1-Crop-3");
    click(page, "Button_ok");
    EXPECT_EQ(entryWord(1), 0x8102) << "crop id 2 in the freed entry";
    EXPECT_EQ(cardName(2), "HDMI1_crop2");

    // Seven sources: page 1 holds one card; deleting it keeps page 1, with no card left on it.
    fillCrops(6);
    model->test_signal(103);
    click(cards(), "Button_next");
    ASSERT_EQ(page->sourcePage(), 1);
    click(cards(), "0");
    EXPECT_EQ(page->selectedOrdinal(), 6);
    click(page, "Button_delete");
    EXPECT_EQ(page->sourcePage(), 1);
    EXPECT_EQ(cards()->findChild<QPushButton*>("0"), nullptr);
    EXPECT_NE(cards()->findChild<QPushButton*>("Button_previous"), nullptr);
    EXPECT_EQ(cards()->findChild<QPushButton*>("Button_next"), nullptr);
}

TEST_F(InputCutTest, ConfirmationAboveTheLayoutPageLeavesTheLayoutAlone)
{
    g_imagelayoutpassword = "";
    click(g_mainwindow, "option");
    click(g_option, "image_layout");
    ASSERT_NE(g_imagelayout, nullptr);
    typeInto(g_imagelayout, "lineEdit_W", "1000");   // the layout's field shows 1000
    engineStep();
    setStored(window(0) + kWinWidth, 1200);          // changed since, over the links
    click(g_imagelayout, "Button_source_select");
    click(child<QWidget>(g_inputchoose, "frame"), "Button_menu");
    click(g_inputchoose, "Button_inputcut");
    ASSERT_NE(g_inputcut, nullptr);
    EXPECT_EQ(g_page_focus.load(), InputCut::kFocus);

    click(cards(), "Button_add");
    typeInto(g_inputcut, "lineEdit_X", "10");
    typeInto(g_inputcut, "lineEdit_W", "500");
    EXPECT_EQ(windowWord(0, kWinWidth), 1200) << "the layout page did not commit its stale fields";
    EXPECT_EQ(windowWord(0, kWinX), 0);
    EXPECT_EQ(child<QLineEdit>(g_inputcut, "lineEdit_W")->text(), "500");
    click(g_inputcut, "Button_ok");
    EXPECT_EQ(entryWord(0, 2), 10);

    click(g_inputcut, "Button_back");
    EXPECT_EQ(g_inputcut, nullptr);
    EXPECT_EQ(g_page_focus.load(), InputChoose::kFocus);
    EXPECT_EQ(text(g_inputchoose, "label_HDMI1_num"), "(2)");
}

TEST_F(InputCutTest, NamesFromTheAliasFileAndItsArrival)
{
    CROP_PARA c = {0, 0, 0, 960, 540};
    model->ZelAddNewCrop(2, &c);
    model->refresh_shadow();
    InputCut* page = openCut();
    EXPECT_EQ(cardName(1), "HDMI1_crop1");
    zeltest::writeText(kAliasFile, R"({"namelist":{"crop":[{"id":0,"valid":"on","name":"Stage"}]}})");
    model->test_signal(103);
    EXPECT_EQ(cardName(1), "Stage");
    click(page, "Button_back");
    EXPECT_EQ(g_page_focus.load(), 5);
    flushDeletes();
}

TEST_F(InputCutTest, InactivityClosesTheCropSourceAndLayoutPagesDownToTheHomePage)
{
    g_back_to_mainwindow_time = 20;
    g_auto_lock_time = 100000;
    lcd_touch::pInstance();
    g_imagelayoutpassword = "";
    click(g_mainwindow, "option");
    click(g_option, "image_layout");
    click(g_imagelayout, "Button_source_select");
    click(child<QWidget>(g_inputchoose, "frame"), "Button_menu");
    click(g_inputchoose, "Button_inputcut");
    ASSERT_NE(g_inputcut, nullptr);
    tick(21);
    EXPECT_EQ(g_inputcut, nullptr);
    EXPECT_EQ(g_inputchoose, nullptr);
    EXPECT_EQ(g_imagelayout, nullptr);
    EXPECT_EQ(g_option, nullptr);
    EXPECT_EQ(g_page_focus.load(), 1);
    flushDeletes();
}
