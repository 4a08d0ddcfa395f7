#include "core/syncupdate.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "core/alerts.h"
#include "core/global.h"
#include "core/para_commit.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "platform/platform.h"

using namespace ramaddr;

SyncUpdate* SyncUpdate::p_SyncUpdate = nullptr;
std::function<bool()> SyncUpdate::turn_over;

namespace {

// Change codes that the dispatcher itself acts on.
constexpr int kCodeSyncModeFiles = 2;
constexpr int kCodeUsbIn = 100;
constexpr int kCodeUsbOut = 101;
constexpr int kCodeUsbReady = 102;
constexpr int kCodeUpgrade = 104;

// Notice kinds.
constexpr int kNoticeCheck = 1;
constexpr int kNoticeUsbIn = 3;
constexpr int kNoticeUsbOut = 4;
constexpr int kNoticeReading = 5;

constexpr unsigned kRetryMs = 10;

enum class Notice : uint8_t {
    None,
    Check,        // always notice 1
    PageRequest,  // notice 1 when the page reports its own request (home page)
    UsbOrCheck,   // 100/101/102 USB notices, 104 none, anything else notice 1
    UsbOnly,      // 100/101/102 USB notices, anything else none
};

struct Route {
    uint8_t focus;
    Notice notice;
};

// Pages by g_page_focus: 0 lock screen, 1 home, 2 status, 3 input source, 4 user modes, 5 settings,
// 6 output, 7 input crop, 8 EDID, 9 layout, 10 communication, 11 image quality, 12 advanced,
// 16 test pattern, 24 smart mapping.
constexpr Route kRoutes[] = {
    {0, Notice::None},       {1, Notice::PageRequest}, {2, Notice::None},   {3, Notice::None},
    {4, Notice::Check},      {5, Notice::None},        {6, Notice::Check},  {7, Notice::None},
    {8, Notice::None},       {9, Notice::Check},       {10, Notice::UsbOrCheck},
    {11, Notice::None},      {12, Notice::Check},      {16, Notice::None},  {24, Notice::UsbOnly},
};

const Route* route_of(int focus)
{
    for (const Route& r : kRoutes)
        if (r.focus == focus)
            return &r;
    return nullptr;
}

std::array<SyncUpdate::PageRefresh, 256>& page_refresh()
{
    static std::array<SyncUpdate::PageRefresh, 256> table;
    return table;
}

SyncUpdate::NoticeHook& notice_hook()
{
    static SyncUpdate::NoticeHook hook;
    return hook;
}

void notice(int kind)
{
    if (notice_hook())
        notice_hook()(kind);
}

// The USB notices of the communication and smart-mapping pages; false for other codes.
bool usb_notice(int code)
{
    switch (code) {
    case kCodeUsbIn:
        ZEL_DEBUG("\n yes ,got the usb in");
        notice(kNoticeUsbIn);
        return true;
    case kCodeUsbOut:
        ZEL_DEBUG("\n yes ,got the usb out");
        notice(kNoticeUsbOut);
        return true;
    case kCodeUsbReady:
        notice(kNoticeReading);
        return true;
    default:
        return false;
    }
}

}  // namespace

SyncUpdate::SyncUpdate() {}

SyncUpdate* SyncUpdate::pInstance()
{
    if (!p_SyncUpdate)
        p_SyncUpdate = new SyncUpdate();
    return p_SyncUpdate;
}

bool SyncUpdate::set_page_refresh(int focus, PageRefresh refresh)
{
    if (!route_of(focus))
        return false;
    page_refresh()[static_cast<size_t>(focus)] = std::move(refresh);
    return true;
}

void SyncUpdate::clear_page_refresh(int focus)
{
    if (focus >= 0 && focus < static_cast<int>(page_refresh().size()))
        page_refresh()[static_cast<size_t>(focus)] = nullptr;
}

void SyncUpdate::set_notice_hook(NoticeHook hook)
{
    notice_hook() = std::move(hook);
}

void SyncUpdate::para_sync(int code)
{
    refresh_page(code);
    if (code == kCodeSyncModeFiles)
        mode_files_due_ = true;
    serve_image();
}

void SyncUpdate::refresh_page(int code)
{
    const int focus = g_page_focus.load() & 0xFF;
    const Route* route = route_of(focus);
    if (!route) {
        if (ZelRamPara::p_zelrampara_config)
            ZelRamPara::p_zelrampara_config->ZelLanguageChanged();
        return;
    }
    // A copy: the page may close itself (and clear its entry) while it refreshes.
    const PageRefresh page = page_refresh()[static_cast<size_t>(focus)];
    if (!page)
        return;   // the page is not open (or not built): nothing to refresh
    const bool page_request = page(code);
    switch (route->notice) {
    case Notice::None:
        break;
    case Notice::Check:
        notice(kNoticeCheck);
        break;
    case Notice::PageRequest:
        if (page_request)
            notice(kNoticeCheck);
        break;
    case Notice::UsbOrCheck:
        if (!usb_notice(code) && code != kCodeUpgrade)
            notice(kNoticeCheck);
        break;
    case Notice::UsbOnly:
        usb_notice(code);
        break;
    }
}

// Stores image content `content` (0x380-0xFFF) as user mode n and makes it the current mode.
void SyncUpdate::store_mode(ZelRamPara* model, uint16_t n, const unsigned char* content)
{
    unsigned char* slot = model->ram_user_mode[n - 1];
    slot[0] = slot[1] = 0xAA;
    ram_set_u16(model->ram_para, kCurrentMode, n);
    std::copy(content, content + kModeLen, slot + kSlotMarkerLen);
    ZEL_DEBUG("\n user mode save change ,%#x \n", slot[0]);
}

// The saves to carry out (under the model's mutex), each stored in its slot here: first those
// taken at their commits, in order, then the request word. The word is served as it always was,
// except that a request taken at its commit is saved as it stood then (here only its word is
// cleared), and one written over a link and not committed yet waits for its commit.
void SyncUpdate::serve_save_request(ZelRamPara* model, std::vector<SavedMode>& saves)
{
    auto add = [&saves](int k, int osdOn) {
        saves.erase(std::remove_if(saves.begin(), saves.end(), [k](const SavedMode& s) { return s.slot == k; }),
                    saves.end());
        saves.push_back({k, osdOn});
    };
    for (const ZelRamPara::ModeSave& save : model->take_mode_saves()) {
        store_mode(model, save.mode, save.content);
        add(save.mode - 1, ram_get_u16(save.content, kOsdOn - kModeStart) == 1);
    }
    const uint16_t n = ram_get_u16(model->ram_para, kSaveRequest);
    if (n == 0)
        return;
    const ZelRamPara::SaveWord word = model->save_word(n);
    if (word == ZelRamPara::SaveWord::Waiting)
        return;
    // A word set otherwise than over a link is served once: the shadow holds one served already.
    // A taken one is only cleared, whatever the shadow took of the image meanwhile.
    if (word == ZelRamPara::SaveWord::Untaken) {
        if (n == ram_get_u16(model->ram_para_shadow, kSaveRequest))
            return;
        // The request word can be written over the links: only user modes 1-16 exist.
        if (n <= kUserModeCount) {
            store_mode(model, n, model->ram_para + kModeStart);
            add(int(n) - 1, ram_get_u16(model->ram_para, kOsdOn) == 1);
        }
    }
    model->clear_save_word();
}

// Saves that failed are written again (from their slots) while their modes are still saved.
void SyncUpdate::add_owed_saves(ZelRamPara* model, std::vector<SavedMode>& saves)
{
    std::vector<SavedMode> owed;
    for (const SavedMode& s : saves_owed_)
        if (model->ZelUserModeSaved(s.slot) &&
            std::none_of(saves.begin(), saves.end(), [&s](const SavedMode& n) { return n.slot == s.slot; }))
            owed.push_back(s);
    saves_owed_.clear();
    saves.insert(saves.begin(), owed.begin(), owed.end());
}

// What code 2 does with slot k, decided from its marker under the model's mutex when the slot's
// turn comes: an empty slot's file is deleted, a saved slot's file rewritten. A save or a delete
// served since the report (the panel, a PC's save request) is what the slot holds then, so the
// work follows it instead of undoing it.
SyncUpdate::SlotFile SyncUpdate::slot_file(ZelRamPara* model, unsigned k, unsigned char* decided)
{
    pthread_mutex_lock(&model->mutex);
    const unsigned char* slot = model->ram_user_mode[k];
    std::copy(slot, slot + kSlotSize, decided);
    const SlotFile job = slot[0] == 0xFF || slot[1] == 0xFF   ? SlotFile::Delete
                         : slot[0] == 0xAA || slot[1] == 0xAA ? SlotFile::Rewrite
                                                                : SlotFile::Keep;
    pthread_mutex_unlock(&model->mutex);
    return job;
}

// Code 2 puts every slot on the list (a new report over the one under way as well; the work goes
// on where it was, so a stream of code-2 reports does not keep the last slots waiting). An empty
// slot clears the save request, as the report finds it (under the model's mutex).
void SyncUpdate::plan_mode_file_work(ZelRamPara* model)
{
    mode_work_.assign(kUserModeCount, true);
    for (unsigned k = 0; k < kUserModeCount; ++k) {
        const unsigned char* slot = model->ram_user_mode[k];
        if (slot[0] == 0xFF || slot[1] == 0xFF)
            model->clear_save_word();
    }
}

bool SyncUpdate::file_work_pending() const
{
    return std::any_of(mode_work_.begin(), mode_work_.end(), [](bool due) { return due; });
}

void SyncUpdate::finish_file_work()
{
    bool failed = false;
    while (file_work_pending())
        if (mode_file_turn(-1, failed))
            report_save(!failed);
}

void SyncUpdate::finish_at_stop(int owed)
{
    if (owed == kCodeSyncModeFiles)
        mode_files_due_ = true;
    // A save taken at an acknowledged commit is carried out whether or not its report came.
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (owed != 0 || (model && model->mode_saves_waiting()) || !saves_owed_.empty())
        serve_image();
    finish_file_work();
}

void SyncUpdate::post_mode_file_turn()
{
    if (mode_turn_posted_ || !file_work_pending())
        return;
    mode_turn_posted_ = true;
    QTimer::singleShot(0, this, [this] {
        mode_turn_posted_ = false;
        bool failed = false;
        if (mode_file_turn(kFileWorkTurnMs, failed))
            report_save(!failed);
    });
}

// The file work itself runs without the model's lock; a file whose bytes are already on disk
// costs a read only.
bool SyncUpdate::mode_file_turn(int turnMs, bool& failed)
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (!model)
        return false;
    QElapsedTimer turn;
    turn.start();
    const unsigned n = static_cast<unsigned>(mode_work_.size());
    for (unsigned visited = 0; visited < n; ++visited) {
        const unsigned k = mode_work_next_ % n;
        const bool due = mode_work_[k];
        mode_work_[k] = false;
        mode_work_next_ = (k + 1) % n;
        unsigned char decided[kSlotSize];
        const SlotFile job = due ? slot_file(model, k, decided) : SlotFile::Keep;
        if (job == SlotFile::Delete)
            model->delete_mode(static_cast<int>(k), decided);
        else if (job == SlotFile::Rewrite && model->mode_file_write(static_cast<int>(k), 2) != 1)
            mode_work_failed_ = true;
        if (job != SlotFile::Keep && turnMs >= 0 && (turn_over ? turn_over() : turn.elapsed() >= turnMs))
            break;
    }
    if (file_work_pending()) {
        post_mode_file_turn();
        return false;
    }
    // A mode file that failed is written again from its slot, with all others, on the retry.
    failed = mode_work_failed_;
    mode_work_failed_ = false;
    if (failed)
        mode_files_due_ = true;
    return true;
}

// The image part of a report: the save request, the mode files, the parameter file and the shadow.
// The links' RAM writes land under the model's mutex (with the input summary's writer), so the
// image is read and written here under it too; the file work runs after it is released.
void SyncUpdate::serve_image()
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (!model)
        return;
    std::vector<unsigned char> image;
    std::vector<SavedMode> saves;
    bool modeFiles = false;
    pthread_mutex_lock(&model->mutex);
    serve_save_request(model, saves);
    add_owed_saves(model, saves);
    if (mode_files_due_) {
        plan_mode_file_work(model);
        mode_files_due_ = false;
        modeFiles = true;
    }
    // A change confined to 0x000-0x2FF is neither saved nor copied to the shadow.
    if (model->persisted_part_changed())
        image.assign(model->ram_para, model->ram_para + kRamSize);
    pthread_mutex_unlock(&model->mutex);

    bool wrote = !saves.empty() || !image.empty();
    bool saved = true;
    for (const SavedMode& s : saves)
        if (model->mode_file_write(s.slot, 0, s.osdOn) != 1) {
            // Written again, with its OSD copy, on the retry.
            saves_owed_.push_back(s);
            saved = false;
        }
    // A mode file that failed is written again from its slot, with all others, on the retry.
    if (!saved)
        mode_files_due_ = true;
    // The first turn now, the rest from the event loop (which reports their end).
    bool modeFilesFailed = false;
    if (modeFiles && mode_file_turn(kFileWorkTurnMs, modeFilesFailed)) {
        wrote = true;
        saved = saved && !modeFilesFailed;
    }
    if (!image.empty()) {
        ZEL_DEBUG("\n ram_para diffrent !");
        // When the file cannot be written the shadow keeps the old state, so the change is saved
        // on the next report (or the retry) instead of being lost.
        if (save_image(model, image))
            refresh_shadow_when_applied(model, image);
        else
            saved = false;
    }
    if (wrote)
        report_save(saved);
}

// The links and pages answered before this save ran: a failure can only be told from here, on
// stderr and on the home page, until a save works again.
void SyncUpdate::report_save(bool saved)
{
    if (saved) {
        alerts::clear(alerts::kSettingsNotSaved, "the settings are saved again");
        return;
    }
    alerts::raise(alerts::kSettingsNotSaved, "cannot save the settings under " + platform::rootPath("/data") +
                                                 ": they are kept in memory and saving is retried");
    serve_image_after(save_retry_pending_, kSaveRetryMs);
}

// Writes the persisted part of `image` unless the file already holds exactly that (a retry, or
// the engine's report of a change that was saved before it was applied, comes back with the same
// bytes, and the flash is not rewritten for it).
bool SyncUpdate::save_image(ZelRamPara* model, const std::vector<unsigned char>& image)
{
    return ZelRamPara::parameter_file_holds(image.data()) || model->save_parameter_file(image.data()) == 0;
}

// The shadow follows what is saved and applied: while para_chg_flag is set the engine has not
// applied the change yet, and while a RAM write waits for its commit nobody has asked it to. The
// shadow keeps the old state in both cases (the pages' comparisons still see the change), and the
// engine's own report after its pass brings the dispatcher back to refresh it. (The engine itself
// compares with what it applied last, not with the shadow.) The engine's mutex is only tried (a page on this
// thread may report while it holds it, and the engine holds it through a pass that can take
// seconds); a busy mutex brings the dispatcher back shortly.
void SyncUpdate::refresh_shadow_when_applied(ZelRamPara* model, const std::vector<unsigned char>& image)
{
    ParaCommit lock(std::try_to_lock);
    if (!lock.owns()) {
        retry_later();
        return;
    }
    if (lock.held() && (lock.flag() != 0 || model->has_uncommitted()))
        return;
    pthread_mutex_lock(&model->mutex);
    model->refresh_shadow(image.data());
    pthread_mutex_unlock(&model->mutex);
}

void SyncUpdate::retry_later() { serve_image_after(retry_pending_, kRetryMs); }

// One timer per reason: `pending` is set while it runs, so repeated calls do not stack timers.
void SyncUpdate::serve_image_after(bool& pending, unsigned ms)
{
    if (pending)
        return;
    pending = true;
    QTimer::singleShot(ms, this, [this, &pending]() {
        pending = false;
        serve_image();
    });
}
