// The one notice window g_tip: a short message over the page in front for 3 seconds
// (300 ticks; the home page's tick closes it).
#pragma once

#include <QDialog>

class QLabel;

class TIP : public QDialog {
    Q_OBJECT

public:
    enum Kind { kCheck = 1, kUsbIn = 3, kUsbOut = 4, kReading = 5, kNotSaved = 7, kModeDamaged = 8 };
    static constexpr unsigned kShowTicks = 300;

    explicit TIP(QWidget* parent = nullptr);

    // Shows notice `kind`: 1 check mark, 3 USB drive connected, 4 USB drive unplugged,
    // 5 reading data, 7 a setting that could not be stored, 8 a user mode too damaged to load.
    // Any other kind shows nothing.
    void tip_create(int kind);
    // Once per tick: closes the notice when it has shown for 300 ticks.
    void tick();
    int kind() const { return kind_; }

private:
    QLabel* icon_;
    QLabel* text_;
    int kind_ = 0;
    unsigned shownAt_ = 0;
};

extern TIP* g_tip;
