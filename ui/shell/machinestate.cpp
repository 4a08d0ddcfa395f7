#include "ui/shell/machinestate.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include <cstring>

#include "core/global.h"
#include "core/ram_layout.h"
#include "core/syncupdate.h"
#include "core/zelrampara.h"
#include "ui/shell/fpga_view.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/shell_widgets.h"

MachineState* g_machinestate = nullptr;

namespace {

constexpr int kFocus = 2;

constexpr LangText kTitle = {"设备状态", "Device status", "Состояние", "Trạng thái thiết bị", "設備狀態"};
constexpr LangText kInputsCaption = {"输入信号", "Input signals", "Входные сигналы", "Tín hiệu vào", "輸入信號"};
constexpr LangText kPortsCaption = {"输出网口", "Output ports", "Выходные порты", "Cổng ra", "輸出網口"};
constexpr LangText kSystemCaption = {"系统", "System", "Система", "Hệ thống", "系統"};
constexpr LangText kOutput = {"输出%1", "Output %1", "Выход %1", "Đầu ra %1", "輸出%1"};
constexpr LangText kRunning = {"运行正常", "running", "работает", "đang chạy", "運行正常"};
constexpr LangText kNotReady = {"未就绪", "not ready", "не готов", "chưa sẵn sàng", "未就緒"};
constexpr LangText kLedSize = {"LED屏: %1 x %2", "LED screen: %1 x %2", "LED-экран: %1 x %2",
                               "Màn hình LED: %1 x %2", "LED屏: %1 x %2"};

struct InputRow {
    const char* name;
    const char* iconOff;
    const char* iconOn;
};

// Shown in the order of the front panel's connectors; the index is the input number.
constexpr int kInputOrder[MachineState::kInputs] = {2, 3, 4, 5, 1, 0};
constexpr InputRow kInputRows[MachineState::kInputs] = {
    {"EXT", ":/png/HDMI.png", ":/png/extlv.png"},
    {"DVI", ":/png/DVI.png", ":/png/dvilv.png"},
    {"HDMI1", ":/png/HDMI13.png", ":/png/HDMI13_lv.png"},
    {"HDMI2", ":/png/HDMI13.png", ":/png/HDMI13_lv.png"},
    {"HDMI3", ":/png/HDMI20.png", ":/png/HDMI20_lv.png"},
    {"HDMI4", ":/png/HDMI20.png", ":/png/HDMI20_lv.png"},
};

constexpr const char* kPortOn = "background-color:#00D65B;color:#10101C;border-radius:5px;font:bold 14px;";
constexpr const char* kPortOff =
    "background-color:#2C3045;color:#8A8EA0;border:1px solid #3A3F5C;border-radius:5px;font:14px;";

constexpr int kRowH = 58;

}  // namespace

MachineState::MachineState(QWidget* parent) : QDialog(parent)
{
    setObjectName("MachineState");
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setGeometry(0, 0, 800, 480);
    setStyleSheet(QStringLiteral("QDialog#MachineState{%1}").arg(style::kPage));

    auto* back = shell::makeBackButton(this);
    connect(back, &QPushButton::clicked, this, &MachineState::on_Button_back_clicked);
    title_ = shell::makeTitle(this, "label_title");

    // Inputs: one row per connector.
    QFrame* inputs = shell::makePanel(this, "frame_input", 20, 84, 360, 384);
    inputCaption_ = shell::makeLabel(inputs, "label_input_caption", 16, 6, 330, 30, style::kDimText);
    for (int row = 0; row < kInputs; ++row) {
        const int input = kInputOrder[row];
        const int y = 38 + row * kRowH;
        inputIcon_[input] = shell::makeLabel(inputs, QStringLiteral("label_icon_%1").arg(input), 14, y + 6, 60, 45,
                                             "background:transparent;");
        inputIcon_[input]->setScaledContents(true);
        shell::makeLabel(inputs, QStringLiteral("label_name_%1").arg(input), 86, y, 90, kRowH, style::kText)
            ->setText(QString::fromLatin1(kInputRows[input].name));
        inputSignal_[input] = shell::makeLabel(inputs, QStringLiteral("label_signal_%1").arg(input), 170, y, 180,
                                               kRowH, style::kText, Qt::AlignRight | Qt::AlignVCenter);
    }

    // Output ports: 16 per FPGA, two rows of eight.
    QFrame* ports = shell::makePanel(this, "frame_port", 400, 84, 380, 240);
    portCaption_ = shell::makeLabel(ports, "label_port_caption", 16, 6, 340, 30, style::kDimText);
    for (int f = 0; f < 2; ++f) {
        const int top = 40 + f * 100;
        outputCaption_[f] = shell::makeLabel(ports, QStringLiteral("label_output_%1").arg(f), 16, top, 340, 24,
                                             "color:#FFFFFF;font:16px;background:transparent;");
        for (int i = 0; i < 16; ++i) {
            const int p = f * 16 + i;
            port_[p] = shell::makeLabel(ports, QStringLiteral("label_port_%1").arg(p), 16 + (i % 8) * 44,
                                        top + 28 + (i / 8) * 34, 40, 30, kPortOff, Qt::AlignCenter);
            port_[p]->setText(QString::number(i + 1));
        }
    }

    QFrame* system = shell::makePanel(this, "frame_system", 400, 336, 380, 132);
    systemCaption_ = shell::makeLabel(system, "label_system_caption", 16, 6, 340, 30, style::kDimText);
    for (int f = 0; f < 2; ++f)
        fpgaState_[f] = shell::makeLabel(system, QStringLiteral("label_fpga_%1").arg(f), 16, 38 + f * 30, 350, 28,
                                         style::kText);
    ledSize_ = shell::makeLabel(system, "label_led_size", 16, 98, 350, 28, style::kText);

    refresh_.set(kFocus, [this](int code) {
        syncUpdate(code);
        return false;
    });
    language_changed();
}

MachineState::~MachineState()
{
    if (g_machinestate == this)
        g_machinestate = nullptr;
}

QString MachineState::signal_text(const unsigned char* record)
{
    const unsigned width = ram_get_u16(record, 0);
    const unsigned height = ram_get_u16(record, 2);
    const unsigned rate = record[4];
    const bool noSignalFlag = record[5] != 0;
    if (width == 0 || height == 0 || rate == 0 || noSignalFlag)
        return QString();
    return QStringLiteral("%1x%2@%3Hz").arg(width).arg(height).arg(rate);
}

void MachineState::syncUpdate(int)
{
    if (ZelRamPara::p_zelrampara_config && ZelRamPara::p_zelrampara_config->ZelLanguageChanged())
        language_changed();
    input_update();
    port_update();
    fpga_update();
}

void MachineState::language_changed()
{
    title_->setText(langText(kTitle));
    inputCaption_->setText(langText(kInputsCaption));
    portCaption_->setText(langText(kPortsCaption));
    systemCaption_->setText(langText(kSystemCaption));
    for (int f = 0; f < 2; ++f)
        outputCaption_[f]->setText(langText(kOutput).arg(f + 1));
    input_update();
    port_update();
    fpga_update();
}

void MachineState::input_update()
{
    // The input-source manager rewrites the summary from its poll thread under the model's
    // mutex: copy it whole under that mutex so that no record is shown half-written.
    unsigned char summary[ramaddr::kInputSummaryEnd - ramaddr::kInputSummary] = {};
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (model) {
        pthread_mutex_lock(&model->mutex);
        std::memcpy(summary, model->ram_para + ramaddr::kInputSummary, sizeof(summary));
        pthread_mutex_unlock(&model->mutex);
    }
    for (int i = 0; i < kInputs; ++i) {
        const QString text = signal_text(summary + kSummaryRecord * i);
        const bool on = !text.isEmpty();
        inputIcon_[i]->setPixmap(QPixmap(QString::fromLatin1(on ? kInputRows[i].iconOn : kInputRows[i].iconOff)));
        inputSignal_[i]->setText(on ? text : langText(shell::kTextNoSignal));
        inputSignal_[i]->setStyleSheet(on ? "color:#00D65B;font:bold 20px;background:transparent;"
                                          : "color:#8A8EA0;font:18px;background:transparent;");
    }
}

void MachineState::port_update()
{
    links_ = shell::port_links();
    for (int p = 0; p < kPorts; ++p)
        port_[p]->setStyleSheet((links_ >> p) & 1u ? kPortOn : kPortOff);
}

void MachineState::fpga_update()
{
    for (int f = 0; f < 2; ++f) {
        const bool running = shell::fpga_running(f);
        fpgaState_[f]->setText(langText(kOutput).arg(f + 1) + ": " + langText(running ? kRunning : kNotReady));
        fpgaState_[f]->setStyleSheet(running ? "color:#00D65B;font:20px;background:transparent;"
                                             : "color:#FFB020;font:20px;background:transparent;");
    }
    const ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (model)
        ledSize_->setText(langText(kLedSize)
                              .arg(ram_get_u16(model->ram_para, ramaddr::kLedWidth))
                              .arg(ram_get_u16(model->ram_para, ramaddr::kLedHeight)));
}

void MachineState::reject() { on_Button_back_clicked(); }

void MachineState::on_Button_back_clicked()
{
    setAttribute(Qt::WA_DeleteOnClose);
    QDialog::reject();
    if (g_machinestate == this)
        g_machinestate = nullptr;
    refresh_.release();
    if (g_mainwindow) {
        g_mainwindow->language_changed();
        g_mainwindow->syncUpdate();
    }
    g_page_focus = 1;
}
