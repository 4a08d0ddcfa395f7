// Each value row of the image quality page: which image word a release and the +/- steps write,
// whole or low byte only, and the row's range.
#include <QSlider>

#include "ui/shell/option.h"
#include "ui/video/imagequality.h"
#include "video_fixture.h"

namespace {

constexpr unsigned kPictureWords = 0x880;
constexpr uint16_t kHighByte = 0x0300;   // set by other means; low-byte rows keep it

struct Row {
    const char* key;   // horizontalSlider_<key>, label_<key>, Button_<key>_add, Button_<key>_reduce
    const char* tab;
    unsigned k;        // word at 0x880 + k
    int maximum;
    bool lowByteOnly;
};

const Row kRows[] = {
    {"bright", "Button_quality", 0, 100, true},        {"contrast", "Button_quality", 2, 100, true},
    {"sharpness", "Button_quality", 4, 10, true},      {"saturation", "Button_quality", 6, 100, false},
    {"red", "Button_temperature", 10, 128, false},     {"green", "Button_temperature", 12, 128, false},
    {"blue", "Button_temperature", 14, 128, false},
};

class QualityRows : public VideoPageTest {
protected:
    void TearDown() override
    {
        if (g_imagequality)
            click(g_imagequality, "Button_back");
        if (g_option)
            click(g_option, "Button_back");
        flushDeletes();
        VideoPageTest::TearDown();
    }
    uint16_t expected(const Row& r, int value) const { return static_cast<uint16_t>((r.lowByteOnly ? kHighByte : 0) | value); }
};

}  // namespace

TEST_F(QualityRows, EachRowWritesItsWordWithinItsRange)
{
    for (const Row& r : kRows)
        setStored(kPictureWords + r.k, kHighByte | 5);
    click(g_mainwindow, "option");
    click(g_option, "image_quality");
    ASSERT_NE(g_imagequality, nullptr);

    for (const Row& r : kRows) {
        const unsigned addr = kPictureWords + r.k;
        const QString key = QString::fromLatin1(r.key);
        click(g_imagequality, r.tab);
        auto* slider = child<QSlider>(g_imagequality, "horizontalSlider_" + key);
        ASSERT_NE(slider, nullptr) << r.key;
        EXPECT_EQ(slider->maximum(), r.maximum) << r.key;

        slider->setValue(7);
        emit slider->sliderReleased();
        EXPECT_EQ(imageWord(addr), expected(r, 7)) << r.key;
        EXPECT_EQ(flag(), 1) << r.key;
        engineStep();

        slider->setValue(r.maximum);
        click(g_imagequality, "Button_" + key + "_add");
        EXPECT_EQ(imageWord(addr), expected(r, r.maximum)) << r.key << " +";
        EXPECT_EQ(text(g_imagequality, "label_" + key), QString::number(r.maximum)) << r.key;
        engineStep();

        slider->setValue(1);
        click(g_imagequality, "Button_" + key + "_reduce");
        click(g_imagequality, "Button_" + key + "_reduce");
        EXPECT_EQ(imageWord(addr), expected(r, 0)) << r.key << " -";
        engineStep();
    }
}
