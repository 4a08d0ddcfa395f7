// The front panel as a user of the simulated board sees it without a display of their own: the
// run script's virtual display, read by a real VNC client and by a headless browser through the
// noVNC page, everything on loopback.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <string>
#include <thread>

#include "loopback_port.h"
#include "support/test_root.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kNoVncPage = "/usr/share/novnc/vnc_lite.html";
// Colour tolerance: the VNC client saves JPEG, and the server's pixel format rounds gradients.
constexpr int kTolerance = 16;
constexpr double kMostlyEqual = 0.05;

bool waitFor(const std::function<bool()>& condition, int seconds)
{
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return condition();
}

// The tools a missing one of which skips the test (scripts/test.sh installs them all).
std::string missingTool()
{
    for (const char* tool : {"Xvfb", "x11vnc", "websockify", "vncsnapshot", "chromium"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return tool;
    if (!std::filesystem::exists(kNoVncPage))
        return "novnc";
    return "";
}

// The share of pixels of two pictures of the same size that differ in a colour channel by more
// than `tolerance`. The lock screen's clock may move on between two pictures: its digits are a
// few per cent of the screen.
double differingShare(const QImage& a, const QImage& b, int tolerance)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    long differing = 0;
    for (int row = 0; row < x.height(); ++row) {
        const QRgb* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const QRgb* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col)
            differing += std::abs(qRed(p[col]) - qRed(q[col])) > tolerance ||
                         std::abs(qGreen(p[col]) - qGreen(q[col])) > tolerance ||
                         std::abs(qBlue(p[col]) - qBlue(q[col])) > tolerance;
    }
    return double(differing) / (double(x.width()) * x.height());
}

// A headless Chromium driven over its DevTools pipe (file descriptors 3 and 4, messages ended
// by a NUL byte). Every address but loopback is sent to a closed local port.
class Browser {
public:
    explicit Browser(const std::string& profileDir)
    {
        int toBrowser[2], fromBrowser[2];
        if (::pipe(toBrowser) != 0 || ::pipe(fromBrowser) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(toBrowser[0], 3);
            ::dup2(fromBrowser[1], 4);
            const int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
            for (int fd = 5; fd < 1024; ++fd)
                ::close(fd);
            const std::string profile = "--user-data-dir=" + profileDir;
            ::execlp("chromium", "chromium", "--headless", "--no-sandbox", "--disable-gpu",
                     "--remote-debugging-pipe", "--window-size=820,560", profile.c_str(),
                     "--no-first-run", "--no-default-browser-check", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--disable-default-apps",
                     "--disable-domain-reliability", "--proxy-server=http://127.0.0.1:9",
                     "--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1", "about:blank",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(toBrowser[0]);
        ::close(fromBrowser[1]);
        out_ = toBrowser[1];
        in_ = fromBrowser[0];
    }

    ~Browser()
    {
        if (out_ >= 0)
            ::close(out_);
        if (in_ >= 0)
            ::close(in_);
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    // Sends one command (to the page's session once attached) and returns its result; an empty
    // object after 10 s or on an error.
    QJsonObject call(const QString& method, const QJsonObject& params = {})
    {
        QJsonObject message{{"id", ++lastId_}, {"method", method}, {"params", params}};
        if (!session_.isEmpty())
            message["sessionId"] = session_;
        QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact);
        bytes.append('\0');
        if (out_ < 0 || ::write(out_, bytes.constData(), bytes.size()) != bytes.size())
            return {};
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < deadline) {
            const int end = buffer_.indexOf('\0');
            if (end >= 0) {
                const QJsonObject reply = QJsonDocument::fromJson(buffer_.left(end)).object();
                buffer_.remove(0, end + 1);
                if (reply.value("id").toInt() == lastId_)
                    return reply.value("result").toObject();
                continue;   // an event, or a reply to someone else
            }
            pollfd p{in_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            char chunk[65536];
            const ssize_t n = ::read(in_, chunk, sizeof chunk);
            if (n <= 0)
                return {};
            buffer_.append(chunk, static_cast<int>(n));
        }
        return {};
    }

    // Opens a page in a new tab and directs later commands to it.
    bool open(const QString& url)
    {
        const QString target = call("Target.createTarget", {{"url", url}}).value("targetId").toString();
        if (target.isEmpty())
            return false;
        session_ = call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}})
                       .value("sessionId")
                       .toString();
        return !session_.isEmpty();
    }

    QJsonValue evaluate(const QString& expression)
    {
        return call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}})
            .value("result")
            .toObject()
            .value("value");
    }

    QImage screenshot()
    {
        const QByteArray png = QByteArray::fromBase64(
            call("Page.captureScreenshot", {{"format", "png"}}).value("data").toString().toLatin1());
        return QImage::fromData(png, "PNG");
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int in_ = -1;
    int lastId_ = 0;
    QString session_;
    QByteArray buffer_;
};

class PanelDisplay : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QString(ZEL_APP_EMULATOR).isEmpty())
            GTEST_SKIP() << "emulated: the virtual display serves the PC build; the board draws on its framebuffer";
        const std::string missing = missingTool();
        if (!missing.empty())
            GTEST_SKIP() << missing << " is not installed (bash scripts/deps.sh installs the display tools)";
        if (!lockScreenFirst_)
            return;   // the test starts the stack itself
        ASSERT_NO_FATAL_FAILURE(launch({"--quiet", "--", ZEL_APP_PATH, "-platform", "xcb"}));
        // The process saves its own picture once the lock screen is in front.
        ASSERT_TRUE(waitFor([&] { return QImage(screenFile()).width() == 800; }, 20))
            << "the lock screen did not come up; see " << root_;
        lockScreen_ = QImage(screenFile());
    }

    // Starts the run script on a fresh root: its ports, then `args` (the command after "--").
    void launch(const QStringList& args)
    {
        root_ = zeltest::makeTempDir("zel-display-");
        vncPort_ = e2e::freePort();
        webPort_ = e2e::freePort();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.insert("ZEL_BOARD", "sim");
        env.insert("ZEL_ROOT", QString::fromStdString(root_));
        env.insert("ZEL_TCP_PORT", "0");
        env.insert("ZEL_UDP_PORT", "0");
        env.insert("ZEL_SCREENSHOT", QString::fromStdString(root_ + "/screen.png"));
        stack_.setProcessEnvironment(env);
        stack_.setStandardOutputFile(QString::fromStdString(root_ + "/stdout.log"));
        stack_.setStandardErrorFile(QString::fromStdString(root_ + "/stderr.log"));
        stack_.start("bash", QStringList{ZEL_SOURCE_DIR "/scripts/panel_display.sh", "--vnc-port", QString::number(vncPort_),
                                         "--web-port", QString::number(webPort_)} + args);
        ASSERT_TRUE(stack_.waitForStarted(5000));
    }

    void TearDown() override
    {
        if (stack_.state() != QProcess::NotRunning && stack_.processId() > 0) {
            // The script hands the stop to the box, which ends in order while its display is
            // still there; then the VNC server and the display end.
            stack_.terminate();
            const bool ended = stack_.waitForFinished(10000);
            if (!ended) {
                stack_.kill();
                stack_.waitForFinished(2000);
            }
            EXPECT_TRUE(ended);
            EXPECT_EQ(stack_.exitCode(), 0);
            std::ifstream log(root_ + "/stderr.log");
            const std::string said((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
            EXPECT_EQ(said.find("X11 connection broke"), std::string::npos) << said;
        }
        std::error_code ec;
        if (!root_.empty() && !std::getenv("ZEL_KEEP_ROOT"))
            std::filesystem::remove_all(root_, ec);
    }

    QString screenFile() const { return QString::fromStdString(root_ + "/screen.png"); }

    // Saves a picture where the screenshot tests put theirs, for a person to look at.
    static void keep(const QImage& image, const char* name)
    {
        if (const char* dir = std::getenv("ZEL_SCREENSHOT_DIR"))
            image.save(QString("%1/%2").arg(dir, name), "PNG");
    }

    std::string root_;
    int vncPort_ = 0;
    int webPort_ = 0;
    bool lockScreenFirst_ = true;   // SetUp starts the stack and waits for the lock screen
    QProcess stack_;
    QImage lockScreen_;
};

TEST_F(PanelDisplay, AVncClientGetsTheLockScreen)
{
    const QString shot = QString::fromStdString(root_ + "/vnc.jpg");
    QProcess client;
    client.start("vncsnapshot", {"-quiet", "-allowblank", QString("127.0.0.1::%1").arg(vncPort_), shot});
    ASSERT_TRUE(client.waitForFinished(20000));
    ASSERT_EQ(client.exitCode(), 0) << client.readAllStandardError().toStdString();
    const QImage frame(shot);
    ASSERT_EQ(frame.size(), QSize(800, 480));
    keep(frame, "display_vnc.png");
    // The same picture as the process's own, up to the client's JPEG compression; a blank or
    // black frame differs almost everywhere.
    EXPECT_LT(differingShare(frame, lockScreen_, kTolerance), kMostlyEqual);
    QImage black(800, 480, QImage::Format_RGB32);
    black.fill(Qt::black);
    EXPECT_GT(differingShare(black, lockScreen_, kTolerance), 0.5);
}

TEST_F(PanelDisplay, TheBrowserViewShowsTheLockScreen)
{
    Browser browser(root_ + "/browser");
    ASSERT_TRUE(browser.open(QString("http://127.0.0.1:%1/vnc_lite.html").arg(webPort_)));
    // Connected, and the canvas has the panel's size.
    const QString connected =
        "(() => { const c = document.querySelector('#screen canvas');"
        " return document.getElementById('status').textContent.startsWith('Connected')"
        " && c !== null && c.width === 800 && c.height === 480; })()";
    ASSERT_TRUE(waitFor([&] { return browser.evaluate(connected).toBool(); }, 20))
        << browser.evaluate("document.getElementById('status').textContent").toString().toStdString();
    // The canvas shows the lock screen (a first frame may still be on its way).
    auto canvasMatches = [&] {
        const QString data = browser.evaluate("document.querySelector('#screen canvas').toDataURL()").toString();
        const QImage canvas = QImage::fromData(QByteArray::fromBase64(data.section(',', 1).toLatin1()), "PNG");
        return canvas.size() == QSize(800, 480) && differingShare(canvas, lockScreen_, kTolerance) < kMostlyEqual;
    };
    EXPECT_TRUE(waitFor(canvasMatches, 10));
    const QImage page = browser.screenshot();
    EXPECT_FALSE(page.isNull());
    keep(page, "display_browser.png");
}

// A Ctrl-C in the first instant of the box, while it still ignores SIGINT as a background job of
// the script (held here half a second by a shell in front of it), ends the box in order and then
// the script with its display.
class PanelDisplayStop : public PanelDisplay {
protected:
    PanelDisplayStop() { lockScreenFirst_ = false; }
};

TEST_F(PanelDisplayStop, ACtrlCBeforeTheBoxTakesItIsNotLost)
{
    ASSERT_NO_FATAL_FAILURE(launch({"--", "sh", "-c", "sleep 0.5; exec \"$0\" \"$@\"", ZEL_APP_PATH, "-platform", "xcb"}));
    // The script says where the display is served just before it starts the command.
    ASSERT_TRUE(waitFor([&] {
        std::ifstream out(root_ + "/stdout.log");
        return std::string(std::istreambuf_iterator<char>(out), {}).find("front panel") != std::string::npos;
    }, 20));
    ::kill(static_cast<pid_t>(stack_.processId()), SIGINT);
    EXPECT_TRUE(stack_.waitForFinished(15000));
    EXPECT_EQ(stack_.exitCode(), 0);
}

}  // namespace
