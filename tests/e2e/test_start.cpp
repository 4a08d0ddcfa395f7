// The whole box on the simulated board: the real zelT71N process in a private root, driven from
// outside over its command ports as PC software would.
#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QSettings>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "loopback_port.h"
#include "running_box.h"
#include "support/test_root.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// ---- the wire format, written here independently of the links' own codec ----

using e2e::commandBody;

Bytes encode(const Bytes& b)
{
    Bytes w = {0xA5, 0xA5, 0xA5};
    for (uint8_t v : b) {
        if (v == 0xA5 || v == 0xA6)
            w.insert(w.end(), {0xA6, static_cast<uint8_t>(v == 0xA5 ? 2 : 1)});
        else if (v == 0x5A || v == 0x5B)
            w.insert(w.end(), {0x5B, static_cast<uint8_t>(v == 0x5A ? 2 : 1)});
        else
            w.push_back(v);
    }
    w.push_back(0x5A);
    return w;
}

// The body of the first whole frame in `wire`, or empty.
Bytes decode(const Bytes& wire)
{
    size_t i = 0;
    while (i < wire.size() && wire[i] == 0xA5)
        ++i;
    Bytes b;
    for (; i < wire.size() && wire[i] != 0x5A; ++i) {
        if ((wire[i] == 0xA6 || wire[i] == 0x5B) && i + 1 < wire.size()) {
            b.push_back(wire[i] == 0xA6 ? (wire[i + 1] == 2 ? 0xA5 : 0xA6) : (wire[i + 1] == 2 ? 0x5A : 0x5B));
            ++i;
        } else {
            b.push_back(wire[i]);
        }
    }
    return i < wire.size() ? b : Bytes{};
}

Bytes writeRam(uint32_t address, const Bytes& data) { return e2e::writeRamBody(address, data); }

Bytes readRam(uint32_t address, uint16_t length)
{
    return commandBody(0x61, {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address >> 16),
                       static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(length),
                       static_cast<uint8_t>(length >> 8), 0, 0});
}

Bytes writeRegister(uint8_t reg, uint8_t mask, uint8_t target, uint8_t value)
{
    return commandBody(0xA0, {reg, mask, target, value});
}

Bytes readRegister(uint8_t reg, uint8_t target) { return commandBody(0xA1, {reg, 0, target}); }

// A RAM read of the receiving cards on one port (byte 6 = 1, byte 7 = port + 1).
Bytes cardRead(uint8_t portByte)
{
    Bytes b = {0x00, 0x00, 0x10, 0xF0, 0x10, 0x67, 1, portByte, 0, 0x61, 0x80, 0x01, 0, 0, 2, 0, 0, 0};
    uint8_t check = 0;
    for (uint8_t v : b)
        check ^= v;
    b.push_back(check);
    return b;
}

// ---- sockets ----

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

class TcpClient {
public:
    explicit TcpClient(int port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = loopback(port);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~TcpClient() { ::close(fd_); }
    bool connected() const { return connected_; }

    bool send(const Bytes& wire)
    {
        return ::send(fd_, wire.data(), wire.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(wire.size());
    }

    // Adds to `in` what arrives within 100 ms; false once the box has closed the connection.
    bool receive(Bytes& in)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            return true;
        uint8_t buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        in.insert(in.end(), buf, buf + std::max<ssize_t>(n, 0));
        return n > 0;
    }

    // The frames received until the box closes the connection (at most `seconds` long).
    int framesUntilClosed(int seconds)
    {
        Bytes in;
        for (auto deadline = Clock::now() + std::chrono::seconds(seconds); Clock::now() < deadline && receive(in);) {
        }
        return int(std::count(in.begin(), in.end(), uint8_t(0x5A)));   // each frame's end byte
    }

    // Sends one frame and returns the body of the reply (empty after 3 s without one).
    Bytes call(const Bytes& request)
    {
        if (!send(encode(request)))
            return {};
        Bytes in;
        for (auto deadline = Clock::now() + std::chrono::seconds(3); Clock::now() < deadline && receive(in);)
            if (Bytes b = decode(in); !b.empty())
                return b;
        return {};
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

// Sends one request and returns the body of its reply (empty after 3 s without one). The socket
// is connected to the box's port and a reply of another group is passed over: boxes of other
// tests answer to a loopback port, which a socket of this one may have been given again after a
// call of theirs gave up waiting.
Bytes udpCall(int port, const Bytes& request)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in me = loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&me), sizeof me);
    sockaddr_in to = loopback(port);
    ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
    Bytes wire = encode(request);
    ::send(fd, wire.data(), wire.size(), 0);
    Bytes reply;
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    for (auto left = deadline - Clock::now(); reply.empty() && left.count() > 0; left = deadline - Clock::now()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()) + 1) <= 0)
            break;
        uint8_t buf[70000];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        reply = decode(Bytes(buf, buf + n));
        if (reply.size() > 9 && request.size() > 9 && reply[9] != request[9])
            reply.clear();
    }
    ::close(fd);
    return reply;
}

// The application under test: this build's own, or another build's named by ZEL_E2E_APP and
// run by ZEL_E2E_EMULATOR (scripts/board_build.sh: the board build under qemu-arm).
QString envOr(const char* name, const QString& fallback)
{
    const QString v = qEnvironmentVariable(name);
    return v.isEmpty() ? fallback : v;
}
const QString kApp = envOr("ZEL_E2E_APP", ZEL_APP_PATH);
const QString kEmulator = envOr("ZEL_E2E_EMULATOR", "");

// Bounds of the waits; an emulated application is several times slower.
const int kSlowdown = kEmulator.isEmpty() ? 1 : 5;

bool waitFor(const std::function<bool()>& condition, int seconds)
{
    auto deadline = Clock::now() + std::chrono::seconds(seconds * kSlowdown);
    while (Clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

uint16_t le16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

class RunningBox : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Under qemu-user Qt cannot start a process (its clone with a pidfd is refused) and then
        // signals pid -1, that is every process of the machine.
        if (!QString(ZEL_APP_EMULATOR).isEmpty())
            GTEST_SKIP() << "emulated: scripts/board_build.sh runs this test from the PC build against the board build";
        root_ = zeltest::makeTempDir("zel-e2e-");
        tcpPort_ = e2e::freePort(SOCK_STREAM);
        udpPort_ = e2e::freePort(SOCK_DGRAM);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZEL_BOARD", "sim");
        env.insert("ZEL_ROOT", QString::fromStdString(root_));
        env.insert("ZEL_TCP_PORT", QString::number(tcpPort_));
        env.insert("ZEL_UDP_PORT", QString::number(udpPort_));
        env.insert("ZEL_SCREENSHOT", QString::fromStdString(root_ + "/screen.png"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        if (quickFlash_)
            env.insert("ZEL_SIM_QUICK_FLASH", "1");
        beforeStart();
        box_.setProcessEnvironment(env);
        if (keepStderr_) {
            box_.setStandardErrorFile(QString::fromStdString(root_ + "/stderr.log"));
        } else {
            box_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        }
        box_.setStandardOutputFile(QString::fromStdString(root_ + "/stdout.log"));
        launch();
    }

    // Starts the process (again) with the environment and files set up.
    void launch()
    {
        if (kEmulator.isEmpty())
            box_.start(kApp, {"-platform", "offscreen"});
        else
            box_.start(kEmulator, {kApp, "-platform", "offscreen"});
        ASSERT_TRUE(box_.waitForStarted(5000));
    }

    void TearDown() override
    {
        // Only a process that started: a failed start may leave -1 as its id.
        if (box_.state() != QProcess::NotRunning && box_.processId() > 0) {
            box_.terminate();
            if (!box_.waitForFinished(5000)) {
                box_.kill();
                box_.waitForFinished(2000);
            }
        }
        std::error_code ec;
        if (!root_.empty() && !std::getenv("ZEL_KEEP_ROOT"))
            std::filesystem::remove_all(root_, ec);
    }

    // Prepares the root and the machine before the process starts.
    virtual void beforeStart() {}

    std::string at(const std::string& systemPath) const { return root_ + systemPath; }

    std::string said() const
    {
        const Bytes b = file("/stderr.log");
        return std::string(b.begin(), b.end());
    }

    Bytes file(const std::string& systemPath) const
    {
        std::ifstream f(at(systemPath), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }

    // One register of the simulated video chip, from the snapshot the process keeps.
    int chipRegister(int bank, int addr) const
    {
        Bytes regs = file("/var/sim/video_chip.bin");
        return regs.size() == 256 * 128 ? regs[bank * 128 + addr] : -1;
    }

    std::string root_;
    int tcpPort_ = 0;
    int udpPort_ = 0;
    bool keepStderr_ = false;   // stderr to <root>/stderr.log instead of the test's own
    bool quickFlash_ = true;    // the simulated flash work takes no time
    QProcess box_;
};

TEST_F(RunningBox, StartsServesCommandsAppliesChangesAndChangesNothingOnTheMachine)
{
    // Files of a first start.
    ASSERT_TRUE(waitFor([&] { return file("/data/ram_device_info").size() == 4096; }, 10));
    Bytes params = file("/data/ram_device_info");
    EXPECT_EQ(params[0], 0xAA);
    EXPECT_EQ(params[1], 0xAA);
    ASSERT_TRUE(waitFor([&] { return file("/data/configs/tcpip.ini").size() > 0; }, 5));
    QSettings ini(QString::fromStdString(at("/data/configs/tcpip.ini")), QSettings::IniFormat);
    ini.beginGroup("config");
    EXPECT_EQ(ini.childKeys().size(), 18);

    // The links come up after the 4-second pause; the lock screen is shown by then.
    Bytes udpReply;
    ASSERT_TRUE(waitFor([&] { return !(udpReply = udpCall(udpPort_, readRam(0x562, 4))).empty(); }, 12));
    ASSERT_EQ(udpReply.size(), 16u);
    EXPECT_EQ(le16(udpReply, 0), 0xF010);  // addresses swapped
    EXPECT_EQ(udpReply[9], 0x61);
    EXPECT_EQ(udpReply[10], 0);
    const uint16_t width = le16(udpReply, 11);
    EXPECT_GT(width, 0);

    TcpClient tcp(tcpPort_);
    ASSERT_TRUE(tcp.connected());

    // The engine has measured the inputs, so the input summaries (shown by the status page)
    // carry the simulated board's 1080p60 on HDMI1 (input 2).
    EXPECT_TRUE(waitFor([&] {
        Bytes r = tcp.call(readRam(0x100 + 6 * 2, 6));
        return r.size() > 16 && le16(r, 11) == 1920 && le16(r, 13) == 1080 && r[15] == 60;
    }, 10));

    // Both FPGAs come up (software register 80 is the bring-up state, 3 when running).
    for (uint8_t target : {1, 2}) {
        EXPECT_TRUE(waitFor([&] {
            Bytes r = tcp.call(readRegister(80, target));
            return r.size() > 11 && r[10] == 0 && r[11] == 3;
        }, 10)) << "FPGA " << int(target - 1);
    }

    // A new LED screen size over TCP, committed with the update register, reaches the video
    // chip and the parameter file.
    const uint16_t newWidth = 1280, newHeight = 720;
    Bytes w = tcp.call(writeRam(0x562, {newWidth & 0xFF, newWidth >> 8, newHeight & 0xFF, newHeight >> 8}));
    ASSERT_GT(w.size(), 10u);
    EXPECT_EQ(w[10], 0);
    Bytes c = tcp.call(writeRegister(0x10, 0x01, 0, 0x01));
    ASSERT_GT(c.size(), 10u);
    EXPECT_EQ(c[10], 0);
    EXPECT_TRUE(waitFor([&] {
        Bytes p = file("/data/ram_device_info");
        return p.size() == 4096 && le16(p, 0x562 - 0x300 + 2) == newWidth && le16(p, 0x564 - 0x300 + 2) == newHeight;
    }, 10));
    // Output channel 0's active width and height + 1 (bank 8, 0x42 and 0x46) follow the screen.
    EXPECT_TRUE(waitFor([&] {
        return chipRegister(8, 0x42) + 256 * chipRegister(8, 0x43) == newWidth &&
               chipRegister(8, 0x46) + 256 * chipRegister(8, 0x47) == newHeight + 1;
    }, 10)) << "chip output width " << chipRegister(8, 0x42) + 256 * chipRegister(8, 0x43);

    // Window 0 moved over TCP lands where it was put on the chip's decoded picture.
    Bytes mv = tcp.call(writeRam(0x8EA, {100, 0, 50, 0, 0x20, 0x03, 0x58, 0x02}));   // 100, 50, 800 x 600
    ASSERT_GT(mv.size(), 10u);
    EXPECT_EQ(mv[10], 0);
    Bytes commit = tcp.call(writeRegister(0x10, 0x01, 0, 0x01));
    ASSERT_GT(commit.size(), 10u);
    auto view = [&] {
        const Bytes t = file("/var/sim/video_chip.txt");
        return std::string(t.begin(), t.end());
    };
    EXPECT_TRUE(waitFor([&] { return view().find("och 0: x 100 y 50 800x600 from ich") != std::string::npos; }, 10))
        << view();

    // A test pattern over TCP: shown on the window's channel, then cleared.
    for (uint8_t pattern : {1, 0}) {
        Bytes p = tcp.call(writeRam(0x360, {pattern, 0}));
        ASSERT_GT(p.size(), 10u);
        EXPECT_EQ(p[10], 0);
        tcp.call(writeRegister(0x10, 0x01, 0, 0x01));
        const std::string shown = pattern ? "[pattern]\noch 0: solid #FF0000" : "[pattern]\noch 0: off\n";
        EXPECT_TRUE(waitFor([&] { return view().find(shown) != std::string::npos; }, 10)) << view();
    }

    // Two more windows of HDMI1 beside window 0, each stored by its own input channel: the
    // chip's frame memory shows three windows read back whole and no two channels writing the
    // same memory.
    const Bytes win1 = {2, 0, 0, 0, 0x90, 0x01, 0x80, 0x02, 0x40, 0x01};   // 0, 400, 640 x 320
    const Bytes win2 = {2, 0, 0x80, 0x02, 0x90, 0x01, 0x80, 0x02, 0x40, 0x01};   // 640, 400, 640 x 320
    for (const auto& [record, geometry] : {std::make_pair(0x8E0u + 26, win1), std::make_pair(0x8E0u + 52, win2)}) {
        Bytes on = tcp.call(writeRam(record, {1, 0}));
        ASSERT_GT(on.size(), 10u);
        EXPECT_EQ(on[10], 0);
        Bytes g = tcp.call(writeRam(record + 8, geometry));
        ASSERT_GT(g.size(), 10u);
        EXPECT_EQ(g[10], 0);
    }
    tcp.call(writeRegister(0x10, 0x01, 0, 0x01));
    auto memory = [&] {
        const std::string v = view();
        const size_t from = v.find("[memory]\n");
        return from == std::string::npos ? std::string() : v.substr(from, v.find("\n[", from + 1) + 1 - from);
    };
    auto reads = [](const std::string& m, const std::string& what) {
        size_t n = 0;
        for (size_t at = m.find(what); at != std::string::npos; at = m.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_TRUE(waitFor([&] {
        const std::string m = memory();
        return reads(m, "piece 0: reads ich") == 3 && reads(m, "unwritten") == 0 &&
               m.find("overlaps: none\n") != std::string::npos;
    }, 10)) << view();

    // The lock screen was in front after the pause (the process saves the picture only then).
    ASSERT_TRUE(waitFor([&] { return QImage(QString::fromStdString(at("/screen.png"))).width() == 800; }, 5));
    QImage screen(QString::fromStdString(at("/screen.png")));
    EXPECT_EQ(screen.height(), 480);

    // A client that sends 20 frames for the cards of a port without cards in one write and
    // leaves holds nobody: the others are answered at once, on TCP and on UDP.
    {
        TcpClient burst(tcpPort_);
        Bytes wire;
        for (int i = 0; i < 20; ++i) {
            const Bytes f = encode(cardRead(5));
            wire.insert(wire.end(), f.begin(), f.end());
        }
        EXPECT_TRUE(burst.send(wire));
    }
    // Each answered within the calls' 3 s, one pass-through time-out (300 ticks of 10 ms): the
    // others held behind the 20 frames could not be.
    EXPECT_FALSE(tcp.call(readRam(0x562, 4)).empty());
    EXPECT_FALSE(udpCall(udpPort_, readRam(0x562, 4)).empty());

    // 63 silent connections besides `tcp` fill the client list: a newcomer is still served.
    {
        std::vector<std::unique_ptr<TcpClient>> silent;
        for (int i = 0; i < 63; ++i)
            silent.push_back(std::make_unique<TcpClient>(tcpPort_));
        TcpClient newcomer(tcpPort_);
        EXPECT_FALSE(newcomer.call(readRam(0x562, 4)).empty());
        EXPECT_FALSE(tcp.call(readRam(0x562, 4)).empty());
    }

    // Machine-changing commands were only journaled.
    std::ifstream journal(at("/var/log/commands.log"));
    std::string line;
    bool sawChattr = false;
    while (std::getline(journal, line))
        sawChattr |= line.find(" chattr +S") != std::string::npos;   // after the time stamp
    EXPECT_TRUE(sawChattr);
}

// A box whose data folder is a file and whose TCP command port another program holds at start.
class RunningBoxWithoutItsFolderAndPort : public RunningBox {
protected:
    void beforeStart() override
    {
        keepStderr_ = true;
        std::ofstream(at("/data")) << "a file where the data folder should be";
        holder_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);   // not inherited by the box
        sockaddr_in a = loopback(tcpPort_);
        ASSERT_EQ(::bind(holder_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ::listen(holder_, 1);
    }
    void TearDown() override
    {
        if (holder_ >= 0)
            ::close(holder_);
        RunningBox::TearDown();
    }
    void releasePort()
    {
        ::close(holder_);
        holder_ = -1;
    }
    int holder_ = -1;
};

TEST_F(RunningBoxWithoutItsFolderAndPort, SaysSoOnStderrAndBindsThePortOnceFree)
{
    const std::string port = std::to_string(tcpPort_);
    EXPECT_TRUE(waitFor([&] { return said().find(at("/data") + " cannot be written") != std::string::npos; }, 10))
        << said();
    EXPECT_TRUE(waitFor([&] { return said().find("TCP command port " + port + " cannot be bound") != std::string::npos; },
                        12))
        << said();

    // A commit over UDP is answered before the save; the failed save is said (and shown).
    Bytes w;
    ASSERT_TRUE(waitFor([&] { return !(w = udpCall(udpPort_, writeRam(0x880, {55, 0}))).empty(); }, 12));
    EXPECT_EQ(w[10], 0);
    udpCall(udpPort_, writeRegister(0x10, 0x01, 0, 0x01));
    EXPECT_TRUE(waitFor([&] { return said().find("cannot save the settings") != std::string::npos; }, 10)) << said();

    releasePort();
    EXPECT_TRUE(waitFor([&] { return said().find("TCP command port " + port + " is bound now") != std::string::npos; },
                        5))
        << said();
    TcpClient tcp(tcpPort_);
    ASSERT_TRUE(tcp.connected());
    Bytes r = tcp.call(readRam(0x880, 2));
    ASSERT_GT(r.size(), 12u);
    EXPECT_EQ(le16(r, 11), 55);
}

// A box whose settings file is a folder and whose parameter file is a FIFO at start.
class RunningBoxWithUnusableFiles : public RunningBox {
protected:
    void beforeStart() override
    {
        keepStderr_ = true;
        std::filesystem::create_directories(at("/data/configs/tcpip.ini"));
        std::ofstream(at("/data/configs/tcpip.ini/inside")) << "x";
        ASSERT_EQ(::mkfifo(at("/data/ram_device_info").c_str(), 0644), 0);
    }
    size_t count(const std::string& text) const
    {
        const std::string s = said();
        size_t n = 0;
        for (size_t at = s.find(text); at != std::string::npos; at = s.find(text, at + 1))
            ++n;
        return n;
    }
};

TEST_F(RunningBoxWithUnusableFiles, StartsOnTheDefaultsSaysSoAndStoresTheNextSetting)
{
    Bytes r;   // answered: the start waited on nothing
    ASSERT_TRUE(waitFor([&] { return !(r = udpCall(udpPort_, readRam(0x562, 2))).empty(); }, 15)) << said();
    ASSERT_GT(r.size(), 12u);
    EXPECT_EQ(le16(r, 11), 1920);
    for (const char* f : {"/data/configs/tcpip.ini", "/data/ram_device_info"}) {
        EXPECT_EQ(count(at(f) + " "), 1u) << said();   // one line each, naming the file as found
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(at(f) + ".bad"))) << f;
    }
    EXPECT_EQ(file("/data/ram_device_info").size(), 4096u);
    // The next setting is stored: a barcode over UDP.
    const Bytes w = udpCall(udpPort_, commandBody(0xA2, {1, 4, 'B', '-', '1', '7'}));
    ASSERT_GT(w.size(), 10u);
    EXPECT_EQ(w[10], 0);
    const Bytes ini = file("/data/configs/tcpip.ini");
    EXPECT_NE(std::string(ini.begin(), ini.end()).find("Barcode=B-17"), std::string::npos);
}

// A box whose settings file starts with a byte-order mark, which Qt reads as a format error: it
// comes up on the user's address and barcode, and says where it kept the file as it was.
class RunningBoxWithAMarkedSettingsFile : public RunningBox {
protected:
    void beforeStart() override
    {
        keepStderr_ = true;
        std::filesystem::create_directories(at("/data/configs"));
        std::ofstream(at("/data/configs/tcpip.ini"), std::ios::binary)
            << "\xEF\xBB\xBF[config]\nTcpPort=16123\nIPAddress=10.20.30.40\nGateWay=10.20.30.1\nBarcode=USER-SN-42\n";
    }
};

TEST_F(RunningBoxWithAMarkedSettingsFile, ComesUpOnTheUsersAddressAndBarcode)
{
    Bytes r;
    ASSERT_TRUE(waitFor([&] { return !(r = udpCall(udpPort_, commandBody(0xA4, {0}))).empty(); }, 15)) << said();
    ASSERT_GT(r.size(), 15u);
    EXPECT_EQ(Bytes(r.begin() + 11, r.begin() + 15), (Bytes{10, 20, 30, 40}));
    r = udpCall(udpPort_, commandBody(0xA2, {0}));
    ASSERT_GT(r.size(), 12u);
    EXPECT_EQ(std::string(r.begin() + 11, r.end() - 1), "USER-SN-42");
    EXPECT_NE(said().find(at("/data/configs/tcpip.ini.bad")), std::string::npos) << said();
}

// An OSD menu file nested far deeper than the JSON reader's stack takes (a file transfer accepts
// one), and the OSD switched on: the box sets the file aside and serves on, and with the OSD word
// saved it starts again on the same file.
class RunningBoxWithADeepOsdMenu : public RunningBox {
protected:
    void beforeStart() override
    {
        keepStderr_ = true;
        std::filesystem::create_directories(at("/data/configs"));
        std::ofstream(at(kMenu), std::ios::binary) << "{\"a\":" << std::string(200000, '[');
    }
    static constexpr const char* kMenu = "/data/configs/omenu.json";
};

TEST_F(RunningBoxWithADeepOsdMenu, SetsItAsideWhenTheOsdIsSwitchedOnAndStartsAgain)
{
    ASSERT_TRUE(waitFor([&] { return !udpCall(udpPort_, writeRam(0x84C, {1, 0})).empty(); }, 15)) << said();
    ASSERT_FALSE(udpCall(udpPort_, e2e::updateBody(0x01)).empty());
    EXPECT_TRUE(waitFor([&] { return std::filesystem::exists(at(kMenu) + std::string(".bad")); }, 10)) << said();
    const size_t saved = 2 + 0x84C - 0x300;   // the file: its marker, then the image from 0x300
    ASSERT_TRUE(waitFor([&] { const Bytes p = file("/data/ram_device_info"); return p.size() > saved && p[saved] == 1; }, 10));
    box_.terminate();
    ASSERT_TRUE(box_.waitForFinished(5000));
    EXPECT_EQ(box_.exitCode(), 0);
    beforeStart();
    ASSERT_NO_FATAL_FAILURE(launch());
    Bytes r;
    ASSERT_TRUE(waitFor([&] { return !(r = udpCall(udpPort_, readRam(0x84C, 2))).empty(); }, 15)) << said();
    ASSERT_GT(r.size(), 12u);
    EXPECT_EQ(le16(r, 11), 1);
    EXPECT_TRUE(waitFor([&] { return !std::filesystem::exists(at(kMenu)); }, 10)) << said();
}

// Sixteen saved user modes, and the PC committing through the update register as fast as the
// box answers: each commit asks for the user-mode files to be synced, but a file that holds its
// slot's bytes is never written again, and the panel stays free for a stop.
class RunningBoxWithSavedModes : public RunningBox {
protected:
    void beforeStart() override
    {
        keepStderr_ = true;
        std::filesystem::create_directories(at("/data/modes"));
        for (int k = 1; k <= 16; ++k) {
            Bytes mode(4096, 0);
            mode[0] = mode[1] = 0xAA;
            for (size_t i = 2; i < mode.size(); ++i)
                mode[i] = uint8_t(i * 7 + k);
            std::ofstream(at("/data/modes/custom_mode" + std::to_string(k)), std::ios::binary)
                .write(reinterpret_cast<const char*>(mode.data()), std::streamsize(mode.size()));
        }
    }
    // The file under each mode file name (a rewrite replaces it, so its inode changes).
    std::vector<ino_t> modeFiles() const
    {
        std::vector<ino_t> inodes;
        for (int k = 1; k <= 16; ++k) {
            struct stat st {};
            inodes.push_back(::stat(at("/data/modes/custom_mode" + std::to_string(k)).c_str(), &st) == 0 ? st.st_ino : 0);
        }
        return inodes;
    }
};

TEST_F(RunningBoxWithSavedModes, AFloodOfCommitsRewritesNoModeFileAndLeavesThePanelLive)
{
    const std::vector<ino_t> before = modeFiles();
    ASSERT_TRUE(waitFor([&] { return !udpCall(udpPort_, readRam(0x562, 4)).empty(); }, 12));
    for (int i = 0; i < 100; ++i)
        ASSERT_FALSE(udpCall(udpPort_, e2e::updateBody(0x01)).empty()) << i;
    // The GUI thread's timers still run: the simulated board's snapshot, which its timer writes,
    // shows a change committed now.
    const auto flooded = std::filesystem::file_time_type::clock::now();
    ASSERT_FALSE(udpCall(udpPort_, writeRam(0x882, e2e::word(77))).empty());
    ASSERT_FALSE(udpCall(udpPort_, e2e::updateBody(0x01)).empty());
    ASSERT_TRUE(waitFor([&] {
        std::error_code ec;
        return std::filesystem::last_write_time(at("/var/sim/video_chip.bin"), ec) > flooded;
    }, 2));
    ASSERT_EQ(::kill(static_cast<pid_t>(box_.processId()), SIGINT), 0);
    ASSERT_TRUE(box_.waitForFinished(10000 * kSlowdown));
    EXPECT_EQ(box_.exitCode(), 0);
    EXPECT_EQ(modeFiles(), before);
}

// A stop asked for by a signal at any moment of the box's life: once the workers and the links
// run; at the first instant of main (the box's own handler just taken); in the pause of the
// start-up (the workers started, the links not yet); right behind an LED-size commit, while the
// engine waits for the LED output to hand the panel over; while another client's erase of the
// whole video-chip flash runs (seconds of it); while 32 erases of all of the flash behind FPGA 0
// are queued, as slow as on the board (the client answered for each). The box ends in order
// within a couple of seconds, with status 0 and no sanitizer report. SIGINT also when the box was
// started with it ignored, as a shell without job control starts a background job.
enum class StopAt { Running, FirstInstant, StartPause, LedHandOver, FlashErase, FpgaFlashErase };

class StoppedRunningBox : public RunningBox, public ::testing::WithParamInterface<std::tuple<int, StopAt>> {
protected:
    void SetUp() override
    {
        keepStderr_ = true;
        quickFlash_ = std::get<1>(GetParam()) != StopAt::FpgaFlashErase;
        struct sigaction ignore {}, kept {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGINT, &ignore, &kept);
        RunningBox::SetUp();
        sigaction(SIGINT, &kept, nullptr);
    }

    // Whether the box catches `sig` (its handler is in place), from /proc.
    bool catches(int sig) const
    {
        std::ifstream status("/proc/" + std::to_string(box_.processId()) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("SigCgt:", 0) == 0)
                return (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1;
        return false;
    }
    size_t threads() const
    {
        std::error_code ec;
        auto tasks = std::filesystem::directory_iterator("/proc/" + std::to_string(box_.processId()) + "/task", ec);
        return ec ? 0 : size_t(std::distance(tasks, std::filesystem::directory_iterator()));
    }
};

TEST_P(StoppedRunningBox, EndsWithStatusZeroAndNoSanitizerReport)
{
    const int sig = std::get<0>(GetParam());
    const StopAt at = std::get<1>(GetParam());
    // The box's pause at start-up is 4 s: a stop at its first instant does not wait it out.
    int seconds = 10;
    if (at == StopAt::FirstInstant || at == StopAt::StartPause) {
        // The video engine, the LED output and the input poll run in the pause.
        const size_t before = at == StopAt::StartPause ? 4 : 0;
        auto deadline = Clock::now() + std::chrono::seconds(10 * kSlowdown);
        while (!(catches(sig) && threads() >= before) && Clock::now() < deadline && box_.state() == QProcess::Running)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        ASSERT_TRUE(catches(sig) && threads() >= before);
        seconds = 2;
    } else {
        ASSERT_TRUE(waitFor([&] { return !udpCall(udpPort_, readRam(0x562, 4)).empty(); }, 12));
    }
    if (at == StopAt::LedHandOver) {
        for (const Bytes& body : e2e::panelBodies({1280, 720, 1280, 720, 0}))
            ASSERT_FALSE(udpCall(udpPort_, body).empty());
    }
    std::unique_ptr<TcpClient> eraser;
    const bool fpga = at == StopAt::FpgaFlashErase;
    if (at == StopAt::FlashErase || fpga) {
        // 8192 units of 4 KB from 0: the whole flash; 32 times 128 units of 64 KB of flash 2. Each
        // unit erased reaches the flash's file.
        const std::string flash =
            this->at(fpga ? "/var/lib/zel-sim/fpga-flash2.bin" : "/var/lib/zel-sim/video-chip-flash.bin");
        std::error_code ec;
        const auto before = std::filesystem::last_write_time(flash, ec);
        // Connected once the box's command port is bound (a box of another test may have had the
        // UDP port answered above while this one was still in its start-up pause).
        ASSERT_TRUE(waitFor([&] {
            eraser = std::make_unique<TcpClient>(tcpPort_);
            return eraser->connected();
        }, 12));
        const Bytes erase = fpga ? commandBody(0x70, {0, 0, 0, 0, 128, 0, 2, 4}) : commandBody(0x70, {0, 0, 0, 0, 0x00, 0x20, 4, 1});
        for (int i = 0; i < (fpga ? 32 : 1); ++i)
            ASSERT_TRUE(eraser->send(encode(erase)));
        ASSERT_TRUE(waitFor([&] {
            std::error_code e;
            const auto t = std::filesystem::last_write_time(flash, e);
            return !e && (ec || t > before);
        }, 5));
        seconds = 2;
    }
    ASSERT_EQ(::kill(static_cast<pid_t>(box_.processId()), sig), 0);
    ASSERT_TRUE(box_.waitForFinished(seconds * 1000 * kSlowdown));
    EXPECT_EQ(box_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(box_.exitCode(), 0);
    if (fpga) {
        EXPECT_EQ(eraser->framesUntilClosed(2), 32);
    }
    for (const char* report : {"Sanitizer", "runtime error"})
        EXPECT_EQ(said().find(report), std::string::npos) << said();
}

std::string stopName(const ::testing::TestParamInfo<std::tuple<int, StopAt>>& info)
{
    static const char* const kAt[] = {"Running", "FirstInstant", "StartPause", "LedHandOver", "FlashErase",
                                      "FpgaFlashErase"};
    const int sig = std::get<0>(info.param);
    const char* name = sig == SIGTERM ? "Term" : sig == SIGINT ? "Int" : "Hup";
    return std::string(name) + "_" + kAt[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Signals, StoppedRunningBox,
                         ::testing::Combine(::testing::Values(SIGTERM, SIGINT, SIGHUP),
                                            ::testing::Values(StopAt::Running, StopAt::FirstInstant,
                                                              StopAt::StartPause, StopAt::LedHandOver,
                                                              StopAt::FlashErase, StopAt::FpgaFlashErase)),
                         stopName);

}  // namespace
