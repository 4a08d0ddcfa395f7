#include "links/t71_wifi_config.h"

#include <QMutexLocker>

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/file_store.h"
#include "core/global.h"
#include "core/para_commit.h"
#include "core/ram_layout.h"
#include "core/utils.h"
#include "core/zelrampara.h"
#include "platform/platform.h"

std::atomic<uint8_t> g_wifi_reset_flag{0};
T71_WIFI_CONFIG* T71_WIFI_CONFIG::p_wifi = nullptr;

namespace {

constexpr const char* kDefaultWifiIp = "192.168.22.101";
constexpr const char* kPassphrase = "12345678";

// The address of the Wi-Fi side: the setting when it is a dotted quad, else the default.
std::string wifiAddress()
{
    std::string ip = g_str_wifi_ip.toStdString();
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(ip.c_str(), "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 || b > 255 ||
        c > 255 || d > 255)
        return kDefaultWifiIp;
    return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d);
}

std::string networkPrefix(const std::string& ip) { return ip.substr(0, ip.rfind('.') + 1); }

std::string ssid()
{
    size_t n = strnlen(g_pid, 32);
    std::string tail = n >= 4 ? std::string(g_pid + n - 4, 4) : std::string("0000");
    return "ZEL-T71-" + tail;
}

bool writeText(const char* systemPath, const std::string& text)
{
    return filestore::write_atomic(systemPath, reinterpret_cast<const unsigned char*>(text.data()), text.size()) == 0;
}

}  // namespace

T71_WIFI_CONFIG::T71_WIFI_CONFIG() : lastStartCheck_(G_timeTicks.load())
{
    writeLogMsg(LOG_BANNER, "====T71_WIFI_CONFIG::T71_WIFI_CONFIG()=====");
}

T71_WIFI_CONFIG* T71_WIFI_CONFIG::pInstance()
{
    if (!p_wifi) {
        p_wifi = new T71_WIFI_CONFIG();
        p_wifi->thread_.start([] {
            // Both of its checks are counted in ticks: a round on the tick either comes due does
            // them on time.
            const unsigned seen = G_timeTicks.load();
            p_wifi->stepOnce();
            p_wifi->pace_.waitUntilTick(p_wifi->nextDueTick(seen));
        }, [] { p_wifi->pace_.wake(); });
    }
    return p_wifi;
}

void T71_WIFI_CONFIG::set_wifi_reset_flag()
{
    wifi_reset_timeticks = G_timeTicks.load();
    g_wifi_reset_flag = 1;
    pace_.wake();   // the thread's wait was reckoned without the reset
}

unsigned T71_WIFI_CONFIG::nextDueTick(unsigned seen)
{
    if (!switchedOn())
        return seen + kLongestWaitTicks;   // nothing comes due while the switch is off
    unsigned startCheck;
    {
        std::lock_guard<std::mutex> lock(stepMutex_);
        startCheck = lastStartCheck_ + kStartPeriodTicks;
    }
    // The reset waits strictly longer than its delay.
    const unsigned reset = g_wifi_reset_flag.load() == 1 ? wifi_reset_timeticks.load() + kResetDelayTicks + 1
                                                         : startCheck;
    return WorkerPace::firstDue(seen, kLongestWaitTicks, {startCheck, reset});
}

bool T71_WIFI_CONFIG::switchedOn() const
{
    ZelRamPara* m = ZelRamPara::p_zelrampara_config;
    if (!m)
        return false;
    ParaCommit lock;   // the switch's writers (the advanced page, the links) hold it
    return m->ram_para[ramaddr::kWifiOff] == 0;
}

void T71_WIFI_CONFIG::stepOnce()
{
    std::lock_guard<std::mutex> lock(stepMutex_);
    if (!switchedOn())
        return;
    if (g_wifi_reset_flag.load() == 1 && Utils::getTimeSpace(wifi_reset_timeticks.load()) > kResetDelayTicks) {
        stop_access_point();
        g_wifi_reset_flag = 0;
    }
    if (Utils::getTimeSpace(lastStartCheck_) >= kStartPeriodTicks) {
        lastStartCheck_ = G_timeTicks.load();
        if (!access_point_running())
            start_access_point();
    }
}

bool T71_WIFI_CONFIG::access_point_running()
{
    std::string pid = Utils::shell_exec("pidof hostapd", 100);
    return pid.find_first_of("0123456789") != std::string::npos;
}

int T71_WIFI_CONFIG::start_access_point()
{
    std::string ip = wifiAddress();
    std::string net = networkPrefix(ip);
    std::string hostapd = "interface=wlan0\n"
                          "driver=nl80211\n"
                          "ssid=" + ssid() + "\n"
                          "hw_mode=g\n"
                          "channel=6\n"
                          "auth_algs=1\n"
                          "wpa=2\n"
                          "wpa_passphrase=" + std::string(kPassphrase) + "\n"
                          "wpa_key_mgmt=WPA-PSK\n"
                          "rsn_pairwise=CCMP\n";
    std::string udhcpd = "start " + net + "100\n"
                         "end " + net + "200\n"
                         "interface wlan0\n"
                         "opt subnet 255.255.255.0\n"
                         "opt router " + ip + "\n"
                         "opt lease 864000\n";
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        if (!writeText(kHostapdConf, hostapd) || !writeText(kUdhcpdConf, udhcpd))
            return 255;
    }
    Utils::system_mutex(QString("ifconfig wlan0 %1 netmask 255.255.255.0 up").arg(QString::fromStdString(ip)));
    int rc = Utils::system_mutex(QString("hostapd -B %1").arg(kHostapdConf));
    rc |= Utils::system_mutex(QString("udhcpd %1").arg(kUdhcpdConf));
    ZEL_DEBUG("\n wifi access point started (%s) \n", ip.c_str());
    return rc ? 255 : 0;
}

int T71_WIFI_CONFIG::stop_access_point()
{
    int rc = Utils::system_mutex("kill -9 $(pidof hostapd)");
    rc |= Utils::system_mutex("kill -9 $(pidof udhcpd)");
    return rc ? 255 : 0;
}
