// The EDID timing page: the stored request of each input, the panel with its keypad fields and
// rate toggle, and the EDID that reaches the input's EEPROM.
#include <cstdlib>
#include <fstream>

#include "chips/edid_builder.h"
#include "chips/tarvosource.h"
#include "ledout/fpga_manage.h"
#include "sim/input_chips.h"
#include "sim/sim_config.h"
#include "ui/video/edidset.h"
#include "ui/video/inputchoose.h"
#include "video_fixture.h"

using namespace ramaddr;

namespace {

class EdidPageTest : public VideoPageTest {
protected:
    EDIDset* openEdid()
    {
        click(g_mainwindow, "inputchoose");
        click(child<QWidget>(g_inputchoose, "frame"), "Button_menu");
        click(g_inputchoose, "Button_EDID");
        EXPECT_NE(g_edidset, nullptr);
        EXPECT_EQ(g_page_focus.load(), EDIDset::kFocus);
        return g_edidset;
    }
    QString detail() { return text(child<QWidget>(g_edidset, "frame_source"), "label_detail_0"); }
    void openPanel() { click(child<QWidget>(g_edidset, "frame_source"), "0"); }
};

}  // namespace

TEST_F(EdidPageTest, CardPanelAndRateToggle)
{
    EDIDset* page = openEdid();
    EXPECT_EQ(page->currentInput(), 2);
    EXPECT_EQ(detail(), "1920x1080@60Hz");
    EXPECT_FALSE(child<QWidget>(page, "frame_add")->isVisible());

    click(page, "1");
    EXPECT_EQ(page->currentInput(), 3);
    click(page, "2");
    EXPECT_EQ(detail(), "3840x2160@60Hz");
    click(page, "3");
    EXPECT_EQ(page->currentInput(), 5);
    EXPECT_EQ(detail(), "3840x2160@60Hz");
    click(page, "5");
    EXPECT_EQ(page->currentInput(), 0);
    EXPECT_EQ(detail(), "1920x1080@60Hz");
    click(page, "4");
    EXPECT_EQ(page->currentInput(), 1);
    EXPECT_EQ(child<QLabel>(child<QWidget>(page, "frame_source"), "label_icon_0")->pixmap(Qt::ReturnByValue).toImage(),
              QPixmap(":/png/DVI.png").toImage());

    setStored(kEdidTiming + 6 + 4, 30);
    page->source_init();
    openPanel();
    EXPECT_EQ(text(page, "label_edid_source"), "EDID source:DVI");
    EXPECT_EQ(text(page, "label_rate"), "30");
    click(page, "Button_right");
    EXPECT_EQ(text(page, "label_rate"), "30") << "the toggle starts at 60";
    click(page, "Button_left");
    EXPECT_EQ(text(page, "label_rate"), "60");

    // Cancel and Delete close and store nothing.
    typeInto(page, "lineEdit_W", "1280");
    click(page, "Button_delete");
    EXPECT_FALSE(child<QWidget>(page, "frame_add")->isVisible());
    EXPECT_EQ(imageWord(kEdidTiming + 6), 1920);
    EXPECT_EQ(flag(), 0);

    // Save with an empty width stores 0.
    openPanel();
    typeInto(page, "lineEdit_W", "");
    click(page, "Button_save");
    EXPECT_EQ(imageWord(kEdidTiming + 6), 0);
    EXPECT_EQ(imageWord(kEdidTiming + 6 + 2), 1080);
    EXPECT_EQ(flag(), 1);
    EXPECT_EQ(detail(), "0x1080@30Hz");
    model->refresh_shadow();

    // A request changed over the links, its refresh word only, for the selected input (DVI).
    setWord(kEdidTiming + 6 + 4, 60);
    model->test_signal(1);
    EXPECT_EQ(detail(), "0x1080@60Hz");

    click(page, "Button_back");
    EXPECT_EQ(g_edidset, nullptr);
    EXPECT_EQ(g_page_focus.load(), InputChoose::kFocus);
}

TEST_F(EdidPageTest, KeypadTitlesFollowTheLanguage)
{
    EDIDset* page = openEdid();
    auto title = [&](const char* field) {
        QTest::mouseClick(child<QWidget>(page, field), Qt::LeftButton);
        const QString t = text(g_numberkeyboard, "label_title");
        click(g_numberkeyboard, "Button_cancel");
        return t;
    };
    openPanel();
    EXPECT_EQ(title("lineEdit_W"), "W");
    for (auto [lang, w, h] : {std::tuple{0, "宽", "高"}, std::tuple{3, "W", "H"}, std::tuple{4, "寬", "高"}}) {
        setWord(kLanguage, static_cast<uint16_t>(lang));
        model->test_signal(1);
        EXPECT_EQ(title("lineEdit_W"), QString::fromUtf8(w)) << lang;
        EXPECT_EQ(title("lineEdit_H"), QString::fromUtf8(h)) << lang;
    }
}

TEST_F(EdidPageTest, ChosenTimingIsProgrammedIntoTheInputsEeprom)
{
    sim::SimConfig c = sim::SimConfig::defaults();
    for (auto& in : c.inputs)
        in = sim::InputSignal{};
    sim::setConfig(c);
    ASSERT_TRUE(sim::attachInputChips());
    fpga_manage::pInstance();
    tarvosource* src = tarvosource::pInstance();
    for (int k = 0; k < 4; ++k)
        src->poll_pass();

    EDIDset* page = openEdid();
    click(page, "2");   // HDMI3, input 4
    openPanel();
    typeInto(page, "lineEdit_W", "2560");
    typeInto(page, "lineEdit_H", "1440");
    click(page, "Button_left");   // 30 Hz
    click(page, "Button_save");
    EXPECT_EQ(imageWord(kEdidTiming + 24), 2560);
    engineStep();
    src->poll_input(4);
    EXPECT_EQ(src->edid_done[4], 1);
    const std::vector<uint8_t> eeprom = sim::inputchips::eepromContents(4);
    uint8_t expected[256];
    ASSERT_TRUE(edid_builder::build_edid(2560, 1440, 30, expected));
    ASSERT_EQ(eeprom.size(), 256u);
    EXPECT_EQ(std::vector<uint8_t>(expected, expected + 256), eeprom);
    EXPECT_EQ(fileWord(kEdidTiming + 24 + 4), 30);

    if (std::system("command -v edid-decode >/dev/null 2>&1") == 0) {
        const std::string bin = root.path() + "/eeprom.bin";
        std::ofstream(bin, std::ios::binary).write(reinterpret_cast<const char*>(eeprom.data()), 256);
        EXPECT_EQ(std::system(("edid-decode --check " + bin + " >/dev/null 2>&1").c_str()), 0);
    }

    // A timing no EDID can describe keeps the EEPROM as it was.
    openPanel();
    typeInto(page, "lineEdit_W", "");
    click(page, "Button_save");
    engineStep();
    src->poll_input(4);
    EXPECT_EQ(sim::inputchips::eepromContents(4), eeprom);
}
