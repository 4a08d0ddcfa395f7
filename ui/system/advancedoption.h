// The advanced settings page (page 12): a column of tabs over six stacked pages: the LCD tab
// (inactivity back-out and lock times), the receiving-card self-recovery tab, the hidden planning
// tab, the other settings (audio window and sound, switch effect, projection reset, Wi-Fi,
// dot-by-dot), the factory set-up (languages, font presence, factory resets) and, behind an access
// code, the factory aging monitor.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

#include "ui/shell/page_base.h"
#include "ui/system/system_widgets.h"

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QSlider;
class QStackedWidget;
class My_lineEdit;

class AdvancedOption : public shell::PageBase {
    Q_OBJECT

public:
    static constexpr int kFocus = 12;
    static constexpr int kLanguages = 5;
    static constexpr int kAudioWindows = 6;
    static constexpr int kRecoveryPageEntries = sys::kListRows;   // one page of the card list
    static constexpr int kAgingPageEntries = 16;
    // Stacked pages.
    enum Tab { kTabLcd = 0, kTabRecovery = 1, kTabPlan = 2, kTabOther = 3, kTabFactory = 4, kTabAging = 5 };

    explicit AdvancedOption(QWidget* parent = nullptr);
    ~AdvancedOption() override;

    void syncUpdate(int code);
    void language_changed() override;
    void lcd_language_deal();
    void button_select(QPushButton* button);
    void para_init();

    // The label text of a back-to-main time in ticks ("30s", "1.5m", "3m").
    static QString back_time_text(int ticks);
    // The window (0-5) of a position in the audio-window list, -1 when there is none.
    static int window_of_position(const unsigned char* image, int position);

    // Self-recovery tab.
    bool rcv_self_recovery_ornot() const;
    void rcv_self_recovery_file_list();
    // Aging monitor.
    void ageloginit();
    void update_agelog();
    // The aging monitor's access code.
    static constexpr const char* kAgingCode = "2580";

    int currentTab() const;
    bool agingShown() const { return aging_flag != 0; }

signals:
    void sig_qround_bar_update(int value);

public slots:
    void on_Button_back_clicked() override;
    void on_Button_LCDshow_clicked();
    void on_Button_rcv_recovery_clicked();
    void on_Button_timeplan_clicked();
    void on_Button_other_clicked();
    void on_Button_factory_clicked();
    void on_Button_factory_age_clicked();
    void on_horizontalSlider_valueChanged(int value);
    void on_horizontalSlider_sliderReleased();
    void on_Button_5min_clicked();
    void on_Button_10min_clicked();
    void on_Button_never_clicked();
    void on_Button_plan_clicked();
    void on_Button_switch_clicked();
    void on_Button_language_clicked();
    void on_Button_reset_clicked();
    void on_Button_chinese_clicked() { choose_language(0); }
    void on_Button_english_clicked() { choose_language(1); }
    void on_Button_ru_clicked() { choose_language(2); }
    void on_Button_vn_clicked() { choose_language(3); }
    void on_Button_tn_clicked() { choose_language(4); }
    // Other settings.
    void on_ImageVolume_currentIndexChanged(int index);
    void on_Button_volume_state_clicked();
    void on_Button_seamless_clicked();
    void on_Button_fade_clicked();
    void on_modeButton_clicked();
    void on_Button_wifi_state_clicked();
    void on_Button_DBD_open_clicked();
    void on_Button_DBD_close_clicked();
    // Factory resets.
    void on_Button_reset1_clicked() { factory_reset(1); }
    void on_Button_reset2_clicked() { factory_reset(2); }
    void on_Button_reset3_clicked() { factory_reset(3); }
    // Self-recovery.
    void on_Button_check_clicked();
    void on_Button_self_recovery_clicked();
    void zel_Button_previous_clicked();
    void zel_Button_next_clicked();
    void zel_button_rcv_data_list_file_clicked();
    // Aging monitor paging.
    void on_next_clicked();
    void on_pre_clicked();

protected:
    void pageRefresh(int code) override;
    void fieldConfirmed(My_lineEdit* field, const QString& text) override;

private:
    void build_tabs();
    void build_lcd_tab(QWidget* page);
    void build_recovery_tab(QWidget* page);
    void build_plan_tab(QWidget* page);
    void build_other_tab(QWidget* page);
    void build_factory_tab(QWidget* page);
    void build_aging_tab(QWidget* page);
    bool show_tab(QPushButton* button, int index);
    void mark_lock(QPushButton* chosen);
    void choose_language(int language);
    void choose_sub_tab(QPushButton* chosen, QPushButton* other, QFrame* underline, bool left);
    bool refresh_needs_para_init(int audioWindow) const;
    void commit_switch_effect(bool fade);
    void commit_dot_by_dot(bool on);
    void factory_reset(int which);
    void count_recovery_files();
    void style_recovery_tab();
    void start_card_job(uint8_t job);
    void show_font_presence();

    // Member names of the page's state as the system calls them.
    QPushButton* tab_select = nullptr;
    QPushButton* reset_select = nullptr;
    uint8_t rcv_file_num = 0;
    uint8_t aging_flag = 0;
    int log_page = 0;
    uint32_t rcv_start_block = 0;
    int8_t current_page = 0;
    uint8_t last_page = 0;
    uint8_t file_select = 0;
    bool languageRedrawn_ = false;

    QStackedWidget* stack_;
    QPushButton* tabs_[6];   // by stacked page: LCD, recovery, plan, other, factory, aging
    // LCD tab.
    QLabel* backCaption_;
    QSlider* slider_;
    QLabel* timeLabel_;
    QLabel* lockCaption_;
    QPushButton* lockButtons_[3];
    QLabel* lockLabels_[3];
    // Planning tab.
    QPushButton* plan_;
    QPushButton* switch_;
    QFrame* planUnderline_;
    QStackedWidget* planStack_;
    // Other settings tab.
    QLabel* otherCaptions_[5];   // volume, switch, mode, wifi, DBD
    QComboBox* volumeList_;
    QPushButton* volumeState_;
    QPushButton* seamless_;
    QPushButton* fade_;
    QLabel* seamlessLabel_;
    QLabel* fadeLabel_;
    QPushButton* modeButton_;
    QPushButton* wifiState_;
    QPushButton* dbdOpen_;
    QPushButton* dbdClose_;
    QLabel* dbdOpenLabel_;
    QLabel* dbdCloseLabel_;
    // Factory tab.
    QPushButton* languageTab_;
    QPushButton* resetTab_;
    QFrame* factoryUnderline_;
    QStackedWidget* factoryStack_;
    QLabel* languageCaption_;
    QPushButton* languageButtons_[kLanguages];
    QLabel* languageLabels_[kLanguages];
    QLabel* fontCaptions_[6];
    QLabel* fontPictures_[6];
    QPushButton* resets_[3];
    // Self-recovery tab.
    QWidget* recoveryPage_;
    QLabel* recoveryCaption_;
    QPushButton* check_;
    QPushButton* selfRecovery_;
    QFrame* frame_file = nullptr;
    QLabel* entryLabels_[kRecoveryPageEntries] = {};
    // Aging monitor.
    My_lineEdit* agingCode_;
    QLabel* label_log1;
    QLabel* label_3;
    QLabel* page_info;
    QLabel* label_page;
};

extern AdvancedOption* g_advancedoption;
