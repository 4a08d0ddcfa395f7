// Installation of upgrade packages from a USB stick: the application, the sending-card programs
// in the flash behind each FPGA, and the OSD fonts in the video chip's serial flash.
//
// A package is checked whole before anything of it is installed: its heads must be readable,
// every child must lie inside the file and every child it would install must fit where it goes. The upgrade reads
// into buffers of its own (the links' transfer buffer may be in use by a PC at the same time).
// The application is written to a temporary file, synced and then moved over the running one;
// a failed write leaves the running application and schedules no restart. A program or font
// that was not written completely restarts nothing.
#include "ledout/usb_upgrade.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/config_engine.h"
#include "core/file_store.h"
#include "core/global.h"
#include "core/status_bytes.h"
#include "core/utils.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "ledout/bcd.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"
#include "ledout/fpga_para.h"
#include "ledout/rcv_card_cmd.h"
#include "platform/platform.h"
#include "ui/shell/mainwindow.h"

using namespace usbupgrade;

namespace {

std::function<void(unsigned)>& sleeper()
{
    static std::function<void(unsigned)> fn = [](unsigned us) { ::usleep(us); };
    return fn;
}
void pauseMs(unsigned ms) { sleeper()(ms * 1000u); }
void syncThenPause(unsigned ms)
{
    Utils::system_mutex(QStringLiteral("sync"));
    pauseMs(ms);
}

constexpr unsigned kUnreadablePauseMs = 100;
constexpr mode_t kAppMode = 0755;   // the new application must run
constexpr unsigned kChildHeadPauseMs = 100;
constexpr uint32_t kSector = 4096;
constexpr uint32_t kBlock32k = 32768;
constexpr uint32_t kSectorsPerBlock = kBlock32k / kSector;
constexpr uint32_t kProgramPiece = 32768;
constexpr uint32_t kFontPiece = 16384;
constexpr uint32_t kProgramLengthAt = 31;
constexpr uint32_t kFontEncodingAt = 5, kFontSizeAt = 18;
constexpr uint8_t kFontStatusByte = c331osd::kFontStatusByte;
constexpr uint8_t kAllFonts = 63;
constexpr int kEraseSector = 0, kEraseBlock = 1;

using rcv_card::rd16;
using rcv_card::rd32;

// ---- package file access -------------------------------------------------------------------------

// Reads exactly n bytes at `offset` of a file on the stick; false on anything less.
bool readAt(const std::string& path, uint64_t offset, uint8_t* out, uint32_t n)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    FILE* f = std::fopen(platform::rootPath(path).c_str(), "rb");
    if (!f)
        return false;
    const bool ok = fseeko(f, off_t(offset), SEEK_SET) == 0 && std::fread(out, 1, n, f) == n;
    std::fclose(f);
    return ok;
}

uint64_t fileSize(const std::string& path)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    return uint64_t(QFileInfo(platform::rootPath(QString::fromStdString(path))).size());
}

struct PackageHead {
    uint8_t fileType = 0, fileVersion = 0, publishType = 0;
    uint16_t controllerType = 0, fileNum = 0;
};

struct ChildHead {
    uint8_t type = 0;
    uint32_t length = 0, offset = 0;
    uint8_t version[6] = {};
    uint32_t flashAddr = 0;
    uint16_t secNum = 0;
};

struct Package {
    std::string path;
    uint64_t size = 0;
    PackageHead head;
    std::vector<ChildHead> children;
};

// Chip flash address of a font by its head (encoding 0 CJK, 1 ASCII; 0x20 or 0x40 dots), and the
// most it may hold (its head and glyph area); false for a font of another kind.
bool fontPlace(const uint8_t* head, uint32_t* address, uint32_t* room)
{
    struct Place { uint8_t encoding, size; uint32_t address, room; };
    static constexpr Place kPlaces[] = {{0, 0x20, 0x010000, 0x290023}, {0, 0x40, 0x450000, 0xA40023},
                                        {1, 0x20, 0x000000, 0x003023}, {1, 0x40, 0x410000, 0x00C023}};
    for (const Place& p : kPlaces)
        if (p.encoding == head[kFontEncodingAt] && p.size == head[kFontSizeAt]) {
            *address = p.address;
            *room = p.room;
            return true;
        }
    return false;
}

// Whether a child lies inside its file and, when this device would install it, fits its
// destination. Programs and applications of another controller are passed over, so their
// sizes are theirs.
bool childFits(const Package& p, const ChildHead& c)
{
    const uint64_t end = uint64_t(c.offset) + c.length;
    if (end > p.size)
        return false;
    const bool forThisController = p.head.controllerType == kControllerType;
    switch (c.type) {
    case kApplication:
        return !forThisController || (c.length > 0 && c.length <= kMaxApplication);
    case kFpga0Program:
    case kFpga1Program: {
        if (!forThisController)
            return true;
        uint8_t head[kProgramHead];
        if (c.length < kProgramHead || !readAt(p.path, c.offset, head, kProgramHead))
            return false;
        const uint32_t program = rd32(head + kProgramLengthAt);
        return program > 0 && program <= c.length - kProgramHead && program <= kProgramArea;
    }
    case kOsdFont: {
        uint8_t head[kFontHead];
        if (c.length < kFontHead || !readAt(p.path, c.offset, head, kFontHead))
            return false;
        uint32_t address = 0, room = 0;
        // A font of another kind is passed over when installing, so it does not spoil the package.
        return !fontPlace(head, &address, &room) || c.length <= room;
    }
    default:
        return true;   // passed over
    }
}

void printHead(const PackageHead& h)
{
    ZEL_DEBUG("\n FileType = %#x \n", h.fileType);
    ZEL_DEBUG("\n FileVersion = %#x \n", h.fileVersion);
    ZEL_DEBUG("\n PublishType = %#x \n", h.publishType);
    ZEL_DEBUG("\n ControllerType = %#x \n", h.controllerType);
    ZEL_DEBUG("\n FileNum = %#x \n", h.fileNum);
}

void printChild(const ChildHead& c)
{
    ZEL_DEBUG("\n file_type = %#x \n", c.type);
    ZEL_DEBUG("\n file_len = %#x \n", c.length);
    ZEL_DEBUG("\n file_offset = %#x \n", c.offset);
    ZEL_DEBUG("\n Version = %#x,%#x,%#x,%#x,%#x,%#x \n", c.version[0], c.version[1], c.version[2], c.version[3],
              c.version[4], c.version[5]);
    ZEL_DEBUG("\n File_Flashaddr = %#x \n", c.flashAddr);
    ZEL_DEBUG("\n SecNum = %#x \n", c.secNum);
}

// Reads a package's heads and checks it; false (and nothing to install) when any part is missing
// or does not fit.
bool readPackage(const std::string& path, Package* p)
{
    p->path = path;
    p->size = fileSize(path);
    uint8_t head[kHeadSize];
    const bool headOk = readAt(path, 0, head, kHeadSize);
    syncThenPause(headOk ? 1 : kUnreadablePauseMs);
    if (!headOk)
        return false;
    p->head = PackageHead{head[0], head[1], head[2], rd16(head + 18), rd16(head + 47)};
    printHead(p->head);
    for (uint32_t n = 0; n < p->head.fileNum; ++n) {
        uint8_t ch[kChildHeadSize];
        if (!readAt(path, kHeadSize + uint64_t(kChildHeadSize) * n, ch, kChildHeadSize))
            return false;
        ChildHead c;
        c.type = ch[0];
        c.length = rd32(ch + 1);
        c.offset = rd32(ch + 5);
        std::memcpy(c.version, ch + 9, sizeof c.version);
        c.flashAddr = rd32(ch + 15);
        c.secNum = rd16(ch + 19);
        printChild(c);
        if (!childFits(*p, c))
            return false;
        p->children.push_back(c);
    }
    return true;
}

std::string clockText(const TimeRealType& t)
{
    return std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" + std::to_string(t.second);
}

// Erases from `base` upward until `length` bytes are covered: a 32 KB block where one starts and
// fits, 4 KB sectors elsewhere. `erase(sector, mode)` is true when done.
template <typename Erase>
bool eraseCovering(uint32_t base, uint32_t length, Erase erase)
{
    for (uint32_t a = 0; a < length;) {
        const uint32_t sector = (base + a) / kSector;
        const bool block = sector % kSectorsPerBlock == 0 && a + kBlock32k <= length;
        if (!erase(sector, block ? kEraseBlock : kEraseSector))
            return false;
        a += block ? kBlock32k : kSector;
        pauseMs(1);
    }
    return true;
}

}  // namespace

void usbupgrade::setSleep(std::function<void(unsigned)> sleep)
{
    sleeper() = sleep ? std::move(sleep) : [](unsigned us) { ::usleep(us); };
}

// ---- the upgrade's steps -----------------------------------------------------------------------------

void fpga_manage::usb_upgrade_deal()
{
    // The step lives here; a start written by the page while an upgrade runs does not restart it.
    if (!usbRunning_) {
        usbRunning_ = true;
        usbStep_ = 0;
    }
    set_job(uint8_t(job_word() & 0xFF), usbStep_);
    switch (usbStep_) {
    case 0:
        if (g_update_flag.load() == 0 && g_mainwindow)
            g_mainwindow->update_start();
        IT8563WE_Get(&current_time);
        usb_upgrade_time = clockText(current_time);
        g_update_flag = 1;
        usb_file_list.clear();
        usbStep_ = 1;
        break;
    case 1: {
        const int listed = get_usb_file_list_path();
        ZEL_DEBUG("\n usb_updata_list = %d \n", listed);
        usbStep_ = 2;
        break;
    }
    case 2:
        usb_upgrade_main_deal();
        usbStep_ = 3;
        break;
    default:
        IT8563WE_Get(&current_time);
        usb_upgrade_time += "    " + clockText(current_time);
        if (g_update_flag.load() && g_mainwindow)
            g_mainwindow->update_over();
        ledpara::test_signal(104);
        g_update_flag = 0;
        usbStep_ = 0;
        usbRunning_ = false;
        set_job(uint8_t(job_word() & 0xFF), 0);
        g_usb_grade = 0;
        return;
    }
    set_job(uint8_t(job_word() & 0xFF), usbStep_);
}

int fpga_manage::get_usb_file_list_path()
{
    usb_file_list.clear();
    const QString folder = g_usb_grade_path == QLatin1String(" ")
                               ? QString::fromLatin1(kUsbRoot)
                               : QString::fromLatin1(kUsbRoot) + g_usb_grade_path + QLatin1Char('/');
    QDir dir(platform::rootPath(folder));
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDir::Unsorted);
    for (const QFileInfo& f : entries) {
        const QString suffix = f.suffix();
        if (suffix == QLatin1String("ZEL") || suffix == QLatin1String("ZELZK"))
            usb_file_list.push_back((folder + f.fileName()).toStdString());
    }
    return int(usb_file_list.size());
}

void fpga_manage::usb_upgrade_main_deal()
{
    usb_install = UsbInstallFlags{};
    for (const std::string& path : usb_file_list) {
        Package p;
        if (!readPackage(path, &p)) {
            ZEL_DEBUG("\n usb upgrade: %s refused \n", path.c_str());
            continue;
        }
        for (const ChildHead& c : p.children) {
            syncThenPause(kChildHeadPauseMs);
            installChild(p.path, p.head.publishType, p.head.controllerType, c.type, c.length, c.offset, c.version);
        }
    }
    finishUpgrade();
}

void fpga_manage::installChild(const std::string& path, uint8_t publishType, uint16_t controllerType, uint8_t type,
                               uint32_t length, uint32_t offset, const uint8_t* version)
{
    const bool skipEqual = publishType == kPublishSkipEqual;
    switch (type) {
    case kApplication:
        if (controllerType != kControllerType)
            return;
        if (skipEqual && std::memcmp(version, kAppVersion, sizeof kAppVersion) == 0)
            return;
        if (update_muc_file(path, offset, length) == 0)
            usb_install.app = 1;
        return;
    case kFpga0Program:
    case kFpga1Program: {
        if (controllerType != kControllerType)
            return;
        const int fpga = type == kFpga0Program ? 0 : 1;
        using bcd::decode;
        const bool same = decode(shadow(31, fpga)) == version[0] && decode(shadow(30, fpga)) == version[1] &&
                          decode(shadow(29, fpga)) == version[2] && shadow(28, fpga) == version[5];
        if (skipEqual && same)
            return;
        if (update_txc_file(path, 2 + fpga, offset) == 0)
            usb_install.fpga[fpga] = 1;
        return;
    }
    case kOsdFont: {
        ZelRamPara* m = ZelRamPara::p_zelrampara_config;
        if (!m || (statusbyte::load(&m->reg_status[kFontStatusByte]) & kAllFonts) >= kAllFonts)
            return;
        if (update_c331_osd_font_file(path, offset, length) == 0)
            usb_install.font = 1;
        return;
    }
    default:
        return;
    }
}

void fpga_manage::finishUpgrade()
{
    if (!usb_install.app) {
        for (int i = 0; i < kFpgas; ++i)
            if (usb_install.fpga[i])
                reset_fpga_rst(i);
        c331_manage* e = c331_manage::p_c331_manage;
        if (usb_install.font && e) {
            std::lock_guard<std::recursive_mutex> lock(e->osd_op_mutex);
            e->read_c331_font(e->c331_fd);
            e->update_font(e->c331_fd);
        }
        return;
    }
    if (g_app_reset_flag.load() != 0)
        return;
    Utils::system_mutex(QStringLiteral("chmod 777 -R %1").arg(kAppDir));
    pauseMs(10);
    if (Utils::system_mutex(QStringLiteral("mv %1  %2").arg(kAppTemp, kApp)) != 0) {
        // The running application stays; nothing to restart for.
        std::remove(platform::rootPath(kAppTemp).c_str());
        return;
    }
    if (g_update_status == 0) {
        ConfigEngine::edit_ini(QString::fromLatin1(ConfigEngine::kLauncherFile), [](QSettings& launcher) {
            launcher.beginGroup(QStringLiteral("app-1"));
            launcher.setValue(QStringLiteral("app_path"), QString::fromLatin1(ConfigEngine::kLauncherAppPath));
            launcher.setValue(QStringLiteral("app_name"), QStringLiteral("zelT71N"));
            launcher.endGroup();
        });
    }
    pauseMs(10);
    syncThenPause(20);
    syncThenPause(1000);
    G_reboot_tickTicks = G_timeTicks.load();
    g_app_reset_flag = 1;
}

// ---- children ----------------------------------------------------------------------------------------

int fpga_manage::update_muc_file(const std::string& path, uint32_t offset, uint32_t length)
{
    if (length == 0 || length > kMaxApplication)
        return 255;
    std::vector<uint8_t> buf(length);
    if (!readAt(path, offset, buf.data(), length)) {
        syncThenPause(kUnreadablePauseMs);
        return 255;
    }
    bool ok;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        ok = filestore::write_atomic(kAppTemp, buf.data(), length, kAppMode) == 0;
    }
    syncThenPause(10);
    return ok ? 0 : 255;
}

int fpga_manage::update_txc_file(const std::string& path, int device, uint32_t offset)
{
    uint8_t head[kProgramHead];
    if (!readAt(path, offset, head, kProgramHead)) {
        syncThenPause(kUnreadablePauseMs);
        return 255;
    }
    const uint32_t length = rd32(head + kProgramLengthAt);
    if (length == 0 || length > kProgramArea || uint64_t(offset) + kProgramHead + length > fileSize(path))
        return 255;
    const bool erased = eraseCovering(0, length, [&](uint32_t sector, int mode) {
        return drv().FPGA_SPI_FLASH_VBYONE_ERASE(device, sector, mode, 1) == 1;
    });
    if (!erased)
        return 255;
    std::vector<uint8_t> buf(fpga_drv::kWriteRoom + kProgramPiece);
    for (uint32_t at = 0; at < length; at += kProgramPiece) {
        const uint32_t n = std::min(kProgramPiece, length - at);
        if (!readAt(path, uint64_t(offset) + kProgramHead + at, buf.data() + fpga_drv::kWriteRoom, n)) {
            syncThenPause(kUnreadablePauseMs);
            return 255;
        }
        pauseMs(1);
        if (drv().FPGA_SPI_FLASH_VBYONE_WRITE(device, at, buf.data(), n) != 1)
            return 255;
    }
    return 0;
}

int fpga_manage::update_c331_osd_font_file(const std::string& path, uint32_t offset, uint32_t length)
{
    uint8_t head[kFontHead];
    uint32_t address = 0, room = 0;
    c331_manage* e = c331_manage::p_c331_manage;
    if (!readAt(path, offset, head, kFontHead)) {
        syncThenPause(kUnreadablePauseMs);
        return 255;
    }
    // A font of another encoding or size has no place of its own: it is not written anywhere.
    if (!fontPlace(head, &address, &room) || length == 0 || length > room || !e)
        return 255;
    std::lock_guard<std::recursive_mutex> lock(e->osd_op_mutex);
    const bool erased = eraseCovering(address, length, [&](uint32_t sector, int mode) {
        return e->erase_flash(e->c331_fd, int(sector), 1, char(mode)) == 0;
    });
    if (!erased)
        return 255;
    std::vector<uint8_t> buf(kFontPiece);
    for (uint32_t at = 0; at < length; at += kFontPiece) {
        const uint32_t n = std::min(kFontPiece, length - at);
        if (!readAt(path, uint64_t(offset) + at, buf.data(), n)) {
            syncThenPause(kUnreadablePauseMs);
            return 255;
        }
        pauseMs(1);
        if (e->write_flash(e->c331_fd, int(address + at), int(n), reinterpret_cast<const char*>(buf.data())) != 0)
            return 255;
    }
    return 0;
}
