#include "ui/shell/lockwindow.h"

#include <QDateTime>
#include <QLabel>
#include <QPushButton>

#include "core/global.h"
#include "core/syncupdate.h"
#include "core/utils.h"
#include "core/zelrampara.h"
#include "platform/clock.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/shell_widgets.h"

namespace {

constexpr int kFocus = 0;
constexpr unsigned kClockTicks = 100;

constexpr LangText kHint = {"轻触解锁", "Touch to unlock", "Коснитесь, чтобы разблокировать", "Chạm để mở khóa",
                            "輕觸解鎖"};

}  // namespace

LockWindow::LockWindow(QWidget* parent) : QDialog(parent)
{
    setObjectName("LockWindow");
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    // Modal so that it takes the touches even over a page that runs modally.
    setWindowModality(Qt::ApplicationModal);
    setGeometry(0, 0, 800, 480);
    setStyleSheet("QDialog#LockWindow{background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, "
                  "stop:0 #1A1D33, stop:1 #0A0A14);}");

    logo_ = shell::makeLabel(this, "label_logo", 160, 36, 480, 110, "background:transparent;", Qt::AlignCenter);
    time_ = shell::makeLabel(this, "label_time", 0, 150, 800, 96,
                             "color:#FFFFFF;font:bold 84px;background:transparent;", Qt::AlignCenter);
    date_ = shell::makeLabel(this, "label_date", 0, 244, 800, 34,
                             "color:#A8ACC0;font:22px;background:transparent;", Qt::AlignCenter);

    unlock_ = new QPushButton(this);
    unlock_->setObjectName("Button_unlock");
    unlock_->setGeometry(350, 300, 100, 100);
    unlock_->setIcon(QIcon(":/png/lock_big.png"));
    unlock_->setIconSize(QSize(64, 64));
    unlock_->setFocusPolicy(Qt::NoFocus);
    unlock_->setStyleSheet("QPushButton{background-color:rgba(71,119,255,60);border:2px solid #4777FF;"
                           "border-radius:50px;}QPushButton:pressed{background-color:#4777FF;}");
    connect(unlock_, &QPushButton::clicked, this, &LockWindow::on_Button_unlock_clicked);
    hint_ = shell::makeLabel(this, "label_hint", 0, 410, 800, 40,
                             "color:#C8CCDD;font:22px;background:transparent;", Qt::AlignCenter);

    refresh_.set(kFocus, [this](int) {
        syncUpdate();
        return false;
    });
    language_changed();
    clock_update();
}

LockWindow::~LockWindow()
{
    if (g_lockwindow == this)
        g_lockwindow = nullptr;
}

void LockWindow::syncUpdate()
{
    if (ZelRamPara::p_zelrampara_config)
        ZelRamPara::p_zelrampara_config->ZelLanguageChanged();
    follow_language();
    clock_update();
}

void LockWindow::language_changed()
{
    drawnLanguage_ = shownLanguage();
    logo_->setPixmap(QPixmap(langImage("logo.png")));
    hint_->setText(langText(kHint));
}

void LockWindow::follow_language()
{
    // The switch is usually seen by the page in front while the screen is unlocked, so the
    // lock screen compares with the language it last drew instead of waiting for a change report.
    if (shownLanguage() != drawnLanguage_)
        language_changed();
}

void LockWindow::clock_update()
{
    // The date is read under the shell mutex (a clock change runs under it). A long shell
    // command holds it for a while; the clock then waits for the next refresh instead of
    // stalling the panel.
    if (!Utils::_system_mutex.tryLock())
        return;
    const QDateTime now = platform::localNow();
    Utils::_system_mutex.unlock();
    time_->setText(now.toString("hh:mm"));
    date_->setText(now.toString("yyyy-MM-dd"));
}

void LockWindow::tick()
{
    if (isVisible() && G_timeTicks.load() % kClockTicks == 0)
        clock_update();
}

void LockWindow::lock_panel()
{
    const int focus = g_page_focus.load();
    if (focus != kFocus)
        returnFocus_ = focus;
    if (g_numberkeyboard && g_numberkeyboard->isVisible())
        g_numberkeyboard->reject();
    g_page_focus = kFocus;
    follow_language();
    clock_update();
    show();
    raise();
}

void LockWindow::on_Button_unlock_clicked()
{
    hide();
    g_page_focus = returnFocus_;
    returnFocus_ = 1;
    if (lcd_touch::p_lcd_touch)
        lcd_touch::p_lcd_touch->touched();
}
