// The user modes page (page 4): the list of the 16 stored user modes, recalling one into the
// parameter image and deleting one, with the detail view of the selected mode (its name, LED size,
// picture line, six windows and the preview of its on-screen display).
#pragma once

#include <QByteArray>
#include <QFont>
#include <QString>

#include "ui/shell/page_base.h"

class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;
class QWidget;

class CustomMode : public shell::PageBase {
    Q_OBJECT

public:
    static constexpr int kFocus = 4;
    static constexpr int kSlots = 16;

    explicit CustomMode(QWidget* parent = nullptr);
    ~CustomMode() override;

    void init();
    void syncUpdate();
    void language_changed() override;
    void lcd_para_init();
    void image_para_init();
    static void color_fill(QLabel* label, char n);

    // An OSD colour as a style sheet takes it: "#" and exactly six hex digits (after an optional
    // "0x" or "#"), else `fallback`.
    static QString osd_colour(const QString& text, const QString& fallback);

public slots:
    void zel_button_mode_clicked();
    void on_Button_use_clicked();
    void on_Button_delete_clicked();

protected:
    void pageRefresh(int) override { syncUpdate(); }

private:
    void mark_action(QPushButton* button);
    void osd_block(int slot);
    QByteArray shown_state() const;
    void redraw_if_changed();

    QFont pageFont_;
    QScrollArea* scroll_ = nullptr;
    QLabel* badge_ = nullptr;
    QFrame* frames_[kSlots] = {};
    QPushButton* buttonFocus_ = nullptr;
    QWidget* panel_ = nullptr;
    QByteArray shown_;   // current mode, saved slots and the selected slot, as last drawn

    QFrame* frame_;
    QPushButton* delete_;
    QPushButton* use_;
    QLabel* id_;
    QLabel* name_;
    QLabel* led_;
    QLabel* brightness_;
    QLabel* using_;
    QLabel* blank_;
};

extern CustomMode* g_custommode;
