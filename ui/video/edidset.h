// The EDID timing page (page 8): for each input the timing its EDID offers to the connected
// source (width, height, 30 or 60 Hz).
#pragma once

#include <QFont>
#include <QString>

#include <cstdint>

#include "ui/shell/page_base.h"
#include "ui/video/video_common.h"

class QFrame;
class QLabel;
class QPushButton;

class EDIDset : public shell::PageBase {
    Q_OBJECT

public:
    static constexpr int kFocus = 8;

    explicit EDIDset(QWidget* parent = nullptr);
    ~EDIDset() override;

    void syncUpdate();
    void language_changed() override;
    void source_init();

    int currentInput() const { return input_; }

public slots:
    void zel_button_input_clicked();
    void zel_button_source_clicked();
    void on_Button_left_clicked() { toggle_rate(); }
    void on_Button_right_clicked() { toggle_rate(); }
    void zel_button_ok_clicked();
    void zel_button_cancel_clicked();
    void zel_button_delete_clicked();

protected:
    void pageRefresh(int) override { syncUpdate(); }
    void returnBeneath() override;
    void fieldConfirmed(My_lineEdit* field, const QString& text) override;

private:
    void input_init();
    void toggle_rate();
    void close_panel();
    void layout_rate_row();
    QString keypad_title(bool width) const;

    uint8_t input_ = 2;
    uint8_t rate_ = 60;
    QString inputName_ = "HDMI1";
    QFont cardFont_;

    video::InputTabs tabs_;
    QFrame* container_ = nullptr;
    QFrame* panel_;
    QLabel* source_;
    QLabel* labelW_;
    QLabel* labelH_;
    My_lineEdit* width_;
    My_lineEdit* height_;
    QLabel* freq_;
    QPushButton* left_;
    QLabel* rateLabel_;
    QPushButton* right_;
    video::EditPanel edit_;
};

extern EDIDset* g_edidset;
