// Network address set-up of "eth0", and the loop-back UDP client.
#include "core/utils.h"

#include "core/config_engine.h"
#include "core/file_store.h"
#include "core/global.h"

#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr const char* kNetworkInterfacesFile = "/etc/network/interfaces";

QString textSetting(ConfigEngine* c, ConfigItem::ConfigName id) { return c->read_config_variant(id).toString(); }
int intSetting(ConfigEngine* c, ConfigItem::ConfigName id) { return c->read_config_variant(id).toInt(); }

// How PC software and the page give "no gateway": the settings file keeps no empty value.
constexpr const char kNoGateway[] = "0.0.0.0";

bool isNoGateway(const QString& gateway) { return gateway == QLatin1String(kNoGateway); }

// The interface set-up proper: every value has been checked before any command runs. Without a
// gateway there is no route to it: "0.0.0.0" as a gateway would make every address on-link.
void configureEth0(const QString& address, const QString& gateway, const QString& mask)
{
    Utils::system_mutex(QStringLiteral("route del default wlan0"));
    Utils::system_mutex(QStringLiteral("ifconfig eth0 %1 netmask %2").arg(address, mask));
    if (!isNoGateway(gateway)) {
        Utils::system_mutex(QStringLiteral("route add -host %1 dev eth0").arg(gateway));
        Utils::system_mutex(QStringLiteral("route add default gw %1 metric 100").arg(gateway));
    }
    Utils::system_mutex(QStringLiteral("route add -host 255.255.255.255 eth0"));
    Utils::system_mutex(QStringLiteral("route del 255.255.255.255 wlan1"));
}

bool acceptable(const QString& address, const QString& gateway, const QString& mask)
{
    return Utils::checkNetwork(address, mask, gateway) == Utils::NetFault::None;
}

// A dotted quad as a number, most significant octet first; the text has been checked.
uint32_t quadValue(const QString& text)
{
    uint32_t v = 0;
    for (const QString& part : text.split(QLatin1Char('.')))
        v = (v << 8) | part.toUInt();
    return v;
}

// Address blocks no host of a network may use: "this network" 0/8, loopback 127/8, and
// multicast, reserved and limited broadcast from 224.0.0.0 up.
constexpr uint32_t kZeroNet = 0x00000000u, kLoopbackNet = 0x7F000000u, kClassAMask = 0xFF000000u;
constexpr uint32_t kMulticastFrom = 0xE0000000u;

bool hostClass(uint32_t a)
{
    const uint32_t net = a & kClassAMask;
    return net != kZeroNet && net != kLoopbackNet && a < kMulticastFrom;
}

// The host part under `mask` is neither all zeros (the network) nor all ones (its broadcast).
bool hostOfNetwork(uint32_t a, uint32_t mask)
{
    const uint32_t host = a & ~mask;
    return host != 0 && host != ~mask;
}

bool eth0Exists()
{
    // POSIX redirection: "&>" would put the check in the background and always succeed.
    return Utils::system_mutex(QStringLiteral("ifconfig eth0 >/dev/null 2>&1")) == 0;
}

}  // namespace

bool Utils::isDottedQuad(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        // No leading zeros: the tools would read "010" as octal.
        if (part.size() > 1 && part[0] == QLatin1Char('0'))
            return false;
        for (QChar ch : part)
            if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
                return false;
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

bool Utils::isHostAddress(const QString& text) { return isDottedQuad(text) && hostClass(quadValue(text)); }

bool Utils::isNetmask(const QString& text)
{
    if (!isDottedQuad(text))
        return false;
    const uint32_t m = quadValue(text);
    const uint32_t inverted = ~m;
    // Contiguous: the inverted mask is a run of ones from bit 0, so adding one clears it.
    return m != 0 && inverted != 0 && (inverted & (inverted + 1)) == 0;
}

QString Utils::firstOtherHost(const QString& address, const QString& mask)
{
    const uint32_t a = quadValue(address), m = quadValue(mask);
    uint32_t host = (a & m) + 1;
    if (host == a)
        ++host;
    return QStringLiteral("%1.%2.%3.%4").arg(host >> 24).arg((host >> 16) & 0xFF).arg((host >> 8) & 0xFF).arg(host & 0xFF);
}

Utils::NetFault Utils::checkNetwork(const QString& address, const QString& mask, const QString& gateway)
{
    if (!isHostAddress(address))
        return NetFault::Address;
    if (!isNetmask(mask))
        return NetFault::Mask;
    const uint32_t a = quadValue(address), m = quadValue(mask);
    if (!hostOfNetwork(a, m))
        return NetFault::Address;
    if (gateway.isEmpty() || isNoGateway(gateway))
        return NetFault::None;
    if (!isHostAddress(gateway))
        return NetFault::Gateway;
    const uint32_t g = quadValue(gateway);
    if ((g & m) != (a & m) || !hostOfNetwork(g, m))
        return NetFault::Gateway;
    return NetFault::None;
}

bool Utils::isStationMac(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 6)
        return false;
    auto hex = [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
               (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
    };
    bool allZero = true;
    for (const QString& part : parts) {
        if (part.size() != 2 || !hex(part[0]) || !hex(part[1]))
            return false;
        allZero = allZero && part.toUInt(nullptr, 16) == 0;
    }
    const bool group = parts[0].toUInt(nullptr, 16) & 1u;
    return !group && !allZero;
}

int Utils::set_eth0_mac(const QString& mac)
{
    if (!isStationMac(mac) || !eth0Exists())
        return 255;
    // The address can only change while the interface is down; it comes up again either way.
    system_mutex(QStringLiteral("ifconfig eth0 down"));
    const int rc = system_mutex(QStringLiteral("ifconfig eth0 hw ether %1").arg(mac));
    system_mutex(QStringLiteral("ifconfig eth0 up"));
    return rc;
}

int Utils::write_network_interfaces(const QString& mac)
{
    if (!isStationMac(mac) || !acceptable(g_str_ip, g_str_gateway, g_srt_mask))
        return 255;
    QString text = QStringLiteral("auto lo\niface lo inet loopback\n\nauto eth0\niface eth0 inet static\n");
    text += QStringLiteral("hwaddress ether %1\naddress %2\nnetmask %3\n").arg(mac, g_str_ip, g_srt_mask);
    if (!g_str_gateway.isEmpty() && !isNoGateway(g_str_gateway))
        text += QStringLiteral("gateway %1\n").arg(g_str_gateway);
    const QByteArray bytes = text.toLatin1();
    QMutexLocker lock(&_file_deal_mutex);
    return filestore::write_atomic(kNetworkInterfacesFile, reinterpret_cast<const unsigned char*>(bytes.constData()),
                                   size_t(bytes.size()));
}

int Utils::getIPAddress()
{
    ConfigEngine* c = ConfigEngine::p_config;
    if (!c) {
        ConfigEngine::pInstance();  // its first call loads the globals
        return 0;
    }
    g_str_ip = textSetting(c, ConfigItem::IPAddress);
    g_str_gateway = textSetting(c, ConfigItem::GateWay);
    g_srt_mask = textSetting(c, ConfigItem::SubNetMask);
    g_port = intSetting(c, ConfigItem::TcpPort);
    g_int_tcp_port = g_port;
    g_str_barcode = textSetting(c, ConfigItem::Barcode);
    g_str_wifi_ip = textSetting(c, ConfigItem::WifiIPAddress);
    g_check_edid = textSetting(c, ConfigItem::EDIDCheck);
    g_imagelayoutpassword = textSetting(c, ConfigItem::ImageLayoutPassword);
    g_check_source = intSetting(c, ConfigItem::SourceCheck);
    g_iVor_cloudserverip = textSetting(c, ConfigItem::iVorcloudserverip);
    g_iVor_cloudserverport = intSetting(c, ConfigItem::iVorcloudserverport);
    g_iVor_clouduserid = textSetting(c, ConfigItem::iVorclouduserip);
    g_iVor_controllername = textSetting(c, ConfigItem::iVorcloudcontrollername);
    g_iVor_cloud = (!g_iVor_cloudserverip.isEmpty() || !g_iVor_clouduserid.isEmpty() ||
                    !g_iVor_controllername.isEmpty() || g_iVor_cloudserverport != 0)
                       ? 1
                       : 0;
    g_zel_max_pixel = static_cast<unsigned int>(intSetting(c, ConfigItem::ZelMaxPixel_UINT));
    g_usb_grade_path = textSetting(c, ConfigItem::usbupgradedir);
    g_lcd_lang_valid = static_cast<unsigned int>(intSetting(c, ConfigItem::ZelLCDLang));
    return 0;
}

int Utils::initIPAddress()
{
    if (!eth0Exists())
        return 255;
    getIPAddress();
    if (!acceptable(g_str_ip, g_str_gateway, g_srt_mask))
        return 255;
    configureEth0(g_str_ip, g_str_gateway, g_srt_mask);
    return 0;
}

int Utils::init_resteth(QString address, QString gateway, QString mask)
{
    if (!acceptable(address, gateway, mask))
        return 255;
    if (!eth0Exists())
        return 255;
    configureEth0(address, gateway, mask);
    return 0;
}

// ---- UdpClient -----------------------------------------------------------------------------------

namespace {
constexpr int kUdpWaits = 31;
constexpr int kUdpWaitUsec = 200000;
constexpr size_t kUdpDatagram = 2048;
}  // namespace

int UdpClient::udpSendData(std::string* data, std::string& reply)
{
    if (!data)
        return -1;
    sock_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (sock_ == -1)
        return -1;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port_);
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int result = -1;
    if (::sendto(sock_, data->data(), data->size(), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer) >= 0) {
        char buf[kUdpDatagram];
        for (int wait = 0; wait < kUdpWaits; ++wait) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(sock_, &readable);
            timeval tv{0, kUdpWaitUsec};
            if (::select(sock_ + 1, &readable, nullptr, nullptr, &tv) <= 0)
                continue;
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            ssize_t n = ::recvfrom(sock_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n < 0) {
                result = static_cast<int>(n);
                break;
            }
            if (from.sin_addr.s_addr != peer.sin_addr.s_addr || from.sin_port != peer.sin_port)
                continue;  // someone else's datagram
            data->assign(buf, static_cast<size_t>(n));
            reply.assign(buf, ::strnlen(buf, static_cast<size_t>(n)));
            result = static_cast<int>(n);
            break;
        }
    }
    ::close(sock_);
    sock_ = -1;
    return result;
}
