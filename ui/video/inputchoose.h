// The window source page (page 3): a strip of the windows that are on, six input tiles with their
// signal and number of sources, and the paged source cards of the chosen input (the input itself,
// then its crops); touching a card makes it the current window's source.
#pragma once

#include <QString>

#include <cstdint>

#include "ui/shell/page_base.h"
#include "ui/video/video_common.h"

class QFrame;
class QLabel;
class QPushButton;

class InputChoose : public shell::PageBase {
    Q_OBJECT

public:
    static constexpr int kFocus = 3;
    static constexpr int kCardsPerPage = 6;

    explicit InputChoose(QWidget* parent = nullptr);
    ~InputChoose() override;

    void syncUpdate(int code);
    void language_changed() override;
    void initSource();
    void crop_source_num_update();

    int currentWindow() const { return window_; }
    int currentInput() const { return input_; }
    int sourcePage() const { return page_; }
    int lastPage() const { return lastPage_; }

public slots:
    void on_Button_HDMI1_clicked() { select_input(2); }
    void on_Button_HDMI2_clicked() { select_input(3); }
    void on_Button_HDMI3_clicked() { select_input(4); }
    void on_Button_HDMI4_clicked() { select_input(5); }
    void on_Button_DVI_clicked() { select_input(1); }
    void on_Button_EXT_clicked() { select_input(0); }
    void zel_image_button_clicked();
    void zel_source_button_clicked();
    void zel_Button_menu_clicked();
    void zel_Button_previous_clicked();
    void zel_Button_next_clicked();
    void zel_button_inputcut_clicked();
    void zel_button_EDID_clicked();

protected:
    void pageRefresh(int code) override { syncUpdate(code); }
    void returnBeneath() override;

private:
    void initMenu();
    void image_select();
    void TextCreate(int window, int);
    void input_source_changed(int window);
    void source_check_update();
    void source_name_update();
    void select_input(int input);
    void build_card(QFrame* container, int j, int n, int usedOrdinal, bool usedInput);
    void remember_signals();

    uint8_t window_ = 0;
    uint8_t input_ = 0;
    uint8_t page_ = 0;
    uint8_t lastPage_ = 0;
    QString inputName_;

    QFrame* strip_ = nullptr;
    QFrame* highlight_ = nullptr;
    QFrame* container_ = nullptr;
    QLabel* windowLabel_[video::kWindows] = {};
    QPushButton* menuCut_;
    QPushButton* menuEdid_;
    QFrame* tileFrame_;
    QLabel* tileIcon_[video::kInputs];
    QLabel* tileName_[video::kInputs];
    QLabel* tileCount_[video::kInputs];
    video::Signal shownSignal_[video::kInputs];
};

extern InputChoose* g_inputchoose;
