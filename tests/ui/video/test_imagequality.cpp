// The image quality page: slider release and +/- steps commit the picture words in their ranges,
// the preset list commits only a choice, and the reset restores the factory words.
#include <QSlider>

#include "sim/video_chip_picture.h"
#include "ui/shell/option.h"
#include "ui/video/imagequality.h"
#include "video_fixture.h"

using namespace ramaddr;

namespace {

class ImageQualityTest : public VideoPageTest {
protected:
    ImageQuality* openQuality()
    {
        click(g_mainwindow, "option");
        click(g_option, "image_quality");
        EXPECT_NE(g_imagequality, nullptr);
        EXPECT_EQ(g_page_focus.load(), ImageQuality::kFocus);
        return g_imagequality;
    }
    QSlider* slider(const char* key) { return child<QSlider>(g_imagequality, QStringLiteral("horizontalSlider_%1").arg(key)); }
    void release(const char* key, int value)
    {
        slider(key)->setValue(value);
        emit slider(key)->sliderReleased();
    }
};

}  // namespace

TEST_F(ImageQualityTest, ReleaseAndStepsCommitWithinTheRanges)
{
    setStored(kBrightness, 0x0300 | 40);   // a high byte set by other means
    ImageQuality* page = openQuality();
    EXPECT_EQ(text(page, "label_bright"), "100") << "the word reads 808: the slider stops at its end";
    EXPECT_EQ(flag(), 0);

    slider("bright")->setValue(70);
    EXPECT_EQ(text(page, "label_bright"), "70");
    EXPECT_EQ(imageWord(kBrightness), 0x0328) << "dragging writes nothing";
    emit slider("bright")->sliderReleased();
    EXPECT_EQ(imageWord(kBrightness), 0x0346) << "the low byte only";
    EXPECT_EQ(flag(), 1);
    engineStep();
    EXPECT_EQ(fileWord(kBrightness), 0x0346);

    // Sharpness climbs to 10 and stays.
    setStored(kSharpness, 8);
    page->para_init();
    for (int i = 0; i < 4; ++i)
        click(page, "Button_sharpness_add");
    EXPECT_EQ(imageWord(kSharpness), 10);
    EXPECT_EQ(text(page, "label_sharpness"), "10");
    EXPECT_EQ(flag(), 1) << "a step at the maximum still commits";
    engineStep();

    release("saturation", 0);
    click(page, "Button_saturation_reduce");
    EXPECT_EQ(imageWord(kSaturation), 0);
    click(page, "Button_quality");
    click(page, "Button_temperature");
    EXPECT_EQ(child<QWidget>(page, "stackedWidget")->findChild<QWidget*>("page_2")->isVisible(), true);
    click(page, "Button_red_add");
    EXPECT_EQ(imageWord(kRedGain), 65);
    release("blue", 128);
    EXPECT_EQ(imageWord(kBlueGain), 128);
    engineStep();
    model->refresh_shadow();

    // The blue gain, the last of the sixteen bytes, changed elsewhere is shown at the next report.
    setWord(kBlueGain, 90);
    model->test_signal(1);
    EXPECT_EQ(text(page, "label_blue"), "90");

    // A stored number past the slider's end: "-" steps from the number shown (150, not the
    // slider's 100) and writes what the slider then holds.
    setStored(kBrightness, 150);
    page->para_init();
    EXPECT_EQ(text(page, "label_bright"), "150") << "the slider already stood at 100";
    click(page, "Button_bright_reduce");
    EXPECT_EQ(imageWord(kBrightness), 100);
}

TEST_F(ImageQualityTest, PresetCommitsOnlyAChoiceAndResetRestoresTheFactoryWords)
{
    setStored(kColorTempMode, 7);
    ImageQuality* page = openQuality();
    auto* combo = child<QComboBox>(page, "comboBox");
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(combo->itemText(2), "natural");
    EXPECT_EQ(imageWord(kColorTempMode), 7) << "an unknown preset is shown, not rewritten";
    EXPECT_EQ(flag(), 0);
    setStored(kColorTempMode, 3);
    page->para_init();
    setWord(kLanguage, 0);
    model->test_signal(1);
    EXPECT_EQ(combo->currentText(), QString::fromUtf8("偏冷"));
    EXPECT_EQ(flag(), 0) << "the refill commits nothing";
    combo->setCurrentIndex(1);
    EXPECT_EQ(imageWord(kColorTempMode), 1);
    EXPECT_EQ(flag(), 1);
    engineStep();

    for (unsigned a : {kBrightness, kContrast, kSharpness, kSaturation, kRedGain, kGreenGain, kBlueGain})
        setWord(a, 3);
    click(page, "Button_reset");
    EXPECT_EQ(flag(), 1);
    engineStep();
    const uint16_t expected[8] = {100, 50, 10, 50, 2, 64, 64, 64};
    for (unsigned k = 0; k < 8; ++k)
        EXPECT_EQ(imageWord(kBrightness + 2 * k), expected[k]) << k;
    EXPECT_EQ(text(page, "label_bright"), "100") << "shown after the engine's report";
    EXPECT_EQ(text(page, "label_blue"), "64");
    click(page, "Button_back");
    EXPECT_EQ(g_page_focus.load(), 5);
    flushDeletes();
}

TEST_F(ImageQualityTest, ContrastFromThePageReachesTheChipsPicture)
{
    ImageQuality* page = openQuality();
    const auto pictureSection = [&] {
        const std::string view = sim::describeOutputPicture(chip);
        const size_t at = view.find("[picture]");
        return at == std::string::npos ? std::string() : view.substr(at);
    };
    const std::string before = pictureSection();
    ASSERT_FALSE(before.empty());
    release("contrast", 80);
    engineStep();
    EXPECT_NE(pictureSection(), before) << "the engine set the new contrast in the chip";
    EXPECT_EQ(text(page, "label_contrast"), "80");
}

TEST_F(ImageQualityTest, ChoosingTheShownEntryOverAnUnknownPresetStoresIt)
{
    setStored(kColorTempMode, 7);
    ImageQuality* page = openQuality();
    auto* combo = child<QComboBox>(page, "comboBox");
    ASSERT_EQ(combo->currentIndex(), 0);
    emit combo->activated(0);   // the user picks "custom", the entry already shown
    EXPECT_EQ(imageWord(kColorTempMode), 0);
    EXPECT_EQ(flag(), 1);
    engineStep();
    emit combo->activated(0);
    EXPECT_EQ(flag(), 0) << "the stored preset chosen again writes nothing";
}

TEST_F(ImageQualityTest, TextsFitInEveryLanguage)
{
    ImageQuality* page = openQuality();
    EXPECT_TRUE(child<QComboBox>(page, "comboBox")->styleSheet().contains("item{height:40px;}"));
    const char* names[] = {"label_name_bright", "label_name_sharp", "label_name_contrast", "label_name_saturation",
                           "label_name_red", "label_name_green", "label_name_blue", "label_type"};
    for (int lang : {0, 1, 2, 3, 4}) {
        setWord(kLanguage, static_cast<uint16_t>(lang));
        model->test_signal(1);
        for (const char* n : names)
            EXPECT_TRUE(fits(child<QLabel>(page, n))) << n << " " << lang;
        for (const char* b : {"Button_reset", "Button_quality", "Button_temperature"})
            EXPECT_TRUE(fits(child<QPushButton>(page, b))) << b << " " << lang;
    }
}

TEST_F(ImageQualityTest, TouchOnTheGrooveCommitsTheValueItShows)
{
    ImageQuality* page = openQuality();
    QSlider* s = slider("contrast");
    QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(s->width() - 4, s->height() / 2));
    const QString shown = text(page, "label_contrast");
    EXPECT_NE(shown, "50") << "the handle went to the touch";
    EXPECT_EQ(QString::number(imageWord(kContrast)), shown);
    EXPECT_EQ(flag(), 1);
}
