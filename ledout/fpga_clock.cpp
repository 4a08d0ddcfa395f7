// The manager's clock: the current-time record read from the local clock, and the run-time
// recorder's step of the pass.
#include <QMutexLocker>

#include "core/utils.h"
#include "ledout/clock_record_run.h"
#include "ledout/fpga_manage.h"
#include "platform/clock.h"

void fpga_manage::IT8563WE_Get(TimeRealType* time)
{
    if (time == nullptr)
        return;
    QDateTime now;
    {
        // A clock change runs under the shell mutex: the reading never sees half of it.
        QMutexLocker lock(&Utils::_system_mutex);
        now = platform::localNow();
    }
    const QDate d = now.date();
    const QTime t = now.time();
    time->year = static_cast<uint16_t>(d.year());
    time->month = static_cast<uint8_t>(d.month());
    time->day = static_cast<uint8_t>(d.day());
    time->hour = static_cast<uint8_t>(t.hour());
    time->minute = static_cast<uint8_t>(t.minute());
    time->second = static_cast<uint8_t>(t.second());
}

void fpga_manage::run_clock_record()
{
    if (clock_record != nullptr)
        clock_record->step(get_fpga_status() == 1);
}
