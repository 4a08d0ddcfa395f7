// The one place that touches the operating system's devices.
//
// Two backends stand behind one interface: the board's real devices (spidev, i2c-dev, /dev/mem,
// MTD, termios) and a simulated board whose device models live in sim/. ZEL_BOARD=sim selects
// the simulated board; every system path ("/data/...", "/dev/...") goes through rootPath(), which
// puts ZEL_ROOT in front of it, so a run or a test lives in its own directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <QString>

namespace platform {

class CommandRunner;
class SpiBus;
class I2cBus;
class GpioWindow;
class MtdBus;
class SocIdentity;
class UeventSource;

// ---- paths ---------------------------------------------------------------------------------
// The root prefix (ZEL_ROOT, without a trailing slash; empty on the board).
std::string root();
// Maps a system path ("/data/ram_device_info") onto the root. Relative paths stay as they are.
std::string rootPath(const std::string& systemPath);
QString rootPath(const QString& systemPath);
inline std::string rootPath(const char* systemPath) { return rootPath(std::string(systemPath)); }
// Creates the directories of a system path (mkdir -p of its parent folder).
bool makeParentDirs(const std::string& systemPath);

// ---- board selection ---------------------------------------------------------------------------
bool isSim();  // ZEL_BOARD=sim

// The devices of the board. The first call picks the backend from ZEL_BOARD.
class Board {
public:
    virtual ~Board() = default;
    virtual CommandRunner& commands() = 0;
    virtual SpiBus& spi() = 0;
    virtual I2cBus& i2c() = 0;
    virtual GpioWindow& gpio() = 0;
    virtual MtdBus& mtd() = 0;
    virtual SocIdentity& soc() = 0;
    virtual UeventSource& uevents() = 0;
    virtual bool simulated() const = 0;
};

Board& board();
// Replaces the board (tests start each case with a fresh simulated board). Returns the old one.
std::unique_ptr<Board> setBoard(std::unique_ptr<Board> board);
std::unique_ptr<Board> makeRealBoard();
std::unique_ptr<Board> makeSimBoard();

inline CommandRunner& commands() { return board().commands(); }
inline SpiBus& spi() { return board().spi(); }
inline I2cBus& i2c() { return board().i2c(); }
inline GpioWindow& gpio() { return board().gpio(); }
inline MtdBus& mtd() { return board().mtd(); }
inline SocIdentity& soc() { return board().soc(); }
inline UeventSource& uevents() { return board().uevents(); }

}  // namespace platform
