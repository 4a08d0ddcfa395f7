// Helpers every test may use: private root directories, the simulated board's devices, files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
class SimCommandRunner;
class SimSpiBus;
class SimI2cBus;
class SimGpioWindow;
class SimMtdBus;
class SimSocIdentity;
class SimUeventSource;
}  // namespace platform

namespace zeltest {

std::string makeTempDir(const std::string& prefix);

// Gives the running test a fresh, empty ZEL_ROOT and a fresh simulated board; the previous root
// is removed when the object goes. Every test already runs in a root of its own and leaves no
// singleton behind (support/isolation.h); a fixture's TempRoot gives it one it names.
class TempRoot {
public:
    TempRoot();
    ~TempRoot();
    const std::string& path() const { return path_; }
    // The system path mapped under this root.
    std::string at(const std::string& systemPath) const;

private:
    std::string path_;
    std::string previous_;
};

// The devices of the current simulated board.
platform::SimCommandRunner& simCommands();
platform::SimSpiBus& simSpi();
platform::SimI2cBus& simI2c();
platform::SimGpioWindow& simGpio();
platform::SimMtdBus& simMtd();
platform::SimSocIdentity& simSoc();
platform::SimUeventSource& simUevents();

// Whole-file helpers on system paths under the current root.
std::vector<uint8_t> readFile(const std::string& systemPath);
std::string readText(const std::string& systemPath);
void writeFile(const std::string& systemPath, const std::vector<uint8_t>& bytes);
void writeText(const std::string& systemPath, const std::string& text);
bool fileExists(const std::string& systemPath);

}  // namespace zeltest
