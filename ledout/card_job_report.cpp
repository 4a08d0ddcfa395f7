#include "ledout/card_job_report.h"

#include <mutex>

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include "ledout/fpga_para.h"

namespace cardjobs {

namespace {

constexpr int kPages = 2;
constexpr int kRefreshPages = 1;
constexpr int kRefreshRecovered = 99;

// GUI-thread state.
QPointer<QObject> g_pages[kPages];
QStringList g_recoveryList;   // at most the one line of the last check

std::mutex g_spyMutex;
std::function<void(Page, int)> g_spy;

QPointer<QObject>& slot(Page page) { return g_pages[page == Page::SmartMapping ? 0 : 1]; }

// Runs `work` on the GUI thread (later, in its event loop); dropped without an application.
void onGuiThread(std::function<void()> work)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        return;
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

}  // namespace

void attach(Page page, QObject* object) { slot(page) = object; }

bool attached(Page page) { return !slot(page).isNull(); }

void progress(Page page, int value)
{
    {
        std::lock_guard<std::mutex> lock(g_spyMutex);
        if (g_spy)
            g_spy(page, value);
    }
    onGuiThread([page, value] {
        if (QObject* target = slot(page).data())
            QMetaObject::invokeMethod(target, "sig_qround_bar_update", Qt::DirectConnection, Q_ARG(int, value));
    });
}

QStringList recovery_list() { return g_recoveryList; }

int recovery_list_num() { return g_recoveryList.isEmpty() ? 0 : 1; }

void clear_recovery_list()
{
    g_recoveryList.clear();
}

void report_faulty_card(const QString& line)
{
    onGuiThread([line] {
        if (!attached(Page::AdvancedOption))
            return;
        g_recoveryList = QStringList{line};
    });
    // Queued behind the list change: the refresh sees the new line.
    ledpara::test_signal(kRefreshPages);
}

void report_recovered()
{
    onGuiThread([] {
        if (!attached(Page::AdvancedOption) || g_recoveryList.isEmpty())
            return;
        clear_recovery_list();
        ledpara::test_signal(kRefreshRecovered);
    });
}

void setProgressSpy(std::function<void(Page, int)> spy)
{
    std::lock_guard<std::mutex> lock(g_spyMutex);
    g_spy = std::move(spy);
}

}  // namespace cardjobs
