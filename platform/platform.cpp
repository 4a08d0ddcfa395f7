#include "platform/platform.h"

#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <cerrno>

#include "platform/command_runner.h"
#include "platform/gpio.h"
#include "platform/i2c.h"
#include "platform/mtd.h"
#include "platform/soc.h"
#include "platform/spi.h"
#include "platform/uevent.h"

namespace platform {

namespace {

std::mutex g_boardMutex;
std::unique_ptr<Board> g_board;

template <class Commands, class Spi, class I2c, class Gpio, class Mtd, class Soc, class Uevents,
          bool Simulated>
class BoardOf : public Board {
public:
    CommandRunner& commands() override { return commands_; }
    SpiBus& spi() override { return spi_; }
    I2cBus& i2c() override { return i2c_; }
    GpioWindow& gpio() override { return gpio_; }
    MtdBus& mtd() override { return mtd_; }
    SocIdentity& soc() override { return soc_; }
    UeventSource& uevents() override { return uevents_; }
    bool simulated() const override { return Simulated; }

private:
    Commands commands_;
    Spi spi_;
    I2c i2c_;
    Gpio gpio_;
    Mtd mtd_;
    Soc soc_;
    Uevents uevents_;
};

using RealBoard = BoardOf<ShellCommandRunner, SpidevBus, I2cDevBus, DevMemGpioWindow, LinuxMtdBus,
                          DevMemSocIdentity, NetlinkUeventSource, false>;
using SimBoard = BoardOf<SimCommandRunner, SimSpiBus, SimI2cBus, SimGpioWindow, SimMtdBus,
                         SimSocIdentity, SimUeventSource, true>;

}  // namespace

std::string root()
{
    const char* r = std::getenv("ZEL_ROOT");
    if (!r || !*r)
        return std::string();
    std::string s(r);
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    if (s == "/")
        return std::string();
    return s;
}

std::string rootPath(const std::string& systemPath)
{
    if (systemPath.empty() || systemPath[0] != '/')
        return systemPath;
    return root() + systemPath;
}

QString rootPath(const QString& systemPath)
{
    return QString::fromStdString(rootPath(systemPath.toStdString()));
}

bool makeParentDirs(const std::string& systemPath)
{
    std::string full = rootPath(systemPath);
    size_t slash = full.find_last_of('/');
    if (slash == std::string::npos || slash == 0)
        return true;
    std::string dir = full.substr(0, slash);
    for (size_t i = 1; i <= dir.size(); ++i) {
        if (i == dir.size() || dir[i] == '/') {
            std::string part = dir.substr(0, i);
            if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
                return false;
        }
    }
    return true;
}

bool isSim()
{
    const char* b = std::getenv("ZEL_BOARD");
    return b && std::string(b) == "sim";
}

std::unique_ptr<Board> makeRealBoard() { return std::make_unique<RealBoard>(); }
std::unique_ptr<Board> makeSimBoard() { return std::make_unique<SimBoard>(); }

Board& board()
{
    std::lock_guard<std::mutex> lock(g_boardMutex);
    if (!g_board)
        g_board = isSim() ? makeSimBoard() : makeRealBoard();
    return *g_board;
}

std::unique_ptr<Board> setBoard(std::unique_ptr<Board> b)
{
    std::lock_guard<std::mutex> lock(g_boardMutex);
    std::swap(g_board, b);
    return b;
}

}  // namespace platform
