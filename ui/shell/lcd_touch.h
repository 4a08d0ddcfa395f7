// The touch watcher: counts the ticks without a touch, backs the page in front out to the home
// page after g_back_to_mainwindow_time and shows the lock screen after g_auto_lock_time.
//
// Touches come from the touch panel's input events on the board; on the simulated board every
// mouse or touch event of the application counts as a touch as well.
#pragma once

#include <QObject>

#include "ui/shell/touch_reader.h"

class lcd_touch : public QObject {
    Q_OBJECT

public:
    static constexpr unsigned kNeverLock = 120000;   // g_auto_lock_time meaning "never"

    // Creates the watcher on the first call.
    static lcd_touch* pInstance();
    static lcd_touch* p_lcd_touch;

    // Once per GUI tick.
    void auto_timeout_back();
    // A touch from any source: the idle count starts again.
    void touched() { touched_ = true; }
    unsigned idleTicks() const { return idle_; }

    // Presses the back slot of the page in front, and of the pages beneath it, down to the home
    // page. Pages without a case (the test pattern page) stay open.
    static void back_to_mainwindow();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    lcd_touch();

    static bool press_back(int focus);
    void lock_screen();

    TouchReader reader_;
    bool touched_ = false;
    bool backedOut_ = false;
    bool locked_ = false;
    unsigned idle_ = 0;
};
