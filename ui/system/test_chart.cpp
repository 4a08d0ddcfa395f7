#include "ui/system/test_chart.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "core/global.h"
#include "core/para_commit.h"
#include "core/ram_layout.h"
#include "core/zelrampara.h"
#include "ui/shell/shell_widgets.h"
#include "ui/system/system_widgets.h"

test_chart* g_test_chart = nullptr;

namespace {

constexpr LangText kTitle = {"测试图", "Test pattern", "Тестовый\nобразец", "Biểu đồ\nkiểm tra", "測試圖"};
constexpr LangText kClose = {"关闭测试图", "Close", "Закрыть", "Đóng", "關閉測試圖"};

// The patterns in button order: image, caption widget and the caption of each language. Russian
// and Vietnamese number the patterns instead of naming them.
struct Pattern {
    const char* image;
    const char* caption;
    const char* zh;
    const char* en;
    const char* tw;
};
constexpr Pattern kPatternRows[test_chart::kPatterns] = {
    {":/png/img_test1.png", "label_red", "红色", "Red", "紅色"},
    {":/png/img_test2.png", "label_green", "绿色", "Green", "綠色"},
    {":/png/img_test3.png", "label_blue", "蓝色", "Blue", "藍色"},
    {":/png/img_test4.png", "label_white", "白色", "White", "白色"},
    {":/png/img_test5.png", "label_black", "黑色", "Black", "黑色"},
    {":/png/img_test6.png", "label_colour", "色带", "Colour bar", "色帶"},
    {":/png/img_test7.png", "label_hline", "横线", "Horizontal line", "橫線"},
    {":/png/img_test8.png", "label_wline", "竖线", "Vertical line", "豎線"},
};

QString caption(int i)
{
    const Pattern& p = kPatternRows[i];
    switch (shownLanguage()) {
    case kLangChinese:
        return QString::fromUtf8(p.zh);
    case kLangRussian:
        return QStringLiteral("Тест %1").arg(i + 1);
    case kLangVietnamese:
        return QStringLiteral("Kiểm tra %1").arg(i + 1);
    case kLangTraditional:
        return QString::fromUtf8(p.tw);
    default:
        return QString::fromUtf8(p.en);
    }
}

constexpr const char* kFramed = "border:5px solid rgb(255,171,84);";
constexpr const char* kUnframed = "border:1px solid rgb(255, 255, 255);";

int column(int i) { return i % 4; }
int row(int i) { return i / 4; }

}  // namespace

test_chart::test_chart(QWidget* parent) : shell::PageBase("test_chart", kFocus, shell::kSettingsFocus, parent)
{
    keepPointer(g_test_chart);
    // The Russian and Vietnamese titles take two lines.
    titleLabel()->setGeometry(90, 2, 620, 66);

    frame_ = new QFrame(this);
    frame_->setObjectName("frame");
    frame_->setGeometry(171, 69, 580, 400);
    frame_->setStyleSheet(QStringLiteral("#frame{border:0px solid rgb(133, 129, 153);}") + sys::kPageSheet);
    for (int i = 0; i < kPatterns; ++i) {
        images_[i] = sys::makeText(frame_, QStringLiteral("label_test%1").arg(i + 1), 15 + 140 * column(i),
                                   20 + 160 * row(i), 100, 100);
        images_[i]->setStyleSheet(kUnframed);
        captions_[i] = sys::makeText(frame_, kPatternRows[i].caption, 140 * column(i), 130 + 160 * row(i), 130, 30,
                                     Qt::AlignCenter);
    }
    close_ = sys::makeButton(frame_, "Button_closetest", 385, 330, 180, 60);
    QFont f = close_->font();
    f.setPointSize(14);
    close_->setFont(f);
    close_->setStyleSheet("color: rgb(255, 255, 255);\nbackground-color: rgb(71, 119, 255);");
    connect(close_, &QPushButton::clicked, this, &test_chart::on_Button_closetest_clicked);

    testimage_button_init();
    para_init();
    language_changed();
}

test_chart::~test_chart() = default;

void test_chart::testimage_button_init()
{
    for (int i = 0; i < kPatterns; ++i) {
        // The buttons sit 25 pixels right of their images, as on the panel.
        auto* b = shell::makeFlatButton(frame_, QString::number(i), 40 + 140 * column(i), 20 + 160 * row(i), 100, 100);
        connect(b, &QPushButton::clicked, this, &test_chart::zel_image_button_clicked);
    }
}

void test_chart::para_init()
{
    for (int i = 0; i < kPatterns; ++i)
        sys::setPicture(images_[i], kPatternRows[i].image);
}

void test_chart::syncUpdate() { refreshNow(0); }

// Only the texts follow the image: the pattern itself is not redrawn from it.
void test_chart::pageRefresh(int) {}

void test_chart::language_changed()
{
    titleLabel()->setText(langText(kTitle));
    for (int i = 0; i < kPatterns; ++i)
        captions_[i]->setText(caption(i));
    close_->setText(langText(kClose));
}

void test_chart::unframe()
{
    if (current_ < kPatterns)
        images_[current_]->setStyleSheet(kUnframed);
}

void test_chart::zel_image_button_clicked()
{
    const int i = senderIndex(kPatterns);
    if (i < 0)
        return;
    ZEL_DEBUG("\n\n index = %d \n\n", i);
    if (i != current_) {
        unframe();
        current_ = static_cast<uint8_t>(i);
        images_[i]->setStyleSheet(kFramed);
    }
    commit_pattern(static_cast<uint8_t>(i + 1));
}

void test_chart::on_Button_closetest_clicked()
{
    unframe();
    current_ = kNone;
    commit_pattern(0);
}

// Only the low byte of the pattern word is written.
void test_chart::commit_pattern(uint8_t value)
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (!model)
        return;
    ParaCommit commit;
    commit.set(1);
    model->ram_para[ramaddr::kTestPattern] = value;
}
