#include "support/test_root.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/command_runner.h"
#include "platform/gpio.h"
#include "platform/i2c.h"
#include "platform/mtd.h"
#include "platform/platform.h"
#include "platform/soc.h"
#include "platform/spi.h"
#include "platform/uevent.h"

namespace fs = std::filesystem;

namespace zeltest {

std::string makeTempDir(const std::string& prefix)
{
    std::string templ = (fs::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (!mkdtemp(templ.data()))
        throw std::runtime_error("mkdtemp failed");
    return templ;
}

TempRoot::TempRoot()
{
    const char* prev = std::getenv("ZEL_ROOT");
    previous_ = prev ? prev : "";
    path_ = makeTempDir("zel-root-");
    setenv("ZEL_ROOT", path_.c_str(), 1);
    platform::setBoard(platform::makeSimBoard());
}

TempRoot::~TempRoot()
{
    setenv("ZEL_ROOT", previous_.c_str(), 1);
    std::error_code ec;
    if (!std::getenv("ZEL_KEEP_ROOT"))
        fs::remove_all(path_, ec);
}

std::string TempRoot::at(const std::string& systemPath) const { return path_ + systemPath; }

template <class T, class Get>
static T& simDevice(Get get)
{
    auto* d = dynamic_cast<T*>(&get(platform::board()));
    if (!d)
        throw std::runtime_error("not a simulated board");
    return *d;
}

platform::SimCommandRunner& simCommands()
{
    return simDevice<platform::SimCommandRunner>([](platform::Board& b) -> auto& { return b.commands(); });
}
platform::SimSpiBus& simSpi()
{
    return simDevice<platform::SimSpiBus>([](platform::Board& b) -> auto& { return b.spi(); });
}
platform::SimI2cBus& simI2c()
{
    return simDevice<platform::SimI2cBus>([](platform::Board& b) -> auto& { return b.i2c(); });
}
platform::SimGpioWindow& simGpio()
{
    return simDevice<platform::SimGpioWindow>([](platform::Board& b) -> auto& { return b.gpio(); });
}
platform::SimMtdBus& simMtd()
{
    return simDevice<platform::SimMtdBus>([](platform::Board& b) -> auto& { return b.mtd(); });
}
platform::SimSocIdentity& simSoc()
{
    return simDevice<platform::SimSocIdentity>([](platform::Board& b) -> auto& { return b.soc(); });
}

platform::SimUeventSource& simUevents()
{
    return simDevice<platform::SimUeventSource>([](platform::Board& b) -> auto& { return b.uevents(); });
}

std::vector<uint8_t> readFile(const std::string& systemPath)
{
    std::ifstream f(platform::rootPath(systemPath), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string readText(const std::string& systemPath)
{
    std::ifstream f(platform::rootPath(systemPath), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& systemPath, const std::vector<uint8_t>& bytes)
{
    platform::makeParentDirs(systemPath);
    std::ofstream f(platform::rootPath(systemPath), std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void writeText(const std::string& systemPath, const std::string& text)
{
    writeFile(systemPath, std::vector<uint8_t>(text.begin(), text.end()));
}

bool fileExists(const std::string& systemPath) { return fs::exists(platform::rootPath(systemPath)); }

}  // namespace zeltest
