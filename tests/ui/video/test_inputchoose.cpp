// The window source page: input tiles, paged source cards, the in-use marker, the window strip and
// the refresh after changes made elsewhere.
#include <QFrame>

#include "core/alias.h"
#include "support/video_input.h"
#include "ui/video/inputchoose.h"
#include "video_fixture.h"

using namespace ramaddr;

namespace {

class InputChooseTest : public VideoPageTest {
protected:
    void addCrop(int input, int w = 640, int h = 360)
    {
        CROP_PARA c = {0, 0, 0, w, h};
        model->ZelAddNewCrop(input, &c);
        model->ZelCropSourceInit();
        model->refresh_shadow();
        clearFlag();
    }
    InputChoose* openSource()
    {
        click(g_mainwindow, "inputchoose");
        EXPECT_NE(g_inputchoose, nullptr);
        EXPECT_EQ(g_page_focus.load(), InputChoose::kFocus);
        return g_inputchoose;
    }
    QWidget* cards() { return child<QWidget>(g_inputchoose, "frame"); }
    QFrame* card(int j)
    {
        auto* b = child<QPushButton>(cards(), QString::number(j));
        return b ? qobject_cast<QFrame*>(b->parentWidget()) : nullptr;
    }
    bool inUse(int j)
    {
        QFrame* c = card(j);
        return c && c->findChild<QLabel*>("label_using") != nullptr;
    }
    void setSignal(int input, uint16_t w, uint16_t h, uint8_t rate)
    {
        zeltest::setInputSummary(model->ram_para, input, w, h, rate);
    }
};

}  // namespace

TEST_F(InputChooseTest, CardOnALaterPageChoosesTheCropOfThatOrdinal)
{
    for (int k = 0; k < 7; ++k)
        addCrop(2, 100 + k, 50);
    setStored(kCurrentMode, 3);
    InputChoose* page = openSource();
    EXPECT_EQ(page->currentInput(), 2) << "window 1 shows HDMI1";
    EXPECT_EQ(text(page, "label_HDMI1_num"), "(8)");
    EXPECT_EQ(text(page, "label_DVI_num"), "(1)");
    EXPECT_TRUE(inUse(0));
    EXPECT_EQ(cards()->findChild<QPushButton*>("Button_previous"), nullptr);
    ASSERT_NE(cards()->findChild<QPushButton*>("Button_next"), nullptr);

    click(cards(), "Button_next");
    EXPECT_EQ(page->sourcePage(), 1);
    EXPECT_EQ(card(1)->findChild<QLabel*>("label_name")->text(), "HDMI1_crop7");
    EXPECT_EQ(card(1)->findChild<QLabel*>("label_detail")->text(), "106x50");
    EXPECT_EQ(cards()->findChild<QPushButton*>("2"), nullptr) << "8 sources: two cards on page 1";
    click(cards(), "1");
    EXPECT_EQ(windowWord(0, kWinSource), 0x8000 + 6) << "ordinal 7 = crop id 7, table entry 6";
    EXPECT_EQ(imageWord(kCurrentMode), 0) << "a source change leaves the user mode";
    EXPECT_EQ(flag(), 1);
    EXPECT_TRUE(inUse(1));
    EXPECT_EQ(text(page, "card_text_0"), "HDMI1_Crop7");
    engineStep();
    EXPECT_EQ(fileWord(window(0) + kWinSource), 0x8006);
    EXPECT_EQ(engine->win_info[0].port, 2);
    EXPECT_EQ(page->sourcePage(), 0) << "the refresh selects the window's input again";

    // Page 0, card 0: the input itself.
    click(cards(), "0");
    EXPECT_EQ(windowWord(0, kWinSource), 2);
}

TEST_F(InputChooseTest, SixSourcesFillOnePageWithoutANextButton)
{
    for (int k = 0; k < 5; ++k)
        addCrop(2, 100 + k, 50);
    setStored(kCurrentMode, 3);
    InputChoose* page = openSource();
    EXPECT_EQ(text(page, "label_HDMI1_num"), "(6)");
    EXPECT_EQ(page->lastPage(), 0);
    EXPECT_NE(cards()->findChild<QPushButton*>("5"), nullptr);
    EXPECT_EQ(cards()->findChild<QPushButton*>("Button_next"), nullptr);

    // A user-mode number already changed since the last report is left as it is.
    setWord(kCurrentMode, 4);
    click(cards(), "5");
    EXPECT_EQ(windowWord(0, kWinSource), 0x8004);
    EXPECT_EQ(imageWord(kCurrentMode), 4);
}

TEST_F(InputChooseTest, InUseMarkerFollowsTheCropIdsAfterDeleteAndAdd)
{
    addCrop(2);                 // HDMI1 id 1, entry 0
    addCrop(2);                 // HDMI1 id 2, entry 1
    model->ZelDeleteCrop(2, 1);   // entry 0 free
    model->ZelCropSourceInit();
    addCrop(3);                 // HDMI2 id 1 takes entry 0
    addCrop(2);                 // HDMI1 id 1 again, entry 2: table order now id 2, id 1
    InputChoose* page = openSource();
    click(cards(), "1");
    EXPECT_EQ(windowWord(0, kWinSource), 0x8002);
    EXPECT_TRUE(inUse(1));
    EXPECT_FALSE(inUse(2));
    EXPECT_EQ(text(page, "card_text_0"), "HDMI1_Crop1");
    click(cards(), "2");
    EXPECT_EQ(windowWord(0, kWinSource), 0x8001);
    EXPECT_TRUE(inUse(2));
    EXPECT_EQ(text(page, "card_text_0"), "HDMI1_Crop2");
}

TEST_F(InputChooseTest, SignalsAndNamesOfTheTiles)
{
    zeltest::writeText(kAliasFile, R"({"namelist":{"source":[{"id":1,"valid":"on","name":"Laptop"}],)"
                                   R"("crop":[{"id":0,"valid":"on","name":"Left half"}]}})");
    InputChoose* page = openSource();
    EXPECT_EQ(text(page, "label_DVI_text"), "Laptop");
    EXPECT_EQ(text(page, "label_HDMI1_text"), "HDMI1");
    EXPECT_EQ(card(0)->findChild<QLabel*>("label_detail")->text(), "No signal");

    setSignal(2, 1920, 1080, 60);
    model->test_signal(12);
    EXPECT_EQ(card(0)->findChild<QLabel*>("label_detail")->text(), "1920x1080@60Hz");
    setSignal(2, 1920, 1080, 0);   // any of the three at 0 is no signal
    model->test_signal(12);
    EXPECT_EQ(card(0)->findChild<QLabel*>("label_detail")->text(), "No signal");
    EXPECT_EQ(child<QLabel>(page, "label_HDMI1")->pixmap(Qt::ReturnByValue).toImage(), QPixmap(":/png/HDMI13.png").toImage());
    setSignal(2, 1920, 1080, 60);
    model->test_signal(12);
    EXPECT_EQ(child<QLabel>(page, "label_HDMI1")->pixmap(Qt::ReturnByValue).toImage(),
              QPixmap(":/png/HDMI13_lv.png").toImage());
    EXPECT_EQ(child<QLabel>(page, "label_HDMI3")->pixmap(Qt::ReturnByValue).toImage(), QPixmap(":/png/HDMI20.png").toImage());

    // A crop arriving over the links is listed, under its alias.
    model->ram_para[cropEntry(0)] = 2;
    model->ram_para[cropEntry(0) + 1] = 0x80;
    model->ram_para_shadow[cropEntry(0) + 1] = 0x80;
    model->ram_para_shadow[cropEntry(0)] = 2;
    model->test_signal(103);
    EXPECT_EQ(text(page, "label_HDMI1_num"), "(2)");
    EXPECT_EQ(card(1)->findChild<QLabel*>("label_name")->text(), "Left half");
}

TEST_F(InputChooseTest, StripShowsTheWindowsThatAreOnAndFallsBackToWindowOne)
{
    setStored(window(3) + kWinState, 1);
    InputChoose* page = openSource();
    QWidget* strip = child<QWidget>(page, "frame_strip");
    EXPECT_NE(strip->findChild<QPushButton*>("3"), nullptr);
    EXPECT_EQ(strip->findChild<QPushButton*>("1"), nullptr);
    click(strip, "3");
    EXPECT_EQ(page->currentWindow(), 3);
    EXPECT_EQ(page->currentInput(), 4) << "window 4 shows HDMI3";

    setWord(window(3) + kWinState, 0);
    model->test_signal(1);
    EXPECT_EQ(page->currentWindow(), 0);
    EXPECT_EQ(page->currentInput(), 2);
    EXPECT_EQ(child<QWidget>(page, "frame_strip")->findChild<QPushButton*>("3"), nullptr);
}

TEST_F(InputChooseTest, MenuAndBackToTheHomePage)
{
    InputChoose* page = openSource();
    const struct {
        const char* tile;
        int input, x;
        const char* name;
    } kTiles[] = {{"Button_HDMI1", 2, 20, "HDMI1"}, {"Button_HDMI2", 3, 150, "HDMI2"}, {"Button_HDMI3", 4, 280, "HDMI3"},
                  {"Button_HDMI4", 5, 410, "HDMI4"}, {"Button_DVI", 1, 540, "DVI"},     {"Button_EXT", 0, 670, "EXT"}};
    for (const auto& t : kTiles) {
        click(page, t.tile);
        EXPECT_EQ(page->currentInput(), t.input) << t.tile;
        EXPECT_EQ(child<QWidget>(page, "frame1")->x(), t.x) << t.tile;
        EXPECT_EQ(card(0)->findChild<QLabel*>("label_name")->text(), t.name) << t.tile;
    }
    auto* cut = child<QPushButton>(page, "Button_inputcut");
    EXPECT_FALSE(cut->isVisible());
    click(cards(), "Button_menu");
    EXPECT_TRUE(cut->isVisible());
    EXPECT_EQ(cut->text(), "Input intercept");
    click(cards(), "Button_menu");
    EXPECT_FALSE(cut->isVisible());
    click(page, "Button_back");
    EXPECT_EQ(g_inputchoose, nullptr);
    EXPECT_EQ(g_page_focus.load(), 1);
    flushDeletes();
}

TEST_F(InputChooseTest, InUseMarkerHoldsItsTextInEveryLanguage)
{
    addCrop(2);
    addCrop(4);   // HDMI3 id 1, entry 1
    setStored(window(0) + kWinSource, 0x8001);
    InputChoose* page = openSource();
    EXPECT_EQ(page->currentInput(), 4) << "the tile of the crop's input";
    EXPECT_EQ(text(page, "card_text_0"), "HDMI3") << "no crop suffix on opening";
    EXPECT_TRUE(inUse(1));
    click(page, "Button_HDMI1");
    click(cards(), "1");
    EXPECT_TRUE(fits(child<QLabel>(page, "card_text_0"))) << "HDMI1_Crop1 on the strip card";
    for (int lang : {1, 2, 3, 0}) {
        setWord(kLanguage, static_cast<uint16_t>(lang));
        model->test_signal(1);
        auto* marker = card(1)->findChild<QLabel*>("label_using");
        ASSERT_NE(marker, nullptr);
        EXPECT_TRUE(fits(marker)) << lang;
        // It keeps its right edge at the card's and grows left, clear of the connector image.
        EXPECT_EQ(marker->geometry().right(), 164 + 56 - 1) << lang;
        EXPECT_GE(marker->x(), 29 + 63) << lang;
        if (lang == 1) {
            EXPECT_EQ(marker->geometry(), QRect(164, 0, 56, 30));
        }
    }
}
