// The receiving-card self-recovery tab of the advanced settings page: the recovery files, the
// check and self-recovery jobs with their progress ring, and the faulty-card list.
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>

#include "core/global.h"
#include "ledout/card_job_report.h"
#include "ledout/fpga_manage.h"
#include "ledout/job_block.h"
#include "ledout/rcv_recovery_file.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/shell_widgets.h"
#include "ui/system/advancedoption.h"
#include "ui/system/system_widgets.h"

namespace {

constexpr const char* kRecoveryDir = "/data/rcvrecovery";
constexpr LangText kEmpty = {"暂无接收卡需要更新!", "No receiving cards that need to be updated!",
                             "Обновление принимающих карт не требуется!", "Chưa có thẻ nhận nào để cập nhật!",
                             "暫無接收卡需要更新!"};
// An entry: "Find Screen01, LED02, Rcv05" and its Chinese forms (the other languages use English).
constexpr LangText kEntry = {"发现 屏幕%1, 网口LED%2, 接收卡%3", "Find Screen%1, LED%2, Rcv%3",
                             "Find Screen%1, LED%2, Rcv%3", "Find Screen%1, LED%2, Rcv%3",
                             "髮現 屏幕%1, 網口LED%2, 接收卡%3"};
constexpr const char* kTabGrey = "background-color: gray;color:rgb(255,255,255)";
constexpr const char* kTabChosen = "background-color: rgb(71, 119, 255); color:rgb(255,255,255)";
constexpr const char* kTabOtherStyle = "background-color: #10101C;color:rgb(255,255,255)";
constexpr int kEntryFields = 4;
constexpr uint8_t kJobCheck = 5;
constexpr uint8_t kJobRecovery = 6;
constexpr uint8_t kRecoveryStart = 16;

bool jobRunning() { return (fpga_manage::job_word() & 0xFF) != 0 || g_usb_grade.load() != 0; }

}  // namespace

void AdvancedOption::build_recovery_tab(QWidget* page)
{
    recoveryPage_ = page;
    recoveryCaption_ = sys::makeText(page, "label_rcv_update", 10, 50, 550, 28);
    sys::makeText(page, "label_para_file", 10, 10, 200, 28)->hide();
    sys::makeText(page, "label_para_name", 220, 10, 300, 28)->hide();
    check_ = sys::makeButton(page, "Button_check", 120, 340, 150, 50);
    selfRecovery_ = sys::makeButton(page, "Button_self_recovery", 330, 340, 150, 50);
    shell::markSelected(check_, false);
    shell::markSelected(selfRecovery_, false);
    connect(check_, &QPushButton::clicked, this, &AdvancedOption::on_Button_check_clicked);
    connect(selfRecovery_, &QPushButton::clicked, this, &AdvancedOption::on_Button_self_recovery_clicked);
}

bool AdvancedOption::rcv_self_recovery_ornot() const { return tab_select == tabs_[kTabRecovery]; }

void AdvancedOption::count_recovery_files()
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga || !fpga->rcv_recovery)
        return;
    if (fpga->rcv_recovery->get_dir_file(QString::fromLatin1(kRecoveryDir)) == 0)
        rcv_file_num = static_cast<uint8_t>(fpga->rcv_recovery->recovery_file_count());
}

void AdvancedOption::style_recovery_tab()
{
    QPushButton* tab = tabs_[kTabRecovery];
    if (rcv_file_num == 0)
        tab->setStyleSheet(kTabGrey);
    else
        tab->setStyleSheet(QString::fromLatin1(tab_select == tab ? kTabChosen : kTabOtherStyle));
}

void AdvancedOption::on_Button_rcv_recovery_clicked()
{
    if (rcv_file_num == 0 || !show_tab(tabs_[kTabRecovery], kTabRecovery))
        return;
    shell::markSelected(check_, false);
    shell::markSelected(selfRecovery_, false);
    rcv_self_recovery_file_list();
}

void AdvancedOption::rcv_self_recovery_file_list()
{
    sys::retire(frame_file);
    std::fill(std::begin(entryLabels_), std::end(entryLabels_), nullptr);
    file_select = 0;
    frame_file = sys::makeListFrame(recoveryPage_);

    // The list is the LED output's report, kept on this thread; the drawing never reads past it.
    const QStringList list = cardjobs::recovery_list();
    const int count = list.size();
    if (count == 0) {
        QLabel* empty = sys::makeListRow(frame_file, "label_empty", 0, 570);
        empty->setStyleSheet(sys::kRowOther);
        empty->setText(langText(kEmpty));
    }
    const int first = current_page * kRecoveryPageEntries;
    for (int i = first; i < count && i < first + kRecoveryPageEntries; ++i) {
        const int k = i - first;
        const QStringList f = list.at(i).split(QLatin1Char('/'));
        if (f.size() < kEntryFields)
            continue;
        const bool overCount = f[2].toInt() > f[3].toInt();
        rcv_start_block = overCount ? 1 : 0;
        const QString card = QStringLiteral("<font color = %1 >%2</font>").arg(overCount ? "#FF0000" : "#FFFFFF", f[2]);
        QLabel* label = sys::makeListRow(frame_file, QStringLiteral("entry_%1").arg(k), k, 520);
        label->setText(langText(kEntry).arg(f[0], f[1], card));
        label->setStyleSheet(k == 0 ? sys::kRowSelected : sys::kRowOther);
        entryLabels_[k] = label;
        QPushButton* b = shell::makeFlatButton(frame_file, QString::number(k), 5, 5 + 45 * k, 520, 40);
        connect(b, &QPushButton::clicked, this, &AdvancedOption::zel_button_rcv_data_list_file_clicked);
    }
    if (current_page >= 1)
        connect(sys::makeListPager(frame_file, false), &QPushButton::clicked, this,
                &AdvancedOption::zel_Button_previous_clicked);
    if (current_page < last_page)
        connect(sys::makeListPager(frame_file, true), &QPushButton::clicked, this,
                &AdvancedOption::zel_Button_next_clicked);
    frame_file->show();
    stack_->setCurrentIndex(kTabRecovery);
}

void AdvancedOption::zel_button_rcv_data_list_file_clicked()
{
    const int k = senderIndex(kRecoveryPageEntries);
    if (k < 0)
        return;
    if (entryLabels_[file_select])
        entryLabels_[file_select]->setStyleSheet(sys::kRowOther);
    file_select = static_cast<uint8_t>(k);
    ZEL_DEBUG("\n zel_button_file_clicked ...file_select = %d\n", file_select);
    if (QLabel* label = entryLabels_[file_select]) {
        ZEL_DEBUG("%s\n", qPrintable(label->text()));
        label->setStyleSheet(sys::kRowSelected);
    }
}

void AdvancedOption::zel_Button_previous_clicked()
{
    current_page = static_cast<int8_t>(std::max(0, current_page - 1));
    ZEL_DEBUG("\n zel_Button_previous_clicked  current_page = %d\n", current_page);
    rcv_self_recovery_file_list();
}

void AdvancedOption::zel_Button_next_clicked()
{
    current_page = static_cast<int8_t>(current_page + 1 > last_page ? 0 : current_page + 1);
    ZEL_DEBUG("\n zel_Button_next_clicked  current_page = %d\n", current_page);
    rcv_self_recovery_file_list();
}

// The ring lives on this page; the job's progress comes back on sig_qround_bar_update from the
// GUI thread (card_job_report), and the ring closes at 100 or with the page.
void AdvancedOption::start_card_job(uint8_t job)
{
    QRoundProgressBar::create_qround_bar(this);
    if (g_qround_bar)
        connect(this, &AdvancedOption::sig_qround_bar_update, g_qround_bar, &QRoundProgressBar::para_sync,
                Qt::UniqueConnection);
    fpga_manage::set_job(job, 0);
}

void AdvancedOption::on_Button_check_clicked()
{
    if (jobRunning())
        return;
    cardjobs::clear_recovery_list();
    shell::markSelected(selfRecovery_, false);
    shell::markSelected(check_, true);
    rcv_self_recovery_file_list();
    start_card_job(kJobCheck);
}

void AdvancedOption::on_Button_self_recovery_clicked()
{
    if (jobRunning() || rcv_start_block != 0 || cardjobs::recovery_list().isEmpty())
        return;
    shell::markSelected(check_, false);
    shell::markSelected(selfRecovery_, true);
    rcv_self_recovery_file_list();
    g_send_para[jobblock::kPlayerState] = kRecoveryStart;
    start_card_job(kJobRecovery);
}
