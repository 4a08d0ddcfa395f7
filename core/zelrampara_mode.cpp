// User-mode slots, their mode files under "/data/modes" and the language check.
#include "core/zelrampara.h"

#include <QFileInfo>
#include <QMutexLocker>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/file_store.h"
#include "core/global.h"
#include "core/omenu.h"
#include "core/param_ranges.h"
#include "core/utils.h"
#include "platform/platform.h"

using namespace ramaddr;

namespace {

constexpr uint8_t kSaved = 0xAA;
constexpr uint8_t kEmpty = 0xFF;
constexpr unsigned kShortPauseUs = 100;
constexpr unsigned kLanguageCount = 5;
constexpr unsigned kSlotOsdOn = kSlotMarkerLen + (kOsdOn - kModeStart);   // the slot's own 0x84C

bool valid_slot(int k) { return k >= 0 && k < static_cast<int>(kUserModeCount); }

// Copies the OSD menu file to slot k's copy, written whole: a power cut leaves the old copy or
// the new one, never a part. False only when the copy could not be written: a menu file that is
// missing, not a plain file or larger than the file transfer takes has nothing to copy (as "cp"
// of no file).
bool copy_osd_menu(int k)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    std::string bytes;
    if (filestore::read_whole(kOmenuFile, bytes, filestore::kMaxTextFile) != filestore::Found::File)
        return true;
    return filestore::write_atomic(mode_osd_path(k).toStdString(), reinterpret_cast<const unsigned char*>(bytes.data()),
                                   bytes.size()) == 0;
}

// Whether the mode file at `path` is a plain file holding exactly `bytes` (a whole mode file).
bool holds_mode_file(const std::string& path, const unsigned char* bytes)
{
    unsigned char onDisk[kModeFileLen + 1];   // one more: a longer file differs
    size_t n = 0;
    return filestore::read_regular(path, onDisk, sizeof onDisk, n) == filestore::Found::File && n == kModeFileLen &&
           std::memcmp(onDisk, bytes, kModeFileLen) == 0;
}

}  // namespace

bool ZelRamPara::language_offered(unsigned language)
{
    return language < 32 && ((g_lcd_lang_valid >> language) & 1u);
}

int ZelRamPara::lowest_offered_language()
{
    for (unsigned l = 0; l < kLanguageCount; ++l)
        if (language_offered(l))
            return static_cast<int>(l);
    return -1;
}

unsigned ZelRamPara::ZelGetCurrentModeIndex()
{
    const unsigned mode = ram_para[kCurrentMode];
    return mode <= kUserModeCount ? mode : 0;
}

int ZelRamPara::ZelUserModeSaved(int k)
{
    if (!valid_slot(k))
        return 0;
    return ram_user_mode[k][0] == kSaved && ram_user_mode[k][1] == kSaved;
}

int ZelRamPara::ZelUserModeIndex(char index, char direction)
{
    constexpr int kNone = 256;
    const int start = index;
    const int n = static_cast<int>(kUserModeCount);
    if (start < 0 || start >= n)
        return kNone;
    // Slots in search order, as offsets from the start slot.
    int first, step;
    switch (direction) {
    case 2: first = 0; step = 1; break;       // index, index + 1, ..., wrapping round
    case 1: first = 1; step = 1; break;       // index + 1, ..., wrapping round to index
    case 0: first = -1; step = -1; break;     // index - 1 down, wrapping round to index
    default: return kNone;
    }
    for (int i = 0; i < n + (direction == 2 ? 1 : 0); ++i) {
        const int k = ((start + first + step * i) % n + n) % n;
        if (ZelUserModeSaved(k))
            return k;
    }
    return kNone;
}

int ZelRamPara::ZelLanguageChanged()
{
    if (ram_get_u16(ram_para, kLanguage) == ram_get_u16(ram_para_shadow, kLanguage))
        return 0;
    g_language = ram_para[kLanguage];
    if (language_offered(ram_para[kLanguage]))
        return 1;
    const int l = lowest_offered_language();
    if (l >= 0) {
        ram_para[kLanguage] = static_cast<unsigned char>(l);
        ram_para[kLanguage + 1] = 0;
        g_language = l;
    }
    return 1;
}

std::function<void(int k)> ZelRamPara::mode_removed;

int ZelRamPara::mode_file_write(int k, int operation, int osdOn)
{
    if (!valid_slot(k))
        return 0;
    unsigned char* slot = ram_user_mode[k];
    bool written = false;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        // The file is built first, so a file that cannot be written leaves the slot as it was.
        // The links write slots and image under the model's mutex: it is held for the copies
        // only, never through the file's write and sync.
        unsigned char file[kModeFileLen];
        file[0] = file[1] = kSaved;
        pthread_mutex_lock(&mutex);
        if (operation == 1)
            std::memcpy(file + kSlotMarkerLen, ram_para + kModeStart, kModeLen);
        else
            std::memcpy(file + kSlotMarkerLen, slot + kSlotMarkerLen, kModeLen);
        std::memcpy(file + kSlotMarkerLen + kModeLen, slot + kSlotMarkerLen + kModeLen,
                    kModeFileLen - kSlotMarkerLen - kModeLen);
        if (osdOn < 0)
            osdOn = ram_get_u16(ram_para, kOsdOn) == 1;
        const unsigned char marker[kSlotMarkerLen] = {slot[0], slot[1]};
        pthread_mutex_unlock(&mutex);
        // The change dispatcher rewrites every saved slot on each user-mode sync: a file that
        // already holds these bytes is left alone, without its write and syncs.
        const std::string path = mode_file_path(k).toStdString();
        written = !holds_mode_file(path, file);
        if (written && filestore::write_atomic(path, file, sizeof file) != 0)
            return 0;
        filestore::saved(path);
        // The slot takes the image copy (operation 1) and the saved marker; a slot's own bytes
        // stay as the links may have written them meanwhile. A rewrite (2) leaves a marker a
        // link changed meanwhile: a mode deleted over the link is not saved again by it.
        pthread_mutex_lock(&mutex);
        if (operation != 2 || std::memcmp(slot, marker, kSlotMarkerLen) == 0)
            std::memcpy(slot, file, operation == 1 ? kSlotMarkerLen + kModeLen : kSlotMarkerLen);
        pthread_mutex_unlock(&mutex);
        if (written)
            filestore::sync_and_settle();
    }
    // The mode's OSD copy belongs to the save: one that cannot be written fails it (and the
    // dispatcher's retry writes both again).
    bool whole = true;
    if (operation == 0) {
        const QString cmd = QString("cp  %1 %2").arg(kOmenuFile, mode_osd_path(k));
        ZEL_DEBUG("\n %s \n", cmd.toLatin1().constData());
        if (osdOn == 1) {
            whole = copy_osd_menu(k);
            written = true;
        }
    }
    if (written)
        filestore::sync_and_settle(kShortPauseUs);
    return whole ? 1 : 0;
}

// Removes the slot's mode file, and its OSD-menu copy when the slot had the OSD on. Only files
// that exist cost a shell command: the dispatcher deletes every empty slot on each user-mode
// sync. True when something was removed.
bool ZelRamPara::remove_mode_files(int k, bool osdCopy)
{
    bool removed = false;
    auto remove = [&](const QString& path) {
        if (!QFileInfo::exists(platform::rootPath(path)))
            return;
        Utils::system_mutex("rm  -rf  " + path);
        filestore::settle_us(kShortPauseUs);
        removed = true;
    };
    remove(mode_file_path(k));
    if (osdCopy)
        remove(mode_osd_path(k));
    return removed;
}

int ZelRamPara::delete_mode(int k, const unsigned char* decided)
{
    if (!valid_slot(k))
        return 0;
    const bool osdCopy = ram_get_u16(decided, kSlotOsdOn) == 1;
    if (remove_mode_files(k, osdCopy))
        filestore::sync_and_settle(kShortPauseUs);
    if (mode_removed)
        mode_removed(k);
    return load_slot(k, decided);
}

int ZelRamPara::mode_file_deal(int k, int operation)
{
    if (!valid_slot(k))
        return 0;
    if (operation == 1) {
        unsigned char decided[kSlotSize];
        pthread_mutex_lock(&mutex);
        std::memcpy(decided, ram_user_mode[k], kSlotSize);
        pthread_mutex_unlock(&mutex);
        return delete_mode(k, decided);
    }
    return load_slot(k, nullptr);
}

// Loads slot k from its file; a missing or unusable file empties the slot. After a delete
// (`decided`: the slot as the delete found it) the slot is only touched while it still holds
// that, and then also loses its OSD-on word when the OSD copy went with the file.
int ZelRamPara::load_slot(int k, const unsigned char* decided)
{
    unsigned char* slot = ram_user_mode[k];
    QMutexLocker lock(&Utils::_file_deal_mutex);
    // Read first, then copied under the model's mutex (the links' slot commands hold it).
    unsigned char file[kModeFileLen];
    size_t n = 0;
    std::string why;
    const std::string path = mode_file_path(k).toStdString();
    const filestore::Found found = filestore::read_regular(path, file, sizeof file, n, &why);
    if (found == filestore::Found::Unusable)
        filestore::set_aside(path, why, "the user mode is empty");
    pthread_mutex_lock(&mutex);
    if (decided && std::memcmp(slot, decided, kSlotSize) != 0) {
        // Written again since the delete decided: the writer's commit brings its file.
    } else if (found != filestore::Found::File) {
        slot[0] = slot[1] = kEmpty;
        if (decided && ram_get_u16(slot, kSlotOsdOn) == 1)
            ram_set_u16(slot, kSlotOsdOn, 0);
    } else {
        std::memcpy(slot, file, n);
    }
    pthread_mutex_unlock(&mutex);
    if (found != filestore::Found::File)
        return 0;
    filestore::sync_and_settle();
    return 1;
}

ZelRamPara::Recall ZelRamPara::recall_user_mode(int k)
{
    if (!ZelUserModeSaved(k))
        return Recall::Empty;
    // The mode over the factory image, so that only the mode's own fields can be found wrong: a
    // slot written by the links or read from a damaged file would otherwise reach the engine
    // (and the parameter file, which the next start would then replace whole).
    unsigned char mode[kRamSize] = {};
    std::memcpy(mode + kPersistStart, default_para_ramlist + kFileMarkerLen, kPersistLen);
    pthread_mutex_lock(&mutex);
    std::memcpy(mode + kModeStart, ram_user_mode[k] + kSlotMarkerLen, kModeLen);
    pthread_mutex_unlock(&mutex);
    std::vector<std::string> repairs;
    const unsigned repaired = paramcheck::repairImage(mode, repairs);
    // Printed whatever the debug switch, as the start-up load prints its repairs.
    if (repaired > paramcheck::kDamagedFileRows) {
        std::fprintf(stderr, "user mode %d: %u kinds of field out of range, the mode is not loaded\n", k + 1,
                     repaired);
        return Recall::Damaged;
    }
    for (const std::string& line : repairs)
        std::fprintf(stderr, "user mode %d: %s\n", k + 1, line.c_str());
    pthread_mutex_lock(&mutex);
    std::memcpy(ram_para + kModeStart, mode + kModeStart, kModeLen);
    ram_set_u16(ram_para, kCurrentMode, static_cast<uint16_t>(k + 1));
    pthread_mutex_unlock(&mutex);
    return Recall::Loaded;
}
