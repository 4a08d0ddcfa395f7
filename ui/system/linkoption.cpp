#include "ui/system/linkoption.h"

#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QComboBox>
#include <QStackedWidget>

#include <unistd.h>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/utils.h"
#include "core/zelrampara.h"
#include "ledout/fpga_manage.h"
#include "platform/platform.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/shell_widgets.h"
#include "ui/shell/tip.h"
#include "ui/system/system_widgets.h"

LinkOption* g_linkoption = nullptr;

namespace {

constexpr LangText kTitle = {"通讯设置", "Communication", "Подключение", "Cài đặt giao tiếp", "通訊設置"};
constexpr LangText kCom = {"串口连接", "Serial port", "COM-порт", "Cài đặt cổng\n nối tiếp", "串口連接"};
constexpr LangText kWlan = {"网口设置", "Net connect", "Сетевое по\nдключение", "Cài đặt\ncổng mạng", "網口設置"};
constexpr LangText kUsb = {"USB升级", "USB UPDATE", "Обновление\nчерез USB", "Sử dụng ổ USB\nđể cập nhập", "USB昇級"};
constexpr LangText kBaud = {"波特率", "Baud rate", "Скорость передачи", "Tốc độ truyền", "波特率"};
constexpr LangText kBit = {"数据位", "Data bits", "Биты данных", "Bit dữ liệ", "數據位"};
constexpr LangText kStop = {"停止位", "Stop bit", "Бит остановки", "Dừng bit", "停止位"};
constexpr LangText kNetwork = {"网卡", "Network", "Сетевая карта", "Thẻ kết nối", "網卡"};
constexpr LangText kDirect = {"单机直连", "Direct link", "Напрямую", "Kết nối trực tiếp độc lập", "單機直連"};
constexpr LangText kFixedIp = {"固定IP", "Fixed IP mode", "По IP-адресу", "Dự phòng nóng", "固定IP"};
constexpr LangText kIpSet = {"IP地址", "IP", "IP-адрес", "Địa chỉ IP", "IP地址"};
constexpr LangText kNetmask = {"子网掩码", "Mask", "Маска", "Cài đặt mặt lạ con", "子網掩碼"};
constexpr LangText kGateway = {"网关", "Gate", "Шлюз", "Cổng vào", "網關"};
// Keypad titles: Chinese only in the two Chinese languages, English otherwise.
constexpr LangText kMaskTitle = {"掩码", "mask", "mask", "mask", "掩碼"};
constexpr LangText kGateTitle = {"网关", "gateway", "gateway", "gateway", "網關"};

constexpr const char* kSerialValues[3] = {"115200", "8", "1"};
constexpr const char* kSuffixZel = "ZEL";
constexpr const char* kSuffixZelzk = "ZELZK";
constexpr int kCodeUsbOut = 101;
constexpr int kCodeUsbReady = 102;
constexpr int kCodeUpgradeEnd = 104;

// The upgrade's start and end times, kept by the LED output's thread.
QString upgrade_log_text()
{
    const fpga_manage* fpga = fpga_manage::p_fpga_manage;
    return fpga ? QString::fromStdString(fpga->usb_upgrade_time) : QString();
}

// An address field whose text is no octet, after an Apply that it stopped.
constexpr const char* kOctetFault = "QLineEdit{border:2px solid #FF0000;}";

constexpr int kFieldX[4] = {150, 238, 326, 414};
constexpr int kRowY[3] = {130, 195, 260};

}  // namespace

LinkOption::LinkOption(QWidget* parent) : shell::PageBase("LinkOption", kFocus, shell::kSettingsFocus, parent)
{
    keepPointer(g_linkoption);

    // The tab column, below the header.
    QWidget* tabs = sys::makeArea(this, "frame_tabs", 0, 72, 185, 408);
    com_ = sys::makeButton(tabs, "Button_com", 20, 6, 155, 60);
    wlan_ = sys::makeButton(tabs, "Button_wlan", 20, 68, 155, 60);
    usb_ = sys::makeButton(tabs, "Button_usb", 20, 130, 155, 60);
    connect(com_, &QPushButton::clicked, this, &LinkOption::on_Button_com_clicked);
    connect(wlan_, &QPushButton::clicked, this, &LinkOption::on_Button_wlan_clicked);
    connect(usb_, &QPushButton::clicked, this, &LinkOption::on_Button_usb_clicked);
    for (QPushButton* b : {com_, wlan_, usb_})
        shell::markSelected(b, false);

    stack_ = new QStackedWidget(this);
    stack_->setObjectName("stackedWidget");
    stack_->setStyleSheet(sys::kPageSheet);
    stack_->setGeometry(190, 68, 610, 400);
    const char* pages[3] = {"page", "page_2", "page_3"};
    QWidget* tabPages[3];
    for (int i = 0; i < 3; ++i) {
        tabPages[i] = new QWidget(stack_);
        tabPages[i]->setObjectName(pages[i]);
        stack_->addWidget(tabPages[i]);
    }
    build_serial_tab(tabPages[0]);
    build_network_tab(tabPages[1]);
    build_usb_tab(tabPages[2]);

    stack_->setCurrentIndex(0);
    sys::moveSelection(link_tab_button, com_, style::kSelected, style::kUnselected);
    sys::setIcon(direct_, sys::kChecked);
    sys::setIcon(ip_, sys::kUnchecked);
    language_changed();
    fill_address_fields();
}

LinkOption::~LinkOption() = default;

void LinkOption::build_serial_tab(QWidget* page)
{
    QLabel** captions[3] = {&baud_, &bit_, &stop_};
    const char* names[3] = {"label_baud", "label_bit", "label_stop"};
    const char* values[3] = {"label_num_baud", "label_num_bit", "label_num_stop"};
    for (int i = 0; i < 3; ++i) {
        *captions[i] = sys::makeText(page, names[i], 10, 90 + 70 * i, 340, 50);
        sys::makeText(page, values[i], 360, 90 + 70 * i, 230, 50, Qt::AlignCenter)->setText(kSerialValues[i]);
    }
}

void LinkOption::build_network_tab(QWidget* page)
{
    network_ = sys::makeText(page, "label_network", 15, 20, 170, 30);
    auto* combo = new QComboBox(page);
    combo->setObjectName("comboBox2");
    combo->setGeometry(190, 20, 400, 30);
    combo->setFocusPolicy(Qt::NoFocus);

    direct_ = shell::makeFlatButton(page, "Button_direct", 71, 70, 50, 50);
    directLabel_ = sys::makeText(page, "label_direct", 127, 70, 190, 50);
    ip_ = shell::makeFlatButton(page, "Button_IP", 323, 70, 50, 50);
    ipLabel_ = sys::makeText(page, "label_IP", 379, 70, 220, 50);
    // Long captions take a second line rather than running under the next widget.
    directLabel_->setWordWrap(true);
    ipLabel_->setWordWrap(true);
    connect(direct_, &QPushButton::clicked, this, &LinkOption::on_Button_direct_clicked);
    connect(ip_, &QPushButton::clicked, this, &LinkOption::on_Button_IP_clicked);

    const char* captions[3] = {"label_IpSet", "label_netmask", "label_gateway"};
    const char* prefixes[3] = {"lineEditIp", "lineEditMask", "lineEditGate"};
    My_lineEdit* (*rows[3])[4] = {&ipFields_, &maskFields_, &gateFields_};
    for (int r = 0; r < 3; ++r) {
        rowCaptions_[r] = sys::makeText(page, captions[r], 5, kRowY[r], 140, 50);
        rowCaptions_[r]->setWordWrap(true);
        for (int k = 0; k < 4; ++k) {
            My_lineEdit* field =
                sys::makeField(page, QStringLiteral("%1%2").arg(prefixes[r]).arg(k + 1), kFieldX[k], kRowY[r], 70, 50);
            (*rows[r])[k] = field;
            bindField(field, [this, field] { return keypad_title(field); });
            if (k < 3)
                sys::makeText(page, QStringLiteral("label_dot_%1_%2").arg(r).arg(k), kFieldX[k] + 70, kRowY[r], 18, 50,
                              Qt::AlignCenter)
                    ->setText(".");
        }
    }
    netCancel_ = sys::makeButton(page, "Button_net_cancel", 210, 330, 180, 60);
    netApply_ = sys::makeButton(page, "Button_net_apply", 410, 330, 180, 60);
    shell::markSelected(netCancel_, false);
    shell::markSelected(netApply_, false);
    connect(netCancel_, &QPushButton::clicked, this, &LinkOption::on_Button_net_cancel_clicked);
    connect(netApply_, &QPushButton::clicked, this, &LinkOption::on_Button_net_apply_clicked);
}

void LinkOption::build_usb_tab(QWidget* page)
{
    usbPage_ = page;
    label_log = sys::makeText(page, "label_log", 10, 17, 550, 61);
    ok_ = sys::makeButton(page, "Button_ok", 410, 340, 180, 50);
    shell::markSelected(ok_, true);
    connect(ok_, &QPushButton::clicked, this, &LinkOption::on_Button_ok_clicked);
}

void LinkOption::fill_address_fields()
{
    const QString* settings[3] = {&g_str_ip, &g_srt_mask, &g_str_gateway};
    My_lineEdit* (*rows[3])[4] = {&ipFields_, &maskFields_, &gateFields_};
    for (int r = 0; r < 3; ++r) {
        const QStringList parts = settings[r]->split(QLatin1Char('.'));
        for (int k = 0; k < 4; ++k)
            (*rows[r])[k]->setText(parts.value(k));
    }
}

QString LinkOption::keypad_title(const My_lineEdit* field) const
{
    const QString name = field->objectName();
    if (name.startsWith("lineEditMask"))
        return langText(kMaskTitle);
    if (name.startsWith("lineEditGate"))
        return langText(kGateTitle);
    return QStringLiteral("IP");
}

void LinkOption::syncUpdate(int code) { refreshNow(code); }

void LinkOption::language_changed()
{
    titleLabel()->setText(langText(kTitle));
    com_->setText(langText(kCom));
    wlan_->setText(langText(kWlan));
    usb_->setText(langText(kUsb));
    baud_->setText(langText(kBaud));
    bit_->setText(langText(kBit));
    stop_->setText(langText(kStop));
    network_->setText(langText(kNetwork));
    directLabel_->setText(langText(kDirect));
    ipLabel_->setText(langText(kFixedIp));
    rowCaptions_[0]->setText(langText(kIpSet));
    rowCaptions_[1]->setText(langText(kNetmask));
    rowCaptions_[2]->setText(langText(kGateway));
    netCancel_->setText(langText(sys::kTextCancel));
    netApply_->setText(langText(sys::kTextApply));
    ok_->setText(langText(sys::kTextOk));
    if (link_tab_button == usb_) {
        get_file_list_smartpath();
        rcv_self_recovery_file_list();
    }
}

void LinkOption::select_tab(QPushButton* button, int index)
{
    stack_->setCurrentIndex(index);
    sys::moveSelection(link_tab_button, button, style::kSelected, style::kUnselected);
}

void LinkOption::on_Button_com_clicked() { select_tab(com_, 0); }
void LinkOption::on_Button_wlan_clicked() { select_tab(wlan_, 1); }

void LinkOption::on_Button_usb_clicked()
{
    select_tab(usb_, 2);
    get_file_list_smartpath();
    rcv_self_recovery_file_list();
}

void LinkOption::on_Button_direct_clicked()
{
    sys::setIcon(direct_, sys::kChecked);
    sys::setIcon(ip_, sys::kUnchecked);
}

void LinkOption::on_Button_IP_clicked()
{
    sys::setIcon(ip_, sys::kChecked);
    sys::setIcon(direct_, sys::kUnchecked);
}

// ---- network tab ---------------------------------------------------------------------------------

QString LinkOption::canonicalOctet(const QString& text)
{
    if (text.isEmpty() || text.size() > 3)
        return QString();
    for (QChar ch : text)
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            return QString();
    const int value = text.toInt();
    return value <= 255 ? QString::number(value) : QString();
}

void LinkOption::fieldConfirmed(My_lineEdit* field, const QString& text)
{
    const QString octet = canonicalOctet(text);
    if (octet.isEmpty())
        return;
    set_octet(field, octet);
    edit_name = field->objectName();
    // The gateway usually shares the address's network: its first three octets follow.
    for (int k = 0; k < 3; ++k)
        if (field == ipFields_[k])
            set_octet(gateFields_[k], octet);
}

void LinkOption::set_octet(My_lineEdit* field, const QString& octet)
{
    field->setText(octet);
    mark_fault(field, false);
}

void LinkOption::mark_fault(My_lineEdit* field, bool fault) { field->setStyleSheet(fault ? kOctetFault : ""); }

QString LinkOption::row_text(My_lineEdit* const (&row)[4]) const
{
    QStringList parts;
    for (const My_lineEdit* f : row)
        parts << f->text();
    return parts.join(QLatin1Char('.'));
}

// Marks every address field that holds no octet (as the keypad stores one) and clears the
// others' marks; true when all twelve hold one.
bool LinkOption::check_address_fields()
{
    bool valid = true;
    for (My_lineEdit* const* row : {ipFields_, maskFields_, gateFields_})
        for (int k = 0; k < 4; ++k) {
            const QString text = row[k]->text();
            const bool octet = !text.isEmpty() && canonicalOctet(text) == text;
            mark_fault(row[k], !octet);
            valid = valid && octet;
        }
    return valid;
}

void LinkOption::on_Button_net_apply_clicked()
{
    shell::markSelected(netCancel_, false);
    shell::markSelected(netApply_, true);
    // Nothing half-typed reaches the configuration or a shell command; the marked fields say why.
    if (!check_address_fields())
        return;
    const QString address = row_text(ipFields_);
    const QString mask = row_text(maskFields_);
    const QString gateway = row_text(gateFields_);
    if (address == g_str_ip && mask == g_srt_mask && gateway == g_str_gateway)
        return;
    // An address the box could not be reached at is not applied; its row is marked.
    const Utils::NetFault fault = Utils::checkNetwork(address, mask, gateway);
    if (fault != Utils::NetFault::None) {
        My_lineEdit* const* row = fault == Utils::NetFault::Address ? ipFields_
                                  : fault == Utils::NetFault::Mask  ? maskFields_
                                                                    : gateFields_;
        for (int k = 0; k < 4; ++k)
            mark_fault(row[k], true);
        return;
    }
    ZEL_DEBUG("\n ip %s mask %s gateway %s \n", qPrintable(address), qPrintable(mask), qPrintable(gateway));
    // Stored first: an address a restart would not find is not set up (the home page's alert says
    // the settings file refuses changes).
    if (!ConfigEngine::pInstance()->write_config_variants(
            {{ConfigItem::IPAddress, address}, {ConfigItem::SubNetMask, mask}, {ConfigItem::GateWay, gateway}})) {
        if (g_tip)
            g_tip->tip_create(TIP::kNotSaved);
        return;
    }
    Utils::system_mutex(QStringLiteral("sync"));
    usleep(100);
    Utils::initIPAddress();
    if (ZelRamPara::p_zelrampara_config)
        ZelRamPara::p_zelrampara_config->test_signal(1);
}

void LinkOption::on_Button_net_cancel_clicked()
{
    shell::markSelected(netApply_, false);
    shell::markSelected(netCancel_, true);
}

// ---- USB upgrade tab -----------------------------------------------------------------------------

QString LinkOption::upgradeFolder()
{
    if (g_usb_grade_path == QLatin1String(" "))
        return QString::fromLatin1(kUsbRoot);
    return QString::fromLatin1(kUsbRoot) + g_usb_grade_path;
}

void LinkOption::get_file_list_smartpath()
{
    std::fill(std::begin(usb_file_flag), std::end(usb_file_flag), 0);
    usb_page = 0;
    zel_count_ = 0;
    zelzk_count_ = 0;
    usb_file_list.clear();

    const QString folder = upgradeFolder();
    const QDir dir(platform::rootPath(folder));
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        if (usb_file_list.size() >= kMaxPackages)
            break;
        const QString suffix = entry.suffix();
        const bool zel = suffix == QLatin1String(kSuffixZel);
        if (!zel && suffix != QLatin1String(kSuffixZelzk))
            continue;
        const int k = usb_file_list.size();
        usb_file_list << QDir::cleanPath(folder + QLatin1Char('/') + entry.fileName());
        ZEL_DEBUG("\n %s \n", qPrintable(usb_file_list.last()));
        // The first application package and every font package are marked.
        if (zel) {
            usb_file_flag[k] = zel_count_ == 0 ? 1 : 0;
            ++zel_count_;
        } else {
            usb_file_flag[k] = 1;
            ++zelzk_count_;
        }
    }
    usb_file_num = static_cast<uint32_t>(usb_file_list.size());
}

void LinkOption::rcv_self_recovery_file_list()
{
    sys::retire(frame_file);
    frame_file = sys::makeListFrame(usbPage_);
    if (usb_file_num == 0) {
        QLabel* empty = sys::makeListRow(frame_file, "file_0", 0, 570);
        empty->setStyleSheet(sys::kRowOther);
        empty->setText(langText(sys::kTextNoFile));
    } else {
        const int first = usb_page * kPageEntries;
        const int count = std::min<int>(kPageEntries, static_cast<int>(usb_file_num) - first);
        for (int k = 0; k < count; ++k) {
            const int index = first + k;
            QLabel* label = sys::makeListRow(frame_file, QStringLiteral("file_%1").arg(k), k, 520);
            label->setStyleSheet(usb_file_flag[index] ? sys::kRowSelected : sys::kRowOther);
            label->setText(QStringLiteral("<font color = #FFFFFF >%1</font>")
                               .arg(QFileInfo(usb_file_list.at(index)).fileName()));
        }
    }
    frame_file->show();
}

void LinkOption::on_Button_ok_clicked()
{
    // One upgrade at a time, and never under a running receiving-card job: both keep their
    // step in the job block.
    if (file_downing || g_usb_grade.load() != 0 || (fpga_manage::job_word() & 0xFF) != 0)
        return;
    menulist_button_ok_page();
}

void LinkOption::menulist_button_ok_page()
{
    file_downing = 1;
    ZEL_DEBUG("\n menulist_button_ok_page 00 in  file_downing = %#x \n", file_downing);
    fpga_manage::set_job(0, 0);
    g_usb_grade = 1;
}

void LinkOption::show_upgrade_log()
{
    label_log->setText(QStringLiteral("<font style = 'font-size:20px' color = #51BB28 >%1</font>")
                           .arg(QStringLiteral("Download finished") + "<br>" + upgrade_log_text()));
}

void LinkOption::pageRefresh(int code)
{
    // The stick's coming and going is printed once, by the change dispatcher with its notice.
    switch (code) {
    case kCodeUsbOut:
        get_file_list_smartpath();
        rcv_self_recovery_file_list();
        file_downing = 0;
        break;
    case kCodeUsbReady:
        get_file_list_smartpath();
        rcv_self_recovery_file_list();
        break;
    case kCodeUpgradeEnd:
        if (link_tab_button == usb_)
            show_upgrade_log();
        break;
    default:
        break;
    }
}
