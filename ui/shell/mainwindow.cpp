#include "ui/shell/mainwindow.h"

#include <QDateTime>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QMetaObject>
#include <QMutexLocker>
#include <QPushButton>
#include <QStringList>
#include <QThread>
#include <QToolButton>

#include <algorithm>
#include <cstring>

#include "core/alerts.h"
#include "core/file_store.h"
#include "core/global.h"
#include "core/worker_pace.h"
#include "core/para_commit.h"
#include "core/ram_layout.h"
#include "core/syncupdate.h"
#include "core/utils.h"
#include "core/zelrampara.h"
#include "ledout/fpga_manage.h"
#include "platform/clock.h"
#include "ui/shell/fpga_view.h"
#include "ui/shell/firmwareupdate.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/page_nav.h"
#include "ui/system/advancedoption.h"
#include "ui/video/custommode.h"
#include "ui/video/inputchoose.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/shell_widgets.h"
#include "ui/shell/tip.h"

uint32_t factoryage_log_diff3 = 0, factoryage_log_diff5 = 0, factoryage_log_diff10 = 0, factoryage_log_diff20 = 0,
         factoryage_log_diffmore = 0;
uint32_t factoryage_log2_diff3 = 0, factoryage_log2_diff5 = 0, factoryage_log2_diff10 = 0,
         factoryage_log2_diff20 = 0, factoryage_log2_diffmore = 0;

namespace {

constexpr int kFocus = 1;
constexpr unsigned kStatusTicks = 100;   // the home page's status line follows the FPGAs once a second

// Registers of each FPGA in an aging entry, in this order.
constexpr int kAgeRegisters[3] = {42, 40, 43};

constexpr LangText kInputTile = {"输入信源", "Input source", "Источник", "Nguồn vào", "輸入信源"};
constexpr LangText kModeTile = {"用户模式", "User modes", "Режимы", "Chế độ", "用戶模式"};
constexpr LangText kSettingsTile = {"设置", "Settings", "Настройки", "Cài đặt", "設置"};
constexpr LangText kStatusTile = {"设备状态", "Status", "Состояние", "Trạng thái", "設備狀態"};
constexpr LangText kCurrentMode = {"当前模式: %1", "User mode: %1", "Режим: %1", "Chế độ: %1", "當前模式: %1"};
constexpr LangText kNoMode = {"当前模式: 无", "User mode: none", "Режим: нет", "Chế độ: không", "當前模式: 無"};
constexpr LangText kOutputReady = {"● 输出正常", "● Output running", "● Выход работает", "● Đầu ra hoạt động",
                                   "● 輸出正常"};
constexpr LangText kOutputNotReady = {"● 输出未就绪", "● Output not ready", "● Выход не готов",
                                      "● Đầu ra chưa sẵn sàng", "● 輸出未就緒"};
constexpr LangText kLedSize = {"LED屏  %1 x %2", "LED screen  %1 x %2", "LED-экран  %1 x %2", "Màn LED  %1 x %2",
                               "LED屏  %1 x %2"};
constexpr LangText kLockOn = {"面板已锁定", "Panel locked", "Панель заблокирована", "Bảng đã khóa", "面板已鎖定"};
constexpr LangText kLockOff = {"面板未锁定", "Panel unlocked", "Панель разблокирована", "Bảng chưa khóa",
                               "面板未鎖定"};
constexpr int kBottomHeight = 126;   // the home page's bottom line
constexpr int kAlertTop = 76;        // where its alerts start, under the screen size
constexpr int kAlertTopMin = 28;     // how high more alerts may reach: the screen size keeps a line
// What the home page says while a condition of alerts.h is in force, by its Kind (%1: the port).
constexpr LangText kSettingsAlert = {"⚠ 设置未能保存", "⚠ Settings are not being saved",
                                     "⚠ Настройки не сохраняются", "⚠ Cài đặt không được lưu", "⚠ 設置未能保存"};
constexpr LangText kAlertTexts[alerts::kKindCount] = {
    kSettingsAlert,
    {"⚠ 数据目录不可写", "⚠ Data folder not writable", "⚠ Папка данных недоступна для записи",
     "⚠ Thư mục dữ liệu không ghi được", "⚠ 數據目錄不可寫"},
    {"⚠ TCP端口 %1 被占用", "⚠ TCP port %1 taken", "⚠ TCP-порт %1 занят", "⚠ Cổng TCP %1 bị chiếm",
     "⚠ TCP端口 %1 被佔用"},
    {"⚠ UDP端口 %1 被占用", "⚠ UDP port %1 taken", "⚠ UDP-порт %1 занят", "⚠ Cổng UDP %1 bị chiếm",
     "⚠ UDP端口 %1 被佔用"},
    kSettingsAlert,   // the settings file: shown as one line with the parameter file's
    {"⚠ %1 已损坏并被替换", "⚠ %1 was damaged and replaced", "⚠ %1 повреждён и заменён",
     "⚠ %1 bị hỏng và đã thay", "⚠ %1 已損壞並被替換"},
};
// After a replaced file's alert: the copy of it the box kept (%1: its name).
constexpr LangText kKeptCopy = {"，原文件: %1", ", copy: %1", ", копия: %1", ", bản cũ: %1", "，原文件: %1"};
constexpr LangText kModeTitle = {"用户模式", "User modes", "Пользовательские режимы", "Chế độ người dùng",
                                 "用戶模式"};
constexpr LangText kModeSaved = {"模式 %1: 已保存", "Mode %1: saved", "Режим %1: сохранён", "Chế độ %1: đã lưu",
                                 "模式 %1: 已保存"};
constexpr LangText kModeEmpty = {"模式 %1: 空", "Mode %1: empty", "Режим %1: пусто", "Chế độ %1: trống",
                                 "模式 %1: 空"};
constexpr LangText kInUse = {"，使用中", ", in use", ", используется", ", đang dùng", "，使用中"};
constexpr LangText kLegend = {"<span style='color:#00D65B'>□</span> 已保存&nbsp;&nbsp;&nbsp;<span style='color:#00D65B'>■</span> 使用中",
                              "<span style='color:#00D65B'>□</span> saved&nbsp;&nbsp;&nbsp;<span style='color:#00D65B'>■</span> in use",
                              "<span style='color:#00D65B'>□</span> сохранён&nbsp;&nbsp;&nbsp;<span style='color:#00D65B'>■</span> используется",
                              "<span style='color:#00D65B'>□</span> đã lưu&nbsp;&nbsp;&nbsp;<span style='color:#00D65B'>■</span> đang dùng",
                              "<span style='color:#00D65B'>□</span> 已保存&nbsp;&nbsp;&nbsp;<span style='color:#00D65B'>■</span> 使用中"};
constexpr LangText kLoad = {"调用", "Load", "Загрузить", "Tải", "調用"};
constexpr LangText kSave = {"保存", "Save", "Сохранить", "Lưu", "保存"};
constexpr LangText kManage = {"模式管理", "Manage", "Управление", "Quản lý", "模式管理"};
constexpr LangText kClose = {"关闭", "Close", "Закрыть", "Đóng", "關閉"};

constexpr const char* kModeSelected =
    "QPushButton{background-color:#4777FF;color:#FFFFFF;border:2px solid #FFFFFF;border-radius:8px;font:bold 22px;}";
constexpr const char* kModeStored =
    "QPushButton{background-color:#212435;color:#FFFFFF;border:2px solid #00D65B;border-radius:8px;font:bold 22px;}"
    "QPushButton:pressed{background-color:#4777FF;}";
constexpr const char* kModeCurrent =
    "QPushButton{background-color:#0E3B28;color:#FFFFFF;border:2px solid #00D65B;border-radius:8px;font:bold 22px;}"
    "QPushButton:pressed{background-color:#4777FF;}";
constexpr const char* kModeFree =
    "QPushButton{background-color:#181A2A;color:#6A6E80;border:1px solid #3A3F5C;border-radius:8px;font:22px;}"
    "QPushButton:pressed{background-color:#4777FF;}";
constexpr const char* kActionButton =
    "QPushButton{background-color:#4777FF;color:#FFFFFF;border:none;border-radius:8px;font:bold 20px;}"
    "QPushButton:pressed{background-color:#2F5AD8;}"
    "QPushButton:disabled{background-color:#2C3045;color:#6A6E80;}";
constexpr const char* kOutlineButton =
    "QPushButton{background-color:transparent;color:#FFFFFF;border:1px solid #FFFFFF;border-radius:8px;font:20px;}"
    "QPushButton:pressed{background-color:#4777FF;}"
    "QPushButton:disabled{color:#6A6E80;border-color:#3A3F5C;}";

ZelRamPara* model() { return ZelRamPara::p_zelrampara_config; }

int clampedModeSelect()
{
    const int k = g_mode_select.load();
    return (k >= 0 && k < MainWindow::kModes) ? k : 0;
}

// How far register 42 moved between two samples (it counts modulo 256).
uint32_t ageStep(int previous, int current)
{
    int d = current - previous;
    if (previous > current)
        d += 256;
    return static_cast<uint32_t>(d);
}

void countAgeStep(uint32_t d, uint32_t* diff3, uint32_t* diff5, uint32_t* diff10, uint32_t* diff20,
                  uint32_t* diffmore)
{
    if (d == 0)
        return;
    if (d < 3)
        ++*diff3;
    else if (d < 5)
        ++*diff5;
    else if (d < 10)
        ++*diff10;
    else if (d < 20)
        ++*diff20;
    else
        ++*diffmore;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    setObjectName("MainWindow");
    shell::installPanelFont();
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setGeometry(0, 0, 800, 480);

    if (!g_numberkeyboard)
        g_numberkeyboard = new NumberKeyboard(nullptr);
    if (!g_tip)
        g_tip = new TIP(nullptr);
    SyncUpdate::set_notice_hook([](int kind) {
        if (g_tip)
            g_tip->tip_create(kind);
    });

    build_home();
    build_mode_popup();
    refresh_.set(kFocus, [this](int) { return syncUpdate(); });
    language_changed();
}

MainWindow::~MainWindow()
{
    if (g_mainwindow == this)
        g_mainwindow = nullptr;
}

void MainWindow::build_home()
{
    central_ = new QWidget(this);
    central_->setObjectName("centralwidget");
    central_->setStyleSheet(QStringLiteral("QWidget#centralwidget{%1}").arg(style::kPage));
    setCentralWidget(central_);

    // Top line: product, current user mode, output state, address.
    QFrame* top = shell::makePanel(central_, "frame_top", 16, 12, 768, 64);
    shell::makeLabel(top, "label_product", 18, 0, 90, 64, "color:#FFFFFF;font:bold 30px;background:transparent;")
        ->setText("T71");
    modeLabel_ = shell::makeLabel(top, "label_mode", 110, 0, 230, 64, style::kText);
    fpgaLabel_ = shell::makeLabel(top, "label_fpga_state", 340, 0, 250, 64, style::kText);
    ipLabel_ = shell::makeLabel(top, "label_ip", 570, 0, 180, 64, style::kDimText, Qt::AlignRight | Qt::AlignVCenter);

    // Four tiles.
    struct Tile {
        const char* name;
        const char* icon;
        void (MainWindow::*slot)();
    };
    const Tile tiles[4] = {
        {"inputchoose", ":/png/home_input.png", &MainWindow::on_inputchoose_clicked},
        {"Button_mode", ":/png/home_mode.png", &MainWindow::on_Button_mode_clicked},
        {"option", ":/png/home_settings.png", &MainWindow::on_option_clicked},
        {"machinestate", ":/png/home_status.png", &MainWindow::on_machinestate_clicked},
    };
    for (int i = 0; i < 4; ++i) {
        tiles_[i] = shell::makeTile(central_, tiles[i].name, tiles[i].icon, 16 + i * 196, 92, 180, 230);
        connect(tiles_[i], &QToolButton::clicked, this, tiles[i].slot);
    }

    // Bottom line: screen size and the panel lock.
    QFrame* bottom = shell::makePanel(central_, "frame_bottom", 16, 338, 768, kBottomHeight);
    ledLabel_ = shell::makeLabel(bottom, "label_led_size", 24, 0, 400, kBottomHeight,
                                 "color:#FFFFFF;font:bold 24px;background:transparent;");
    lockLabel_ = shell::makeLabel(bottom, "label_lock", 400, 0, 250, kBottomHeight, style::kText,
                                  Qt::AlignRight | Qt::AlignVCenter);
    const QByteArray alertStyle =
        QStringLiteral("color:%1;font:18px;background:transparent;").arg(style::kAmber).toLatin1();
    // Two lines' room under the screen size at first: four alerts do not fit on one in every language.
    alertLabel_ = shell::makeLabel(bottom, "label_alert", 24, kAlertTop, 630, kBottomHeight - kAlertTop - 2,
                                   alertStyle.constData());
    alertLabel_->hide();
    lockButton_ = new QPushButton(bottom);
    lockButton_->setObjectName("Button_lock");
    lockButton_->setGeometry(668, 19, 88, 88);
    lockButton_->setIconSize(QSize(60, 60));
    lockButton_->setFocusPolicy(Qt::NoFocus);
    lockButton_->setStyleSheet("QPushButton{background-color:#2C3045;border:1px solid #3A3F5C;border-radius:14px;}"
                               "QPushButton:pressed{background-color:#4777FF;}");
    connect(lockButton_, &QPushButton::clicked, this, &MainWindow::on_Button_lock_clicked);
}

void MainWindow::build_mode_popup()
{
    modePopup_ = new QFrame(central_);
    modePopup_->setObjectName("frame_mode");
    modePopup_->setGeometry(0, 0, 800, 480);
    modePopup_->setStyleSheet("QFrame#frame_mode{background-color:rgba(8,8,14,220);}");
    QFrame* panel = shell::makePanel(modePopup_, "frame_mode_panel", 60, 40, 680, 400);
    panel->setStyleSheet("QFrame#frame_mode_panel{background-color:#212435;border:1px solid #4777FF;border-radius:14px;}");
    modeTitle_ = shell::makeLabel(panel, "label_mode_title", 0, 10, 680, 44, style::kTitle, Qt::AlignCenter);

    constexpr int kW = 68, kH = 60, kGapX = 12, kGapY = 14, kLeft = 24, kTop = 70;
    for (int k = 0; k < kModes; ++k) {
        auto* b = new QPushButton(QString::number(k + 1), panel);
        b->setObjectName(QString::number(k));
        b->setGeometry(kLeft + (k % 8) * (kW + kGapX), kTop + (k / 8) * (kH + kGapY), kW, kH);
        b->setFocusPolicy(Qt::NoFocus);
        b->setFlat(true);
        connect(b, &QPushButton::clicked, this, &MainWindow::zel_button_mode_clicked);
        modeButtons_[k] = b;
    }
    modeHint_ = shell::makeLabel(panel, "label_mode_hint", 24, 214, 632, 36, style::kText, Qt::AlignCenter);
    modeLegend_ = shell::makeLabel(panel, "label_mode_legend", 24, 250, 632, 30, style::kDimText, Qt::AlignCenter);

    const auto action = [&](const char* name, int x, const char* look, void (MainWindow::*slot)()) {
        auto* b = new QPushButton(panel);
        b->setObjectName(name);
        b->setGeometry(x, 300, 140, 64);
        b->setFocusPolicy(Qt::NoFocus);
        b->setStyleSheet(look);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    modeLoad_ = action("Button_mode_load", 24, kActionButton, &MainWindow::on_Button_mode_load_clicked);
    modeSave_ = action("Button_mode_save", 188, kActionButton, &MainWindow::on_Button_mode_save_clicked);
    modeManage_ = action("custommode", 352, kOutlineButton, &MainWindow::on_custommode_clicked);
    modeClose_ = action("Button_mode_close", 516, kOutlineButton, &MainWindow::on_Button_mode_close_clicked);
    modePopup_->hide();
}

bool MainWindow::panel_locked() const
{
    return model() && ram_get_u16(model()->ram_para, ramaddr::kPanelLock) == 1;
}

// ---- refresh ---------------------------------------------------------------------------------

bool MainWindow::syncUpdate()
{
    if (model() && model()->ZelLanguageChanged())
        language_changed();
    status_update();
    mode_popup_update();
    const bool notice = notice_request != 0;
    notice_request = 0;
    return notice;
}

void MainWindow::language_changed()
{
    tiles_[0]->setText(langText(kInputTile));
    tiles_[1]->setText(langText(kModeTile));
    tiles_[2]->setText(langText(kSettingsTile));
    tiles_[3]->setText(langText(kStatusTile));
    modeTitle_->setText(langText(kModeTitle));
    modeLoad_->setText(langText(kLoad));
    modeSave_->setText(langText(kSave));
    modeManage_->setText(langText(kManage));
    modeClose_->setText(langText(kClose));
    modeLegend_->setText(langText(kLegend));
    if (g_numberkeyboard)
        g_numberkeyboard->language_changed();
    if (update_)
        update_->language_changed();
    status_update();
    mode_popup_update();
}

void MainWindow::status_update()
{
    const ZelRamPara* m = model();
    const unsigned mode = m ? ZelRamPara::p_zelrampara_config->ZelGetCurrentModeIndex() : 0;
    modeLabel_->setText(mode ? langText(kCurrentMode).arg(mode) : langText(kNoMode));
    const bool running = shell::fpga_status() == 1;
    fpgaLabel_->setText(langText(running ? kOutputReady : kOutputNotReady));
    fpgaLabel_->setStyleSheet(QStringLiteral("color:%1;font:20px;background:transparent;")
                                  .arg(running ? style::kGreen : style::kAmber));
    ipLabel_->setText(g_str_ip);
    if (m)
        ledLabel_->setText(langText(kLedSize)
                               .arg(ram_get_u16(m->ram_para, ramaddr::kLedWidth))
                               .arg(ram_get_u16(m->ram_para, ramaddr::kLedHeight)));
    const bool locked = panel_locked();
    lockLabel_->setText(langText(locked ? kLockOn : kLockOff));
    lockLabel_->setStyleSheet(QStringLiteral("color:%1;font:20px;background:transparent;")
                                  .arg(locked ? style::kAmber : "#FFFFFF"));
    lockButton_->setIcon(QIcon(locked ? ":/png/lock_on.png" : ":/png/lock_off.png"));
    alert_update();
}

void MainWindow::alert_update()
{
    static const QString kGap = QStringLiteral("   ");
    // As many alerts on a line as fit its width, each whole; the rest on the next line.
    alertLabel_->ensurePolished();
    const QFontMetrics metrics(alertLabel_->font());
    QStringList lines;
    QStringList shown;
    for (const alerts::Active& a : alerts::inForce()) {
        QString text = langText(kAlertTexts[a.kind]);
        // %1: the file's name for a condition about a file, else the number (a port).
        if (text.contains(QLatin1String("%1")))
            text = a.subject.empty() ? text.arg(a.arg) : text.arg(QFileInfo(QString::fromStdString(a.subject)).fileName());
        // A replaced file: where the user finds the copy of it the box kept.
        if (a.kind == alerts::kFileReplaced && a.arg > 0)
            text += langText(kKeptCopy).arg(
                QFileInfo(QString::fromStdString(filestore::kept_path(a.subject, a.arg))).fileName());
        if (shown.contains(text))
            continue;   // conditions the operator tells apart only on stderr
        shown << text;
        if (!lines.isEmpty() && metrics.horizontalAdvance(lines.last() + kGap + text) <= alertLabel_->width())
            lines.last() += kGap + text;
        else
            lines << text;
    }
    alertLabel_->setText(lines.join(QLatin1Char('\n')));
    alertLabel_->setVisible(!lines.isEmpty());
    // Two lines' room under the screen size, more when the alerts need it; the screen size and the
    // lock state move up to make room for them.
    const int room = std::max(kBottomHeight - kAlertTop - 2, int(lines.size()) * metrics.lineSpacing());
    const int top = lines.isEmpty() ? kBottomHeight : std::max(kAlertTopMin, kBottomHeight - 2 - room);
    if (!lines.isEmpty())
        alertLabel_->setGeometry(alertLabel_->x(), top, alertLabel_->width(), kBottomHeight - 2 - top);
    ledLabel_->setGeometry(ledLabel_->x(), 0, ledLabel_->width(), top);
    lockLabel_->setGeometry(lockLabel_->x(), 0, lockLabel_->width(), top);
}

void MainWindow::mode_popup_update()
{
    const ZelRamPara* m = model();
    const int selected = clampedModeSelect();
    const unsigned current = m ? model()->ZelGetCurrentModeIndex() : 0;
    for (int k = 0; k < kModes; ++k) {
        const bool saved = m && model()->ZelUserModeSaved(k);
        const bool inUse = current == unsigned(k + 1);
        modeButtons_[k]->setStyleSheet(k == selected ? kModeSelected
                                                     : (inUse ? kModeCurrent : (saved ? kModeStored : kModeFree)));
    }
    const bool saved = m && model()->ZelUserModeSaved(selected);
    QString hint = langText(saved ? kModeSaved : kModeEmpty).arg(selected + 1);
    if (current == unsigned(selected + 1))
        hint += langText(kInUse);
    modeHint_->setText(hint);
    modeLoad_->setEnabled(saved);
    modeManage_->setEnabled(!panel_locked());
}

// ---- openers ---------------------------------------------------------------------------------

void MainWindow::on_inputchoose_clicked() { shell::openPage(g_inputchoose, InputChoose::kFocus); }

void MainWindow::on_custommode_clicked()
{
    if (panel_locked())
        return;
    modePopup_->hide();
    shell::openPage(g_custommode, CustomMode::kFocus);
}

void MainWindow::on_option_clicked() { shell::openPage(g_option, 5); }

void MainWindow::on_machinestate_clicked()
{
    shell::openPage(g_machinestate, 2);
}

// ---- user modes --------------------------------------------------------------------------------

void MainWindow::on_Button_mode_clicked()
{
    mode_popup_update();
    modePopup_->show();
    modePopup_->raise();
}

void MainWindow::on_Button_mode_close_clicked() { modePopup_->hide(); }

void MainWindow::zel_button_mode_clicked()
{
    bool ok = false;
    const int k = sender() ? sender()->objectName().toInt(&ok) : -1;
    if (!ok || k < 0 || k >= kModes)
        return;
    g_mode_select = k;
    mode_popup_update();
}

void MainWindow::on_Button_mode_load_clicked()
{
    ZelRamPara* m = model();
    const int k = clampedModeSelect();
    if (!m || !m->ZelUserModeSaved(k))
        return;
    bool engine;
    {
        ParaCommit commit;
        if (m->recall_user_mode(k) != ZelRamPara::Recall::Loaded) {
            if (g_tip)
                g_tip->tip_create(TIP::kModeDamaged);
            return;
        }
        commit.set(1);
        engine = commit.held();
    }
    notice_request = 1;
    modePopup_->hide();
    // Without the video engine nobody reports the change; report it here so it is saved.
    if (!engine)
        ZelRamPara::ram_para_save();
}

void MainWindow::on_Button_mode_save_clicked()
{
    ZelRamPara* m = model();
    if (!m)
        return;
    const int k = clampedModeSelect();
    // The change dispatcher serves the request: slot, mode file, current mode.
    ram_set_u16(m->ram_para, ramaddr::kSaveRequest, static_cast<uint16_t>(k + 1));
    notice_request = 1;
    modePopup_->hide();
    ZelRamPara::ram_para_save();
    status_update();
}

void MainWindow::on_Button_lock_clicked()
{
    ZelRamPara* m = model();
    if (!m)
        return;
    bool engine;
    {
        ParaCommit commit;
        ram_set_u16(m->ram_para, ramaddr::kPanelLock, panel_locked() ? 0 : 1);
        commit.set(1);
        engine = commit.held();
    }
    if (!engine)
        ZelRamPara::ram_para_save();
    status_update();
    mode_popup_update();
}

// ---- firmware-update screen --------------------------------------------------------------------

void MainWindow::update_start()
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this] { open_update_screen(); }, Qt::QueuedConnection);
        return;
    }
    open_update_screen();
}

void MainWindow::update_over()
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this] { close_update_screen(); }, Qt::QueuedConnection);
        return;
    }
    close_update_screen();
}

void MainWindow::open_update_screen()
{
    if (update_)
        return;
    if (g_numberkeyboard && g_numberkeyboard->isVisible())
        g_numberkeyboard->reject();
    update_ = new FirmwareUpdate(nullptr);
    update_->setWindowModality(Qt::ApplicationModal);
    update_->show();
    update_->raise();
}

void MainWindow::close_update_screen()
{
    if (!update_)
        return;
    update_->setAttribute(Qt::WA_DeleteOnClose);
    update_->close();
    update_ = nullptr;
}

// ---- aging log -----------------------------------------------------------------------------------

void MainWindow::append_age_log(const QString& stamp, const uint8_t regs[6])
{
    QString entry = stamp;
    for (int i = 0; i < 6; ++i)
        entry += QLatin1Char(' ') + QString::number(regs[i]);
    factoryage_log.push_back(entry);
    if (factoryage_log.size() > kAgeLogMax)
        factoryage_log.erase(factoryage_log.begin());
    if (factoryage_log.size() < 2)
        return;
    // Fields: date, time, then registers 42, 40, 43 of FPGA 0 and of FPGA 1.
    const QStringList now = factoryage_log.back().split(QLatin1Char(' '));
    const QStringList before = factoryage_log[factoryage_log.size() - 2].split(QLatin1Char(' '));
    if (now.size() < 8 || before.size() < 8)
        return;
    countAgeStep(ageStep(before[2].toInt(), now[2].toInt()), &factoryage_log_diff3, &factoryage_log_diff5,
                 &factoryage_log_diff10, &factoryage_log_diff20, &factoryage_log_diffmore);
    countAgeStep(ageStep(before[5].toInt(), now[5].toInt()), &factoryage_log2_diff3, &factoryage_log2_diff5,
                 &factoryage_log2_diff10, &factoryage_log2_diff20, &factoryage_log2_diffmore);
}

void MainWindow::getagelog()
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga)
        return;
    QString stamp;
    {
        QMutexLocker lock(&Utils::_system_mutex);
        const QDateTime now = platform::localNow();
        stamp = now.toString("MM-dd") + QLatin1Char(' ') + now.toString("hh:mm");
    }
    uint8_t regs[6];
    for (int f = 0; f < 2; ++f)
        for (int i = 0; i < 3; ++i)
            regs[f * 3 + i] = shell::fpga_register(kAgeRegisters[i], f);
    append_age_log(stamp, regs);
}

// ---- the tick ----------------------------------------------------------------------------------

void MainWindow::slot_update_timer_ticks()
{
    const unsigned now = WorkerPace::advanceTick();

    if (g_update_flag.load() && update_)
        update_->animate();
    if (g_tip)
        g_tip->tick();

    // Unsigned difference: exact across the counter's wrap as well.
    if (g_app_reset_flag.load() && !rebootIssued_ && now - G_reboot_tickTicks.load() >= kRebootDelayTicks) {
        rebootIssued_ = true;
        Utils::system_mutex("reboot");
    }

    if (now % kAgeLogTicks == 0) {
        if (fpga_manage::p_fpga_manage && pc_cmd_valid.load() == 0 && shell::fpga_status() == 1)
            getagelog();
        if (g_advancedoption)
            g_advancedoption->update_agelog();
    }

    if (now % kStatusTicks == 0 && g_page_focus.load() == kFocus)
        status_update();
    if (g_lockwindow)
        g_lockwindow->tick();
    if (lcd_touch::p_lcd_touch)
        lcd_touch::p_lcd_touch->auto_timeout_back();
}
