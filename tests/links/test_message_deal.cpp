// The command processor's groups, called directly with frame bodies.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "core/alerts.h"
#include "core/config_engine.h"
#include "core/file_store.h"
#include "core/global.h"
#include "core/md5.h"
#include "core/syncupdate.h"
#include "core/utils.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "ledout/fpga_manage.h"
#include "link_client.h"
#include "links/message_deal.h"
#include "platform/command_runner.h"
#include "platform/file_sync.h"
#include "platform/mtd.h"
#include "platform/platform.h"
#include "support/test_root.h"

using namespace linktest;

namespace {

class Deal : public ::testing::Test {
protected:
    void SetUp() override
    {
        ConfigEngine::pInstance();
        model = ZelRamPara::pInstance();
        engine = new c331_manage();
        c331_manage::p_c331_manage = engine;
    }
    Bytes run(uint8_t group, const Bytes& payload) { return deal(group, payload); }
    // Sends a whole file in blocks; returns the status of the end command.
    uint8_t transfer(uint8_t type, const std::string& name, const Bytes& content, bool goodDigest = true,
                     unsigned block = 1000)
    {
        Bytes start = {1, type};
        uint32_t size = uint32_t(content.size());
        for (int i = 0; i < 4; ++i)
            start.push_back(uint8_t(size >> (8 * i)));
        start.push_back(uint8_t(name.size()));
        start.insert(start.end(), name.begin(), name.end());
        uint8_t s = status(run(0xC0, start));
        if (s != 0)
            return 0xF0 | s;
        for (uint32_t off = 0; off < size; off += block) {
            uint16_t n = uint16_t(std::min<uint32_t>(block, size - off));
            Bytes d(7u + n);
            d[0] = 2;
            for (int i = 0; i < 4; ++i)
                d[1 + i] = uint8_t(off >> (8 * i));
            d[5] = uint8_t(n);
            d[6] = uint8_t(n >> 8);
            std::copy(content.begin() + off, content.begin() + off + n, d.begin() + 7);
            if (status(run(0xC0, d)) != 0)
                return 0xE0;
        }
        MD5 m(content.data(), unsigned(content.size()));
        Bytes end = {3};
        end.insert(end.end(), m.digest(), m.digest() + 16);
        if (!goodDigest)
            end[5] ^= 1;
        return status(run(0xC0, end));
    }
    // The change reports raised while `command` runs, in order.
    std::vector<int> reportsOf(const std::function<void()>& command)
    {
        std::vector<int> codes;
        const QMetaObject::Connection c =
            QObject::connect(model, &ZelRamPara::sig_update_para, [&codes](int code) { codes.push_back(code); });
        command();
        QObject::disconnect(c);
        return codes;
    }

    zeltest::TempRoot root;
    ZelRamPara* model = nullptr;
    c331_manage* engine = nullptr;
};

Bytes pattern(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(i * 7 + 3);
    return b;
}

}  // namespace

TEST_F(Deal, RecoveryAndScanFilesLandInTheirDirectories)
{
    Bytes content = pattern(2500);
    EXPECT_EQ(transfer(9, "JYFX_card1.bin", content), 0);
    EXPECT_EQ(zeltest::readFile("/data/rcvrecovery/JYFX_card1.bin"), content);
    EXPECT_EQ(transfer(13, "JYFR_scan", pattern(10)), 0);
    EXPECT_TRUE(zeltest::fileExists("/data/smartmapping/JYFR_scan"));

    // Delete: only a good name in the right directory.
    EXPECT_EQ(status(run(0xC0, {4, 9, 14, 'J', 'Y', 'F', 'X', '_', 'c', 'a', 'r', 'd', '1', '.', 'b', 'i', 'n'})), 0);
    EXPECT_FALSE(zeltest::fileExists("/data/rcvrecovery/JYFX_card1.bin"));
    EXPECT_EQ(status(run(0xC0, {4, 13, 4, 'J', 'Y', 'F', 'R'})), 1);  // no such file
}

TEST_F(Deal, BadDigestWritesNothing)
{
    EXPECT_EQ(transfer(9, "JYFX_a", pattern(3000), false), 1);
    EXPECT_FALSE(zeltest::fileExists("/data/rcvrecovery/JYFX_a"));
    // The next transfer starts clean.
    EXPECT_EQ(transfer(9, "JYFX_a", pattern(30)), 0);
    EXPECT_EQ(zeltest::readFile("/data/rcvrecovery/JYFX_a").size(), 30u);
}

TEST_F(Deal, PathTraversalAndBadNamesAreRefused)
{
    for (const std::string& name : {std::string("JYFX/../../x"), std::string("JYFX.."), std::string("../JYFX"),
                                    std::string("JYFX") + std::string(80, 'a'), std::string("JYFX\x01"),
                                    std::string("OTHER")}) {
        EXPECT_EQ(transfer(9, name, pattern(5)), 0xF1) << name;
    }
    EXPECT_EQ(status(run(0xC0, {4, 9, 9, 'J', 'Y', 'F', 'X', '/', '.', '.', '/', 'x'})), 1);
}

TEST_F(Deal, BlocksMustArriveInOrderAndFitTheFile)
{
    Bytes start = {1, 9, 10, 0, 0, 0, 6, 'J', 'Y', 'F', 'X', '_', 'b'};
    EXPECT_EQ(status(run(0xC0, start)), 0);
    EXPECT_EQ(status(run(0xC0, {2, 4, 0, 0, 0, 2, 0, 1, 2})), 1);            // gap
    EXPECT_EQ(status(run(0xC0, {2, 0, 0, 0, 0, 11, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11})), 1);  // too long
    EXPECT_EQ(status(run(0xC0, {2, 0, 0, 0, 0, 5, 0, 1, 2})), 1);            // length lies
    // A file larger than its type allows never starts.
    EXPECT_EQ(status(run(0xC0, {1, 1, 0, 0, 7, 0, 1, 'x'})), 1);              // 0x70000 > mtd8
    // End without a transfer.
    Bytes end = {3};
    end.resize(17);
    EXPECT_EQ(status(run(0xC0, end)), 1);
}

TEST_F(Deal, AliasFileAndFlashImage)
{
    std::string json = "{\"source\":[]}";
    EXPECT_EQ(transfer(5, "alias.json", Bytes(json.begin(), json.end())), 0);
    EXPECT_EQ(zeltest::readText("/data/configs/alias.json"), json);

    Bytes image = pattern(0x12345);
    EXPECT_EQ(transfer(1, "app.img", image, true, 60000), 0);
    std::vector<uint8_t> flash = zeltest::simMtd().contents("/dev/mtd8");
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_FALSE(zeltest::simMtd().eraseLog("/dev/mtd8").empty());

    // Type 1 takes up to 0x60000 bytes for mtd8, type 2 up to 0x500000 for mtd10.
    EXPECT_EQ(transfer(1, "app.img", pattern(0x60000), true, 60000), 0);
    EXPECT_EQ(transfer(1, "app.img", pattern(0x60001), true, 60000), 0xF1);
    EXPECT_EQ(transfer(2, "logo.img", pattern(0x2345), true, 60000), 0);
    flash = zeltest::simMtd().contents("/dev/mtd10");
    ASSERT_GE(flash.size(), 0x2345u);
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 0x2345, pattern(0x2345).begin()));
    EXPECT_EQ(transfer(2, "logo.img", pattern(0x500001), true, 60000), 0xF1);
}

// A power cut between the write and the rename: the receiver answers only after the rename, and
// the file on the device is the old one or the new one, whole.
TEST_F(Deal, ReceivedFilesReplaceTheOldOnesWhole)
{
    const std::string before = "{\"source\":[\"old\"]}";
    const std::string after = "{\"source\":[\"new names\"]}";
    struct Case {
        uint8_t type;
        std::string name, path;
    };
    struct HookReset {
        ~HookReset() { filestore::before_rename = nullptr; }
    } reset;
    for (const Case& c : {Case{5, "alias.json", "/data/configs/alias.json"},
                          Case{6, "omenu.json", "/data/configs/omenu.json"},
                          Case{13, "JYFR_scan", "/data/smartmapping/JYFR_scan"}}) {
        zeltest::writeText(c.path, before);
        std::string seen;
        filestore::before_rename = [&](const std::string& temp) {
            std::ifstream in(temp, std::ios::binary);
            const std::string staged((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            seen = zeltest::readText(c.path) + "|" + staged;
            return false;   // the power goes here
        };
        EXPECT_EQ(transfer(c.type, c.name, Bytes(after.begin(), after.end())), 1) << c.name;
        EXPECT_EQ(seen, before + "|" + after) << c.name;   // written in full before the switch
        EXPECT_EQ(zeltest::readText(c.path), before) << c.name;

        filestore::before_rename = nullptr;
        EXPECT_EQ(transfer(c.type, c.name, Bytes(after.begin(), after.end())), 0) << c.name;
        EXPECT_EQ(zeltest::readText(c.path), after) << c.name;
        using platform::files::DiskFull;   // a full disk at a write, the flush, the sync, the rename
        for (const DiskFull& full : {DiskFull{before.size()}, DiskFull{0, 1}, DiskFull{0, 0, 1}, DiskFull{0, 0, 0, 1}}) {
            platform::files::failAsFull(full);
            EXPECT_EQ(transfer(c.type, c.name, Bytes(before.begin(), before.end())), 1) << c.name;
            platform::files::failAsFull({});
            EXPECT_EQ(zeltest::readText(c.path), after) << c.name;
        }
    }
}

TEST_F(Deal, FailedFlashEraseIsRefusedAndClosesTheDevice)
{
    zeltest::simMtd().setFailErase(true);
    EXPECT_EQ(transfer(1, "app.img", pattern(5000)), 1);
    EXPECT_EQ(zeltest::simMtd().openCount(), 0);
}

TEST_F(Deal, EdidTableIsCommitted)
{
    Bytes p = {3};
    Bytes edid = pattern(256);
    p.insert(p.end(), edid.begin(), edid.end());
    EXPECT_EQ(status(run(0xC1, p)), 0);
    EXPECT_EQ(std::memcmp(edid_ram_table[3], edid.data(), 256), 0);
    EXPECT_EQ(edid_ram_table_from[3].load(), 1);
    EXPECT_EQ(engine->para_chg_flag.load(), 1);
    p[0] = 6;
    EXPECT_EQ(status(run(0xC1, p)), 1);
    p.pop_back();
    p[0] = 2;
    EXPECT_EQ(status(run(0xC1, p)), 1);
    EXPECT_EQ(edid_ram_table_from[2].load(), 0);
}

TEST_F(Deal, EdidTableWaitsWhileTheInputSideHoldsItsLock)
{
    Bytes p = {1};
    Bytes edid = pattern(256);
    p.insert(p.end(), edid.begin(), edid.end());
    Utils::_system_mutex.lock();
    uint8_t s = 0xFF;
    std::thread link([&] { s = status(run(0xC1, p)); });
    // While the input-source manager may be copying the table, nothing is written into it.
    for (int i = 0; i < 50 && edid_ram_table_from[1].load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(edid_ram_table_from[1].load(), 0);
    Utils::_system_mutex.unlock();
    link.join();
    EXPECT_EQ(s, 0);
    EXPECT_EQ(edid_ram_table_from[1].load(), 1);
}

TEST_F(Deal, VersionCarriesTheDeviceId)
{
    std::memcpy(g_pid, "0123456789abcdef0123456789abcdef", 32);
    Bytes r = run(0x82, {});
    EXPECT_EQ(status(r), 0);
    Bytes d = replyData(r);
    ASSERT_EQ(d.size(), 36u);
    EXPECT_EQ(std::string(d.begin() + 4, d.end()), "0123456789abcdef0123456789abcdef");
}

TEST_F(Deal, ClockIsSetThroughTheShellAndChecked)
{
    EXPECT_EQ(status(run(0x87, {5, 4, 3, 2, 1, 0xEA, 0x07})), 0);
    auto j = zeltest::simCommands().journal();
    ASSERT_FALSE(j.empty());
    EXPECT_EQ(j.back(), "date -s \"2026-01-02 03:04:05\" && hwclock -wu");
    EXPECT_EQ(status(run(0x87, {60, 4, 3, 2, 1, 0xEA, 0x07})), 1);
    EXPECT_EQ(status(run(0x87, {5, 4, 3, 2, 13, 0xEA, 0x07})), 1);

    // Days the calendar has not: refused, and nothing runs.
    const size_t ran = zeltest::simCommands().journal().size();
    EXPECT_EQ(status(run(0x87, {0, 0, 0, 29, 2, 0xEA, 0x07})), 1);   // 2026-02-29
    EXPECT_EQ(status(run(0x87, {0, 0, 0, 31, 4, 0xEA, 0x07})), 1);   // 2026-04-31
    EXPECT_EQ(zeltest::simCommands().journal().size(), ran);
    EXPECT_EQ(status(run(0x87, {0, 0, 0, 29, 2, 0xEC, 0x07})), 0);   // 2028 is a leap year
    EXPECT_EQ(zeltest::simCommands().journal().back(), "date -s \"2028-02-29 00:00:00\" && hwclock -wu");
    EXPECT_EQ(status(run(0x87, {59, 59, 23, 31, 12, 0x33, 0x08})), 0);   // the last second of 2099
    EXPECT_EQ(zeltest::simCommands().journal().back(), "date -s \"2099-12-31 23:59:59\" && hwclock -wu");
    EXPECT_EQ(status(run(0x87, {0, 0, 0, 1, 1, 0xD0, 0x07})), 0);         // 2000-01-01
    const size_t taken = zeltest::simCommands().journal().size();
    for (const Bytes& past : {Bytes{0, 60, 0, 1, 1, 0xD0, 0x07}, Bytes{0, 0, 24, 1, 1, 0xD0, 0x07},
                              Bytes{0, 0, 0, 1, 1, 0x34, 0x08}, Bytes{0, 0, 0, 1, 1, 0xCF, 0x07}})
        EXPECT_EQ(status(run(0x87, past)), 1);
    EXPECT_EQ(zeltest::simCommands().journal().size(), taken);

    // A clock the system does not take is not answered as set.
    zeltest::simCommands().script("date -s", {256, ""});
    EXPECT_EQ(status(run(0x87, {0, 0, 0, 1, 3, 0xEC, 0x07})), 1);
}

TEST_F(Deal, BarcodeAndNetworkSettings)
{
    EXPECT_EQ(status(run(0xA2, {1, 4, 'A', 'B', '1', '2'})), 0);
    EXPECT_EQ(g_str_barcode, "AB12");
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::Barcode).toString(), "AB12");
    EXPECT_EQ(replyData(run(0xA2, {0})), (Bytes{'A', 'B', '1', '2'}));
    EXPECT_EQ(status(run(0xA2, {1, 2, 'A', '\n'})), 1);
    EXPECT_EQ(status(run(0xA2, {1, 3, 'A'})), 1);  // length lies

    EXPECT_EQ(status(run(0xA4, {1, 10, 0, 0, 5, 255, 255, 0, 0, 10, 0, 0, 1})), 0);
    EXPECT_EQ(g_str_ip, "10.0.0.5");
    auto j = zeltest::simCommands().journal();
    EXPECT_NE(std::find(j.begin(), j.end(), "ifconfig eth0 10.0.0.5 netmask 255.255.0.0"), j.end());
    Bytes d = replyData(run(0xA4, {0}));
    ASSERT_GE(d.size(), 14u);
    EXPECT_EQ(Bytes(d.begin(), d.begin() + 4), (Bytes{10, 0, 0, 5}));

    EXPECT_EQ(status(run(0xA4, {2, 0x03, 0, 0, 0})), 0);
    EXPECT_EQ(g_lcd_lang_valid, 3u);
    EXPECT_EQ(status(run(0xA4, {2, 0, 0, 0, 0})), 1);

    // A setting that cannot reach its file is refused and changes nothing: no command runs, and
    // the globals and a read keep the old values.
    const QString wifi = g_str_wifi_ip, mac = g_str_mac;
    const std::string configs = platform::rootPath("/data/configs");
    std::rename(configs.c_str(), (configs + ".away").c_str());
    zeltest::writeText("/data/configs", "a file where the settings folder should be");
    const struct {
        const char* what;
        uint8_t group;
        Bytes payload;
    } refused[] = {
        {"network address", 0xA4, {1, 10, 0, 0, 9, 255, 255, 0, 0, 10, 0, 0, 1}},
        {"offered languages", 0xA4, {2, 0x07, 0, 0, 0}},
        {"Wi-Fi address", 0xA4, {3, 10, 1, 2, 3}},
        {"MAC address", 0xA4, {4, 0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}},
        {"barcode", 0xA2, {1, 2, 'C', 'D'}},
    };
    for (const auto& row : refused) {
        zeltest::simCommands().clearJournal();
        EXPECT_EQ(reportsOf([&] { EXPECT_EQ(status(run(row.group, row.payload)), 1) << row.what; }), std::vector<int>())
            << row.what;
        EXPECT_TRUE(zeltest::simCommands().journal().empty()) << row.what;
    }
    EXPECT_TRUE(alerts::active(alerts::kSettingsFileNotWritten));
    EXPECT_EQ(g_str_ip, "10.0.0.5");
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::IPAddress).toString(), "10.0.0.5");
    d = replyData(run(0xA4, {0}));
    ASSERT_GE(d.size(), 14u);
    EXPECT_EQ(Bytes(d.begin(), d.begin() + 4), (Bytes{10, 0, 0, 5}));
    EXPECT_EQ(g_lcd_lang_valid, 3u);
    EXPECT_EQ(g_str_wifi_ip, wifi);
    EXPECT_EQ(g_str_mac, mac);
    EXPECT_EQ(g_str_barcode, "AB12");
    std::remove(configs.c_str());
    std::rename((configs + ".away").c_str(), configs.c_str());
    EXPECT_EQ(status(run(0xA4, {2, 0x07, 0, 0, 0})), 0);
    EXPECT_FALSE(alerts::active(alerts::kSettingsFileNotWritten));
}

// An address set-up the box could not be reached at is refused whole: nothing is stored and
// no command runs.
TEST_F(Deal, NetworkSettingsTheBoxCannotBeReachedAtAreRefusedAndNothingRuns)
{
    const Bytes refused[] = {
        {255, 255, 255, 255, 0, 0, 0, 0, 192, 168, 1, 1},        // broadcast with a zero mask
        {0, 0, 0, 0, 255, 255, 255, 0, 0, 0, 0, 0},               // zero address
        {127, 0, 0, 9, 255, 0, 0, 0, 127, 0, 0, 1},               // loopback
        {224, 0, 0, 251, 255, 255, 255, 0, 224, 0, 0, 1},         // multicast
        {192, 168, 7, 0, 255, 255, 255, 0, 192, 168, 7, 1},       // the network itself
        {192, 168, 7, 255, 255, 255, 255, 0, 192, 168, 7, 1},     // its broadcast
        {192, 168, 7, 20, 255, 0, 255, 0, 192, 168, 7, 1},        // a mask with a gap
        {192, 168, 7, 20, 255, 255, 255, 255, 192, 168, 7, 1},    // an all-ones mask
        {192, 168, 7, 20, 255, 255, 255, 0, 192, 168, 8, 1},      // a gateway on another network
        {10, 20, 30, 40, 255, 255, 0, 0, 10, 20, 255, 255},       // the gateway is the broadcast
    };
    const QString before = g_str_ip;
    const QVariant stored = ConfigEngine::p_config->read_config_variant(ConfigItem::IPAddress);
    for (const Bytes& set : refused) {
        zeltest::simCommands().clearJournal();
        Bytes payload(1 + set.size(), 1);   // selector 1, then the address, mask and gateway
        std::copy(set.begin(), set.end(), payload.begin() + 1);
        EXPECT_EQ(status(run(0xA4, payload)), 1) << int(set[0]) << "." << int(set[3]);
        EXPECT_TRUE(zeltest::simCommands().journal().empty()) << int(set[0]) << "." << int(set[3]);
    }
    EXPECT_EQ(g_str_ip, before);
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::IPAddress), stored);
    // The Wi-Fi address likewise.
    const QString wifi = g_str_wifi_ip;
    for (const Bytes& a : {Bytes{255, 255, 255, 255}, Bytes{0, 0, 0, 0}, Bytes{127, 0, 0, 1}, Bytes{224, 1, 1, 1}}) {
        EXPECT_EQ(status(run(0xA4, {3, a[0], a[1], a[2], a[3]})), 1) << int(a[0]);
    }
    EXPECT_EQ(g_str_wifi_ip, wifi);
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::WifiIPAddress).toString(), wifi);
    EXPECT_EQ(status(run(0xA4, {3, 192, 168, 30, 7})), 0);
    EXPECT_EQ(g_str_wifi_ip, "192.168.30.7");
    // A /30 host next to its gateway is taken.
    EXPECT_EQ(status(run(0xA4, {1, 172, 16, 4, 6, 255, 255, 255, 252, 172, 16, 4, 5})), 0);
    EXPECT_EQ(g_str_ip, "172.16.4.6");
}

// Ordinary private and public set-ups are taken, and so is no gateway (0.0.0.0): what PC
// software reads it writes back.
TEST_F(Deal, OrdinaryNetworkSettingsAreTakenAndNoGatewayRoundTrips)
{
    const Bytes taken[] = {
        {10, 200, 3, 4, 255, 0, 0, 0, 10, 0, 0, 1},            // /8
        {172, 20, 9, 77, 255, 240, 0, 0, 172, 16, 0, 1},        // /12, gateway further down the net
        {203, 0, 113, 45, 255, 255, 255, 0, 203, 0, 113, 1},   // a public /24
        {192, 168, 50, 9, 255, 255, 255, 0, 0, 0, 0, 0},       // no gateway
    };
    for (const Bytes& set : taken) {
        Bytes payload(1 + set.size(), 1);
        std::copy(set.begin(), set.end(), payload.begin() + 1);
        EXPECT_EQ(status(run(0xA4, payload)), 0) << int(set[0]) << "." << int(set[3]);
    }
    EXPECT_EQ(g_str_ip, "192.168.50.9");
    Bytes d = replyData(run(0xA4, {0}));
    ASSERT_GE(d.size(), 12u);
    d[3] = 10;   // a new address, the rest as read
    Bytes payload{1};
    payload.insert(payload.end(), d.begin(), d.begin() + 12);
    zeltest::simCommands().clearJournal();
    EXPECT_EQ(status(run(0xA4, payload)), 0);
    EXPECT_EQ(g_str_ip, "192.168.50.10");
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::GateWay).toString(), "0.0.0.0");
    // No gateway: no route to one, now or from the interfaces file of a later MAC write.
    EXPECT_EQ(status(run(0xA4, {4, 0x02, 0, 0, 0, 0, 8})), 0);
    for (const std::string& c : zeltest::simCommands().journal())
        EXPECT_EQ(c.find("0.0.0.0"), std::string::npos) << c;
    const std::string interfaces = zeltest::readText("/etc/network/interfaces");
    EXPECT_NE(interfaces.find("address 192.168.50.10\n"), std::string::npos) << interfaces;
    EXPECT_EQ(interfaces.find("gateway"), std::string::npos) << interfaces;
}

TEST_F(Deal, FlashRequestsAreRangeChecked)
{
    // Address not on a 4 KB boundary, an unknown unit, a 32 KB unit not on its boundary, and a range
    // past the end are all refused before the flash is touched.
    EXPECT_EQ(status(run(0x70, {0x10, 0, 0, 0, 1, 0, 2, 1})), 1);
    EXPECT_EQ(status(run(0x70, {0, 0x10, 0, 0, 1, 0, 2, 3})), 1);
    EXPECT_EQ(status(run(0x70, {0, 0x10, 0, 0, 1, 0, 2, 2})), 1);
    EXPECT_EQ(status(run(0x70, {0, 0xF0, 0x7F, 0, 2, 0, 2, 1})), 1);
    EXPECT_EQ(status(run(0x72, {0, 0, 0x80, 0, 1, 0, 2, 0})), 1);
    EXPECT_EQ(status(run(0x72, {0, 0, 0, 0, 0, 0x50, 2, 0})), 1);   // more than one reply holds
    EXPECT_EQ(status(run(0x72, {0, 0, 0, 0, 1, 0, 9, 0})), 1);      // no such device
}

TEST_F(Deal, MacAddressIsStoredAppliedAndReadBack)
{
    zeltest::simCommands().clearJournal();
    EXPECT_EQ(status(run(0xA4, {4, 0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E})), 0);
    EXPECT_EQ(g_str_mac, "02:1A:2B:3C:4D:5E");
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::MAC).toString(), "02:1A:2B:3C:4D:5E");
    auto j = zeltest::simCommands().journal();
    auto at = [&](const std::string& c) { return std::find(j.begin(), j.end(), c) - j.begin(); };
    ASSERT_LT(at("ifconfig eth0 hw ether 02:1A:2B:3C:4D:5E"), long(j.size()));
    EXPECT_LT(at("ifconfig eth0 down"), at("ifconfig eth0 hw ether 02:1A:2B:3C:4D:5E"));
    EXPECT_LT(at("ifconfig eth0 hw ether 02:1A:2B:3C:4D:5E"), at("ifconfig eth0 up"));
    // Taking the interface down dropped its address: it is set up again.
    EXPECT_LT(at("ifconfig eth0 up"), at("ifconfig eth0 " + g_str_ip.toStdString() + " netmask " +
                                           g_srt_mask.toStdString()));
    std::vector<uint8_t> f = zeltest::readFile("/etc/network/interfaces");
    const std::string text(f.begin(), f.end());
    EXPECT_NE(text.find("iface eth0 inet static\n"), std::string::npos);
    EXPECT_NE(text.find("hwaddress ether 02:1A:2B:3C:4D:5E\n"), std::string::npos);
    EXPECT_NE(text.find("address " + g_str_ip.toStdString() + "\n"), std::string::npos);

    Bytes d = replyData(run(0xA4, {0}));
    ASSERT_EQ(d.size(), 14u + 17u);
    EXPECT_EQ(std::string(d.begin() + 14, d.end()), "02:1A:2B:3C:4D:5E");

    // Group addresses, all zeros and short payloads change nothing.
    EXPECT_EQ(status(run(0xA4, {4, 0x01, 0, 0, 0, 0, 1})), 1);
    EXPECT_EQ(status(run(0xA4, {4, 0, 0, 0, 0, 0, 0})), 1);
    EXPECT_EQ(status(run(0xA4, {4, 0x02, 0, 0, 0, 1})), 1);
    EXPECT_EQ(g_str_mac, "02:1A:2B:3C:4D:5E");
}

TEST_F(Deal, MacAddressWithoutTheInterfaceIsStoredAndReportedAsFailed)
{
    zeltest::simCommands().script("ifconfig eth0 >/dev/null", {256, ""});
    EXPECT_EQ(status(run(0xA4, {4, 0x02, 0, 0, 0, 0, 7})), 1);
    EXPECT_EQ(g_str_mac, "02:00:00:00:00:07");
    EXPECT_TRUE(zeltest::fileExists("/etc/network/interfaces"));
    auto j = zeltest::simCommands().journal();
    EXPECT_EQ(std::count_if(j.begin(), j.end(), [](const std::string& c) { return c.find("hw ether") != c.npos; }),
              0);
}

TEST_F(Deal, RegisterReadTakesTheThreeAndFourByteForms)
{
    model->reg_status[40] = 0x5A;
    Bytes r = run(0xA1, {40, 1, 0});
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(replyData(r), Bytes{0x5A});
    r = run(0xA1, {40, 1, 0, 0xFF});   // filled like a write: byte 13 is ignored
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(replyData(r), Bytes{0x5A});
    EXPECT_EQ(status(run(0xA1, {40, 1, 0, 0, 0})), 1);
    EXPECT_EQ(status(run(0xA1, {40, 1})), 1);
}

TEST_F(Deal, RamWriteSurvivesAnotherReportBeforeItsCommit)
{
    SyncUpdate* sync = SyncUpdate::pInstance();
    EXPECT_EQ(status(run(0x60, ramWrite(0x880, {33, 0}))), 0);   // brightness, not committed
    sync->para_sync(12);                                        // an input report comes first
    EXPECT_EQ(status(run(0xA0, regWrite(0x10, 0x01, 0x01))), 0);   // the update register
    ASSERT_EQ(engine->para_chg_flag.load(), 2);
    // What the engine's pass compares: the change is still there for it to apply.
    pthread_mutex_lock(&engine->para_mutex);
    EXPECT_EQ(model->ram_para[0x880], 33);
    EXPECT_EQ(model->ram_para_shadow[0x880], 100);
    pthread_mutex_unlock(&engine->para_mutex);
}

TEST_F(Deal, RamFrameWhoseLengthFieldDisagreesWithItsDataIsRefusedAndChangesNothing)
{
    fpga_manage::pInstance();
    const Bytes before(model->ram_para + 0x400, model->ram_para + 0x408);
    const Bytes slotBefore(model->ram_user_mode[1], model->ram_user_mode[1] + 8);
    for (uint32_t address : {0x400u, 0x2000u, 0x100000u}) {   // image, user mode 2, command RAM
        Bytes more = ramWrite(address, {1, 2, 3});
        more[4] = 2;   // three data bytes, length 2
        EXPECT_EQ(status(run(0x60, more)), 1) << std::hex << address;
        Bytes fewer = ramWrite(address, {1, 2, 3});
        fewer[4] = 4;   // three data bytes, length 4
        EXPECT_EQ(status(run(0x60, fewer)), 1) << std::hex << address;
        Bytes none = ramWrite(address, {1});
        none[4] = 0;   // data without a length
        EXPECT_EQ(status(run(0x60, none)), 1) << std::hex << address;
    }
    EXPECT_EQ(Bytes(model->ram_para + 0x400, model->ram_para + 0x408), before);
    EXPECT_EQ(Bytes(model->ram_user_mode[1], model->ram_user_mode[1] + 8), slotBefore);
    EXPECT_EQ(Bytes(fpga_manage::p_fpga_manage->MCU_RAM_CMD, fpga_manage::p_fpga_manage->MCU_RAM_CMD + 4),
              Bytes(4, 0));
    EXPECT_FALSE(model->has_uncommitted());
    // The agreeing frame is taken.
    EXPECT_EQ(status(run(0x60, ramWrite(0x400, {1, 2, 3}))), 0);
    EXPECT_EQ(model->ram_para[0x402], 3);

    // A read carries nothing after its fields.
    Bytes read = ramRead(0x400, 2);
    read.push_back(0);
    EXPECT_EQ(status(run(0x61, read)), 1);
    EXPECT_EQ(replyData(run(0x61, ramRead(0x400, 2))), (Bytes{1, 2}));
}

TEST_F(Deal, NetworkReadCarriesAddressMaskGatewayPortAndMac)
{
    ASSERT_EQ(status(run(0xA4, {1, 10, 0, 0, 5, 255, 255, 0, 0, 10, 0, 0, 1})), 0);
    g_int_tcp_port = 0x1234;
    Bytes expected = {10, 0, 0, 5, 255, 255, 0, 0, 10, 0, 0, 1, 0x34, 0x12};
    const std::string mac = platform::SimCommandRunner::kSimMac;
    expected.insert(expected.end(), mac.begin(), mac.end());
    Bytes r = run(0xA4, {0});
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(status(r), 0);
    EXPECT_EQ(replyData(r), expected);
}

// The pages learn of a link's change only through its report: a command that changes what a page
// shows reports it once, with its code; the others report nothing (the engine reports committed
// image changes itself, after applying them).
TEST_F(Deal, CommandsReportWhatThePagesMustRedraw)
{
    const std::string alias = "{\"source\":[]}";
    const Bytes json(alias.begin(), alias.end());
    struct Row {
        const char* what;
        std::function<void()> command;
        std::vector<int> codes;
    };
    const Row rows[] = {
        {"network address", [&] { run(0xA4, {1, 10, 0, 0, 7, 255, 255, 255, 0, 10, 0, 0, 1}); }, {1}},
        {"offered languages", [&] { run(0xA4, {2, 0x05, 0, 0, 0}); }, {1}},
        {"no language offered", [&] { run(0xA4, {2, 0x20, 0, 0, 0}); }, {}},
        {"Wi-Fi address", [&] { run(0xA4, {3, 10, 1, 2, 3}); }, {}},
        {"network read", [&] { run(0xA4, {0}); }, {}},
        {"barcode", [&] { run(0xA2, {1, 2, 'Z', '9'}); }, {}},
        {"alias file", [&] { transfer(5, "alias.json", json); }, {103}},
        {"alias file, bad digest", [&] { transfer(5, "alias.json", json, false); }, {}},
        {"OSD menu file", [&] { transfer(6, "omenu.json", json); }, {}},
        {"recovery file", [&] { transfer(9, "JYFX_r", pattern(40)); }, {}},
        {"image write", [&] { run(0x60, ramWrite(0x880, {40, 0})); }, {}},
        {"user-mode write", [&] { run(0x60, ramWrite(0x3000, {0xAA, 0xAA})); }, {}},
        {"update register", [&] { run(0xA0, regWrite(0x10, 0x01, 0x01)); }, {}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(reportsOf(r.command), r.codes) << r.what;
}
