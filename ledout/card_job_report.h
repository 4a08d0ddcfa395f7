// What the receiving-card jobs hand to the pages that started them. The jobs run on the FPGA
// manager's thread; the pages live on the GUI thread and may be closed at any time. So the jobs
// never touch a page: every report is queued to the GUI thread and applied there only while the
// page is attached.
//
// Progress: a page attaches itself (a QObject with the signal `sig_qround_bar_update(int)`) and
// receives the job's percentage on that signal, 100 at the end. The smart-mapping page takes
// jobs 1 to 4 (and the scan-file load, job 2), the advanced-settings page jobs 5 and 6.
//
// Recovery list: the check (job 5) leaves one line "ss/pp/cc/nn" for the faulty card it found;
// the self-recovery (job 6) clears it again. The list is kept here, on the GUI thread, for the
// self-recovery tab, and changes only while the advanced-settings page is attached.
#pragma once

#include <functional>

#include <QObject>
#include <QString>
#include <QStringList>

namespace cardjobs {

enum class Page { SmartMapping, AdvancedOption };

// GUI thread: attach a page while it exists, detach it (nullptr) when it closes. A destroyed
// page counts as detached.
void attach(Page page, QObject* object);
bool attached(Page page);

// Any thread: the job's progress for `page`, emitted on the page's sig_qround_bar_update(int)
// from the GUI thread.
void progress(Page page, int value);

// GUI thread: the recovery list and its shown flag (1 while it holds a line).
QStringList recovery_list();
int recovery_list_num();
void clear_recovery_list();

// Any thread (the check job): the faulty card's line replaces the list, then the pages are
// refreshed with ZelRamPara::test_signal(1).
void report_faulty_card(const QString& line);
// Any thread (the self-recovery job): a shown list is cleared and the pages refreshed with
// ZelRamPara::test_signal(99).
void report_recovered();

// Test seam: sees every progress value on the caller's thread, before it is queued.
void setProgressSpy(std::function<void(Page, int)> spy);

}  // namespace cardjobs
