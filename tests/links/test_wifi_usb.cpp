#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "core/global.h"
#include "core/para_commit.h"
#include "core/ram_layout.h"
#include "core/zelrampara.h"
#include "links/t71_wifi_config.h"
#include "links/usbserver.h"
#include "platform/command_runner.h"
#include "platform/platform.h"
#include "platform/uevent.h"
#include "support/test_root.h"

namespace {

int count(const std::vector<std::string>& journal, const std::string& prefix)
{
    int n = 0;
    for (const std::string& c : journal)
        n += c.rfind(prefix, 0) == 0;
    return n;
}

class Wifi : public ::testing::Test {
protected:
    void SetUp() override
    {
        model = ZelRamPara::pInstance();
        G_timeTicks = 1000;
        wifi = T71_WIFI_CONFIG::pInstance();
    }
    // Advances the tick and runs one pass.
    void at(unsigned tick)
    {
        G_timeTicks = tick;
        wifi->stepOnce();
    }
    zeltest::TempRoot root;
    ZelRamPara* model = nullptr;
    T71_WIFI_CONFIG* wifi = nullptr;
};

}  // namespace

TEST_F(Wifi, StartsTheAccessPointEvery100TicksUntilItRuns)
{
    at(1050);
    EXPECT_EQ(count(zeltest::simCommands().journal(), "hostapd -B"), 0);
    at(1100);
    auto j = zeltest::simCommands().journal();
    EXPECT_EQ(count(j, "hostapd -B /etc/rtl_hostapd_2G.conf"), 1);
    EXPECT_EQ(count(j, "udhcpd /etc/udhcpd.conf"), 1);
    std::string conf = zeltest::readText("/etc/rtl_hostapd_2G.conf");
    EXPECT_NE(conf.find("interface=wlan0"), std::string::npos);
    EXPECT_NE(zeltest::readText("/etc/udhcpd.conf").find("opt router 192.168.22.101"), std::string::npos);

    // Running now: no second start.
    zeltest::simCommands().script("pidof hostapd", {0, "1234\n"});
    at(1200);
    EXPECT_EQ(count(zeltest::simCommands().journal(), "hostapd -B"), 1);
}

TEST_F(Wifi, PassesOnlyOnTheirDueTicksStartAndResetOnTime)
{
    // The thread passes only on the ticks nextDueTick names.
    std::vector<unsigned> passes;
    auto runUntil = [&](unsigned end) {
        for (unsigned tick = G_timeTicks.load(); tick < end; tick = wifi->nextDueTick(tick)) {
            at(tick);
            passes.push_back(tick);
        }
    };
    runUntil(1150);
    EXPECT_EQ(count(zeltest::simCommands().journal(), "hostapd -B"), 1) << "started at 1100";
    zeltest::simCommands().script("pidof hostapd", {0, "1234\n"});
    G_timeTicks = 1150;
    wifi->set_wifi_reset_flag();
    runUntil(1500);
    EXPECT_NE(std::find(passes.begin(), passes.end(), 1451u), passes.end()) << "the reset's tick";
    EXPECT_EQ(count(zeltest::simCommands().journal(), "kill -9 $(pidof hostapd)"), 1);
    EXPECT_LT(passes.size(), 15u) << "500 ticks";

    {
        ParaCommit lock;
        model->ram_para[0x306] = 1;
    }
    EXPECT_EQ(wifi->nextDueTick(1500), 1500u + T71_WIFI_CONFIG::kLongestWaitTicks) << "switched off";
}

TEST_F(Wifi, ResetStopsMoreThan300TicksAfterTheFlag)
{
    zeltest::simCommands().script("pidof hostapd", {0, "1234\n"});
    wifi->set_wifi_reset_flag();
    EXPECT_EQ(g_wifi_reset_flag.load(), 1);
    at(1300);
    EXPECT_EQ(count(zeltest::simCommands().journal(), "kill -9 $(pidof hostapd)"), 0);
    at(1301);
    EXPECT_EQ(count(zeltest::simCommands().journal(), "kill -9 $(pidof hostapd)"), 1);
    EXPECT_EQ(count(zeltest::simCommands().journal(), "kill -9 $(pidof udhcpd)"), 1);
    EXPECT_EQ(g_wifi_reset_flag.load(), 0);
}

TEST_F(Wifi, NothingHappensWhileTheSwitchIsOff)
{
    {
        ParaCommit commit;   // as the advanced page switches it
        model->ram_para[0x306] = 1;
        commit.set(1);
    }
    wifi->set_wifi_reset_flag();
    at(1400);
    at(1500);
    auto j = zeltest::simCommands().journal();
    EXPECT_EQ(count(j, "hostapd"), 0);
    EXPECT_EQ(count(j, "kill"), 0);
    EXPECT_EQ(g_wifi_reset_flag.load(), 1);
}

TEST(Usb, StickDirectoryReportsAddedReadyAndRemoved)
{
    zeltest::TempRoot root;
    std::vector<int> codes;
    UsbServer* usb = UsbServer::pInstance();
    QObject::connect(usb, &UsbServer::sig_usb_update, qApp, [&](int c) { codes.push_back(c); },
                     Qt::QueuedConnection);
    auto waitCodes = [&](size_t n) {
        for (int i = 0; i < 300 && codes.size() < n; ++i) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    std::filesystem::create_directories(root.at("/mnt/usb1"));
    waitCodes(2);
    EXPECT_EQ(codes, (std::vector<int>{100, 102}));
    std::filesystem::remove_all(root.at("/mnt/usb1"));
    waitCodes(3);
    EXPECT_EQ(codes, (std::vector<int>{100, 102, 101}));
}

TEST(Usb, KernelEventsOfUsbDevicesOnly)
{
    zeltest::TempRoot root;
    std::vector<int> codes;
    UsbServer* usb = UsbServer::pInstance();
    QObject::connect(usb, &UsbServer::sig_usb_update, qApp, [&](int c) { codes.push_back(c); },
                     Qt::QueuedConnection);
    auto& events = dynamic_cast<platform::SimUeventSource&>(platform::uevents());
    using namespace std::string_literals;
    events.inject("add@/devices/x/1-1:1.0\0ACTION=add\0SUBSYSTEM=usb\0DEVTYPE=usb_interface\0"s);
    events.inject("add@/devices/x/1-1\0ACTION=add\0SUBSYSTEM=usb\0DEVTYPE=usb_device\0"s);
    events.inject("remove@/devices/x/1-1\0ACTION=remove\0SUBSYSTEM=usb\0DEVTYPE=usb_device\0"s);
    for (int i = 0; i < 300 && codes.size() < 2; ++i) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(codes, (std::vector<int>{100, 101}));
}
