// Shared helpers and the process-wide named locks. Static members only.
#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>

enum _LogType { LOG_FAILURE = 1, LOG_NO_OBJECT = 2, LOG_BANNER = 3 };

// The logging entry point of every subsystem. It writes nothing.
void writeLogMsg(_LogType type, const std::string& text);

class Utils {
public:
    Utils() {}

    // ---- named locks (non-recursive); the only nesting is _spi_mutex inside _c331_bnk_mutex ----
    static QMutex _system_mutex;
    static QMutex _usleep_mutex;
    static QMutex _led_para_init_mutex;
    static QMutex _bri_set_mutex;
    static QMutex _spi_mutex;
    static QMutex _fpga_multicast_mutex;
    static QMutex _c331_bnk_mutex;
    static QMutex _file_deal_mutex;
    static QMutex _source_init_mutex;
    static QMutex _check_nosig_mutex;
    static QMutex _source_hdminfo_mutex;
    static QMutex _test_signal_mutex;

    // ---- shell ------------------------------------------------------------------------------
    // Runs one command under _system_mutex: 0, or 255 when its status is not 0.
    static int system_mutex(const QString& command, int* status = nullptr);
    // Runs a command (outside _system_mutex) and returns all of its standard output (empty when
    // it cannot be started); `size` was the read piece size and never limits the output.
    static std::string shell_exec(const std::string& command, int size);

    // ---- time ----------------------------------------------------------------------------------
    // Ticks from `start` to G_timeTicks; past a wrap 0xFFFFFFFF - start + now.
    static unsigned int getTimeSpace(unsigned int start);
    // A time the box's clock can be set to: a date of the calendar (30 February is none, 29
    // February only in a leap year) in the years 2000-2099, and a time of day.
    static bool isClockTime(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                            unsigned second);
    static int usleep_mutex(unsigned int usec);
    static int msleep_mutex(unsigned int msec);

    // ---- raw flash partitions (MTD) -------------------------------------------------------------
    // Erases whole erase blocks from `offset` until `length` bytes are covered (1 byte = one
    // block): 0, or 8 when the device information cannot be read or an unlock/erase fails.
    // The descriptor always stays open; the caller closes it.
    static int non_region_erase(int fd, int offset, int length, int unlock);
    // Writes in pieces of the device's write size: 0, or 1 on any failure.
    static int non_region_write(int fd, const unsigned char* buf, int length, int offset);

    // ---- files ---------------------------------------------------------------------------------
    // Paths are system paths; the root prefix is applied inside.
    static bool isFileExists(const std::string& path, bool regularFile);
    static bool isDirExists(const std::string& path);
    static void get_file_list_smartpath(QStringList& list, const QString& dir, const QString& suffix);
    static int change_file_formt(const std::string& path);

    // ---- check values --------------------------------------------------------------------------
    static unsigned int BCC(const unsigned char* data, unsigned int length);
    static unsigned int calcCRC16(const unsigned char* data, unsigned int length);
    static unsigned int calcCRC32(const unsigned char* data, unsigned int length);
    static unsigned int jtc1CRC16Code(const unsigned char* data, unsigned int length);
    static unsigned int ccittCalcCRC16(const unsigned char* data, unsigned int length);

    // ---- text ----------------------------------------------------------------------------------
    static int ChangeCode(const char* from, const char* to, const char* in, size_t* inLeft,
                          char* out, size_t* outLeft);
    static int GB2312ToUTF8(std::string& text);
    static int GB2312ToUnicode(std::string& text);
    static int UTF8ToUnicode(std::string& text);
    static int UnicodeToUTF8(std::string& text);
    static int UTF8ToGB2312(std::string& text);
    static int UnicodeToGB2312(std::string& text);
    static int stringToInt(const std::string& text);
    static std::string upper(std::string text);
    static std::string intToString(int value);

    // ---- network address set-up ----------------------------------------------------------------
    // True for four dot-separated decimal numbers 0-255 without leading zeros: the only
    // address, mask or gateway text that is put into a shell command.
    static bool isDottedQuad(const QString& text);
    // What is wrong with an address set-up of the box's own interface, first fault first.
    enum class NetFault { None, Address, Mask, Gateway };
    // A host address (not a zero, loopback, multicast, reserved or broadcast address) with a
    // contiguous mask other than 0.0.0.0 and 255.255.255.255, not the network or broadcast
    // address under that mask, and a gateway that is a host of the same network or none (empty,
    // or 0.0.0.0 as the network command reads and takes "no gateway"). The one check of the settings file, the network command and the network page.
    static NetFault checkNetwork(const QString& address, const QString& mask, const QString& gateway);
    // The address alone: a dotted quad a host may use (the first clause above).
    static bool isHostAddress(const QString& text);
    // A dotted quad that is a contiguous mask other than 0.0.0.0 and 255.255.255.255.
    static bool isNetmask(const QString& text);
    // The lowest host of the network of `address` under `mask` other than the address itself
    // (both checked by checkNetwork without a gateway), as a dotted quad.
    static QString firstOtherHost(const QString& address, const QString& mask);
    static int getIPAddress();
    static int initIPAddress();
    static int init_resteth(QString address, QString gateway, QString mask);
    // True for six colon-separated pairs of hex digits naming one station (not a group address,
    // not all zero): the only hardware address text put into a shell command or a file.
    static bool isStationMac(const QString& text);
    // Gives "eth0" the hardware address `mac` (down, "hw ether", up). 0, or 255 when the text is
    // not acceptable, the interface does not exist or the address was refused.
    static int set_eth0_mac(const QString& mac);
    // Rewrites "/etc/network/interfaces" so that "eth0" comes up with `mac` and the stored
    // address, mask and gateway at the next start. 0 or 255.
    static int write_network_interfaces(const QString& mac);
};

// The unused loop-back UDP client kept for the box's companion process.
class UdpClient {
public:
    static constexpr uint16_t kCompanionPort = 10020;

    UdpClient() {}
    explicit UdpClient(uint16_t port) : port_(port) {}
    ~UdpClient() {}
    // Sends `data` to 127.0.0.1 at the companion's port and waits up to 31 x 200 ms for its
    // answer: the reply as text up to its first zero byte, `data` all bytes received. Returns the
    // byte count, or -1 when nothing came.
    int udpSendData(std::string* data, std::string& reply);

private:
    int sock_ = -1;
    uint16_t port_ = kCompanionPort;
};
