// The window layout page: opened from the settings menu, its keypad bounds, state, mirror and
// point-to-point commits, and what reaches the engine and the parameter file.
#include <QFontMetrics>

#include "core/alias.h"

#include "ui/shell/option.h"
#include "ui/shell/tip.h"
#include "ui/video/imagelayout.h"
#include "ui/video/inputchoose.h"
#include "video_fixture.h"

using namespace ramaddr;

namespace {

class ImageLayoutTest : public VideoPageTest {
protected:
    ImageLayout* openLayout()
    {
        click(g_mainwindow, "option");
        click(g_option, "image_layout");
        EXPECT_NE(g_imagelayout, nullptr) << "the default setting asks for no code";
        EXPECT_EQ(g_page_focus.load(), ImageLayout::kFocus);
        return g_imagelayout;
    }
    QString field(const char* name) { return child<QLineEdit>(g_imagelayout, name)->text(); }
};

}  // namespace

TEST_F(ImageLayoutTest, PositionIsBoundedByTheCanvasAndReachesEngineAndFile)
{
    g_imagelayoutpassword = "No";
    ImageLayout* page = openLayout();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(flag(), 0) << "opening commits nothing";
    EXPECT_EQ(field("lineEdit_W"), "1920");

    typeInto(page, "lineEdit_W", "1000");
    EXPECT_EQ(windowWord(0, kWinWidth), 1000);
    EXPECT_EQ(flag(), 1);
    engineStep();
    EXPECT_EQ(engine->win_info[0].width, 1000) << "the engine laid the windows out again";
    EXPECT_EQ(fileWord(window(0) + kWinWidth), 1000);
    EXPECT_TRUE(g_tip->isVisible()) << "check mark after the engine's report";

    typeInto(page, "lineEdit_X", "921");
    EXPECT_EQ(windowWord(0, kWinX), 0);
    EXPECT_EQ(flag(), 0);
    EXPECT_EQ(field("lineEdit_X"), "0");
    typeInto(page, "lineEdit_X", "920");
    EXPECT_EQ(windowWord(0, kWinX), 920);
    EXPECT_EQ(flag(), 1);
    engineStep();

    // Negative or oversized values never reach the 16-bit words.
    confirmRaw(page, "lineEdit_Y", "-5");
    confirmRaw(page, "lineEdit_H", "70000");
    EXPECT_EQ(windowWord(0, kWinY), 0);
    EXPECT_EQ(windowWord(0, kWinHeight), 1080);
    EXPECT_EQ(flag(), 0);

    // An empty entry is 0.
    typeInto(page, "lineEdit_Y", "");
    EXPECT_EQ(field("lineEdit_Y"), "");
    EXPECT_EQ(windowWord(0, kWinY), 0);
    EXPECT_EQ(flag(), 1);

    // Width against X and the canvas width; Y and height against the canvas height (1080).
    typeInto(page, "lineEdit_W", "1001");
    EXPECT_EQ(windowWord(0, kWinWidth), 1000) << "920 + 1001 is past 1920";
    typeInto(page, "lineEdit_H", "1000");
    typeInto(page, "lineEdit_Y", "81");
    EXPECT_EQ(windowWord(0, kWinY), 0) << "81 + 1000 is past 1080";
    typeInto(page, "lineEdit_Y", "80");
    EXPECT_EQ(windowWord(0, kWinY), 80);
    typeInto(page, "lineEdit_H", "1001");
    EXPECT_EQ(windowWord(0, kWinHeight), 1000) << "80 + 1001 is past 1080";
}

TEST_F(ImageLayoutTest, OpeningAndLanguageChangeKeepThePointToPointMode)
{
    setStored(window(0) + kWinFlags, 0x104);
    setStored(window(0) + kWinDbdMode, 8);
    g_imagelayoutpassword = "";
    ImageLayout* page = openLayout();
    auto* combo = child<QComboBox>(page, "comboBox_P2P");
    EXPECT_EQ(combo->currentIndex(), 2);
    EXPECT_EQ(combo->currentText(), "HD3,HD4 Hor");
    EXPECT_EQ(windowWord(0, kWinFlags), 0x104);
    EXPECT_EQ(flag(), 0);

    setWord(kLanguage, 0);
    model->test_signal(1);
    EXPECT_EQ(combo->currentText(), QString::fromUtf8("HD3,HD4水平拼接"));
    EXPECT_EQ(windowWord(0, kWinFlags), 0x104) << "the refill commits nothing";
    EXPECT_EQ(flag(), 0);
    setWord(kLanguage, 1);
    model->test_signal(1);

    combo->setCurrentIndex(3);
    EXPECT_EQ(windowWord(0, kWinFlags), 0x104);
    EXPECT_EQ(windowWord(0, kWinDbdMode), 9);
    EXPECT_EQ(flag(), 1);
    engineStep();
    combo->setCurrentIndex(0);
    EXPECT_EQ(windowWord(0, kWinFlags), 0x004);
    EXPECT_EQ(windowWord(0, kWinDbdMode), 9) << "OFF keeps the splice mode";
    engineStep();
    combo->setCurrentIndex(1);
    EXPECT_EQ(windowWord(0, kWinFlags), 0x104);
    EXPECT_EQ(windowWord(0, kWinDbdMode), 0);
}

TEST_F(ImageLayoutTest, MirrorAndStateButtons)
{
    g_imagelayoutpassword = "";
    ImageLayout* page = openLayout();
    EXPECT_TRUE(sameImage(child<QPushButton>(page, "mirror1")->icon(), ":/png/mirror1_on.png", QSize(48, 48)));
    click(page, "mirror1");
    EXPECT_EQ(flag(), 0) << "the stored mode writes nothing";
    click(page, "mirror3");
    EXPECT_EQ(windowWord(0, kWinMirror), 2);
    EXPECT_EQ(flag(), 1);
    EXPECT_TRUE(sameImage(child<QPushButton>(page, "mirror3")->icon(), ":/png/mirror3_on.png", QSize(48, 48)));
    EXPECT_TRUE(sameImage(child<QPushButton>(page, "mirror1")->icon(), ":/png/mirror1_off.png", QSize(48, 48)));
    engineStep();

    // Window 1 is always on; window 3 can be switched.
    EXPECT_FALSE(child<QPushButton>(page, "button_state")->isVisible());
    EXPECT_EQ(text(page, "image_state"), "Image state:ON");
    setStored(window(2) + kWinState, 1);
    page->image_init();
    click(child<QWidget>(page, "frame_strip"), "2");
    EXPECT_EQ(page->currentWindow(), 2);
    ASSERT_TRUE(child<QPushButton>(page, "button_state")->isVisible());
    click(page, "button_state");
    EXPECT_EQ(windowWord(2, kWinState), 0);
    EXPECT_EQ(flag(), 1);
    EXPECT_EQ(text(page, "image_state"), "Image state:OFF");
    EXPECT_EQ(text(page, "card_text_2"), "Close");
    engineStep();
    EXPECT_EQ(text(page, "card_text_2"), "Close") << "after the strip was rebuilt";
    EXPECT_EQ(child<QWidget>(child<QWidget>(page, "frame_strip"), "frame_highlight")->geometry(),
              QRect(277, 0, 126, 96)) << "the highlight stays around window 3's card";
    EXPECT_EQ(field("lineEdit_W"), "1920") << "an off window still shows its size";
    click(page, "button_state");
    EXPECT_EQ(windowWord(2, kWinState), 1);
    EXPECT_EQ(text(page, "card_text_2"), "HDMI2");
}

TEST_F(ImageLayoutTest, NameUsesTheWindowAliasCutToItsWidth)
{
    zeltest::writeText(kAliasFile,
                       R"({"namelist":{"win":[{"id":1,"valid":"on","name":"Main stage left wall"}]}})");
    setStored(window(0) + kWinState, 0);
    g_imagelayoutpassword = "";
    ImageLayout* page = openLayout();
    EXPECT_EQ(text(page, "image_name"), "Name:image1");
    EXPECT_EQ(text(page, "image_state"), "Image state:ON") << "window 1 shows as on whatever is stored";
    setStored(window(1) + kWinState, 1);
    page->image_init();
    click(child<QWidget>(page, "frame_strip"), "1");
    auto* name = child<QLabel>(page, "image_name");
    const QString cut = QFontMetrics(name->font()).elidedText("Main stage left wall", Qt::ElideRight, 60,
                                                              Qt::TextShowMnemonic);
    EXPECT_EQ(name->text(), "Name:" + cut);
    EXPECT_NE(cut, "Main stage left wall");
    EXPECT_EQ(text(page, "image_source"), "Source:HDMI4");
}

TEST_F(ImageLayoutTest, SourcePageOpensAboveAndRefreshesTheLayoutOnItsWayBack)
{
    g_imagelayoutpassword = "";
    ImageLayout* page = openLayout();
    click(page, "Button_source_select");
    ASSERT_NE(g_inputchoose, nullptr);
    EXPECT_EQ(g_page_focus.load(), InputChoose::kFocus);
    click(g_inputchoose, "Button_DVI");
    click(child<QWidget>(g_inputchoose, "frame"), "0");
    EXPECT_EQ(windowWord(0, kWinSource), 1);
    engineStep();
    click(g_inputchoose, "Button_back");
    EXPECT_EQ(g_inputchoose, nullptr);
    EXPECT_EQ(g_page_focus.load(), ImageLayout::kFocus);
    EXPECT_EQ(text(page, "image_source"), "Source:DVI");
    EXPECT_EQ(text(page, "card_text_0"), "DVI");
    click(page, "Button_back");
    EXPECT_EQ(g_imagelayout, nullptr);
    EXPECT_EQ(g_page_focus.load(), 5);
    flushDeletes();
}

TEST_F(ImageLayoutTest, StripCardsAreReadableOnTheirColoursOnBothPages)
{
    for (int w = 1; w < ImageLayout::kWindows; ++w)
        setStored(ramaddr::window(w) + kWinState, 1);   // every window has a card on the source page
    g_imagelayoutpassword = "";
    ImageLayout* page = openLayout();
    click(page, "Button_source_select");
    ASSERT_NE(g_inputchoose, nullptr);
    for (QWidget* p : std::initializer_list<QWidget*>{page, g_inputchoose}) {
        for (int w = 0; w < ImageLayout::kWindows; ++w) {
            auto* card = child<QLabel>(p, QStringLiteral("card_%1").arg(w));
            auto* name = child<QLabel>(card, QStringLiteral("card_text_%1").arg(w));
            ASSERT_TRUE(card && name);
            const QColor back = sheetBackground(card);
            ASSERT_TRUE(back.isValid()) << qPrintable(card->styleSheet());
            EXPECT_GE(contrast(back, card->palette().color(QPalette::WindowText)), 4.5) << w;
            EXPECT_GE(contrast(back, name->palette().color(QPalette::WindowText)), 4.5) << w;
            EXPECT_TRUE(fits(name)) << qPrintable(name->text());
        }
    }
    click(g_inputchoose, "Button_back");
    click(page, "Button_back");
    flushDeletes();
}

TEST_F(ImageLayoutTest, ChoosingTheShownPointToPointEntryOverAnUnknownModeStoresIt)
{
    setStored(ramaddr::window(0) + kWinFlags, 0x100);
    setStored(ramaddr::window(0) + kWinDbdMode, 5);   // a splice mode the list does not offer
    g_imagelayoutpassword = "";
    ImageLayout* page = openLayout();
    auto* p2p = child<QComboBox>(page, "comboBox_P2P");
    ASSERT_EQ(p2p->currentIndex(), 0);
    EXPECT_EQ(flag(), 0);
    emit p2p->activated(0);   // the user picks "OFF", the entry already shown
    EXPECT_EQ(windowWord(0, kWinFlags), 0);
    EXPECT_EQ(windowWord(0, kWinDbdMode), 5) << "OFF keeps the splice mode";
    EXPECT_EQ(flag(), 1);
    engineStep();
    emit p2p->activated(0);
    EXPECT_EQ(flag(), 0) << "the stored entry chosen again writes nothing";
}
