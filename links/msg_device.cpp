// Groups 0x81 parameter save, 0x87 set clock, 0xA2 barcode and 0xA4 network settings.
#include <QString>

#include <cstdio>
#include <cstring>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/utils.h"
#include "core/zelrampara.h"
#include "links/message_deal.h"
#include "links/register_hooks.h"

namespace {

constexpr unsigned kFpgaParaSize = 1024;
constexpr unsigned kMaxBarcode = 64;
constexpr const char* kMacCommand = "ifconfig eth0 | grep HWaddr | awk '{print $5}'";
// The Wi-Fi side's network is the /24 around its address (the access point's set-up).
constexpr const char* kWifiNetmask = "255.255.255.0";

bool printable(const uint8_t* p, unsigned n)
{
    for (unsigned i = 0; i < n; ++i) {
        if (p[i] < 0x20 || p[i] > 0x7E)
            return false;
    }
    return true;
}

QString dotted(const uint8_t* p) { return QString("%1.%2.%3.%4").arg(p[0]).arg(p[1]).arg(p[2]).arg(p[3]); }

// Dotted text to 4 bytes; false for anything else.
bool quad(const QString& text, uint8_t* out)
{
    unsigned v[4];
    char tail;
    QByteArray b = text.toLatin1();
    if (std::sscanf(b.constData(), "%3u.%3u.%3u.%3u%c", &v[0], &v[1], &v[2], &v[3], &tail) != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        if (v[i] > 255)
            return false;
        out[i] = uint8_t(v[i]);
    }
    return true;
}

QString macText(const uint8_t* p)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", p[0], p[1], p[2], p[3], p[4], p[5]);
    return QString::fromLatin1(text);
}

// The interface's own address as its tools print it; the stored setting when they print none.
std::string interfaceMac()
{
    std::string mac = Utils::shell_exec(kMacCommand, 100);
    while (!mac.empty() && (mac.back() == '\n' || mac.back() == '\r' || mac.back() == ' '))
        mac.pop_back();
    if (mac.size() > 17 || !printable(reinterpret_cast<const uint8_t*>(mac.data()), unsigned(mac.size())))
        mac.clear();
    if (mac.empty() && Utils::isStationMac(g_str_mac))
        mac = g_str_mac.toStdString();
    return mac;
}

// Settings are stored before anything acts on them: a value that did not reach its file is
// refused and changes nothing (the store keeps the old value), so the box never runs on what a
// restart would undo.
bool stored(bool written, Reply& r)
{
    if (!written)
        r.status(kStatusRefused);
    return written;
}

void signalChange()
{
    if (ZelRamPara::p_zelrampara_config)
        ZelRamPara::p_zelrampara_config->test_signal(1);
}

}  // namespace

// Body: u32 offset in the FPGA's parameter block in bytes 10-13, u16 length in 14-15, the FPGA
// (0 or 1) in 16, zero in 17, data from 18. The block is stored, then handed to the ports.
void message_deal::param_save(const uint8_t* body, unsigned length, Reply& r)
{
    constexpr int kData = 18;
    if (length < kData + 1u) {
        r.status(kStatusRefused);
        return;
    }
    uint32_t offset = frame::u32(body + 10);
    uint16_t n = frame::u16(body + 14);
    uint8_t fpga = body[16];
    bool ok = length == kData + 1u + n && fpga <= 1 && offset <= kFpgaParaSize && n <= kFpgaParaSize - offset &&
              linkhooks::fpgaStoreNetPara(fpga, offset, body + kData, n);
    r.status(ok ? kStatusOk : kStatusRefused);
}

// Body: second, minute, hour, day, month, u16 year in bytes 10-16.
void message_deal::write_rtc_time(const uint8_t* body, unsigned length, Reply& r)
{
    if (length != 18) {
        r.status(kStatusRefused);
        return;
    }
    unsigned sec = body[10], min = body[11], hour = body[12], day = body[13], month = body[14];
    unsigned year = frame::u16(body + 15);
    if (!Utils::isClockTime(year, month, day, hour, min, sec)) {
        r.status(kStatusRefused);
        return;
    }
    // "&&": a date the system refuses is not followed by the hardware clock's write, and the
    // status answered is the one of the command that failed.
    char cmd[96];
    std::snprintf(cmd, sizeof cmd, "date -s \"%04u-%02u-%02u %02u:%02u:%02u\" && hwclock -wu", year, month, day,
                  hour, min, sec);
    int rc = Utils::system_mutex(QString::fromLatin1(cmd));
    if (rc == 0)
        linkhooks::recordTiming();
    r.status(rc == 0 ? kStatusOk : kStatusRefused);
}

// Byte 10: 0 read (reply: the barcode text), 1 write (length in 11, 1-64 printable characters
// from 12).
void message_deal::barcode(const uint8_t* body, unsigned length, Reply& r)
{
    ConfigEngine* config = ConfigEngine::p_config;
    if (length < 12 || !config) {
        r.status(kStatusRefused);
        return;
    }
    if (body[10] == 0 && length == 12) {
        QByteArray text = g_str_barcode.toLatin1();
        if (!r.append(text.constData(), unsigned(text.size())))
            r.status(kStatusRefused);
        return;
    }
    unsigned n = length > 12 ? body[11] : 0;
    if (body[10] != 1 || n == 0 || n > kMaxBarcode || length != 13 + n || !printable(body + 12, n)) {
        r.status(kStatusRefused);
        return;
    }
    QString text = QString::fromLatin1(reinterpret_cast<const char*>(body + 12), int(n));
    if (stored(config->write_config_variant(ConfigItem::Barcode, text), r))
        g_str_barcode = text;
}

// Byte 10 selects: 0 read (reply: address, mask, gateway as 4 bytes each, u16 TCP port, MAC
// text), 1 set address, mask and gateway (12 bytes from 11), 2 set the offered-language mask
// (u32 from 11), 3 set the Wi-Fi address (4 bytes from 11), 4 set the MAC address (6 bytes from
// 11).
void message_deal::network(const uint8_t* body, unsigned length, Reply& r)
{
    ConfigEngine* config = ConfigEngine::p_config;
    if (length < 12 || !config) {
        r.status(kStatusRefused);
        return;
    }
    const uint8_t* p = body + 11;
    switch (body[10]) {
    case 0: {
        if (length != 12)
            break;
        uint8_t out[14] = {};
        quad(g_str_ip, out);
        quad(g_srt_mask, out + 4);
        quad(g_str_gateway, out + 8);
        frame::put16(out + 12, uint16_t(g_int_tcp_port));
        std::string mac = interfaceMac();
        r.append(out, sizeof out);
        r.append(mac.data(), unsigned(mac.size()));
        return;
    }
    case 1:
        if (length != 24)
            break;
        // An address the box could not be reached at is neither stored nor applied.
        if (Utils::checkNetwork(dotted(p), dotted(p + 4), dotted(p + 8)) != Utils::NetFault::None)
            break;
        if (!stored(config->write_config_variants({{ConfigItem::IPAddress, dotted(p)},
                                                   {ConfigItem::SubNetMask, dotted(p + 4)},
                                                   {ConfigItem::GateWay, dotted(p + 8)}}),
                    r))
            return;
        // The set-up reloads the settings and checks them before any command runs.
        if (Utils::initIPAddress() != 0)
            r.status(kStatusRefused);
        signalChange();
        return;
    case 2: {
        if (length != 16)
            break;
        uint32_t mask = frame::u32(p);
        if ((mask & 0x1F) == 0)
            break;
        if (!stored(config->write_config_variant(ConfigItem::ZelLCDLang, mask), r))
            return;
        g_lcd_lang_valid = mask;
        signalChange();
        return;
    }
    case 3:
        // Checked as the wired address is: a host of its network, never loopback, broadcast or
        // multicast.
        if (length != 16 || Utils::checkNetwork(dotted(p), kWifiNetmask, QString()) != Utils::NetFault::None)
            break;
        if (stored(config->write_config_variant(ConfigItem::WifiIPAddress, dotted(p)), r))
            g_str_wifi_ip = dotted(p);
        return;
    case 4: {
        if (length != 18)
            break;
        const QString mac = macText(p);
        if (!Utils::isStationMac(mac))
            break;
        if (!stored(config->write_config_variant(ConfigItem::MAC, mac), r))
            return;
        g_str_mac = mac;
        // Stored for the next start first, then applied; the address set-up follows because
        // taking the interface down drops its address and routes.
        if (!stored(Utils::write_network_interfaces(mac) == 0, r))
            return;
        if (Utils::set_eth0_mac(mac) != 0 || Utils::init_resteth(g_str_ip, g_str_gateway, g_srt_mask) != 0)
            r.status(kStatusRefused);
        signalChange();
        return;
    }
    default:
        break;
    }
    r.status(kStatusRefused);
}
