// The Wi-Fi access point of the box: started every 100 ticks while the Wi-Fi switch (low byte
// of image 0x306) is on and it is not running, and restarted on request: a reset stops hostapd
// and udhcpd more than 300 ticks after set_wifi_reset_flag(), and the next start-up check brings
// them back. While the switch is off, neither runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/worker_pace.h"
#include "links/link_thread.h"

extern std::atomic<uint8_t> g_wifi_reset_flag;   // 1: a reset of the access point is pending

class T71_WIFI_CONFIG {
public:
    static constexpr unsigned kStartPeriodTicks = 100;
    static constexpr unsigned kResetDelayTicks = 300;
    // The thread's longest wait: while the switch is off, switching it on is seen this late, as
    // late as the start-up check of a running access point.
    static constexpr unsigned kLongestWaitTicks = kStartPeriodTicks;
    static constexpr const char* kHostapdConf = "/etc/rtl_hostapd_2G.conf";
    static constexpr const char* kUdhcpdConf = "/etc/udhcpd.conf";

    // Creates the object and starts its thread.
    static T71_WIFI_CONFIG* pInstance();
    static T71_WIFI_CONFIG* p_wifi;

    // Asks for a restart of the access point: flag set, tick stamped.
    void set_wifi_reset_flag();
    // One pass of the thread.
    void stepOnce();
    // The tick of the thread's next pass after one begun at `seen`: the start-up check's or the
    // pending reset's, whichever comes first, and at most kLongestWaitTicks on.
    unsigned nextDueTick(unsigned seen);

    std::atomic<unsigned> wifi_reset_timeticks{0};

    // The access point's files and commands (public for the settings page's tests).
    int start_access_point();
    int stop_access_point();
    bool access_point_running();

private:
    T71_WIFI_CONFIG();
    bool switchedOn() const;

    std::mutex stepMutex_;   // the thread and a direct caller never step at once
    unsigned lastStartCheck_;
    LinkThread thread_;
    WorkerPace pace_;
};
