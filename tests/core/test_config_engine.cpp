#include <gtest/gtest.h>

#include <QDataStream>
#include <QDir>
#include <QLockFile>

#include <sys/resource.h>
#include <unistd.h>
#include <QSettings>

#include <algorithm>
#include <csignal>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>
#include <QStringList>

#include "core/alerts.h"
#include "core/config_engine.h"
#include "core/file_store.h"
#include "core/global.h"
#include "core/utils.h"
#include "core/zelrampara.h"
#include "platform/command_runner.h"
#include "platform/file_sync.h"
#include "platform/platform.h"
#include "platform/soc.h"
#include "support/isolation.h"
#include "support/test_root.h"
#include "unusable_file.h"

using namespace zeltest;

namespace {

constexpr const char* kIni = "/data/configs/tcpip.ini";

QVariant stored(const QString& key)
{
    QSettings s(platform::rootPath(QString(kIni)), QSettings::IniFormat);
    s.allKeys();   // every group parsed: a key written at the top is found too
    return s.value(key);
}

// The settings in id order with their defaults (the blank ones written as one blank).
const std::pair<const char*, const char*> kDefaults[] = {
    {"config/TcpPort", "5005"}, {"config/UdpPort", "5008"}, {"config/IPAddress", "192.168.1.199"},
    {"config/SubNetMask", "255.255.255.0"}, {"config/GateWay", "192.168.1.1"}, {"config/MAC", "FF:FF:FF:FF:FF:FF"},
    {"config/Barcode", " "}, {"config/WifiIPAddress", "192.168.22.101"}, {"config/EDIDCheck", "Once"},
    {"config/SourceCheck", "255"}, {"config/ImageLayoutPassword", "No"}, {"config/iVorcloudserverip", " "},
    {"config/iVorcloudserverport", " "}, {"config/iVorclouduserip", " "}, {"config/iVorcloudcontrollername", " "},
    {"config/ZelMaxPixel_UINT", "20971520"}, {"config/usbupgradedir", "ZEL-T71"}, {"config/ZelLCDLang", "65567"},
};

}  // namespace

TEST(ConfigEngine, NewFileGetsAllEighteenDefaults)
{
    TempRoot root;
    ASSERT_FALSE(fileExists(kIni));
    ConfigEngine* c = ConfigEngine::pInstance();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(ConfigEngine::p_config, c);
    ASSERT_TRUE(fileExists(kIni));

    QSettings s(platform::rootPath(QString(kIni)), QSettings::IniFormat);
    s.beginGroup("config");
    EXPECT_EQ(s.childKeys().size(), 18);
    s.endGroup();
    for (int id = 0; id < 18; ++id) {
        EXPECT_EQ(s.value(kDefaults[id].first).toString(), kDefaults[id].second) << kDefaults[id].first;
        EXPECT_EQ(c->read_config_variant(static_cast<ConfigItem::ConfigName>(id)).toString(),
                  kDefaults[id].second);
        EXPECT_EQ(c->strToItem(kDefaults[id].first), id);
    }

    // The file is made synchronous through the shell, and the globals hold the settings.
    auto journal = simCommands().journal();
    EXPECT_NE(std::find(journal.begin(), journal.end(), "chattr +S /data/configs/tcpip.ini"), journal.end());
    EXPECT_EQ(g_port, 5005);
    EXPECT_EQ(g_int_tcp_port, 5005);
    EXPECT_EQ(g_str_ip, "192.168.1.199");
    EXPECT_EQ(g_lcd_lang_valid, 0x1001Fu);
    EXPECT_EQ(g_zel_max_pixel, 0x1400000u);
    EXPECT_EQ(g_usb_grade_path, "ZEL-T71");
    EXPECT_EQ(g_check_source, 255);
    EXPECT_EQ(g_imagelayoutpassword, "No");
}

// Before the store loads, the globals hold the program's own defaults (the layout password and the
// EDID check stay empty although their settings' defaults are "No" and "Once").
TEST(ConfigEngine, GlobalsHoldTheirBuiltInDefaultsBeforeTheStoreLoads)
{
    EXPECT_EQ(g_str_ip, "192.168.1.199");
    EXPECT_EQ(g_srt_mask, "255.255.255.0");
    EXPECT_EQ(g_str_gateway, "192.168.1.1");
    EXPECT_EQ(g_str_mac, "FF:FF:FF:FF:FF:FF");
    EXPECT_EQ(g_str_barcode, " ");
    EXPECT_EQ(g_str_wifi_ip, "192.168.22.101");
    EXPECT_EQ(g_dtsIp, "192.168.1.101");
    EXPECT_TRUE(g_imagelayoutpassword.isEmpty());
    EXPECT_TRUE(g_check_edid.isEmpty());
    EXPECT_TRUE(g_usb_grade_path.isEmpty());
    EXPECT_TRUE(g_iVor_cloudserverip.isEmpty());
    EXPECT_EQ(g_debugSwitch, 254);
}

TEST(ConfigEngine, EmptiedKeyIsRestoredAndOthersKept)
{
    TempRoot root;
    writeText(kIni, "[config]\nIPAddress=\nTcpPort=6001\nZelLCDLang=3\nusbupgradedir=MYDIR\n");
    ConfigEngine* c = ConfigEngine::pInstance();
    EXPECT_EQ(stored("config/IPAddress").toString(), "192.168.1.199");
    EXPECT_EQ(stored("config/TcpPort").toInt(), 6001);
    EXPECT_EQ(c->read_config_variant(ConfigItem::TcpPort).toInt(), 6001);
    EXPECT_EQ(g_port, 6001);
    EXPECT_EQ(g_lcd_lang_valid, 3u);
    EXPECT_EQ(g_usb_grade_path, "MYDIR");
    EXPECT_EQ(g_str_ip, "192.168.1.199");
}

// Stored values the box cannot use take their defaults at start: each replacement is printed
// (whatever the debug switch) and stored; usable values are kept.
TEST(ConfigEngine, UnusableStoredValuesAreReplacedPrintedAndStored)
{
    struct Case {
        const char* ini;                                    // the [config] lines stored
        std::vector<std::pair<const char*, const char*>> used;   // key and value after the start
        std::vector<const char*> printed;                   // keys whose replacement is printed
    };
    const Case cases[] = {
        {"IPAddress=999.300.abc\nSubNetMask=hello\n",
         {{"IPAddress", "192.168.1.199"}, {"SubNetMask", "255.255.255.0"}, {"GateWay", "192.168.1.1"}},
         {"IPAddress", "SubNetMask"}},
        {"IPAddress=10.1.2.3\nSubNetMask=255.255.0.0\nGateWay=10.1.0.9\nTcpPort=6001\nZelLCDLang=6\n",
         {{"IPAddress", "10.1.2.3"}, {"SubNetMask", "255.255.0.0"}, {"GateWay", "10.1.0.9"}, {"TcpPort", "6001"},
          {"ZelLCDLang", "6"}},
         {}},
        {"IPAddress=10.1.2.3\nSubNetMask=255.0.0.0\nGateWay=0.0.0.0\n",   // no gateway
         {{"IPAddress", "10.1.2.3"}, {"SubNetMask", "255.0.0.0"}, {"GateWay", "0.0.0.0"}},
         {}},
        {"IPAddress=10.1.255.255\nSubNetMask=255.255.0.0\n",   // its network's broadcast address
         {{"IPAddress", "192.168.1.199"}, {"SubNetMask", "255.255.255.0"}},
         {"IPAddress", "SubNetMask"}},
        {"IPAddress=172.16.5.1\nSubNetMask=255.255.255.0\nGateWay=8.8.8.8\n",   // the address is kept
         {{"IPAddress", "172.16.5.1"}, {"GateWay", "172.16.5.2"}},
         {"GateWay"}},
        {"IPAddress=192.168.0.50\nSubNetMask=255.255.0.0\nGateWay=10.0.0.1\n",   // the default fits, not first
         {{"IPAddress", "192.168.0.50"}, {"GateWay", "192.168.1.1"}},
         {"GateWay"}},
        // Numbers written as QSettings writes a type it has no text for: the numbers Qt reads.
        {"TcpPort=@Variant(\\0\\0\\0\\x2\\0\\0\\x1bX)\nUdpPort=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x1f)\n",
         {{"TcpPort", "7000"}, {"UdpPort", "31"}},
         {}},
        {"SubNetMask=255.0.255.0\nWifiIPAddress=224.1.1.1\n",
         {{"SubNetMask", "255.255.255.0"}, {"WifiIPAddress", "192.168.22.101"}},
         {"SubNetMask", "WifiIPAddress"}},
        {"TcpPort=70000\nUdpPort=abc\nSourceCheck=300\nZelMaxPixel_UINT=-4\nZelLCDLang=64\niVorcloudserverport=x\n",
         {{"TcpPort", "5005"}, {"UdpPort", "5008"}, {"SourceCheck", "255"}, {"ZelMaxPixel_UINT", "20971520"},
          {"ZelLCDLang", "65567"}, {"iVorcloudserverport", " "}},
         {"TcpPort", "UdpPort", "SourceCheck", "ZelMaxPixel_UINT", "ZelLCDLang", "iVorcloudserverport"}},
        {"TcpPort=65535\nUdpPort=1\nSourceCheck=0\nZelMaxPixel_UINT=2147483647\nZelLCDLang=16\n",   // the limits
         {{"TcpPort", "65535"}, {"UdpPort", "1"}, {"SourceCheck", "0"}, {"ZelMaxPixel_UINT", "2147483647"},
          {"ZelLCDLang", "16"}},
         {}},
        // Values Qt reads as another type: their text is no number, kept in the copy all the same.
        {"TcpPort=@Size(3 4)\nSourceCheck=@Point(5 6)\nZelLCDLang=@Rect(1 2 3 4)\nUdpPort=60,1\n",
         {{"TcpPort", "5005"}, {"SourceCheck", "255"}, {"ZelLCDLang", "65567"}, {"UdpPort", "5008"}},
         {"TcpPort", "SourceCheck", "ZelLCDLang", "UdpPort"}},
        {"TcpPort=65536\nUdpPort=0\nSourceCheck=256\nZelMaxPixel_UINT=0\nZelLCDLang=32\n",   // one past them
         {{"TcpPort", "5005"}, {"UdpPort", "5008"}, {"SourceCheck", "255"}, {"ZelMaxPixel_UINT", "20971520"},
          {"ZelLCDLang", "65567"}},
         {"TcpPort", "UdpPort", "SourceCheck", "ZelMaxPixel_UINT", "ZelLCDLang"}},
    };
    for (const Case& c : cases) {
        resetSystemState();   // a store of its own for each file
        TempRoot root;
        writeText(kIni, std::string("[config]\n") + c.ini);
        testing::internal::CaptureStderr();
        ConfigEngine* engine = ConfigEngine::pInstance();
        const std::string err = testing::internal::GetCapturedStderr();
        for (const auto& [key, value] : c.used) {
            const QString full = QStringLiteral("config/") + key;
            EXPECT_EQ(stored(full).toString().toStdString(), value) << c.ini << key;
            EXPECT_EQ(engine->read_config_variant(engine->strToItem(full)).toString().toStdString(), value) << c.ini << key;
        }
        for (const char* key : c.printed)
            EXPECT_NE(err.find(std::string("settings: config/") + key + "="), std::string::npos) << c.ini << key;
        // One line more when a value is replaced: the file with the user's values is kept as
        // tcpip.ini.bad.
        const bool replaced = !c.printed.empty();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), long(c.printed.size() + replaced)) << c.ini << err;
        EXPECT_EQ(fileExists(std::string(kIni) + ".bad"), replaced) << c.ini;
        // The copy holds each value as the user's text (the box wrote the ones Qt reads as another
        // type so that Qt reads their text, when it added the missing keys).
        const QStringList lines = QString(c.ini).split('\n', Qt::SkipEmptyParts);
        QSettings kept(platform::rootPath(QString(kIni) + ".bad"), QSettings::IniFormat);
        for (const QString& line : replaced ? lines : QStringList())
            EXPECT_EQ(kept.value("config/" + line.section('=', 0, 0)).toString(), line.section('=', 1)) << line.toStdString();
    }
    EXPECT_EQ(g_lcd_lang_valid, 0x1001Fu);   // the globals hold what is used
    EXPECT_EQ(g_port, 5005);
}

// A settings file Qt cannot read, or something else in its place, would make every later write of
// a setting fail: it is moved aside as tcpip.ini.bad, said in one line, replaced by the defaults,
// and shown on the home page until the user's next setting is stored.
TEST(ConfigEngine, UnusableSettingsFileIsSetAsideAndReplacedByTheDefaults)
{
    std::mt19937 rng(3);
    std::string random(300, ' ');
    for (char& c : random)
        c = char(rng());
    struct Row {
        const char* what;
        std::string bytes;
        const unusable::Kind* kind;   // what sits there instead, when it is no file
    };
    const Row rows[] = {
        {"random bytes", random, nullptr},
        {"NUL bytes", std::string(64, '\0'), nullptr},
        {"a folder", "", &unusable::kKinds[0]},
        {"a FIFO", "", &unusable::kKinds[1]},
    };
    for (const Row& row : rows) {
        resetSystemState();
        TempRoot root;
        if (row.kind)
            unusable::make(*row.kind, kIni);
        else
            writeText(kIni, row.bytes);
        testing::internal::CaptureStderr();
        ConfigEngine* c = nullptr;
        ASSERT_TRUE(unusable::returnsInTime([&c] { c = ConfigEngine::pInstance(); }, kIni)) << row.what;
        ASSERT_NE(c, nullptr) << row.what;
        unusable::expectOneLineFor(testing::internal::GetCapturedStderr(), kIni, row.what);
        EXPECT_EQ(c->read_config_variant(ConfigItem::IPAddress).toString(), "192.168.1.199") << row.what;
        QSettings s(platform::rootPath(QString(kIni)), QSettings::IniFormat);
        s.beginGroup("config");
        EXPECT_EQ(s.childKeys().size(), 18) << row.what;
        if (row.kind)
            EXPECT_TRUE(unusable::is(*row.kind, std::string(kIni) + ".bad")) << row.what;
        else
            EXPECT_EQ(readText(std::string(kIni) + ".bad"), row.bytes) << row.what;
        // The box's own record of its start-up EDID work is no save of the user's settings.
        EXPECT_TRUE(c->write_config_variant(ConfigItem::EDIDCheck, QString("Done")));
        EXPECT_TRUE(alerts::active_for(alerts::kFileReplaced, kIni)) << row.what;
        EXPECT_TRUE(c->write_config_variant(ConfigItem::Barcode, QString("B-17"))) << row.what;
        EXPECT_NE(readText(kIni).find("Barcode=B-17"), std::string::npos) << row.what;
        EXPECT_FALSE(alerts::active(alerts::kFileReplaced)) << row.what;
    }
}

// A settings file Qt reads although it reports a format error holds the user's settings: they are
// kept, in memory and in the file written cleanly in its place; the file as it was is set aside.
TEST(ConfigEngine, ReadableSettingsFileWithStrayContentKeepsTheUsersValues)
{
    const std::string user = "[config]\nTcpPort=16123\nIPAddress=10.20.30.40\nGateWay=10.20.30.1\nBarcode=USER-SN-42\n";
    const std::pair<const char*, std::string> rows[] = {
        {"a byte-order mark", "\xEF\xBB\xBF" + user},
        {"a # line", "# written by hand\n" + user},
        {"a trailing line without =", user + "the end"},
        {"trailing NUL bytes", user + std::string(40, '\0')},
        {"a group line without ]", "[config\n" + user.substr(9)},
        {"one stray byte", "[config]\nTcpPort=16123\n\x01\nIPAddress=10.20.30.40\nGateWay=10.20.30.1\nBarcode=USER-SN-42\n"},
        // Keys Qt reads as "config/" and "config//x", which it would write back under other names.
        {"a mark, a line =value and a key \\x", "\xEF\xBB\xBF" + user + "=value\n\\x=y\n"},
        // Files Qt reads well-formed that QSettings would not write back as it read them: it drops
        // the mark and writes UTF-8 that Qt then reads as Latin-1; it writes an empty key in a nested
        // group as a line Qt cannot read.
        {"a mark before a top-level key, with non-ASCII text", "\xEF\xBB\xBFnote=caf\xC3\xA9\n" + user},
        {"a line =value in a nested group", user + "[x\\sub]\n=value\n"},
        {"a line =value in a group under config", "[config\\sub]\n=value\n" + user},
        // NUL padding past the size the box reads: the file is copied aside whole all the same.
        {"a mark and 2 MiB of NUL bytes", "\xEF\xBB\xBF" + user + std::string(2 << 20, '\0')},
        {"a mark and 3 NUL bytes past 1 MiB", "\xEF\xBB\xBF" + user + std::string((1 << 20) + 3 - 3 - user.size(), '\0')},
    };
    for (const auto& [what, bytes] : rows) {
        resetSystemState();
        TempRoot root;
        writeText(kIni, bytes);
        testing::internal::CaptureStderr();
        ConfigEngine* c = ConfigEngine::pInstance();
        const std::string said = testing::internal::GetCapturedStderr();
        unusable::expectOneLineFor(said, kIni, what);
        EXPECT_NE(said.find(": kept as " + root.at(kIni) + ".bad"), std::string::npos) << said;   // a copy, as said
        EXPECT_EQ(c->read_config_variant(ConfigItem::TcpPort).toInt(), 16123) << what;
        EXPECT_EQ(g_port, 16123) << what;
        EXPECT_EQ(g_str_ip, "10.20.30.40") << what;
        EXPECT_EQ(g_str_barcode, "USER-SN-42") << what;
        QSettings s(platform::rootPath(QString(kIni)), QSettings::IniFormat);
        EXPECT_EQ(s.value("config/TcpPort").toInt(), 16123) << what;
        EXPECT_EQ(s.value("config/IPAddress").toString(), "10.20.30.40") << what;
        EXPECT_EQ(s.value("config/Barcode").toString(), "USER-SN-42") << what;
        EXPECT_EQ(s.status(), QSettings::NoError) << what;
        EXPECT_TRUE(readText(std::string(kIni) + ".bad") == bytes) << what;
        EXPECT_TRUE(c->write_config_variant(ConfigItem::Barcode, QString("B-2"))) << what;   // the clean file saves
    }
    // Started where nothing can be written (no copy kept, nothing said of the file), then saved once
    // the partition takes files again: that save keeps the file as it stood and says so before its
    // clean text replaces it. NUL bytes are a power cut's, not the user's text.
    for (const auto& [what, bytes] : rows) {
        if (bytes.find('\0') != std::string::npos)
            continue;
        resetSystemState();
        TempRoot root;
        writeText(kIni, bytes);
        platform::files::failAsFull({SIZE_MAX, INT_MAX, INT_MAX, INT_MAX});
        testing::internal::CaptureStderr();
        ConfigEngine* c = ConfigEngine::pInstance();
        testing::internal::GetCapturedStderr();
        platform::files::failAsFull({});
        EXPECT_FALSE(fileExists(std::string(kIni) + ".bad")) << what;
        testing::internal::CaptureStderr();
        EXPECT_TRUE(c->write_config_variant(ConfigItem::Barcode, QString("B-3"))) << what;
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(root.at(kIni) + " cannot be read as settings as it stands: kept as " + root.at(kIni) + ".bad"),
                  std::string::npos) << what << ": " << said;
        EXPECT_TRUE(readText(std::string(kIni) + ".bad") == bytes) << what;
        EXPECT_TRUE(alerts::active_for(alerts::kFileReplaced, kIni)) << what;   // until the next save
        QSettings s(platform::rootPath(QString(kIni)), QSettings::IniFormat);
        EXPECT_EQ(s.value("config/TcpPort").toInt(), 16123) << what;
        EXPECT_EQ(s.value("config/Barcode").toString(), "B-3") << what;
    }
}

// The record of a file replaced at start outlasts the box's own repair writes and a restart, and
// goes with the first save the user asks for.
TEST(ConfigEngine, TheRecordOfAReplacedFileStaysUntilTheUserSaves)
{
    struct Row { const char* what; std::string path, bytes; std::function<void()> start, save; };
    const Row rows[] = {
        {"settings whose check corrects a value", kIni, "# by hand\n[config]\nTcpPort=0\nBarcode=SN-7\n",
         [] { ConfigEngine::pInstance(); },
         [] { ConfigEngine::pInstance()->write_config_variant(ConfigItem::Barcode, QString("SN-8")); }},
        {"short parameter file", "/data/ram_device_info", std::string("\xAA\xAA") + std::string(100, '\0'),
         [] { ZelRamPara::pInstance(); }, [] { ZelRamPara::p_zelrampara_config->save_parameter_file(); }},
    };
    for (const Row& row : rows) {
        resetSystemState();
        TempRoot root;
        g_lcd_lang_valid = 0x1001F;
        writeText(row.path, row.bytes);
        const std::string record = row.path.substr(0, row.path.rfind('/') + 1) + "." +
                                   row.path.substr(row.path.rfind('/') + 1) + ".replaced";
        testing::internal::CaptureStderr();
        row.start();
        EXPECT_TRUE(fileExists(record)) << row.what;
        resetSystemState();
        row.start();
        filestore::restate_replaced();
        testing::internal::GetCapturedStderr();
        EXPECT_TRUE(alerts::active_for(alerts::kFileReplaced, row.path)) << row.what;
        row.save();
        EXPECT_FALSE(fileExists(record)) << row.what;
        EXPECT_FALSE(alerts::active_for(alerts::kFileReplaced, row.path)) << row.what;
    }
}

// The first copy set aside is never overwritten: a later, different one is kept beside it, the
// same one again is not kept twice, and the home page names the copy.
TEST(ConfigEngine, ASecondSetAsideKeepsTheFirstCopy)
{
    TempRoot root;
    const std::string first = "[config]\nTcpPort=16123\n" + std::string(8, '\0');
    const std::string second = "[config]\nTcpPort=16124\nno equals sign\n";
    const std::string bad = std::string(kIni) + ".bad";
    for (const std::string* bytes : {&first, &second, &second}) {
        resetSystemState();
        writeText(kIni, *bytes);
        ConfigEngine::pInstance();
        EXPECT_EQ(readText(bad), first);
    }
    EXPECT_EQ(readText(bad + ".2"), second);
    EXPECT_FALSE(fileExists(bad + ".3"));
    const auto shown = alerts::inForce();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].arg, 2);   // the copy the panel names: tcpip.ini.bad.2
}

// A settings file that is a link stays one: a save replaces the file it names, the link followed
// as the kernel follows it (a relative target taken from the folder the link really is in).
TEST(ConfigEngine, ALinkedSettingsFileIsFollowed)
{
    const std::pair<const char*, const char*> rows[] = {
        {"a link in the folder", "/data/keep/tcpip.ini"},
        {"a link in a linked folder", "/part/shared/tcpip.ini"},   // /data/configs -> /part/configs
    };
    for (const auto& [what, target] : rows) {
        resetSystemState();
        TempRoot root;
        writeText(target, "[config]\nTcpPort=6001\n");
        const std::string folder = target[1] == 'd' ? "/data/configs" : "/part/configs";
        std::filesystem::create_directories(root.at(folder));
        std::filesystem::create_directories(root.at("/data"));
        if (folder != "/data/configs")
            std::filesystem::create_directory_symlink(root.at(folder), root.at("/data/configs"));
        std::filesystem::create_symlink(target[1] == 'd' ? "../keep/tcpip.ini" : "../shared/tcpip.ini", root.at(kIni));
        ConfigEngine* c = ConfigEngine::pInstance();
        EXPECT_EQ(c->read_config_variant(ConfigItem::TcpPort).toInt(), 6001) << what;
        ASSERT_TRUE(c->write_config_variant(ConfigItem::Barcode, QString("B-9"))) << what;
        EXPECT_TRUE(std::filesystem::is_symlink(root.at(folder + "/tcpip.ini"))) << what;
        EXPECT_NE(readText(target).find("Barcode=B-9"), std::string::npos) << what;
        EXPECT_NE(readText(target).find("TcpPort=6001"), std::string::npos) << what;
        EXPECT_FALSE(fileExists("/data/shared/tcpip.ini")) << what;
    }
}

// A value Qt reads as another type than a text (a list: unquoted commas; "@Rect(...)", ...) is the
// text the user wrote of it: the key in its own group, up to what Qt takes as a comment, quoted items
// as they stand. At start and after the box wrote the file (the defaults it adds, a later save, a
// restart), where Qt reads that text back.
TEST(ConfigEngine, AValueQtReadsAsAListIsTheUsersText)
{
    struct Row {
        std::string file;
        std::vector<std::pair<ConfigItem::ConfigName, QString>> used;
        std::vector<std::pair<ConfigItem::ConfigName, QString>> edited = {};   // by hand, between two saves
    };
    const Row rows[] = {
        {"[config]\nBarcode=SN-42,B\niVorcloudcontrollername=Hall A, left wall\n",
         {{ConfigItem::Barcode, "SN-42,B"}, {ConfigItem::iVorcloudcontrollername, "Hall A, left wall"}}},
        {"[config]\nBarcode=@Rect(1 2 3 4)\niVorcloudcontrollername=@Size(3 4)\nusbupgradedir=@Point(5 6)\n",
         {{ConfigItem::Barcode, "@Rect(1 2 3 4)"}, {ConfigItem::iVorcloudcontrollername, "@Size(3 4)"},
          {ConfigItem::usbupgradedir, "@Point(5 6)"}}},
        {"[config]\nBarcode=A,B ; note\nusbupgradedir=@Invalid() ;x\n",
         {{ConfigItem::Barcode, "A,B"}, {ConfigItem::usbupgradedir, "@Invalid()"}}},
        {"[config]\nBarcode=A,B\n[x]\nBarcode=A ,  B\n", {{ConfigItem::Barcode, "A,B"}}},
        {"[x]\nBarcode=A ,  B\n[config]\nBarcode=A,B\n", {{ConfigItem::Barcode, "A,B"}}},
        {"[config]\niVorcloudcontrollername=\"Hall, A\",left\nBarcode=a\\,b,c\n",
         {{ConfigItem::iVorcloudcontrollername, "\"Hall, A\",left"}, {ConfigItem::Barcode, "a\\,b,c"}}},
        // Keys of other groups first, at the top or under [General]; a setting held only there; a
        // group named as the box's probe names its own.
        {"a\\k=v\n[config]\nBarcode=A,B\n", {{ConfigItem::Barcode, "A,B"}}},
        {"[General]\nx\\k=v\nconfig\\Barcode=U,1\n[config]\nTcpPort=6001\n", {{ConfigItem::Barcode, "U,1"}}},
        {"[config]\nBarcode=A,B\n[zel.entry.1]\nBarcode=A , B\n[zel.1]\nBarcode=A , B\n", {{ConfigItem::Barcode, "A,B"}}},
        {"[config]\niVorcloudcontrollername=Hall,A\nusbupgradedir=@Rect(1 2 3 4)\n",
         {{ConfigItem::iVorcloudcontrollername, "Hall,A"}, {ConfigItem::usbupgradedir, "@Rect(1 2 3 4)"}},
         {{ConfigItem::iVorcloudcontrollername, "Hall,B"}, {ConfigItem::usbupgradedir, "@Size(7 8)"}}},
    };
    for (const Row& row : rows) {
        resetSystemState();
        TempRoot root;
        writeText(kIni, row.file);
        for (int start = 0; start < 2; ++start) {
            resetSystemState();
            ConfigEngine* c = ConfigEngine::pInstance();
            for (const auto& [id, text] : row.used) {
                EXPECT_EQ(c->read_config_variant(id).toString(), text) << row.file << start;
                EXPECT_EQ(stored(kDefaults[id].first).toString(), text) << row.file << start;
            }
            EXPECT_EQ(g_str_barcode, c->read_config_variant(ConfigItem::Barcode).toString()) << row.file;
            EXPECT_FALSE(fileExists(std::string(kIni) + ".bad")) << row.file;
            EXPECT_TRUE(c->write_config_variant(ConfigItem::TcpPort, 6001)) << row.file << start;
        }
        if (row.edited.empty())
            continue;
        // The file replaced by an edited copy while the box runs: the next save keeps the edit, and
        // the next start uses it.
        std::string file = readText(kIni);
        for (const auto& [id, text] : row.edited) {
            const std::string key = std::string(kDefaults[id].first).substr(7) + "=";
            const size_t at = file.find("\n" + key) + 1, end = file.find('\n', at);
            file.replace(at, end - at, key + text.toStdString());
        }
        writeText(kIni, file);
        ConfigEngine* c = ConfigEngine::pInstance();
        EXPECT_TRUE(c->write_config_variant(ConfigItem::TcpPort, 6002)) << row.file;
        resetSystemState();
        c = ConfigEngine::pInstance();
        for (const auto& [id, text] : row.edited) {
            EXPECT_EQ(stored(kDefaults[id].first).toString(), text) << file;
            EXPECT_EQ(c->read_config_variant(id).toString(), text) << file;
        }
        EXPECT_FALSE(fileExists(std::string(kIni) + ".bad")) << file;
    }
}

TEST(ConfigEngine, WriteReachesTheFileBeforeReturning)
{
    TempRoot root;
    ConfigEngine* c = ConfigEngine::pInstance();
    c->write_config_variant(ConfigItem::IPAddress, QString("10.20.30.40"));
    EXPECT_NE(readText(kIni).find("IPAddress=10.20.30.40"), std::string::npos);
    EXPECT_EQ(c->read_config_variant(ConfigItem::IPAddress).toString(), "10.20.30.40");
    c->write_config_variant(ConfigItem::ZelLCDLang, 7);
    EXPECT_NE(readText(kIni).find("ZelLCDLang=7"), std::string::npos);
    // The globals follow only when they are reloaded.
    EXPECT_EQ(g_str_ip, "192.168.1.199");
    EXPECT_EQ(g_lcd_lang_valid, 0x1001Fu);

    // Ids out of range are ignored.
    EXPECT_FALSE(c->read_config_variant(static_cast<ConfigItem::ConfigName>(18)).isValid());
    EXPECT_FALSE(c->read_config_variant(static_cast<ConfigItem::ConfigName>(-1)).isValid());
    c->write_config_variant(static_cast<ConfigItem::ConfigName>(99), 1);
}

TEST(ConfigEngine, SettingsSurviveAPowerCutAndLeaveNoTemporaryFile)
{
    TempRoot root;
    ConfigEngine* c = ConfigEngine::pInstance();
    ASSERT_TRUE(platform::files::watchPowerCuts());
    EXPECT_TRUE(c->write_config_variants({{ConfigItem::IPAddress, QString("10.20.30.41")},
                                          {ConfigItem::GateWay, QString("10.20.30.1")}}));
    platform::files::cutPower();
    EXPECT_NE(readText(kIni).find("IPAddress=10.20.30.41"), std::string::npos);
    EXPECT_NE(readText(kIni).find("GateWay=10.20.30.1"), std::string::npos);
    const QStringList left = QDir(QString::fromStdString(root.at("/data/configs")))
                                 .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    EXPECT_EQ(left, QStringList{"tcpip.ini"});
}

TEST(ConfigEngine, KeyLookup)
{
    TempRoot root;
    ConfigEngine* c = ConfigEngine::pInstance();
    EXPECT_EQ(c->strToItem("GateWay"), ConfigItem::GateWay);
    EXPECT_EQ(c->strToItem("config/GateWay"), ConfigItem::GateWay);
    EXPECT_EQ(c->strToItem("gateway"), ConfigItem::TcpPort);  // case-sensitive; unknown gives 0
    EXPECT_TRUE(c->containsItemStr("MAC"));
    EXPECT_TRUE(c->containsItemStr("config/MAC"));
    EXPECT_FALSE(c->containsItemStr("Config/MAC"));
    ASSERT_NE(c->getConfigItem("MAC"), nullptr);
    EXPECT_EQ(c->getConfigItem("MAC")->id, ConfigItem::MAC);
    EXPECT_EQ(c->getConfigItem("nothing"), nullptr);
}

TEST(ConfigEngine, DeviceIdFromTheIdentityWords)
{
    TempRoot root;
    simSoc().set(0xA5C3, 0x0F1E, 0x7B29);
    ConfigEngine::pInstance();
    EXPECT_STREQ(g_pid, "a07129b04ef55105c1017250a0816ac3");
}

TEST(ConfigEngine, DeviceIdOfOtherWords)
{
    char pid[33];
    const uint16_t words[3] = {0x1234, 0x5678, 0x9abc};
    ConfigEngine::buildPid(words, pid);
    EXPECT_STREQ(pid, "1597bca0886b31023001305032627494");
    const uint16_t ones[3] = {0xFFFF, 0xFFFF, 0xFFFF};
    ConfigEngine::buildPid(ones, pid);
    EXPECT_STREQ(pid, "fffffff0fffff00ff000f0f0f0f0ffff");
}

TEST(ConfigEngine, SettingsLoadWithoutIdentityWords)
{
    TempRoot root;
    simSoc().setUnavailable();
    writeText(kIni, "[config]\nTcpPort=7007\n");
    writeText("/data/configs/led_load_config.ini", "[app-1]\napp_path=/data/app/zelT71N -platform linuxfb\n");
    ConfigEngine* c = ConfigEngine::pInstance();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(ConfigEngine::p_config, c);
    EXPECT_STREQ(g_pid, "");
    EXPECT_EQ(g_port, 7007);
    EXPECT_EQ(g_update_status, 1);
}

TEST(ConfigEngine, LauncherRecord)
{
    TempRoot root;
    factoryage_log.push_back("old");
    ConfigEngine::pInstance();
    EXPECT_EQ(g_update_status, 0);  // no launcher file
    EXPECT_TRUE(factoryage_log.empty());

    writeText("/data/configs/led_load_config.ini", "[app-1]\napp_path=/data/app/zelT71N -platform linuxfb\n");
    ConfigEngine::pInstance();
    EXPECT_EQ(g_update_status, 1);

    writeText("/data/configs/led_load_config.ini", "[app-1]\napp_path=/data/app/other -platform linuxfb\n");
    ConfigEngine::pInstance();
    EXPECT_EQ(g_update_status, 0);

    // Something else in its place is read without waiting or throwing and left where it is; an
    // upgrade's edit of it fails instead of stopping the box.
    const QString launcher = "/data/configs/led_load_config.ini";
    for (unusable::Kind kind : unusable::kKinds) {
        unusable::make(kind, launcher.toStdString());
        g_update_status = 1;
        ASSERT_TRUE(unusable::returnsInTime([] { ConfigEngine::pInstance(); }, launcher.toStdString()))
            << unusable::name(kind);
        EXPECT_EQ(g_update_status, 0) << unusable::name(kind);
        EXPECT_FALSE(ConfigEngine::edit_ini(launcher, [](QSettings& ini) { ini.setValue("app-1/app_path", "x"); }));
        EXPECT_TRUE(unusable::is(kind, launcher.toStdString())) << unusable::name(kind);
    }
}

TEST(ConfigEngine, CloudFlag)
{
    TempRoot root;
    ConfigEngine* c = ConfigEngine::pInstance();
    EXPECT_EQ(g_iVor_cloud, 1);  // the blank defaults are not empty
    c->write_config_variant(ConfigItem::iVorcloudserverip, QString());
    c->write_config_variant(ConfigItem::iVorclouduserip, QString());
    c->write_config_variant(ConfigItem::iVorcloudcontrollername, QString());
    c->write_config_variant(ConfigItem::iVorcloudserverport, 0);
    Utils::getIPAddress();
    EXPECT_EQ(g_iVor_cloud, 0);
    c->write_config_variant(ConfigItem::iVorcloudserverport, 8080);
    Utils::getIPAddress();
    EXPECT_EQ(g_iVor_cloud, 1);
    EXPECT_EQ(g_iVor_cloudserverport, 8080);
    c->write_config_variant(ConfigItem::iVorcloudserverport, 0);
    c->write_config_variant(ConfigItem::iVorcloudcontrollername, QString("box"));
    Utils::getIPAddress();
    EXPECT_EQ(g_iVor_cloud, 1);
    // Any one of the three texts alone is enough.
    c->write_config_variant(ConfigItem::iVorcloudcontrollername, QString());
    c->write_config_variant(ConfigItem::iVorclouduserip, QString("user"));
    Utils::getIPAddress();
    EXPECT_EQ(g_iVor_cloud, 1);
    c->write_config_variant(ConfigItem::iVorclouduserip, QString());
    c->write_config_variant(ConfigItem::iVorcloudserverip, QString("cloud.example"));
    Utils::getIPAddress();
    EXPECT_EQ(g_iVor_cloud, 1);
}

namespace {

long countOf(const std::string& text, const std::string& part)
{
    long n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// What QSettings reads of `bytes`: every key with its value, and whether they are well-formed (each
// copy named anew: QSettings takes a file of a name, size and time it read before as unchanged).
QMap<QString, QVariant> qtReads(const std::string& bytes, bool* wellFormed = nullptr)
{
    static int n = 0;
    const std::string copy = "/qt-reads-" + std::to_string(++n) + ".ini";
    writeText(copy, bytes);
    QSettings s(platform::rootPath(QString::fromStdString(copy)), QSettings::IniFormat);
    QMap<QString, QVariant> read;
    for (const QString& key : s.allKeys())
        read[key] = s.value(key);
    if (wellFormed)
        *wellFormed = s.status() == QSettings::NoError;
    std::filesystem::remove(platform::rootPath(copy));
    return read;
}

// A settings file as a user or a power cut leaves it, and what its user meant "config/<key>" to
// hold as Qt decodes it (UTF-8 after a byte-order mark, Latin-1 without; none of a UTF-16 file).
// Where Qt reads a value as a list whose items differ from its text split at the commas (quoted
// items), `items` holds them joined by commas; `typed` names the values Qt reads as "@Type(...)".
// `rewritten`: QSettings would not write the file back as it read it.
struct UserIni {
    std::string bytes;
    std::map<QString, QString> meant, items;
    std::vector<QString> typed;
    bool rewritten = false;
};

// How QSettings writes a value it stores as "@Variant(...)": the value's stream, every byte escaped.
std::string variantText(const QVariant& value)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_4_0);
    stream << value;
    std::string text = "@Variant(";
    for (const char byte : bytes)
        text += "\\x" + QByteArray::number(uchar(byte), 16).toStdString();
    return text + ")";
}

UserIni randomIni(std::mt19937& rng)
{
    auto pick = [&rng](int n) { return int(rng() % unsigned(n)); };
    const int encoding = pick(8);   // 0-2 Latin-1, 3-4 UTF-8 with a mark, 5-6 UTF-8 without, 7 UTF-16
    const bool mark = encoding == 3 || encoding == 4 || encoding == 7;
    const std::string eol = std::vector<std::string>{"\n", "\r\n", "\r"}[pick(3)];
    const std::vector<std::string> stray = {"# by hand", "; note", "junk without equals", "\x01", "", "\x1a",
                                            std::string("\0\0\0", 3), "[other]  ; more\nk=v, w\n[config]",
                                            "[x]\nBarcode=A ,  B\nusbupgradedir=@Size(3 4)\n[config]",
                                            "[x\\sub]\n=value\n[config]", "[config\\sub]\n=v\n[config]"};
    constexpr size_t kNested = 9;   // the strays from here on hold an empty key in a nested group
    auto text = [&](bool wide) {
        // Unquoted commas make Qt read a list: the user's text all the same.
        const std::vector<std::string> parts = {"SN", "-", "7", "a b", ",", ", ", "\xC3\xA9", "\xC3\x9F",
                                                "\xE4\xB8\xAD\xE6\x96\x87"};
        std::string t = "A";
        for (int n = pick(5); n >= 0; --n)
            t += parts[pick(wide ? 9 : 8)];
        return t + "z";
    };
    UserIni ini;
    std::string body = mark && encoding != 7 ? "\xEF\xBB\xBF" : "";
    // Keys before the first group (after a mark, under [General]): of other groups, and settings
    // held only there ("config\\Barcode=A,B").
    std::string top = mark || pick(2) ? "[General]" + eol : "", *out = &body;
    auto line = [&](const std::string& l) { *out += l + eol; };
    for (int n = pick(3); n > 0; --n)
        top += std::vector<std::string>{"x\\k=", "a\\b\\list=A,", "note="}[pick(3)] + text(false) + eol;
    auto strayLine = [&] {
        const size_t n = size_t(pick(int(stray.size())));
        ini.rewritten = ini.rewritten || n >= kNested;
        line(stray[n]);
    };
    if (mark && pick(3) == 0) {   // a top-level key right after the mark, and text Qt reads as UTF-8
        line("note=caf\xC3\xA9");
        ini.rewritten = true;
    } else if (pick(3) == 0) {
        strayLine();
    }
    line(std::vector<std::string>{"[config]", "[config] ; network", "[config]  # net", "[config]x"}[pick(4)]);
    const int net = pick(200);
    const std::map<std::string, std::string> numbers = {
        {"TcpPort", std::to_string(1 + pick(65535))}, {"UdpPort", std::to_string(1 + pick(65535))},
        {"SourceCheck", std::to_string(pick(256))}, {"iVorcloudserverport", std::to_string(pick(65536))},
        {"ZelMaxPixel_UINT", std::to_string(1 + rng() % 0x7FFFFFFF)}, {"ZelLCDLang", std::to_string(rng() | 1)},
        {"IPAddress", "10.7." + std::to_string(net) + "." + std::to_string(2 + pick(250))},
        {"SubNetMask", "255.255.255.0"}, {"GateWay", "10.7." + std::to_string(net) + ".1"},
        {"WifiIPAddress", "192.168.5." + std::to_string(2 + pick(250))}};
    const bool network = pick(4) != 0;   // the address, mask and gateway are kept as one set
    for (int id = 0; id < 18; ++id) {
        const std::string key = std::string(kDefaults[id].first).substr(7);
        const bool isNumber = numbers.count(key) != 0;
        const bool inSet = key == "IPAddress" || key == "SubNetMask" || key == "GateWay";
        if (inSet ? !network : pick(6) == 0)
            continue;
        std::string value = isNumber ? numbers.at(key) : text(encoding == 3 || encoding == 4);
        const bool atTop = !inSet && pick(8) == 0;
        out = atTop ? &top : &body;
        const std::string written = (atTop ? "config\\" : "") + key;
        if (pick(5) == 0)
            line(written + "=" + (isNumber ? "oops" : "earlier"));   // a repeated key: the last counts
        // Plain, quoted, continued on the next line, followed by NUL bytes, quoted over two lines,
        // a list with a quoted item, or a value Qt reads as another type.
        int form = value.size() > 1 ? pick(isNumber ? 4 : 7) : 0;
        if (form == 2 && value.find(',') != std::string::npos)
            form = 0;   // a list continued on the next line has no one text of the user's
        // A number as QSettings writes a type it has no text for: Qt reads the number.
        const bool variant = isNumber && key.find("Address") == std::string::npos && key != "SubNetMask" &&
                             key != "GateWay" && pick(6) == 0;
        if (variant)
            form = 0;
        const QString name = "config/" + QString::fromStdString(key);
        auto decoded = [&](const std::string& t) {
            return encoding == 3 || encoding == 4 ? QString::fromStdString(t) : QString::fromLatin1(t.c_str(), int(t.size()));
        };
        if (form == 5) {   // "a, b",c: Qt reads the items "a, b" and "c"
            auto item = [&] {
                std::string t = text(encoding == 3 || encoding == 4);
                t.erase(std::remove(t.begin(), t.end(), ','), t.end());
                return t;
            };
            const std::string a = item(), b = item(), c = item();
            value = "\"" + a + ", " + b + "\"," + c;
            ini.items[name] = decoded(a + ", " + b + "," + c);
        } else if (form == 6) {
            value = std::vector<std::string>{"@Rect(1 2 3 4)", "@Size(3 4)", "@Point(5 6)"}[pick(3)];
            ini.typed.push_back(name);
        }
        const std::string second = form == 4 ? eol + "more;, text" : "";
        const std::string comment = pick(4) == 0 ? " ; note" : "";   // Qt reads the value up to it
        const long long number = variant ? std::stoll(value) : 0;
        line(written + "=" +
             (variant ? variantText(number > INT_MAX ? QVariant(number) : QVariant(int(number)))
              : form == 1 || form == 4 ? "\"" + value + second + "\""
              : form == 2 ? value.substr(0, 1) + "\\" + eol + value.substr(1)
              : form == 3 ? value + std::string(1 + pick(3), '\0') : value) + comment);
        value += second;
        ini.meant[name] = decoded(value);
        out = &body;
        // The same list in a group named as the box's own probe names its groups: the setting's
        // text is the one in its own group.
        if (!atTop && form == 0 && value.find(',') != std::string::npos && pick(4) == 0) {
            std::string same = value;
            for (size_t at = 0; (at = same.find(',', at)) != std::string::npos; at += 3)
                same.replace(at, 1, " , ");
            line(std::vector<std::string>{"[zel.entry.", "[zel.group.", "[zel."}[pick(3)] + std::to_string(pick(40)) +
                 "]");
            line(key + "=" + same);
            line("[config]");
        }
        if (!atTop && pick(4) == 0)
            strayLine();
    }
    body.insert(mark && encoding != 7 ? 3 : 0, top);
    if (encoding < 3) {   // Latin-1 bytes: the UTF-8 of é and ß written as Latin-1
        const QByteArray latin1 = QString::fromUtf8(body.c_str(), int(body.size())).toLatin1();
        body.assign(latin1.constData(), size_t(latin1.size()));
        for (auto* texts : {&ini.meant, &ini.items})
            for (auto& [key, value] : *texts)
                value = QString::fromUtf8(value.toLatin1());
    }
    if (encoding == 7) {
        const QString wide = QString::fromLatin1(body.c_str(), int(body.size()));
        body = "\xFF\xFE" + std::string(reinterpret_cast<const char*>(wide.utf16()), size_t(wide.size()) * 2);
        ini.meant.clear();   // Qt reads no key of it
    }
    ini.bytes = body;
    return ini;
}

}  // namespace

// Settings files judged by Qt itself: after a start, Qt reads every key as it read it before, the
// box runs on the user's values, and a file Qt reads well-formed stays as it was. ZEL_SETTINGS_FILES
// runs more files.
TEST(ConfigEngine, RandomSettingsFilesKeepWhatQtReads)
{
    const char* env = std::getenv("ZEL_SETTINGS_FILES");
    const int files = env && *env ? std::atoi(env) : 2000;
    std::mt19937 rng(57);
    // A root in memory where there is one: the thousands of syncs cost nothing there.
    const char* tmp = std::getenv("TMPDIR");
    const std::string previousTmp = tmp ? tmp : "";
    if (::access("/dev/shm", W_OK) == 0)
        setenv("TMPDIR", "/dev/shm", 1);
    TempRoot root;
    tmp ? setenv("TMPDIR", previousTmp.c_str(), 1) : unsetenv("TMPDIR");
    for (int n = 0; n < files; ++n) {
        const UserIni ini = randomIni(rng);
        resetSystemState();
        unusable::forgetCopies(kIni);
        std::string text = ini.bytes;   // NUL bytes are a power cut's, not the user's text (but UTF-16's)
        if (text.compare(0, 2, "\xFF\xFE") != 0)
            text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
        writeText(kIni, ini.bytes);
        bool wellFormed = false;
        const QMap<QString, QVariant> before = qtReads(text, &wellFormed);
        const std::string file = "file " + std::to_string(n) + ": " + testing::PrintToString(ini.bytes) + "\n";
        for (const auto& [key, value] : ini.meant) {   // Qt drops the blank after a list's comma
            const QVariant read = before.value(key);
            if (std::count(ini.typed.begin(), ini.typed.end(), key)) {
                ASSERT_TRUE(read.type() != QVariant::String && read.type() != QVariant::StringList) << file;
                continue;
            }
            const QString items = ini.items.count(key) ? ini.items.at(key) : QString(value).replace(", ", ",");
            ASSERT_EQ(read.type() == QVariant::StringList ? read.toStringList().join(',') : read.toString(),
                      read.type() == QVariant::StringList ? items : value)
                << "the generator's model of Qt; " << file;
        }
        auto expectUsed = [&](ConfigEngine* c, const std::string& said) {
            for (int id = 0; id < 18; ++id) {
                const auto meant = ini.meant.find(kDefaults[id].first);
                const QString used = meant == ini.meant.end() ? kDefaults[id].second : meant->second;
                ASSERT_EQ(c->read_config_variant(ConfigItem::ConfigName(id)).toString(), used)
                    << kDefaults[id].first << "; " << file << said;
            }
        };
        // First on a data partition that takes nothing, on one that refuses a copy's worth of
        // bytes and a little more, and on one that has no room for the copy only: the box runs on
        // the file's values all the same, and says once that it cannot write. A file that needs a
        // repair is replaced only once it is copied.
        const bool asItStands = wellFormed && text == ini.bytes && !ini.rewritten;
        using platform::files::DiskFull;
        for (const DiskFull& full : {DiskFull{SIZE_MAX, INT_MAX, INT_MAX, INT_MAX}, DiskFull{ini.bytes.size() + 1},
                                     DiskFull{ini.bytes.size()}}) {
            platform::files::failAsFull(full);
            testing::internal::CaptureStderr();
            ConfigEngine* c = ConfigEngine::pInstance();
            const std::string said = testing::internal::GetCapturedStderr();
            platform::files::failAsFull({});
            expectUsed(c, said);
            if (full.bytes == SIZE_MAX) {
                ASSERT_EQ(readText(kIni), ini.bytes) << file << said;
                ASSERT_EQ(countOf(said, "setting changes are refused"), 1) << file << said;
            }
            if (!asItStands && !ini.meant.empty() && !fileExists(std::string(kIni) + ".bad")) {
                ASSERT_EQ(readText(kIni), ini.bytes) << full.bytes << "; " << file << said;
                if (!wellFormed || text != ini.bytes) {   // Qt finds it damaged: said, as it was done
                    ASSERT_EQ(countOf(said, "left in place (no copy could be written), what it holds is used"), 1)
                        << full.bytes << "; " << file << said;
                }
            }
            resetSystemState();
            unusable::forgetCopies(kIni);
            writeText(kIni, ini.bytes);
        }
        testing::internal::CaptureStderr();
        ConfigEngine* c = ConfigEngine::pInstance();
        const std::string said = testing::internal::GetCapturedStderr();
        const QMap<QString, QVariant> after = qtReads(readText(kIni));
        // A value of another type than a text (a list, a rectangle) the box wrote comes back as the
        // user's text it is used as; a key QSettings cannot write back (an empty name) is left out.
        for (auto it = before.begin(); it != before.end(); ++it)
            ASSERT_TRUE(it.key().split('/').contains(QString()) || after.value(it.key()) == it.value() ||
                        (it.value().type() != QVariant::String && ini.meant.count(it.key()) &&
                         after.value(it.key()) == ini.meant.at(it.key())))
                << it.key().toStdString() << " was " << it.value().toString().toStdString() << ", is "
                << after.value(it.key()).toString().toStdString() << "; " << file << said;
        expectUsed(c, said);
        if (asItStands && ini.meant.size() == 18) {
            ASSERT_EQ(readText(kIni), ini.bytes) << file;
        }
        resetSystemState();   // and again on the file as the box left it
        testing::internal::CaptureStderr();
        c = ConfigEngine::pInstance();
        expectUsed(c, testing::internal::GetCapturedStderr() + "(after a restart)");
    }
}

// A disk that takes the scratch copy but cuts QSettings' rewrite of it short (here a size limit
// just past the file's; QSettings writes the Latin-1 letter as a longer escape and reports no error):
// the cut rewrite says nothing of the file, which Qt reads well-formed: it is not set aside.
TEST(ConfigEngine, ARewriteTheDiskCutShortTellsNothingOfTheFile)
{
    TempRoot root;
    std::string user;
    for (const auto& [key, value] : kDefaults)
        user += std::string(key).substr(7) + "=" + (std::string(key) == "config/Barcode" ? "\xE9t\xE9" : value) + "\n";
    user = "[config]\n" + user;
    const std::string blank = "= \n";
    for (size_t at; (at = user.find(blank)) != std::string::npos;)
        user.replace(at, blank.size(), "=6000\n");   // no blank value, which QSettings writes shorter
    writeText(kIni, user);
    struct rlimit was;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &was), 0);
    struct rlimit limit = was;
    limit.rlim_cur = user.size() + 2;
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);   // a write past the limit fails with EFBIG
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    testing::internal::CaptureStderr();
    ConfigEngine* c = ConfigEngine::pInstance();
    const std::string said = testing::internal::GetCapturedStderr();
    ::setrlimit(RLIMIT_FSIZE, &was);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(said.find("cannot be read as settings"), std::string::npos) << said;
    EXPECT_FALSE(fileExists(std::string(kIni) + ".bad")) << said;
    EXPECT_EQ(readText(kIni), user);
    EXPECT_EQ(c->read_config_variant(ConfigItem::Barcode).toString(), QString::fromLatin1("\xE9t\xE9"));
}

// A save looks up the user's text of each list or typed value in a copy of the file made for
// QSettings to read. Where that copy cannot be written whole (a file-size limit here; no room on a
// kernel without memory files), the save is refused: it would store other texts than the user's
// ("" for a hand edit's "@Size(7 8)"), and the file stays as it is.
TEST(ConfigEngine, ASaveWhoseTextsCannotBeLookedUpLeavesTheFile)
{
    std::string user = "[config]\nBarcode=A,B\nusbupgradedir=@Rect(1 2 3 4)\n[mine]\n";
    for (int k = 0; k < 300; ++k)
        user += "k" + std::to_string(k) + "=v\n";
    writeText(kIni, user);
    ConfigEngine* c = ConfigEngine::pInstance();
    ASSERT_TRUE(c->write_config_variant(ConfigItem::TcpPort, 6001));
    std::string file = readText(kIni);
    const size_t at = file.find("usbupgradedir="), end = file.find('\n', at);
    file.replace(at, end - at, "usbupgradedir=@Size(7 8)");   // by hand, while the box runs
    writeText(kIni, file);
    struct rlimit was;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &was), 0);
    struct rlimit limit = was;
    limit.rlim_cur = file.size() + 200;   // the file and its copies fit, the lookup's copy does not
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool saved = c->write_config_variant(ConfigItem::TcpPort, 6002);
    ::setrlimit(RLIMIT_FSIZE, &was);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(saved);
    EXPECT_EQ(readText(kIni), file);
    EXPECT_TRUE(c->write_config_variant(ConfigItem::TcpPort, 6003));
    EXPECT_EQ(stored("config/usbupgradedir").toString(), "@Size(7 8)");
}

// NUL bytes a power cut left after the content, past the size the box reads: the settings are kept.
TEST(ConfigEngine, NulPaddingPastTheSizeLimitKeepsTheSettings)
{
    writeText(kIni, "[config]\nTcpPort=16123\nBarcode=USER-SN-42\n" + std::string(2 << 20, '\0'));
    ConfigEngine* c = ConfigEngine::pInstance();
    EXPECT_EQ(c->read_config_variant(ConfigItem::TcpPort).toInt(), 16123);
    EXPECT_EQ(c->read_config_variant(ConfigItem::Barcode).toString(), "USER-SN-42");
    EXPECT_FALSE(alerts::active(alerts::kFileReplaced));
}

// QSettings' lock a power cut left beside the scratch copy, naming the box's own pid (a board hands
// out the same pids at every boot): the start clears it rather than wait 30 s for it to go stale.
TEST(ConfigEngine, ALockLeftBesideTheScratchCopyHoldsNoStart)
{
    writeText(kIni, "[config]\nTcpPort=16123\n");   // keys missing: the start writes the file
    const std::string lock = "/data/configs/.tcpip.ini.edit.tmp.lock";
    {
        QLockFile held(QString::fromStdString(platform::rootPath(lock)));
        ASSERT_TRUE(held.lock());
        const std::string content = readText(lock);
        held.unlock();
        writeText(lock, content);
    }
    // QSettings' own temporary files of the scratch copies, which a power cut leaves as large as
    // the copy, go too; a file of the user's that only looks like one stays.
    const std::vector<std::string> left = {"/data/configs/.tcpip.ini.clean.tmp.AbC123",
                                           "/data/configs/.tcpip.ini.edit.tmp.x1Y2z3",
                                           "/data/configs/.led_load_config.ini.edit.tmp.Q9w8E7"};
    for (const std::string& temp : left)
        writeText(temp, "[config]\nTcpPort=16123\n");
    writeText("/data/configs/tcpip.ini.AbC123", "mine");
    ConfigEngine* c = nullptr;
    EXPECT_TRUE(unusable::returnsInTime([&c] { c = ConfigEngine::pInstance(); }, lock));
    EXPECT_EQ(c->read_config_variant(ConfigItem::TcpPort).toInt(), 16123);
    EXPECT_FALSE(fileExists(lock));
    for (const std::string& temp : left)
        EXPECT_FALSE(fileExists(temp)) << temp;
    EXPECT_EQ(readText("/data/configs/tcpip.ini.AbC123"), "mine");
}
