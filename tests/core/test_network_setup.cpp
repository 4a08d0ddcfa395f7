#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include <QStringList>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/utils.h"
#include "platform/command_runner.h"
#include "support/test_root.h"

using namespace zeltest;
using Commands = std::vector<std::string>;

namespace {

const std::string kCheck = "ifconfig eth0 >/dev/null 2>&1";

Commands setupCommands(const std::string& ip, const std::string& gw, const std::string& mask)
{
    return {"route del default wlan0",
            "ifconfig eth0 " + ip + " netmask " + mask,
            "route add -host " + gw + " dev eth0",
            "route add default gw " + gw + " metric 100",
            "route add -host 255.255.255.255 eth0",
            "route del 255.255.255.255 wlan1"};
}

Commands withCheck(Commands rest)
{
    rest.insert(rest.begin(), kCheck);
    return rest;
}

class NetworkSetup : public ::testing::Test {
protected:
    void SetUp() override
    {
        config = ConfigEngine::pInstance();
        simCommands().clearJournal();
    }
    void store(const QString& ip, const QString& gw, const QString& mask)
    {
        config->write_config_variant(ConfigItem::IPAddress, ip);
        config->write_config_variant(ConfigItem::GateWay, gw);
        config->write_config_variant(ConfigItem::SubNetMask, mask);
    }
    TempRoot root;
    ConfigEngine* config = nullptr;
};

}  // namespace

TEST_F(NetworkSetup, ReloadsAndConfiguresEth0)
{
    store("10.1.2.3", "10.1.0.1", "255.255.0.0");
    EXPECT_EQ(Utils::initIPAddress(), 0);
    EXPECT_EQ(simCommands().journal(), withCheck(setupCommands("10.1.2.3", "10.1.0.1", "255.255.0.0")));
    EXPECT_EQ(g_str_ip, "10.1.2.3");
    EXPECT_EQ(g_str_gateway, "10.1.0.1");
    EXPECT_EQ(g_srt_mask, "255.255.0.0");
}

// Each setting, by its id, lands in its own global; the UDP port (id 1) is not copied.
TEST_F(NetworkSetup, EverySettingReachesItsGlobal)
{
    const std::pair<int, QVariant> settings[] = {
        {0, 6123},           {1, 1111},          {2, "10.9.8.7"}, {3, "255.255.0.0"}, {4, "10.9.8.1"},
        {6, "BC-6"},         {7, "192.168.33.7"}, {8, "Done"},    {9, 9},             {10, "P10"},
        {11, "srv11"},       {12, 1212},          {13, "user13"}, {14, "ctrl14"},     {15, 1515},
        {16, "DIR16"},       {17, 17}};
    for (const auto& [id, value] : settings)
        ASSERT_TRUE(config->write_config_variant(static_cast<ConfigItem::ConfigName>(id), value)) << id;
    EXPECT_EQ(Utils::getIPAddress(), 0);
    EXPECT_EQ(g_port, 6123);
    EXPECT_EQ(g_int_tcp_port, 6123);
    EXPECT_EQ((QStringList{g_str_ip, g_srt_mask, g_str_gateway, g_str_barcode, g_str_wifi_ip, g_check_edid,
                           g_imagelayoutpassword, g_iVor_cloudserverip, g_iVor_clouduserid,
                           g_iVor_controllername, g_usb_grade_path}),
              (QStringList{"10.9.8.7", "255.255.0.0", "10.9.8.1", "BC-6", "192.168.33.7", "Done", "P10",
                           "srv11", "user13", "ctrl14", "DIR16"}));
    EXPECT_EQ((std::vector<long long>{g_check_source, g_iVor_cloudserverport, g_zel_max_pixel, g_lcd_lang_valid}),
              (std::vector<long long>{9, 1212, 1515, 17}));
}

TEST_F(NetworkSetup, WithoutEth0NothingChanges)
{
    simCommands().script("ifconfig eth0 >", {256, ""});
    store("10.1.2.3", "10.1.0.1", "255.255.0.0");
    EXPECT_EQ(Utils::initIPAddress(), 255);
    EXPECT_EQ(simCommands().journal(), Commands{kCheck});
    EXPECT_EQ(g_str_ip, "192.168.1.199");
    EXPECT_EQ(Utils::init_resteth("10.1.2.3", "10.1.0.1", "255.255.0.0"), 255);
}

TEST_F(NetworkSetup, EmptyGatewayStillSucceeds)
{
    simCommands().script("route add", {256, ""});
    store("10.1.2.3", "", "255.0.0.0");
    EXPECT_EQ(Utils::initIPAddress(), 0);
    EXPECT_EQ(simCommands().journal(), withCheck(setupCommands("10.1.2.3", "", "255.0.0.0")));
}

// "0.0.0.0" is how no gateway is given: no route to it is made.
TEST_F(NetworkSetup, NoGatewayRunsNoRouteCommandForIt)
{
    store("10.1.2.3", "0.0.0.0", "255.0.0.0");
    EXPECT_EQ(Utils::initIPAddress(), 0);
    EXPECT_EQ(simCommands().journal(), withCheck({"route del default wlan0", "ifconfig eth0 10.1.2.3 netmask 255.0.0.0",
                                                  "route add -host 255.255.255.255 eth0",
                                                  "route del 255.255.255.255 wlan1"}));
}

TEST_F(NetworkSetup, ResetWithGivenAddressesLeavesGlobals)
{
    EXPECT_EQ(Utils::init_resteth("172.16.0.9", "172.16.0.1", "255.255.255.0"), 0);
    EXPECT_EQ(simCommands().journal(), withCheck(setupCommands("172.16.0.9", "172.16.0.1", "255.255.255.0")));
    EXPECT_EQ(g_str_ip, "192.168.1.199");
    EXPECT_EQ(g_str_gateway, "192.168.1.1");
}

TEST_F(NetworkSetup, MalformedAddressesAreRefused)
{
    const char* bad[] = {"1.2.3.4;reboot", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.-4", "01.2.3.4",
                         "1.2.3.4 ", "$(reboot)", "", "1..3.4", "a.b.c.d", "1.2.3.4\nreboot"};
    for (const char* a : bad) {
        EXPECT_EQ(Utils::init_resteth(a, "1.2.3.1", "255.255.255.0"), 255) << a;
        EXPECT_EQ(Utils::init_resteth("1.2.3.4", "1.2.3.1", a), 255) << a;
        if (*a) {
            EXPECT_EQ(Utils::init_resteth("1.2.3.4", a, "255.255.255.0"), 255) << a;
        }
    }
    EXPECT_TRUE(simCommands().journal().empty());
    EXPECT_TRUE(Utils::isDottedQuad("0.0.0.0"));
    EXPECT_TRUE(Utils::isDottedQuad("255.255.255.255"));
}

TEST_F(NetworkSetup, StoredMalformedAddressRunsNothing)
{
    store("1.2.3.4;reboot", "1.2.3.1", "255.255.255.0");
    EXPECT_EQ(Utils::initIPAddress(), 255);
    EXPECT_EQ(simCommands().journal(), Commands{kCheck});
}

TEST(UdpClient, ExchangesWithTheCompanionOnLoopback)
{
    int server = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(server, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len), 0);

    std::thread companion([server] {
        char buf[64];
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        ssize_t n = ::recvfrom(server, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n == 5 && std::string(buf, 5) == "hello") {
            const char answer[] = {'o', 'k', '\0', 'x'};
            ::sendto(server, answer, sizeof answer, 0, reinterpret_cast<sockaddr*>(&from), fromLen);
        }
    });
    UdpClient client(ntohs(addr.sin_port));
    std::string data = "hello", reply;
    EXPECT_EQ(client.udpSendData(&data, reply), 4);
    companion.join();
    ::close(server);
    EXPECT_EQ(reply, "ok");
    EXPECT_EQ(data, std::string("ok\0x", 4));
}
