#include "core/zelrampara.h"

#include <QMetaMethod>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/alerts.h"
#include "core/file_store.h"
#include "core/global.h"
#include "core/param_ranges.h"
#include "core/para_commit.h"
#include "core/utils.h"
#include "platform/platform.h"

using namespace ramaddr;

ZelRamPara* ZelRamPara::p_zelrampara_config = nullptr;
unsigned char g_cut_source_state[kCutSourceStateSize];
unsigned char g_image_current = 0;

namespace {

constexpr uint8_t kMarker = 0xAA;
constexpr unsigned kSlotLoadPauseUs = 100;

// The status presets of every start.
constexpr unsigned kStatusClearFrom = 37;
constexpr unsigned kStatusClearTo = 1060;     // inclusive
struct StatusPreset {
    unsigned index;
    uint8_t value;
};
constexpr StatusPreset kStatusPresets[] = {{37, 0x80}, {38, 0x1F}, {39, 0x06}, {40, 0}, {41, 0}, {42, 0}, {43, 0}};

constexpr unsigned kLangMaskDropBit = 17;     // bits 0 and 17 both set: the mask loses bit 0 and 16+
constexpr unsigned kFadeLowByte = 60;

// What the box uses in place of a parameter file it cannot use.
constexpr const char kDefaultsInstead[] = "the file is replaced by the defaults";
constexpr const char kShortInstead[] = "what it holds is used with the defaults for the rest, and stored whole";

bool marked(const unsigned char* file, size_t got)
{
    return got >= kFileMarkerLen && file[0] == kMarker && file[1] == kMarker;
}

// The persisted part from a parameter file's first `got` bytes (marker included). Bytes the file
// lacks keep the factory defaults, so a short file never leaves a zero screen size or no windows.
void take_persisted(const unsigned char* file, size_t got, unsigned char* image)
{
    const size_t n = std::min<size_t>(got - kFileMarkerLen, kPersistLen);
    std::memcpy(image + kPersistStart, file + kFileMarkerLen, n);
    std::memcpy(image + kPersistStart + n, default_para_ramlist + kFileMarkerLen + n, kPersistLen - n);
}

// Loads the parameter file into the image when it is a file with the marker; false otherwise.
bool load_from_file(unsigned char* image)
{
    unsigned char file[kRamSize];
    size_t got = 0;
    if (filestore::read_regular(kParameterFile, file, sizeof file, got) != filestore::Found::File ||
        !marked(file, got))
        return false;
    take_persisted(file, got, image);
    return true;
}

// Clears what power cuts left of interrupted writes and says at once when the data folder cannot
// take a file: the box then runs on what it loaded, and no change will survive a restart.
void check_data_folder()
{
    filestore::remove_stale_temps();
    const std::string folder = "the data folder " + platform::rootPath("/data");
    if (filestore::data_writable())
        alerts::clear(alerts::kDataNotWritable, folder + " takes files again");
    else
        alerts::raise(alerts::kDataNotWritable,
                      folder + " cannot be written: settings changed now are lost at the next start");
}

}  // namespace

QString mode_file_path(int k)
{
    return QString("/data/modes/custom_mode%1").arg(k + 1);
}

QString mode_osd_path(int k)
{
    return QString("/data/modes/MO%1.json").arg(k + 1, 2, 16, QLatin1Char('0'));
}

ZelRamPara::ZelRamPara()
    : ram_para{}, ram_para_shadow{}, ram_user_mode{}, reg_status{}
{
    pthread_mutex_init(&mutex, nullptr);
}

ZelRamPara::~ZelRamPara()
{
    pthread_mutex_destroy(&mutex);
}

ZelRamPara* ZelRamPara::pInstance()
{
    if (!p_zelrampara_config)
        p_zelrampara_config = new ZelRamPara();
    ZelRamPara* p = p_zelrampara_config;
    check_data_folder();
    p->load_parameter_file();
    filestore::settle_us(filestore::kSyncSettleUs);
    p->apply_startup_fixups();
    p->ZelCropSourceInit();
    p->refresh_shadow();
    for (unsigned k = 0; k < kUserModeCount; ++k) {
        p->mode_file_deal(static_cast<int>(k), 0);
        filestore::settle_us(kSlotLoadPauseUs);
    }
    p->preset_reg_status();
    // Last: what this start set aside is said already.
    filestore::restate_replaced();
    return p;
}

void ZelRamPara::load_parameter_file()
{
    unsigned char file[kRamSize];
    size_t got = 0;
    std::string why;
    const filestore::Found found = filestore::read_regular(kParameterFile, file, sizeof file, got, &why);
    if (found == filestore::Found::Missing) {
        ZEL_DEBUG("\n %s file un exist \n", kParameterFile);
        store_defaults();
        return;
    }
    ZEL_DEBUG("\n %s file exist \n", kParameterFile);
    if (found == filestore::Found::File && !marked(file, got)) {
        ZEL_DEBUG("\n ram_valid = %#x,%#x \n", got > 0 ? file[0] : 0, got > 1 ? file[1] : 0);
        ZEL_DEBUG("\n delete %s ,use the default para\n", kParameterFile);
        why = got == 0 ? "is empty" : got < kFileMarkerLen ? "is 1 byte long" : "does not start with its marker";
    }
    unsigned repaired = 0;
    if (why.empty()) {
        take_persisted(file, got, ram_para);
        if (!hold_to_ranges(repaired))
            why = "has " + std::to_string(repaired) + " kinds of field out of range";
    }
    if (!why.empty())
        filestore::set_aside(kParameterFile, why, kDefaultsInstead, [this] {
            filestore::settle_us(filestore::kSyncSettleUs);
            store_defaults();
        });
    else if (got < kRamSize)   // the file is made whole again: what it held and the defaults
        filestore::set_aside(kParameterFile, "is " + std::to_string(got) + " bytes long, not " + std::to_string(kRamSize),
                             kShortInstead, [this] { write_parameter_file(ram_para); }, filestore::NoRoom::Replace);
    else if (repaired)
        write_parameter_file(ram_para);
}

void ZelRamPara::store_defaults()
{
    filestore::write_atomic(kParameterFile, default_para_ramlist, kRamSize);
    filestore::sync_and_settle();
    // Not even the defaults could be stored: run on them from memory.
    if (!load_from_file(ram_para))
        std::memcpy(ram_para + kPersistStart, default_para_ramlist + kFileMarkerLen, kPersistLen);
}

bool ZelRamPara::hold_to_ranges(unsigned& repaired)
{
    std::vector<std::string> repairs;
    repaired = paramcheck::repairImage(ram_para, repairs);
    if (repaired > paramcheck::kDamagedFileRows)
        return false;
    // Printed whatever the debug switch: the box runs on other values than its file held.
    for (const std::string& line : repairs)
        std::fprintf(stderr, "parameter file %s: %s\n", platform::rootPath(kParameterFile).c_str(), line.c_str());
    return true;
}

void ZelRamPara::apply_startup_fixups()
{
    // Language: only an offered language may be shown.
    g_language = ram_para[kLanguage];
    if ((g_lcd_lang_valid & 1u) && ((g_lcd_lang_valid >> kLangMaskDropBit) & 1u))
        g_lcd_lang_valid &= 0xFFFEu;
    if (!language_offered(static_cast<unsigned>(g_language.load()))) {
        const int l = lowest_offered_language();
        if (l >= 0) {
            ram_para[kLanguage] = static_cast<unsigned char>(l);
            g_language = l;
        }
    }
    // Nothing stays frozen, blacked out, in a test pattern or in a user mode across a restart.
    for (unsigned w = 0; w < kUsedWindows; ++w) {
        const unsigned flags = window(w) + kWinFlags;
        ram_set_u16(ram_para, flags, ram_get_u16(ram_para, flags) & ~kWinFlagFrozen);
    }
    ram_set_u16(ram_para, kScreenClosed, 0);
    ram_set_u16(ram_para, kTestPattern, 0);
    ram_set_u16(ram_para, kCurrentMode, 0);
    ram_para[kSaveRequest + 1] = 0;
    pthread_mutex_lock(&mutex);   // a request of the run before is not one of this start
    written_requests_.clear();
    taken_requests_ = 0;
    mode_saves_.clear();
    pthread_mutex_unlock(&mutex);
    for (unsigned a = kFadeIn; a < kFadeIn + 4 * kWindowSlots; a += 2)
        ram_para[a] = kFadeLowByte;
}

void ZelRamPara::preset_reg_status()
{
    std::memset(reg_status + kStatusClearFrom, 0, kStatusClearTo - kStatusClearFrom + 1);
    for (const StatusPreset& p : kStatusPresets)
        reg_status[p.index] = p.value;
}

int ZelRamPara::test_signal(int code)
{
    QMutexLocker lock(&Utils::_test_signal_mutex);
    static const QMetaMethod reportSignal = QMetaMethod::fromSignal(&ZelRamPara::sig_update_para);
    const bool change = code == 1 || code == 2;
    if (!change || !isSignalConnected(reportSignal)) {
        emit sig_update_para(code);
        return 1;
    }
    if (QThread::currentThread() == thread()) {
        emit sig_update_para(std::max(code, waiting_report_.exchange(0)));
        return 1;
    }
    // Raise the waiting report to `code`, or post a new one when none waits. Compare-and-swap, so
    // a report is never raised just after this thread's serve took it.
    int waiting = waiting_report_.load();
    for (;;) {
        if (waiting != 0 && waiting >= code)
            return 1;
        if (waiting_report_.compare_exchange_weak(waiting, code))
            break;
    }
    if (waiting == 0)
        QMetaObject::invokeMethod(this, "emit_waiting_report", Qt::QueuedConnection);
    return 1;
}

// Without the report lock: the dispatcher's serve runs inside the emission, and the engine
// reports with its own lock held.
void ZelRamPara::emit_waiting_report()
{
    if (const int code = waiting_report_.exchange(0))
        emit sig_update_para(code);
}

int ZelRamPara::ram_para_save()
{
    return p_zelrampara_config ? p_zelrampara_config->test_signal(1) : 0;
}

void ZelRamPara::ram_para_reset()
{
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        if (filestore::write_atomic(kParameterFile, default_para_ramlist, kRamSize) == 0) {
            ZEL_DEBUG("\n ready to write default para ramlist ");
            filestore::sync_and_settle();
        }
        if (load_from_file(ram_para))
            filestore::sync_and_settle();
    }
    refresh_shadow();
}

unsigned int ZelRamPara::ZelRamParaDeal(unsigned char* data, unsigned short length, unsigned int address)
{
    if (address > kRamSize || length > kRamSize - address)
        return 1;
    if (length)
        std::memcpy(ram_para + address, data, length);
    if (address < kSaveRequest + 2 && address + length > kSaveRequest)
        note_save_request_written();
    return 0;
}

// Each request written is kept until a commit takes it: two clients' requests written before
// one commit (the word holding only the second) are both carried out.
void ZelRamPara::note_save_request_written()
{
    const uint16_t n = ram_get_u16(ram_para, kSaveRequest);
    if (n < 1 || n > kUserModeCount)
        return;   // nothing to save (the dispatcher clears a word out of range)
    written_requests_.erase(std::remove(written_requests_.begin(), written_requests_.end(), n),
                            written_requests_.end());
    written_requests_.push_back(n);
}

// The requests as they were written, for the modes they named then (the word may have been
// cleared or written again since), each with the image as this commit finds it.
void ZelRamPara::take_save_request()
{
    pthread_mutex_lock(&mutex);
    for (const uint16_t n : written_requests_) {
        // Every request written over a link is one of its own, even one for the mode the word
        // named before: the shadow may hold that word from an image copied before the commit.
        ModeSave save;
        save.mode = n;
        std::memcpy(save.content, ram_para + kModeStart, kModeLen);
        // A later request for the same mode ends where the earlier one would have: it is carried
        // out in its place, so at most one per mode waits.
        mode_saves_.erase(std::remove_if(mode_saves_.begin(), mode_saves_.end(),
                                         [n](const ModeSave& s) { return s.mode == n; }),
                          mode_saves_.end());
        mode_saves_.push_back(save);
        taken_requests_ |= 1u << n;
    }
    written_requests_.clear();
    pthread_mutex_unlock(&mutex);
}

ZelRamPara::SaveWord ZelRamPara::save_word(uint16_t n) const
{
    if (std::find(written_requests_.begin(), written_requests_.end(), n) != written_requests_.end())
        return SaveWord::Waiting;
    return n <= kUserModeCount && ((taken_requests_ >> n) & 1u) ? SaveWord::Taken : SaveWord::Untaken;
}

void ZelRamPara::clear_save_word()
{
    ram_set_u16(ram_para, kSaveRequest, 0);
    taken_requests_ = 0;
}

std::vector<ZelRamPara::ModeSave> ZelRamPara::take_mode_saves()
{
    std::vector<ModeSave> saves;
    saves.swap(mode_saves_);
    return saves;
}

bool ZelRamPara::mode_saves_waiting()
{
    pthread_mutex_lock(&mutex);
    const bool waiting = !mode_saves_.empty();
    pthread_mutex_unlock(&mutex);
    return waiting;
}

unsigned int ZelRamPara::ZelModeUserRamParaDeal(unsigned char* data, unsigned short length, unsigned int address)
{
    const unsigned n = (address >> 12) & 0xFFu;
    if (n < 1 || n > kUserModeCount)
        return 1;
    const unsigned offset = address & 0xFFFu;
    if (length > kSlotSize - offset)
        return 1;
    ZEL_DEBUG("\n write ram_user_mode = %#x \n", n);
    // At the commit point: recalling a mode copies its slot into the image under the same lock,
    // so it never takes half of a slot the links are rewriting.
    ParaCommit lock;
    pthread_mutex_lock(&mutex);   // and against the change dispatcher's mode-file work
    if (length)
        std::memcpy(ram_user_mode[n - 1] + offset, data, length);
    pthread_mutex_unlock(&mutex);
    return 0;
}

bool ZelRamPara::persisted_part_changed() const
{
    return std::memcmp(ram_para + kPersistStart, ram_para_shadow + kPersistStart, kPersistLen) != 0;
}

int ZelRamPara::save_parameter_file() { return save_parameter_file(ram_para); }

int ZelRamPara::save_parameter_file(const unsigned char* image)
{
    const int rc = write_parameter_file(image);
    if (rc == 0)
        filestore::saved(kParameterFile);
    return rc;
}

int ZelRamPara::write_parameter_file(const unsigned char* image)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    // The file keeps its marker and its tail; only image 0x300-0xFFF at offset 2 is new. A file
    // that has gone missing is written whole again.
    unsigned char file[kRamSize] = {};
    if (filestore::read_file(kParameterFile, file, sizeof file) < long(kFileMarkerLen))
        file[0] = file[1] = kMarker;
    std::memcpy(file + kFileMarkerLen, image + kPersistStart, kPersistLen);
    const int rc = filestore::write_atomic(kParameterFile, file, sizeof file);
    filestore::sync_and_settle();
    return rc;
}

bool ZelRamPara::parameter_file_holds(const unsigned char* image)
{
    unsigned char file[kFileMarkerLen + kPersistLen];
    return filestore::read_file(kParameterFile, file, sizeof file) == long(sizeof file) &&
           std::memcmp(file + kFileMarkerLen, image + kPersistStart, kPersistLen) == 0;
}

void ZelRamPara::refresh_shadow() { refresh_shadow(ram_para); }

void ZelRamPara::refresh_shadow(const unsigned char* image)
{
    std::memcpy(ram_para_shadow, image, kRamSize);
}
