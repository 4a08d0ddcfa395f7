#include "sim/sim_board.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>

#include "platform/clock.h"
#include "platform/platform.h"
#include "sim/card_port_engine.h"
#include "sim/fpga_model.h"
#include "sim/input_chips.h"
#include "sim/sim_config.h"
#include "sim/video_chip.h"
#include "sim/video_chip_view.h"

namespace sim {

namespace {

// Replaces a file under the root in one step, so a reader never sees half of it.
void replaceFile(const std::string& path, const std::string& bytes)
{
    platform::makeParentDirs(path);
    const std::string tmp = platform::rootPath(path + ".tmp");
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::rename(tmp.c_str(), platform::rootPath(path).c_str());
}

// Durations of the board's order for the flash work that takes long: typical erase times of the
// 8 MB serial flash behind each FPGA (4 KB sector, 32 KB and 64 KB block) and its typical page
// program time, and the chip's DMA of
// its serial flash into chip memory at 10 MB/s (the four fonts, 13.3 MB, in about 1.3 s). All
// within the bounds the system's waits allow. ZEL_SIM_QUICK_FLASH=1 makes them take no time (the
// tests' boxes).
constexpr uint32_t kFpgaSectorEraseMs = 45, kFpgaBlock32EraseMs = 120, kFpgaBlock64EraseMs = 150;
constexpr uint32_t kFpgaPageProgramUs = 700;
constexpr uint32_t kChipDmaBytesPerMs = 10000;

bool quickFlash()
{
    const char* quick = std::getenv("ZEL_SIM_QUICK_FLASH");
    return quick && *quick && std::string(quick) != "0";
}

}  // namespace

void attachBoard()
{
    if (!std::ifstream(platform::rootPath(configPath())))
        writeConfigFile();
    reloadConfig();
    const SimConfig c = config();
    if (!c.clockStart.empty()) {
        const QDateTime start = QDateTime::fromString(QString::fromStdString(c.clockStart), "yyyy-MM-dd hh:mm:ss");
        if (start.isValid())
            platform::setSimClock(start);
    }
    attachVideoChip();
    attachFpgas();
    if (!quickFlash())
        useBoardFlashTimes();
    attachCardChains();
    attachInputChips();
}

void useBoardFlashTimes()
{
    videoChip().withGfx([](VideoChipGfx& g) {
        g.setDmaRate(kChipDmaBytesPerMs);
        return 0;
    });
    FpgaBoard* fpgas = fpgaBoard();
    if (!fpgas)
        return;
    for (auto& flash : fpgas->flash) {
        if (!flash)
            continue;
        flash->setEraseTimes(kFpgaSectorEraseMs, kFpgaBlock32EraseMs, kFpgaBlock64EraseMs);
        flash->setProgramTime(kFpgaPageProgramUs);
    }
}

void writeDeviceSnapshot()
{
    // Rewritten only when a register changed: the engine reads the chip on every pass, so bus
    // traffic alone says nothing. Another chip or another root starts over.
    static uint64_t lastBytes = ~0ull;
    static std::string lastRegs;
    static const VideoChipModel* lastChip = nullptr;
    static std::string lastRoot;
    VideoChipModel& chip = videoChip();
    if (&chip != lastChip || platform::root() != lastRoot) {
        lastChip = &chip;
        lastRoot = platform::root();
        lastBytes = ~0ull;
        lastRegs.clear();
    }
    const uint64_t bytes = chip.bytesReceived();
    if (bytes == lastBytes)
        return;
    lastBytes = bytes;
    // One read of the chip for both files: the text must describe the very registers recorded,
    // or a chip that moves on between two reads and comes back leaves the text wrong for good.
    const VideoChipStill still(chip);
    std::string regs = still.registerImage();
    if (regs == lastRegs)
        return;
    replaceFile("/var/sim/video_chip.bin", regs);
    replaceFile("/var/sim/video_chip.txt", describeVideoChip(still));
    lastRegs = std::move(regs);
}

}  // namespace sim
