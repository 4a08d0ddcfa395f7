// The window layout page (page 9): the six windows as a strip of cards; for the current window
// its name, state, source, position and size, mirror mode and point-to-point mode.
#pragma once

#include <QString>

#include <cstdint>

#include "ui/shell/page_base.h"

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

class ImageLayout : public shell::PageBase {
    Q_OBJECT

public:
    static constexpr int kFocus = 9;
    static constexpr int kWindows = 6;

    explicit ImageLayout(QWidget* parent = nullptr);
    ~ImageLayout() override;

    void image_init();
    void TextCreate(char window, char);
    void image_para_update();
    void mirror_select(int mode);
    void syncUpdate();
    void language_changed() override;

    int currentWindow() const { return current_; }

public slots:
    void on_button_state_clicked();
    void on_mirror1_clicked() { mirror_clicked(0); }
    void on_mirror2_clicked() { mirror_clicked(1); }
    void on_mirror3_clicked() { mirror_clicked(2); }
    void on_mirror4_clicked() { mirror_clicked(3); }
    void on_comboBox_currentIndexChanged(int index);
    void on_comboBox_P2P_currentIndexChanged(int index);
    void on_Button_cancel_clicked();
    void on_Button_ok_clicked();
    void on_Button_source_select_clicked();
    void zel_image_button_clicked();

protected:
    void pageRefresh(int) override { syncUpdate(); }
    void fieldConfirmed(My_lineEdit* field, const QString& text) override;

private:
    void mirror_clicked(int mode);
    void show_state(bool on);
    void commit_geometry();
    void mark_pair(QPushButton* pressed);
    unsigned record(unsigned offset) const;

    uint8_t current_ = 0;
    uint8_t shownState_ = 1;
    QFrame* strip_ = nullptr;
    QFrame* highlight_ = nullptr;
    QLabel* cardText_[kWindows] = {};
    QPushButton* pairSelected_ = nullptr;

    QLabel* name_;
    QLabel* state_;
    QLabel* source_;
    QPushButton* stateButton_;
    QPushButton* sourceSelect_;
    My_lineEdit* fields_[4];   // X, Y, W, H
    QLabel* fieldLabels_[4];
    QLabel* mirrorLabel_;
    QPushButton* mirror_[4];
    QLabel* p2pLabel_;
    QComboBox* p2p_;
    QLabel* backupLabel_;
    QComboBox* backup_;
    QPushButton* ok_;
    QPushButton* cancel_;
};

extern ImageLayout* g_imagelayout;
