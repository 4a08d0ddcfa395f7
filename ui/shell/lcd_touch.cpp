#include "ui/shell/lcd_touch.h"

#include <QApplication>
#include <QEvent>

#include "core/global.h"
#include "platform/platform.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/page_base.h"

lcd_touch* lcd_touch::p_lcd_touch = nullptr;

namespace {
constexpr const char* kTouchDevice = "/dev/input/event1";
constexpr int kMaxBackSteps = 8;   // deeper than any chain of pages
}  // namespace

lcd_touch* lcd_touch::pInstance()
{
    if (!p_lcd_touch)
        p_lcd_touch = new lcd_touch();
    return p_lcd_touch;
}

lcd_touch::lcd_touch()
{
    reader_.open(kTouchDevice);
    if (platform::isSim() && qApp)
        qApp->installEventFilter(this);
}

bool lcd_touch::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseMove:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        touched_ = true;
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void lcd_touch::auto_timeout_back()
{
    const bool touch = reader_.drain() || touched_;
    touched_ = false;
    // Long jobs and upgrades take as long as they take; "never lock" also never backs out.
    if (touch || g_update_flag.load() || g_qround_bar || g_auto_lock_time == kNeverLock) {
        idle_ = 0;
        backedOut_ = false;
        locked_ = false;
        return;
    }
    if (idle_ < 0xFFFFFFFFu)
        ++idle_;
    if (!backedOut_ && idle_ > g_back_to_mainwindow_time) {
        backedOut_ = true;
        back_to_mainwindow();
    }
    if (!locked_ && idle_ > g_auto_lock_time) {
        locked_ = true;
        lock_screen();
    }
}

void lcd_touch::back_to_mainwindow()
{
    if (g_numberkeyboard && g_numberkeyboard->isVisible())
        g_numberkeyboard->reject();
    for (int i = 0; i < kMaxBackSteps; ++i) {
        const int focus = g_page_focus.load();
        if (focus <= 1 || !press_back(focus) || g_page_focus.load() == focus)
            break;
    }
}

// The back slot of the page in front: the shell's own pages by their pointers, the setup pages
// through the page base. The test pattern page (16) has no case and stays open.
bool lcd_touch::press_back(int focus)
{
    switch (focus) {
    case 2:
        if (!g_machinestate)
            return false;
        g_machinestate->on_Button_back_clicked();
        return true;
    case 5:
        if (!g_option)
            return false;
        g_option->on_Button_back_clicked();
        return true;
    case 16:
        return false;
    default:
        if (shell::PageBase* page = shell::PageBase::openAt(focus)) {
            page->on_Button_back_clicked();
            return true;
        }
        return false;
    }
}

void lcd_touch::lock_screen()
{
    if (g_lockwindow && g_page_focus.load() != 0)
        g_lockwindow->lock_panel();
}
