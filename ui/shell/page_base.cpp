#include "ui/shell/page_base.h"

#include <QLabel>
#include <QPushButton>

#include <array>

#include "core/global.h"
#include "core/zelrampara.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/shell_widgets.h"

namespace shell {

namespace {

constexpr int kFocusCount = 256;

std::array<PageBase*, kFocusCount>& openPages()
{
    static std::array<PageBase*, kFocusCount> pages{};
    return pages;
}

bool validFocus(int focus) { return focus >= 0 && focus < kFocusCount; }

}  // namespace

PageBase::PageBase(const QString& objectName, int focus, int beneathFocus, QWidget* parent)
    : QDialog(parent), focus_(focus), beneathFocus_(beneathFocus)
{
    setObjectName(objectName);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setGeometry(0, 0, 800, 480);
    setStyleSheet(QStringLiteral("QDialog#%1{%2}").arg(objectName, style::kPage));

    auto* back = makeBackButton(this);
    connect(back, &QPushButton::clicked, this, &PageBase::on_Button_back_clicked);
    title_ = makeTitle(this, "label_title");

    if (validFocus(focus_))
        openPages()[static_cast<size_t>(focus_)] = this;
    // Every open page receives every confirmation; confirmString keeps the ones of other pages out.
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &PageBase::confirmString);
    refresh_.set(focus_, [this](int code) {
        refreshNow(code);
        return false;
    });
}

PageBase::~PageBase() { leave(); }

PageBase* PageBase::openAt(int focus) { return validFocus(focus) ? openPages()[static_cast<size_t>(focus)] : nullptr; }

void PageBase::leave()
{
    if (validFocus(focus_) && openPages()[static_cast<size_t>(focus_)] == this)
        openPages()[static_cast<size_t>(focus_)] = nullptr;
    refresh_.release();
    if (clearPointer_)
        clearPointer_();
    if (field_ && g_lineedit == field_.data())
        g_lineedit = nullptr;
    field_ = nullptr;
}

void PageBase::refreshNow(int code)
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (model && model->ZelLanguageChanged())
        language_changed();
    pageRefresh(code);
}

void PageBase::reject() { on_Button_back_clicked(); }

void PageBase::on_Button_back_clicked()
{
    if (closed_)
        return;
    closed_ = true;
    setAttribute(Qt::WA_DeleteOnClose);
    QDialog::reject();
    leave();
    returnBeneath();
    g_page_focus = beneathFocus_;
}

void PageBase::returnBeneath()
{
    if (beneathFocus_ == kHomeFocus && g_mainwindow) {
        g_mainwindow->language_changed();
        g_mainwindow->syncUpdate();
    } else if (beneathFocus_ == kSettingsFocus && g_option) {
        g_option->language_changed();
    } else if (PageBase* beneath = openAt(beneathFocus_)) {
        beneath->language_changed();
        beneath->pageRefresh(0);
    }
}

void PageBase::bindField(My_lineEdit* field, const LangText& title)
{
    const LangText* row = &title;
    bindField(field, [row] { return langText(*row); });
}

void PageBase::bindField(My_lineEdit* field, std::function<QString()> title)
{
    connect(field, &My_lineEdit::send_show, this,
            [this, field, title = std::move(title)](const QString&) { openKeypad(field, title()); });
}

void PageBase::openKeypad(My_lineEdit* field, const QString& title)
{
    if (!g_numberkeyboard || !field)
        return;
    field_ = field;
    g_lineedit = field;
    g_numberkeyboard->label_show(title, field->text());
    runModal(g_numberkeyboard);
}

void PageBase::confirmString(QString text)
{
    My_lineEdit* field = field_.data();
    if (!field || g_lineedit != field)
        return;
    // Taken before the page acts: its handler may open the keypad again.
    field_ = nullptr;
    g_lineedit = nullptr;
    fieldConfirmed(field, text);
}

void PageBase::fieldConfirmed(My_lineEdit*, const QString&) {}

int PageBase::senderIndex(int count) const
{
    const QObject* from = sender();
    bool ok = false;
    const int index = from ? from->objectName().toInt(&ok) : -1;
    return ok && index >= 0 && index < count ? index : -1;
}

}  // namespace shell
