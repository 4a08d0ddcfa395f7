// The user modes page and its detail view: recalling and deleting modes, the list's current mode
// and the lines of the selected mode.
#include <QFontMetrics>

#include <cstring>
#include <thread>

#include "core/alias.h"
#include "ui/shell/tip.h"
#include "ui/video/custommode.h"
#include "video_fixture.h"

using namespace ramaddr;

namespace {

class CustomModeTest : public VideoPageTest {
protected:
    unsigned char* slotContent(int s) { return model->ram_user_mode[s] + kSlotMarkerLen; }
    void slotWord(int s, unsigned addr, uint16_t v) { ram_set_u16(slotContent(s), addr - kModeStart, v); }
    // A saved slot with the current image, written to its mode file as the home page saves it.
    void saveSlot(int s)
    {
        model->ram_user_mode[s][0] = model->ram_user_mode[s][1] = 0xAA;
        std::memcpy(slotContent(s), model->ram_para + kModeStart, kModeLen);
        model->mode_file_write(s, 0);
    }
    CustomMode* openModes()
    {
        click(g_mainwindow, "Button_mode");
        click(g_mainwindow, "custommode");
        EXPECT_NE(g_custommode, nullptr);
        EXPECT_EQ(g_page_focus.load(), CustomMode::kFocus);
        return g_custommode;
    }
    QWidget* list() { return child<QWidget>(g_custommode, "widget_list"); }
    QWidget* panel() { return g_custommode->findChild<QWidget*>("widget_panel"); }
};

}  // namespace

TEST_F(CustomModeTest, UseCopiesTheSlotAndMarksItCurrent)
{
    setWord(kBrightness, 33);
    saveSlot(6);
    setStored(kBrightness, 90);
    setStored(kCurrentMode, 5);
    CustomMode* page = openModes();
    EXPECT_EQ(g_mode_select.load(), 4);
    EXPECT_EQ(text(page, "label_ID"), "ID:5");
    EXPECT_EQ(child<QWidget>(list(), "label_badge")->y(), 362);
    EXPECT_TRUE(child<QWidget>(list(), "frame_4")->styleSheet().contains("1px solid #00D65B"));
    EXPECT_TRUE(child<QWidget>(list(), "frame_5")->styleSheet().contains("1px solid #FFFFFF"));

    click(list(), "6");
    EXPECT_EQ(text(page, "label_ID"), "ID:7");
    EXPECT_TRUE(child<QWidget>(list(), "frame_6")->styleSheet().contains("2px solid #00D65B"));
    EXPECT_TRUE(child<QWidget>(list(), "frame_4")->styleSheet().contains("#FFFFFF"));
    click(page, "Button_use");
    EXPECT_EQ(imageWord(kCurrentMode), 7);
    EXPECT_EQ(std::memcmp(model->ram_para + kModeStart, slotContent(6), kModeLen), 0);
    EXPECT_EQ(flag(), 1);
    engineStep();
    EXPECT_TRUE(g_tip->isVisible());
    EXPECT_EQ(child<QWidget>(list(), "label_badge")->y(), 2 + 90 * 6) << "the list was rebuilt";
    EXPECT_EQ(fileWord(kBrightness), 33);
    EXPECT_TRUE(child<QLabel>(page, "label_using")->isVisible());

    // An empty slot changes nothing.
    g_tip->hide();
    click(list(), "9");
    click(page, "Button_use");
    EXPECT_EQ(imageWord(kCurrentMode), 7);
    EXPECT_EQ(flag(), 0);
    EXPECT_TRUE(child<QLabel>(page, "label_blank")->isVisible());
    EXPECT_EQ(child<QLabel>(page, "label_blank")->text(), "User mode does not exist");
    EXPECT_EQ(panel(), nullptr);
}

// A field of the mode out of its range reaches the image as the start would repair it.
TEST_F(CustomModeTest, UseHoldsTheModeToTheFieldRanges)
{
    saveSlot(2);
    slotWord(2, kBrightness, 1000);
    CustomMode* page = openModes();
    click(list(), "2");
    click(page, "Button_use");
    EXPECT_EQ(imageWord(kCurrentMode), 3);
    EXPECT_EQ(imageWord(kBrightness), 100);
    EXPECT_EQ(flag(), 1);
}

TEST_F(CustomModeTest, DeleteRemovesTheFilesAndKeepsTheBadge)
{
    saveSlot(2);
    slotWord(2, kOsdOn, 1);
    zeltest::writeText("/data/modes/MO03.json", "{}");
    setStored(kCurrentMode, 3);
    CustomMode* page = openModes();
    EXPECT_TRUE(zeltest::fileExists("/data/modes/custom_mode3"));
    click(page, "Button_delete");
    EXPECT_FALSE(zeltest::fileExists("/data/modes/custom_mode3"));
    EXPECT_FALSE(zeltest::fileExists("/data/modes/MO03.json"));
    EXPECT_EQ(model->ram_user_mode[2][0], 0xFF);
    EXPECT_EQ(model->ram_user_mode[2][1], 0xFF);
    EXPECT_TRUE(child<QLabel>(page, "label_blank")->isVisible());
    EXPECT_FALSE(child<QLabel>(page, "label_LED")->isVisible());
    EXPECT_EQ(imageWord(kCurrentMode), 3);
    EXPECT_TRUE(child<QWidget>(list(), "label_badge")->isVisible());
}

// Use and Delete take a slot only when both marker bytes say saved.
TEST_F(CustomModeTest, HalfMarkedSlotIsNeitherRecalledNorDeleted)
{
    saveSlot(3);
    saveSlot(8);
    model->ram_user_mode[3][1] = 0xFF;
    model->ram_user_mode[8][0] = 0x00;
    setStored(kCurrentMode, 0);
    g_mode_select = 9;
    CustomMode* page = openModes();
    EXPECT_EQ(g_mode_select.load(), 0) << "no current mode: the first slot";
    for (int slot : {3, 8}) {
        const std::string file = mode_file_path(slot).toStdString();
        click(list(), QString::number(slot));
        click(page, "Button_use");
        EXPECT_EQ(flag(), 0) << slot;
        EXPECT_EQ(imageWord(kCurrentMode), 0) << slot;
        click(page, "Button_delete");
        EXPECT_TRUE(zeltest::fileExists(file)) << slot;
        EXPECT_NE(model->ram_user_mode[slot][0], model->ram_user_mode[slot][1]) << slot;
    }
}

TEST_F(CustomModeTest, DetailViewShowsTheSlotsWindowsAndPictureLine)
{
    saveSlot(0);
    slotWord(0, window(0) + kWinSource, 0x8002);
    ram_set_u16(slotContent(0), cropEntry(2) - kModeStart, 0x8004);   // crop entry 2 of HDMI3
    slotWord(0, window(1) + kWinState, 1);
    slotWord(0, window(1) + kWinSource, 1);
    slotWord(0, window(1) + kWinX, 960);
    slotWord(0, window(1) + kWinWidth, 960);
    slotWord(0, window(1) + kWinHeight, 540);
    slotWord(0, window(2) + kWinSource, 0x8000 | 40);   // outside the crop table
    slotWord(0, window(3) + kWinX, 10);
    slotWord(0, window(3) + kWinY, 20);
    slotWord(0, window(3) + kWinWidth, 300);
    slotWord(0, window(3) + kWinHeight, 400);
    slotWord(0, kAudioWindow, 200);                      // no such window: off
    slotContent(0)[window(15) + kWinSound - kModeStart] = 0x80;
    CustomMode* page = openModes();
    EXPECT_EQ(text(page, "label_name"), "Name:Mode1");
    EXPECT_EQ(text(page, "label_LED"), "LED size:1920x1080");
    EXPECT_EQ(text(page, "label_brightness"), "Bri:100 CTRST:50 Volume:OFF");
    ASSERT_NE(panel(), nullptr);
    EXPECT_EQ(text(panel(), "label_window_0"), "HDMI3_Crop3 ON");
    EXPECT_EQ(text(panel(), "label_window_1"), "DVI ON");
    EXPECT_EQ(text(panel(), "label_position_1"), "[960,0]960x540");
    EXPECT_EQ(text(panel(), "label_window_2"), "3 OFF") << "a crop outside the table has no name";
    EXPECT_EQ(text(panel(), "label_window_5"), "EXT OFF");
    EXPECT_EQ(text(panel(), "label_position_3"), "[10,20]300x400");
    const char* kTiles[] = {"#D5E5FF", "#D4FC79", "#FC9D79", "#7E9AC9", "#32CC4C", "#4777FF"};
    for (int w = 0; w < 6; ++w)
        EXPECT_EQ(child<QLabel>(panel(), QStringLiteral("label_tile_%1").arg(w))->styleSheet(),
                  QStringLiteral("background-color: %1;").arg(kTiles[w])) << w;
    EXPECT_EQ(panel()->findChild<QLabel*>("label_osd_preview"), nullptr) << "no OSD in this mode";

    slotWord(0, kAudioWindow, 2);
    slotContent(0)[window(2) + kWinSound - kModeStart] = 0x85;
    page->lcd_para_init();
    EXPECT_EQ(text(page, "label_brightness"), "Bri:100 CTRST:50 Volume:ON");

    zeltest::writeText(kAliasFile, R"({"namelist":{"usermode":[{"id":0,"valid":"on","name":"Conference hall evening"}]}})");
    page->lcd_para_init();
    auto* name = child<QLabel>(page, "label_name");
    EXPECT_EQ(name->text(), "Name:" + QFontMetrics(name->font()).elidedText("Conference hall evening", Qt::ElideRight,
                                                                           171, Qt::TextShowMnemonic));
    page->init();
    auto* card = child<QLabel>(list(), "label_mode_0");
    EXPECT_EQ(card->text(), QFontMetrics(card->font()).elidedText("Conference hall evening", Qt::ElideRight, 100,
                                                                  Qt::TextShowMnemonic));

    // Without an alias, in Vietnamese, mode 3.
    setWord(kLanguage, 3);
    model->test_signal(1);
    click(list(), "2");
    EXPECT_EQ(text(page, "label_name"), QString::fromUtf8("Tên:Chế độ3"));
}

TEST_F(CustomModeTest, SelectionIndexIsBoundedAndOsdColoursAreChecked)
{
    setStored(kCurrentMode, 17);
    CustomMode* page = openModes();
    EXPECT_EQ(text(page, "label_ID"), "ID:1");
    EXPECT_FALSE(child<QWidget>(list(), "label_badge")->isVisible());
    g_mode_select = 200;   // written by the home page or the links
    page->lcd_para_init();
    page->image_para_init();
    click(page, "Button_use");
    EXPECT_EQ(flag(), 0);
    click(list(), "3");
    EXPECT_EQ(g_mode_select.load(), 3);
    click(page, "Button_back");
    flushDeletes();

    setStored(kCurrentMode, 16);   // the last mode
    page = openModes();
    EXPECT_EQ(g_mode_select.load(), 15);
    EXPECT_EQ(text(page, "label_ID"), "ID:16");
    EXPECT_EQ(child<QWidget>(list(), "label_badge")->y(), 1352);

    EXPECT_EQ(CustomMode::osd_colour("0x00FF00", "#000000"), "#00FF00");
    EXPECT_EQ(CustomMode::osd_colour("#ffffff", "#000000"), "#ffffff");
    EXPECT_EQ(CustomMode::osd_colour("00ff00", "#000000"), "#00ff00");
    EXPECT_EQ(CustomMode::osd_colour("0x0F", "#000000"), "#000000");
    EXPECT_EQ(CustomMode::osd_colour("00FF00;border:9px", "#000000"), "#000000");
    EXPECT_EQ(CustomMode::osd_colour("", "#123456"), "#123456");
    click(page, "Button_back");
    EXPECT_EQ(g_page_focus.load(), 1);
    flushDeletes();
}

TEST_F(CustomModeTest, OsdPreviewFromTheModesOwnMenuFile)
{
    saveSlot(9);
    slotWord(9, kOsdOn, 1);
    zeltest::writeText("/data/modes/MO0a.json", R"({
      "name": "news", "osdcount": 1, "oactcount": 1,
      "menu": {"osd1": {"type": 0, "status": "on",
        "pos": {"x": 10, "y": 20, "w": 800, "h": 100, "layer": "top"},
        "act": {"effect": 4, "speed": 3, "staytime": 0},
        "backpara": {"enable": "on", "color": "0x00FF00"},
        "fontpara": {"startx": 4, "starty": 6, "fontw": 32, "fonth": 32, "wordspace": 2,
                     "verticalspace": 1, "color": "0xFFFFFF"},
        "texts": ["one\ntwo\nthree\nfour\nfive"]}}})");
    CustomMode* page = openModes();
    click(list(), "9");
    ASSERT_NE(panel(), nullptr);
    auto* preview = child<QLabel>(panel(), "label_osd_preview");
    EXPECT_EQ(preview->styleSheet(), "background-color:#00FF00;color:#FFFFFF;");
    EXPECT_EQ(preview->text(), "one\ntwo\nthree");
    EXPECT_EQ(text(panel(), "label_osd_summary"),
              "osd [x:10,y:20,w:800,h:100] font size:32*32\nspace [h:2,v:1] char[x:4,y:6] speed:3,effect:move left");

    // A colour that is no colour never reaches the style sheet.
    zeltest::writeText("/data/modes/MO0a.json", R"({
      "name": "news", "osdcount": 1, "oactcount": 1,
      "menu": {"osd1": {"type": 0, "status": "on",
        "pos": {"x": 0, "y": 0, "w": 8, "h": 8, "layer": "top"},
        "act": {"effect": 9, "speed": 0, "staytime": 0},
        "backpara": {"enable": "on", "color": "red;border:9px"},
        "fontpara": {"startx": 0, "starty": 0, "fontw": 32, "fonth": 32, "wordspace": 0,
                     "verticalspace": 0, "color": "12"},
        "texts": ["x"]}}})");
    page->image_para_init();
    EXPECT_EQ(child<QLabel>(panel(), "label_osd_preview")->styleSheet(), "background-color:#000000;color:#FFFFFF;");
    EXPECT_TRUE(text(panel(), "label_osd_summary").endsWith("effect:static"));
}

TEST_F(CustomModeTest, ModeSavedOverTheLinksAppearsOnTheOpenPage)
{
    CustomMode* page = openModes();
    click(list(), "2");
    EXPECT_TRUE(child<QLabel>(page, "label_blank")->isVisible());

    // The links ask for the image to be saved as mode 3 and report the change.
    setWord(kBrightness, 61);
    setWord(kSaveRequest, 3);
    model->test_signal(1);
    QCoreApplication::processEvents();
    EXPECT_TRUE(model->ZelUserModeSaved(2));
    EXPECT_FALSE(child<QLabel>(page, "label_blank")->isVisible());
    ASSERT_NE(panel(), nullptr);
    EXPECT_EQ(text(page, "label_brightness"), "Bri:61 CTRST:50 Volume:OFF");
    EXPECT_TRUE(child<QLabel>(page, "label_using")->isVisible());
    EXPECT_EQ(child<QWidget>(list(), "label_badge")->y(), 2 + 90 * 2);
}

TEST_F(CustomModeTest, LinkSlotWriteWaitsWhileAModeIsBeingRecalled)
{
    unsigned char data[4] = {0xAA, 0xAA, 0x12, 0x34};
    pthread_mutex_lock(&engine->para_mutex);   // a recall in progress holds the commit point
    std::thread link([&] { model->ZelModeUserRamParaDeal(data, sizeof data, 0x4000); });
    for (int i = 0; i < 1000; ++i)
        std::this_thread::yield();
    EXPECT_NE(model->ram_user_mode[3][2], 0x12) << "the slot is not written under the recall";
    pthread_mutex_unlock(&engine->para_mutex);
    link.join();
    EXPECT_EQ(model->ram_user_mode[3][2], 0x12);
    EXPECT_EQ(model->ram_user_mode[3][3], 0x34);
}

TEST_F(CustomModeTest, BadgesKeepTheirPlaceAndHoldTheirTextInEveryLanguage)
{
    saveSlot(4);
    setStored(kCurrentMode, 5);
    for (int lang : {1, 2, 3, 0}) {
        setWord(kLanguage, static_cast<uint16_t>(lang));
        model->test_signal(1);
        ASSERT_EQ(shownLanguage(), lang);
        CustomMode* page = openModes();
        auto* badge = child<QLabel>(list(), "label_badge");
        auto* using_ = child<QLabel>(page, "label_using");
        EXPECT_TRUE(fits(badge)) << lang;
        EXPECT_TRUE(fits(using_)) << lang;
        // Longer texts grow the list's badge to the left, within its card, and the detail
        // view's to the right, clear of the ID.
        EXPECT_EQ(badge->geometry().right(), 96 + 56 - 1) << lang;
        EXPECT_GE(badge->x(), 3 + 24) << lang << ": clear of the mode number";
        EXPECT_EQ(using_->pos(), QPoint(225, 10)) << lang;
        EXPECT_LE(using_->geometry().right(), 589) << lang;
        if (lang == 1) {
            EXPECT_EQ(badge->geometry(), QRect(96, 362, 56, 30));
            EXPECT_EQ(using_->geometry(), QRect(225, 10, 88, 28));
        }
        click(page, "Button_back");
        flushDeletes();
    }
}
