// The smart-mapping page's other flows: loading a scan-parameter file (job 2), parameter curing
// (job 3) and the mapping switch (job 4), and the page's USB events.
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>

#include "core/global.h"
#include "ledout/fpga_manage.h"
#include "ledout/job_block.h"
#include "ledout/rcv_recovery_file.h"
#include "platform/platform.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/fpga_view.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/shell_widgets.h"
#include "ui/system/smartmapping.h"
#include "ui/system/system_widgets.h"

namespace {

constexpr const char* kStickSelected = "background-color:#4777FF;color: #00FF00;";
constexpr const char* kStickOther = "background-color: rgb(33, 36, 53);color: #00FF00";
constexpr const char* kLoadChosen = "background-color: rgb(71, 119, 255);color: #FFFFFF";
constexpr const char* kLoadOther = "background-color:#10101C;color: #FFFFFF";
constexpr const char* kLoadGrey = "background-color: gray;border:2px;color: #FFFFFF";
constexpr uint8_t kMappingBit = 0x80;
constexpr uint32_t kMappingOn = 9;
constexpr uint8_t kJobLoad = 2;
constexpr uint8_t kJobCuring = 3;
constexpr uint8_t kJobMapping = 4;
constexpr int kCodeUsbOut = 101;
constexpr int kCodeUsbReady = 102;

const char* rowStyle(bool stick, bool selected)
{
    if (stick)
        return selected ? kStickSelected : kStickOther;
    return selected ? sys::kRowSelected : sys::kRowOther;
}

// The scan files of a folder (a system path): regular files, no links, suffix exactly "jyfile".
QStringList scanFilesIn(const QString& folder)
{
    QStringList names;
    const QDir dir(platform::rootPath(folder));
    for (const QFileInfo& e : dir.entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted))
        if (e.suffix() == QLatin1String(SmartMapping::kScanSuffix))
            names << e.fileName();
    return names;
}

}  // namespace

void SmartMapping::build_file_list(QWidget* page)
{
    filePage5_ = page;
    sys::makeText(page, "label_step2_6", 10, 10, 531, 30);
    sys::makeText(page, "label_step2_7", 10, 50, 590, 30);
    QPushButton* front = sys::makeButton(page, "Button_front_6", 220, 340, 180, 50);
    QPushButton* load = sys::makeButton(page, "Button_load", 410, 340, 180, 50);
    shell::markAction(front, false);
    shell::markAction(load, true);
    connect(front, &QPushButton::clicked, this, &SmartMapping::on_Button_front_6_clicked);
    connect(load, &QPushButton::clicked, this, &SmartMapping::on_Button_load_clicked);
}

void SmartMapping::build_curing(QWidget* page)
{
    sys::makeText(page, "label_step1_6", 10, 10, 551, 30);
    QPushButton* confirm = sys::makeButton(page, "Button_confirm", 410, 340, 180, 50);
    shell::markAction(confirm, true);
    connect(confirm, &QPushButton::clicked, this, &SmartMapping::on_Button_confirm_clicked);
}

void SmartMapping::build_mapping(QWidget* page)
{
    sys::makeText(page, "label_step1_7", 10, 10, 311, 30);
    mappingState_ = shell::makeFlatButton(page, "Button_mapping_state", 490, 10, 70, 32);
    connect(mappingState_, &QPushButton::clicked, this, &SmartMapping::on_Button_mapping_state_clicked);
}

// ---- scan files -----------------------------------------------------------------------------------

// The count that enables the load flow: the device folder's files (as the recovery reader lists
// them), else the stick's scan files. The display list is not touched.
void SmartMapping::count_scan_files()
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (fpga && fpga->rcv_recovery && fpga->rcv_recovery->get_dir_file(QString::fromLatin1(kScanDir)) == 0)
        scanAvailable_ = static_cast<uint32_t>(fpga->rcv_recovery->scan_file_count());
    if (scanAvailable_ == 0)
        scanAvailable_ = static_cast<uint32_t>(std::min<int>(kMaxFiles, scanFilesIn(QString::fromLatin1(kUsbDir)).size()));
}

void SmartMapping::style_loadscan()
{
    QPushButton* load = menu_[1];
    if (scanAvailable_ == 0)
        load->setStyleSheet(kLoadGrey);
    else
        load->setStyleSheet(menuFocus_ == load ? kLoadChosen : kLoadOther);
}

int SmartMapping::list_folder(const QString& folder, int room)
{
    const QStringList names = scanFilesIn(folder);
    int taken = 0;
    for (const QString& name : names) {
        if (taken >= room)
            break;
        filePaths_ << folder + QLatin1Char('/') + name;
        ++taken;
    }
    return taken;
}

// Device files first, then the stick's; at most kMaxFiles in all.
void SmartMapping::list_scan_files()
{
    filePaths_.clear();
    deviceCount_ = list_folder(QString::fromLatin1(kScanDir), kMaxFiles);
    list_folder(QString::fromLatin1(kUsbDir), kMaxFiles - deviceCount_);
    filePage_ = 0;
    lastPage_ = (filePaths_.size() + kPageRows - 1) / kPageRows - 1;
    listFlag_ = 1;
}

// The page's choice; the job's own copy (g_jyfile_name) changes only while no job runs.
void SmartMapping::set_choice(const QString& path)
{
    chosen_ = path;
    if (!job_running())
        g_jyfile_name = path;
}

void SmartMapping::scan_file_list()
{
    sys::retire(fileFrame_);
    std::fill(std::begin(rowLabels_), std::end(rowLabels_), nullptr);
    selectedRow_ = 0;
    set_choice(QString());
    fileFrame_ = sys::makeListFrame(filePage5_);
    if (filePaths_.isEmpty()) {
        QLabel* empty = sys::makeListRow(fileFrame_, "label_empty", 0, 570);
        empty->setStyleSheet(sys::kRowOther);
        empty->setText(langText(sys::kTextNoFile));
    }
    const int first = filePage_ * kPageRows;
    for (int i = first; i < filePaths_.size() && i < first + kPageRows; ++i) {
        const int r = i - first;
        const bool stick = i >= deviceCount_;
        const bool preselected = i == 0;
        QLabel* label = sys::makeListRow(fileFrame_, QStringLiteral("file_%1").arg(r), r, 520);
        label->setText(QFileInfo(filePaths_.at(i)).fileName().remove(QLatin1Char('\n')));
        label->setStyleSheet(rowStyle(stick, preselected));
        rowLabels_[r] = label;
        rowPaths_[r] = filePaths_.at(i);
        rowOnStick_[r] = stick;
        if (preselected)
            set_choice(filePaths_.at(i));
        QPushButton* b = shell::makeFlatButton(fileFrame_, QString::number(r), 5, 45 * r + 5, 520, 40);
        connect(b, &QPushButton::clicked, this, &SmartMapping::zel_button_file_clicked);
    }
    if (filePage_ >= 1)
        connect(sys::makeListPager(fileFrame_, false), &QPushButton::clicked, this,
                &SmartMapping::zel_Button_previous_clicked);
    if (filePage_ < lastPage_)
        connect(sys::makeListPager(fileFrame_, true), &QPushButton::clicked, this,
                &SmartMapping::zel_Button_next_clicked);
    fileFrame_->show();
    show_index(kFileList);
}

void SmartMapping::on_Button_loadscan_clicked()
{
    if (g_qround_bar || scanAvailable_ == 0)
        return;
    button_select(menu_[1]);
    show_index(kLoadPort);
    select_group(0, 1);
    listFlag_ = 0;
}

void SmartMapping::on_Button_next_5_clicked()
{
    list_scan_files();
    scan_file_list();
}

void SmartMapping::on_Button_front_6_clicked()
{
    if (g_qround_bar)
        return;
    show_index(kLoadPort);
    wlan_init(1);
}

void SmartMapping::zel_button_file_clicked()
{
    const int r = senderIndex(kPageRows);
    if (g_qround_bar || r < 0 || !rowLabels_[r])
        return;
    if (rowLabels_[selectedRow_])
        rowLabels_[selectedRow_]->setStyleSheet(rowStyle(rowOnStick_[selectedRow_], false));
    selectedRow_ = r;
    set_choice(rowPaths_[r]);
    rowLabels_[r]->setStyleSheet(rowStyle(rowOnStick_[r], true));
}

void SmartMapping::zel_Button_previous_clicked()
{
    if (g_qround_bar)
        return;
    filePage_ = std::max(0, filePage_ - 1);
    scan_file_list();
}

void SmartMapping::zel_Button_next_clicked()
{
    if (g_qround_bar)
        return;
    filePage_ = filePage_ + 1 > lastPage_ ? 0 : filePage_ + 1;
    scan_file_list();
}

void SmartMapping::on_Button_load_clicked()
{
    if (chosen_.isEmpty() || scanAvailable_ == 0 || job_running())
        return;
    // The job reads its own copy of the path, taken before the job word appears.
    g_jyfile_name = chosen_;
    start_job(kJobLoad);
}

// ---- curing and mapping ---------------------------------------------------------------------------

void SmartMapping::on_Button_paraweld_clicked()
{
    if (g_qround_bar)
        return;
    button_select(menu_[2]);
    show_index(kCuring);
    listFlag_ = 0;
}

void SmartMapping::on_Button_confirm_clicked() { start_job(kJobCuring); }

// Bit 7 of register 0, read fresh from both FPGAs.
bool SmartMapping::mapping_on()
{
    const bool on0 = shell::fpga_register(0, 0) & kMappingBit;
    const bool on1 = shell::fpga_register(0, 1) & kMappingBit;
    return on0 && on1;
}

void SmartMapping::on_Button_mapping_clicked()
{
    if (g_qround_bar)
        return;
    button_select(menu_[3]);
    sys::setIcon(mappingState_, mapping_on() ? sys::kOn : sys::kOff, sys::kToggleSize);
    show_index(kMapping);
    listFlag_ = 0;
}

void SmartMapping::on_Button_mapping_state_clicked()
{
    if (job_running())
        return;
    const bool turnOff = mapping_on();
    if (fpga_manage* fpga = fpga_manage::p_fpga_manage)
        for (int f = 0; f < 2; ++f)
            fpga->write_to_register(0, kMappingBit, turnOff ? 0 : kMappingBit, f);
    sys::setIcon(mappingState_, turnOff ? sys::kOff : sys::kOn, sys::kToggleSize);
    jobblock::set32(jobblock::kParameter, turnOff ? 0 : kMappingOn);
    start_job(kJobMapping);
}

// ---- USB events -----------------------------------------------------------------------------------

void SmartMapping::pageRefresh(int code)
{
    if (code != kCodeUsbOut && code != kCodeUsbReady)
        return;
    // The stick's files count for the load flow from the moment they are listed until it goes,
    // so Load and its menu follow the list instead of the count taken when the page opened.
    scanAvailable_ = 0;
    count_scan_files();
    style_loadscan();
    if (code == kCodeUsbReady || listFlag_) {
        list_scan_files();
        scan_file_list();
    }
}
