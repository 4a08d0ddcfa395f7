// The start and lock screen (page 0): the product logo, the clock and the unlock button. It lies
// over every page; unlocking returns to the page that was in front.
#pragma once

#include <QDialog>

#include "ui/shell/page_nav.h"

class QLabel;
class QPushButton;

class LockWindow : public QDialog {
    Q_OBJECT

public:
    explicit LockWindow(QWidget* parent = nullptr);
    ~LockWindow() override;

    void syncUpdate();
    void language_changed();
    // Shows the lock screen over the page in front and makes it page 0.
    void lock_panel();
    // Once per tick while shown: keeps the clock current.
    void tick();

public slots:
    void on_Button_unlock_clicked();

private:
    void clock_update();
    void follow_language();

    QLabel* logo_;
    QLabel* time_;
    QLabel* date_;
    QLabel* hint_;
    QPushButton* unlock_;
    int returnFocus_ = 1;
    int drawnLanguage_ = -1;
    shell::RefreshEntry refresh_;
};
