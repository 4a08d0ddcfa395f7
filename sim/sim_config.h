// The simulated board's configuration: what the simulated inputs receive and which receiving
// cards stand behind the output ports. One INI file under the root, "/etc/zel-sim.ini", with
// sensible defaults when it is missing. The video chip, input receiver and FPGA models all read
// it, so they agree on what the board "sees".
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

namespace sim {

// Input numbers as everywhere in the system: 0 EXT, 1 DVI, 2 HDMI1, 3 HDMI2, 4 HDMI3, 5 HDMI4.
struct InputSignal {
    bool present = false;
    uint16_t width = 0;
    uint16_t height = 0;
    uint16_t refresh = 0;      // Hz
    bool interlaced = false;
};

struct SimConfig {
    static constexpr int kInputs = 6;
    static constexpr int kPorts = 32;  // 16 per FPGA; 16-31 on FPGA 1

    std::array<InputSignal, kInputs> inputs{};
    std::array<uint16_t, kPorts> cardsPerPort{};
    bool multifunctionCard = false;
    int multifunctionPort = 0;
    int multifunctionLight = -1;   // the brightness its light sensor asks for (-1: no reading)
    // The cards' own state: the config id every card of a port holds, the card of a port that
    // needs recovery (-1 none), and how long a card takes to save its parameters.
    std::array<uint32_t, kPorts> configIds{};
    std::array<int, kPorts> faultyCard = filled(-1);
    uint32_t saveDelayTicks = 0;
    // The board's wall clock at start ("yyyy-MM-dd hh:mm:ss"); empty: the machine's time.
    std::string clockStart;

    static SimConfig defaults();

private:
    static std::array<int, kPorts> filled(int v)
    {
        std::array<int, kPorts> a{};
        a.fill(v);
        return a;
    }
};

// The configuration of the running simulated board (loaded from the root on first use).
// Tests may change it at run time; models read it on every access.
SimConfig config();
// Reads the configuration in place under its lock, without copying it (for per-packet queries).
// `read` gets a const SimConfig& and must not call back into this file's functions.
template <typename Read>
auto readConfig(Read&& read);
void setConfig(const SimConfig& config);
// Reloads "/etc/zel-sim.ini" under the current root (defaults for everything it lacks).
void reloadConfig();
// Tests: the next use reads the board file again, as a newly started program does.
void forgetConfig();
// Writes the current configuration to "/etc/zel-sim.ini" (used by the run command to give the
// user a file to edit).
bool writeConfigFile();
std::string configPath();  // system path "/etc/zel-sim.ini"

namespace detail {
std::mutex& configMutex();
const SimConfig& loadedConfig();  // loads on first use; the caller holds configMutex()
}  // namespace detail

template <typename Read>
auto readConfig(Read&& read)
{
    std::lock_guard<std::mutex> lock(detail::configMutex());
    return read(detail::loadedConfig());
}

}  // namespace sim
