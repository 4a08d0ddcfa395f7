#include "ui/video/imagequality.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>

#include <algorithm>

#include "core/para_commit.h"
#include "core/ram_layout.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/shell_widgets.h"
#include "ui/video/video_common.h"

ImageQuality* g_imagequality = nullptr;

namespace {

constexpr LangText kTitle = {"图像效果", "Image quality", "Изображение", "Chất lượng hình ảnh", "圖像效果"};
constexpr LangText kQuality = {"画质", "Quality", "Качество", "Chất lượng", "畫質"};
constexpr LangText kTemperature = {"色温", "Temperature", "Оттенок", "Độ màu", "色溫"};
constexpr LangText kReset = {"画质复位", "Reset", "Сбросить", "Đặt lại chất lượng hình ảnh", "畫質複位"};
constexpr LangText kType = {"色温类型", "temperature type", "Выбор цвета", "Lựa chọn độ màu", "色溫類型"};
constexpr LangText kPresets[4] = {
    {"自定义", "custom", "Свой", "Tùy chỉnh", "自定義"},
    {"偏暖", "warm", "Теплый", "Màu ấm", "偏暖"},
    {"自然", "natural", "Природный", "Tự nhiên", "自然"},
    {"偏冷", "cool", "Холодный", "Lạnh hơn", "偏冷"},
};

struct Row {
    const char* key;        // slider, number and button names
    const char* nameLabel;
    unsigned addr;
    int maximum;
    bool lowByteOnly;       // brightness, contrast and sharpness keep their high byte
    int tab;
    LangText name;
};

// Rows in the order of the tabs; the picture words are independent of each other.
constexpr Row kRowTable[ImageQuality::kRows] = {
    {"bright", "label_name_bright", ramaddr::kBrightness, 100, true, 0,
     {"亮度", "Brightness", "Яркость", "Độ cao", "亮度"}},
    {"sharpness", "label_name_sharp", ramaddr::kSharpness, 10, true, 0,
     {"锐度", "Sharpness", "Резкость", "Độ sắc nét", "銳度"}},
    {"contrast", "label_name_contrast", ramaddr::kContrast, 100, true, 0,
     {"对比度", "Contrast", "Контраст", "Độ tương phản", "對比度"}},
    {"saturation", "label_name_saturation", ramaddr::kSaturation, 100, false, 0,
     {"饱和度", "Saturation", "Насыщенность", "Độ bão hòa", "飽和度"}},
    {"red", "label_name_red", ramaddr::kRedGain, 128, false, 1, {"红色", "Red", "Красный", "Màu đỏ", "紅色"}},
    {"green", "label_name_green", ramaddr::kGreenGain, 128, false, 1,
     {"绿色", "Green", "Зеленый", "Màu xanh lá cây", "綠色"}},
    {"blue", "label_name_blue", ramaddr::kBlueGain, 128, false, 1,
     {"蓝色", "Blue", "Синий", "Màu xanh da trời", "藍色"}},
};

constexpr unsigned kPictureWords = 16;   // bytes 0x880-0x88F
constexpr int kPresetCount = 4;
constexpr const char* kPresetItems = "QComboBox QAbstractItemView::item{height:40px;}";

constexpr const char* kSliderStyle =
    "QSlider::groove:horizontal{height:8px;background:#3A3F5C;border-radius:4px;}"
    "QSlider::sub-page:horizontal{background:#4777FF;border-radius:4px;}"
    "QSlider::handle:horizontal{background:#FFFFFF;width:26px;margin:-9px 0;border-radius:13px;}";
constexpr const char* kStepStyle =
    "QPushButton{color:#FFFFFF;background-color:#10101C;border:1px solid #3A3F5C;border-radius:8px;font:bold 24px;}"
    "QPushButton:pressed{background-color:#4777FF;}";
constexpr const char* kResetStyle =
    "QPushButton{color:#FFFFFF;border:1px solid #FFFFFF;border-radius:8px;font:18px;background:transparent;}"
    "QPushButton:pressed{background-color:#4777FF;}";

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& text, int x, int y, int w, int h,
                        const char* style)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setGeometry(x, y, w, h);
    b->setFocusPolicy(Qt::NoFocus);
    b->setStyleSheet(style);
    return b;
}

int16_t stored(const Row& r) { return static_cast<int16_t>(video::word(r.addr)); }

}  // namespace

ImageQuality::ImageQuality(QWidget* parent) : PageBase("ImageQuality", kFocus, shell::kSettingsFocus, parent)
{
    keepPointer(g_imagequality);

    tabs_[0] = makeButton(this, "Button_quality", QString(), 20, 90, 140, 60, style::kSelected);
    tabs_[1] = makeButton(this, "Button_temperature", QString(), 20, 160, 140, 60, style::kUnselected);
    tabSelected_ = tabs_[0];
    connect(tabs_[0], &QPushButton::clicked, this, &ImageQuality::on_Button_quality_clicked);
    connect(tabs_[1], &QPushButton::clicked, this, &ImageQuality::on_Button_temperature_clicked);
    reset_ = makeButton(this, "Button_reset", QString(), 20, 396, 140, 60, kResetStyle);
    connect(reset_, &QPushButton::clicked, this, &ImageQuality::on_Button_reset_clicked);

    stack_ = new QStackedWidget(this);
    stack_->setObjectName("stackedWidget");
    stack_->setGeometry(180, 84, 600, 384);
    QWidget* pages[2];
    for (int t = 0; t < 2; ++t) {
        pages[t] = shell::makePanel(stack_, t == 0 ? "page" : "page_2", 0, 0, 600, 384);
        stack_->addWidget(pages[t]);
    }

    // The preset row heads the colour temperature tab.
    typeLabel_ = shell::makeLabel(pages[1], "label_type", 16, 22, 200, 50, style::kText);
    preset_ = new QComboBox(pages[1]);
    preset_->setObjectName("comboBox");
    preset_->setGeometry(230, 22, 350, 50);
    preset_->setFocusPolicy(Qt::NoFocus);
    preset_->setStyleSheet(QString::fromLatin1(style::kCombo) + kPresetItems);
    connect(preset_, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &ImageQuality::on_comboBox_currentIndexChanged);
    // Picking the entry already shown (over a preset the list does not offer) is a choice too.
    connect(preset_, qOverload<int>(&QComboBox::activated), this, &ImageQuality::on_comboBox_currentIndexChanged);

    int placed[2] = {0, 1};
    for (int r = 0; r < kRows; ++r) {
        const Row& row = kRowTable[r];
        const QString key = QString::fromLatin1(row.key);
        const int y = 22 + 88 * placed[row.tab]++;
        QWidget* p = pages[row.tab];
        names_[r] = shell::makeLabel(p, row.nameLabel, 16, y, 184, 50, style::kText);
        sliders_[r] = new QSlider(Qt::Horizontal, p);
        sliders_[r]->setObjectName("horizontalSlider_" + key);
        sliders_[r]->setGeometry(204, y, 186, 50);
        sliders_[r]->setRange(0, row.maximum);
        sliders_[r]->setFocusPolicy(Qt::NoFocus);
        sliders_[r]->setStyleSheet(kSliderStyle);
        shell::setTouchSlider(sliders_[r]);
        QPushButton* add = makeButton(p, "Button_" + key + "_add", "+", 404, y + 2, 52, 46, kStepStyle);
        values_[r] = shell::makeLabel(p, "label_" + key, 458, y, 62, 50, style::kText, Qt::AlignCenter);
        QPushButton* reduce = makeButton(p, "Button_" + key + "_reduce", "-", 522, y + 2, 52, 46, kStepStyle);
        for (QPushButton* b : {add, reduce})
            b->setAutoRepeat(true);
        connect(sliders_[r], &QSlider::valueChanged, this, [this, r](int v) { values_[r]->setText(QString::number(v)); });
        connect(sliders_[r], &QSlider::sliderReleased, this, [this, r] { slider_released(r); });
        connect(add, &QPushButton::clicked, this, [this, r] { step(r, 1); });
        connect(reduce, &QPushButton::clicked, this, [this, r] { step(r, -1); });
    }

    stack_->setCurrentIndex(0);
    language_changed();
    para_init();
}

ImageQuality::~ImageQuality() = default;

void ImageQuality::show_tab(int tab)
{
    stack_->setCurrentIndex(tab);
    shell::markSelected(tabSelected_, false);
    tabSelected_ = tabs_[tab];
    shell::markSelected(tabSelected_, true);
}

void ImageQuality::para_init()
{
    for (int r = 0; r < kRows; ++r) {
        // The number first: a stored value beyond the slider's end stays readable until the
        // slider moves.
        values_[r]->setText(QString::number(stored(kRowTable[r])));
        sliders_[r]->setValue(stored(kRowTable[r]));
    }
    // A preset outside the list shows as the first entry; nothing is written for it.
    const int preset = static_cast<int16_t>(video::word(ramaddr::kColorTempMode));
    video::selectComboQuietly(preset_, preset >= 0 && preset < kPresetCount ? preset : 0);
}

void ImageQuality::commit_row(int row, int value)
{
    const Row& r = kRowTable[row];
    if (r.lowByteOnly)
        video::commitLowBytes({{r.addr, static_cast<uint16_t>(value)}});
    else
        video::commitWords({{r.addr, static_cast<uint16_t>(value)}});
}

void ImageQuality::slider_released(int row) { commit_row(row, sliders_[row]->value()); }

void ImageQuality::step(int row, int delta)
{
    bool ok = false;
    int value = values_[row]->text().toInt(&ok);
    if (!ok || value < -32768 || value > 32767)
        value = 0;
    value = std::clamp(value + delta, 0, kRowTable[row].maximum);
    values_[row]->setText(QString::number(value));
    sliders_[row]->setValue(value);
    commit_row(row, sliders_[row]->value());
}

void ImageQuality::on_comboBox_currentIndexChanged(int index)
{
    if (index < 0 || index >= kPresetCount || index == static_cast<int16_t>(video::word(ramaddr::kColorTempMode)))
        return;
    video::commitWords({{ramaddr::kColorTempMode, static_cast<uint16_t>(index)}});
}

void ImageQuality::on_Button_reset_clicked()
{
    ParaCommit commit;
    for (unsigned k = 0; k < kPictureWords; ++k)
        video::image()[ramaddr::kBrightness + k] =
            default_para_ramlist[ramaddr::kBrightness + k + default_para::kImageToTable];
    commit.set(1);
}

void ImageQuality::syncUpdate()
{
    // The base ran the language check before this refresh.
    if (video::differs(ramaddr::kBrightness, kPictureWords))
        para_init();
}

void ImageQuality::combox_language_change()
{
    QStringList entries;
    for (const LangText& e : kPresets)
        entries << langText(e);
    // Refilled without reporting a selection: a refill is no choice of the user.
    video::setComboEntries(preset_, entries, preset_->currentIndex());
}

void ImageQuality::language_changed()
{
    titleLabel()->setText(langText(kTitle));
    tabs_[0]->setText(langText(kQuality));
    tabs_[1]->setText(langText(kTemperature));
    shell::setWrappedText(reset_, langText(kReset));
    typeLabel_->setText(langText(kType));
    for (int r = 0; r < kRows; ++r)
        names_[r]->setText(langText(kRowTable[r].name));
    combox_language_change();
    const int preset = video::image()[ramaddr::kColorTempMode];
    video::selectComboQuietly(preset_, preset < kPresetCount ? preset : 0);
}
