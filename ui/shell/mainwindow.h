// The home page (page 1) and the GUI tick.
//
// The home page opens the window source page, the user modes (a pop-up that loads or saves one
// of the 16 modes, and the user modes page), the settings menu and the status page, and toggles
// the front-panel lock. Its construction builds the shared keypad and notice window. The 10 ms
// tick (slot_update_timer_ticks) counts G_timeTicks and drives the notice, the firmware-update
// screen, the restart after an upgrade, the factory aging log and the touch watcher.
#pragma once

#include <QMainWindow>

#include <QPointer>
#include <QString>

#include <cstdint>

#include "ui/shell/firmwareupdate.h"
#include "ui/shell/page_nav.h"

class QFrame;
class QLabel;
class QPushButton;
class QToolButton;

// Factory aging log counters: how often register 42 of FPGA 0 (first set) and FPGA 1
// (factoryage_log2_...) advanced by 1-2, 3-4, 5-9, 10-19 or 20 and more between two samples.
extern uint32_t factoryage_log_diff3, factoryage_log_diff5, factoryage_log_diff10, factoryage_log_diff20,
    factoryage_log_diffmore;
extern uint32_t factoryage_log2_diff3, factoryage_log2_diff5, factoryage_log2_diff10, factoryage_log2_diff20,
    factoryage_log2_diffmore;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    static constexpr unsigned kRebootDelayTicks = 300;
    static constexpr unsigned kAgeLogTicks = 18000;
    static constexpr size_t kAgeLogMax = 3360;
    static constexpr int kModes = 16;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Redraws from the image; returns (and clears) the notice request of the mode buttons.
    bool syncUpdate();
    void language_changed();

    // Opens and closes the firmware-update screen; callable from any thread (the work is done
    // on the GUI thread).
    void update_start();
    void update_over();
    bool update_screen_shown() const { return update_ != nullptr; }

    // One aging sample: "MM-dd hh:mm" and registers 42, 40, 43 of FPGA 0 and of FPGA 1, each
    // read fresh from its FPGA.
    void getagelog();
    // Appends an entry made of `stamp` and the six register values and updates the counters.
    static void append_age_log(const QString& stamp, const uint8_t regs[6]);

    // The one-byte notice request of the mode buttons.
    uint8_t notice_request = 0;

public slots:
    void slot_update_timer_ticks();

    void on_inputchoose_clicked();
    void on_custommode_clicked();
    void on_option_clicked();
    void on_machinestate_clicked();
    void on_Button_mode_clicked();
    void on_Button_lock_clicked();
    void zel_button_mode_clicked();
    void on_Button_mode_load_clicked();
    void on_Button_mode_save_clicked();
    void on_Button_mode_close_clicked();

private:
    void build_home();
    void build_mode_popup();
    void mode_popup_update();
    void status_update();
    // The conditions of core/alerts.h in force, in the bottom line ("label_alert").
    void alert_update();
    void open_update_screen();
    void close_update_screen();
    bool panel_locked() const;

    QWidget* central_;
    QLabel* modeLabel_;
    QLabel* fpgaLabel_;
    QLabel* ipLabel_;
    QLabel* ledLabel_;
    QLabel* lockLabel_;
    QLabel* alertLabel_;
    QToolButton* tiles_[4];
    QPushButton* lockButton_;

    QFrame* modePopup_;
    QLabel* modeTitle_;
    QLabel* modeHint_;
    QLabel* modeLegend_;
    QPushButton* modeButtons_[kModes];
    QPushButton* modeLoad_;
    QPushButton* modeSave_;
    QPushButton* modeManage_;
    QPushButton* modeClose_;

    QPointer<FirmwareUpdate> update_;
    bool rebootIssued_ = false;
    shell::RefreshEntry refresh_;
};
