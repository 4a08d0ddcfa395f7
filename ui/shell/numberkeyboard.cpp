#include "ui/shell/numberkeyboard.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/global.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/shell_text.h"

NumberKeyboard* g_numberkeyboard = nullptr;

namespace {

constexpr LangText kOk = {"确定", "OK", "ОК", "OK", "確定"};
constexpr LangText kCancel = {"取消", "Cancel", "Отмена", "Hủy", "取消"};
constexpr LangText kClear = {"清空", "Clear", "Сброс", "Xóa hết", "清空"};

constexpr int kWidth = 380;
constexpr int kHeight = 480;
constexpr int kKeyW = 110;
constexpr int kKeyH = 58;
constexpr int kGap = 10;
constexpr int kRowGap = 8;
constexpr int kLeft = 20;
constexpr int kKeysTop = 134;

// Keys in reading order: three columns, four rows. "<" deletes the last character.
constexpr const char* kKeys[12] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", ".", "0", "<"};

constexpr const char* kKeyStyle =
    "QPushButton{background-color:#212435;color:#FFFFFF;border:1px solid #3A3F5C;border-radius:8px;font:bold 28px;}"
    "QPushButton:pressed{background-color:#4777FF;}";
constexpr const char* kOkStyle =
    "QPushButton{background-color:#4777FF;color:#FFFFFF;border:none;border-radius:8px;font:bold 22px;}"
    "QPushButton:pressed{background-color:#2F5AD8;}";
constexpr const char* kCancelStyle =
    "QPushButton{background-color:transparent;color:#FFFFFF;border:1px solid #FFFFFF;border-radius:8px;font:22px;}"
    "QPushButton:pressed{background-color:#4777FF;}";

}  // namespace

NumberKeyboard::NumberKeyboard(QWidget* parent) : QDialog(parent)
{
    setObjectName("NumberKeyboard");
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    resize(kWidth, kHeight);
    setStyleSheet("QDialog#NumberKeyboard{background-color:#181A2A;border-left:2px solid #4777FF;}");

    label_title_ = new QLabel(this);
    label_title_->setObjectName("label_title");
    label_title_->setGeometry(kLeft, 12, kWidth - 2 * kLeft, 40);
    label_title_->setAlignment(Qt::AlignCenter);
    label_title_->setStyleSheet("color:#FFFFFF;background:transparent;");

    lineEdit_show_ = new QLineEdit(this);
    lineEdit_show_->setObjectName("lineEdit_show");
    lineEdit_show_->setGeometry(kLeft, 60, kWidth - 2 * kLeft, 60);
    lineEdit_show_->setReadOnly(true);
    lineEdit_show_->setFocusPolicy(Qt::NoFocus);
    lineEdit_show_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lineEdit_show_->setStyleSheet(
        "background-color:#10101C;color:#FFFFFF;border:1px solid #4777FF;border-radius:8px;font:bold 30px;padding:0 10px;");

    for (int i = 0; i < 12; ++i) {
        auto* key = new QPushButton(QString::fromLatin1(kKeys[i]), this);
        key->setObjectName(i == 11 ? QStringLiteral("Button_delete") : QStringLiteral("Button_%1").arg(kKeys[i]));
        key->setGeometry(kLeft + (i % 3) * (kKeyW + kGap), kKeysTop + (i / 3) * (kKeyH + kRowGap), kKeyW, kKeyH);
        key->setFocusPolicy(Qt::NoFocus);
        key->setStyleSheet(kKeyStyle);
        if (i == 11) {
            key->setText(QString::fromUtf8("⌫"));
            connect(key, &QPushButton::clicked, this, &NumberKeyboard::on_Button_delete_clicked);
        } else {
            connect(key, &QPushButton::clicked, this, &NumberKeyboard::zel_button_key_clicked);
        }
    }

    const int rowY = kKeysTop + 4 * (kKeyH + kRowGap) + 6;
    clear_ = new QPushButton(this);
    clear_->setObjectName("Button_clear");
    clear_->setGeometry(kLeft, rowY, kKeyW, kKeyH);
    clear_->setStyleSheet(kCancelStyle);
    cancel_ = new QPushButton(this);
    cancel_->setObjectName("Button_cancel");
    cancel_->setGeometry(kLeft + kKeyW + kGap, rowY, kKeyW, kKeyH);
    cancel_->setStyleSheet(kCancelStyle);
    ok_ = new QPushButton(this);
    ok_->setObjectName("Button_ok");
    ok_->setGeometry(kLeft + 2 * (kKeyW + kGap), rowY, kKeyW, kKeyH);
    ok_->setStyleSheet(kOkStyle);
    for (QPushButton* b : {clear_, cancel_, ok_})
        b->setFocusPolicy(Qt::NoFocus);
    connect(clear_, &QPushButton::clicked, this, &NumberKeyboard::on_Button_clear_clicked);
    connect(cancel_, &QPushButton::clicked, this, &NumberKeyboard::on_Button_cancel_clicked);
    connect(ok_, &QPushButton::clicked, this, &NumberKeyboard::on_Button_ok_clicked);

    language_changed();
}

void NumberKeyboard::label_show(QString title, QString text)
{
    QFont font = label_title_->font();
    font.setPixelSize(title.length() == 4 ? 18 : 25);
    font.setBold(true);
    label_title_->setFont(font);
    label_title_->setText(title);
    l_str.clear();
    lineEdit_show_->setText(text);
    language_changed();
}

void NumberKeyboard::language_changed()
{
    ok_->setText(langText(kOk));
    cancel_->setText(langText(kCancel));
    clear_->setText(langText(kClear));
}

void NumberKeyboard::showTyped() { lineEdit_show_->setText(l_str); }

void NumberKeyboard::zel_button_key_clicked()
{
    auto* key = qobject_cast<QPushButton*>(sender());
    if (!key || l_str.length() >= kMaxLength)
        return;
    l_str += key->text();
    showTyped();
}

void NumberKeyboard::on_Button_delete_clicked()
{
    l_str.chop(1);
    showTyped();
}

void NumberKeyboard::on_Button_clear_clicked()
{
    l_str.clear();
    showTyped();
}

void NumberKeyboard::on_Button_ok_clicked()
{
    // Hidden first: a confirmation may open the next page.
    accept();
    // The field's page may have closed under the keypad (inactivity back-out); nobody is then
    // waiting for the text.
    if (g_lineedit)
        emit sendKeyBoardUIDataToLineEdit(l_str);
}

void NumberKeyboard::on_Button_cancel_clicked() { reject(); }
