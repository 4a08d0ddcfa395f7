// The status page (page 2): the signal of each input, the link of each output port and the
// state of the two output FPGAs.
#pragma once

#include <QDialog>

#include <cstdint>

#include "ui/shell/page_nav.h"

class QFrame;
class QLabel;

class MachineState : public QDialog {
    Q_OBJECT

public:
    static constexpr int kInputs = 6;
    static constexpr int kPorts = 32;

    explicit MachineState(QWidget* parent = nullptr);
    ~MachineState() override;

    void syncUpdate(int code);
    void language_changed();

    static constexpr int kSummaryRecord = 6;   // bytes of one input's summary

    // The text of one input's 6-byte summary record: "1920x1080@60Hz", or empty without a signal.
    static QString signal_text(const unsigned char* record);

public slots:
    void on_Button_back_clicked();
    // A page closed any other way goes back the same way.
    void reject() override;

private:
    void input_update();
    void port_update();
    void fpga_update();

    QLabel* title_;
    QLabel* inputCaption_;
    QLabel* portCaption_;
    QLabel* systemCaption_;
    QLabel* inputIcon_[kInputs];
    QLabel* inputSignal_[kInputs];
    QLabel* outputCaption_[2];
    QLabel* port_[kPorts];
    QLabel* fpgaState_[2];
    QLabel* ledSize_;
    uint32_t links_ = 0;
    shell::RefreshEntry refresh_;
};

extern MachineState* g_machinestate;
