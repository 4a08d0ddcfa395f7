#include "ui/video/edidset.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "core/ram_layout.h"
#include "core/zelrampara.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/shell_widgets.h"
#include "ui/video/inputchoose.h"

EDIDset* g_edidset = nullptr;

namespace {

constexpr LangText kTitle = {"设置EDID", "EDID Settings", "Настройка EDID", "Cài đặt EDID", "设置EDID"};
constexpr LangText kSource = {"EDID信源:", "EDID source:", "Источник EDID:", "Tín hiệu EDID:", "EDID信源:"};
constexpr LangText kFreq = {"刷新率", "Refresh rate", "Частота", "Tần số", "刷新率"};
constexpr LangText kSave = {"保存", "SAVE", "Сохранить", "lưu", "保存"};
// Keypad titles: Chinese in the two Chinese languages, the letter in the others.
constexpr LangText kKeypadW = {"宽", "W", "W", "W", "寬"};
constexpr LangText kKeypadH = {"高", "H", "H", "H", "高"};

// The rate row by language: x from-to of label_freq, Button_left, label_rate, Button_right.
struct RateRow {
    int freq[2], left[2], rate[2], right[2];
};
constexpr RateRow kRowChinese = {{360, 429}, {440, 483}, {484, 575}, {576, 619}};
constexpr RateRow kRowLatin = {{360, 489}, {500, 543}, {544, 635}, {636, 679}};
constexpr RateRow kRowVietnamese = {{360, 489}, {500, 543}, {544, 615}, {616, 659}};
constexpr const RateRow* kRateRows[5] = {&kRowChinese, &kRowLatin, &kRowLatin, &kRowVietnamese, &kRowChinese};

constexpr const char* kArrow =
    "QPushButton{color:#FFFFFF;background-color:#10101C;border:1px solid #3A3F5C;border-radius:6px;font:bold 22px;}"
    "QPushButton:pressed{background-color:#4777FF;}";
constexpr uint8_t kRateLow = 30;
constexpr uint8_t kRateHigh = 60;

void place(QWidget* w, const int (&x)[2], int y0, int y1) { w->setGeometry(x[0], y0, x[1] - x[0] + 1, y1 - y0 + 1); }

unsigned timingAddr(int input) { return ramaddr::kEdidTiming + 6u * static_cast<unsigned>(input); }

}  // namespace

EDIDset::EDIDset(QWidget* parent) : PageBase("EDIDset", kFocus, InputChoose::kFocus, parent)
{
    keepPointer(g_edidset);
    cardFont_ = font();
    cardFont_.setPointSize(12);

    tabs_ = video::makeInputTabs(this, false);

    edit_ = video::makeEditPanel(this, "Button_save", cardFont_);
    panel_ = edit_.frame;
    source_ = shell::makeLabel(panel_, "label_edid_source", 16, 10, 600, 40, style::kText);
    labelW_ = shell::makeLabel(panel_, "label_W", 8, 72, 64, 50, style::kDimText, Qt::AlignRight | Qt::AlignVCenter);
    width_ = new My_lineEdit(panel_);
    width_->setObjectName("lineEdit_W");
    width_->setGeometry(78, 72, 100, 50);
    labelH_ = shell::makeLabel(panel_, "label_H", 180, 72, 64, 50, style::kDimText, Qt::AlignRight | Qt::AlignVCenter);
    height_ = new My_lineEdit(panel_);
    height_->setObjectName("lineEdit_H");
    height_->setGeometry(250, 72, 100, 50);
    for (My_lineEdit* f : {width_, height_})
        f->setStyleSheet(style::kField);
    bindField(width_, [this] { return keypad_title(true); });
    bindField(height_, [this] { return keypad_title(false); });
    freq_ = shell::makeLabel(panel_, "label_freq", 0, 0, 10, 10, style::kDimText, Qt::AlignRight | Qt::AlignVCenter);
    left_ = new QPushButton("<", panel_);
    left_->setObjectName("Button_left");
    right_ = new QPushButton(">", panel_);
    right_->setObjectName("Button_right");
    for (QPushButton* b : {left_, right_}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setStyleSheet(kArrow);
    }
    rateLabel_ = shell::makeLabel(panel_, "label_rate", 0, 0, 10, 10, style::kText, Qt::AlignCenter);
    connect(left_, &QPushButton::clicked, this, &EDIDset::on_Button_left_clicked);
    connect(right_, &QPushButton::clicked, this, &EDIDset::on_Button_right_clicked);

    input_init();
    source_init();
    connect(edit_.cancel, &QPushButton::clicked, this, &EDIDset::zel_button_cancel_clicked);
    connect(edit_.ok, &QPushButton::clicked, this, &EDIDset::zel_button_ok_clicked);
    connect(edit_.remove, &QPushButton::clicked, this, &EDIDset::zel_button_delete_clicked);

    language_changed();
}

EDIDset::~EDIDset() = default;

QString EDIDset::keypad_title(bool width) const { return langText(width ? kKeypadW : kKeypadH); }

void EDIDset::input_init()
{
    for (QPushButton* b : tabs_.button)
        connect(b, &QPushButton::clicked, this, &EDIDset::zel_button_input_clicked);
}

void EDIDset::source_init()
{
    shell::retire(container_);
    container_ = video::makeSourceContainer(this);
    const video::SourceCard card = video::makeSourceCard(container_, 0, input_, cardFont_);
    const unsigned a = timingAddr(input_);
    card.name->setText(inputName_);
    card.detail->setText(QStringLiteral("%1x%2@%3Hz")
                             .arg(static_cast<int16_t>(video::word(a)))
                             .arg(static_cast<int16_t>(video::word(a + 2)))
                             .arg(static_cast<int16_t>(video::word(a + 4))));
    connect(card.button, &QPushButton::clicked, this, &EDIDset::zel_button_source_clicked);
    container_->lower();
    container_->show();
}

void EDIDset::zel_button_input_clicked()
{
    const int k = senderIndex(video::kInputs);
    if (k < 0)
        return;
    input_ = static_cast<uint8_t>(video::kTabInputs[k]);
    inputName_ = video::inputName(input_);
    video::moveTabHighlight(tabs_, k);
    source_init();
    close_panel();
}

void EDIDset::zel_button_source_clicked()
{
    source_->setText(langText(kSource) + inputName_);
    const unsigned a = timingAddr(input_);
    width_->setText(QString::number(video::word(a)));
    height_->setText(QString::number(video::word(a + 2)));
    rateLabel_->setText(QString::number(video::word(a + 4)));
    edit_.open(true);
}

void EDIDset::toggle_rate()
{
    // The toggle keeps its own value; the panel only shows the stored rate until it is pressed.
    rate_ = rate_ == kRateLow ? kRateHigh : kRateLow;
    rateLabel_->setText(QString::number(rate_));
}

void EDIDset::fieldConfirmed(My_lineEdit* field, const QString& text) { field->setText(text); }

void EDIDset::zel_button_ok_clicked()
{
    // The input side builds the EDID from these words; one it cannot describe (a zero or
    // oversized timing) keeps the input's EDID as it is.
    if (ZelRamPara* m = ZelRamPara::p_zelrampara_config)
        m->ZelSetEDIDPara(input_, video::toShort(width_->text()), video::toShort(height_->text()), video::toShort(rateLabel_->text()));
    source_init();
    close_panel();
}

void EDIDset::zel_button_cancel_clicked() { close_panel(); }
void EDIDset::zel_button_delete_clicked() { close_panel(); }

void EDIDset::close_panel()
{
    edit_.close();
}

void EDIDset::syncUpdate()
{
    if (video::differs(timingAddr(input_), 6))
        source_init();
}

void EDIDset::layout_rate_row()
{
    const RateRow& row = *kRateRows[shownLanguage()];
    place(freq_, row.freq, 83, 110);
    place(left_, row.left, 72, 121);
    place(rateLabel_, row.rate, 72, 121);
    place(right_, row.right, 72, 121);
}

void EDIDset::language_changed()
{
    titleLabel()->setText(langText(kTitle));
    source_->setText(langText(kSource) + inputName_);
    labelW_->setText(langText(shell::kTextWidth));
    labelH_->setText(langText(shell::kTextHeight));
    freq_->setText(langText(kFreq));
    edit_.cancel->setText(langText(shell::kTextCancel));
    edit_.ok->setText(langText(kSave));
    edit_.remove->setText(langText(video::kTextDelete));
    layout_rate_row();
}

void EDIDset::returnBeneath()
{
    if (g_inputchoose) {
        g_inputchoose->language_changed();
        g_inputchoose->initSource();
        return;
    }
    PageBase::returnBeneath();
}
