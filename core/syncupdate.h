// The change dispatcher: the GUI-thread end of every change report.
//
// ZelRamPara::sig_update_para(int) and UsbServer::sig_usb_update(int) are connected to
// para_sync(int). It refreshes the page in front (by g_page_focus), shows the notice that page
// calls for, stores a requested user mode, keeps the mode files in step with the slots on code 2
// and saves the parameter file when image 0x300-0xFFF differs from the shadow.
//
// Page hook. Core knows no page class; a page plugs itself into the routing instead:
//
//     // when the page opens (e.g. in its constructor, after setting its g_... pointer):
//     SyncUpdate::set_page_refresh(4, [this](int code) { syncUpdate(); return false; });
//     // when it closes (on_Button_back_clicked, destructor):
//     SyncUpdate::clear_page_refresh(4);
//
// The callable runs on the GUI thread with the dispatcher's code. It returns true only when the
// page has a notice request of its own pending (the home page's mode-button notice: focus 1) and
// has cleared it; the dispatcher then shows notice 1. Every other page returns false; the notices
// of pages 4, 6, 9, 10, 12 and 24 come from the dispatcher's own table. A routed focus whose page
// has not registered does nothing; a focus that is not routed (0-12, 16, 24) runs only the
// language check.
//
// Notice hook: the shell sets it once (to TIP::tip_create on g_tip): 1 check mark, 3 USB drive
// connected, 4 USB drive unplugged, 5 reading data.
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <vector>

class ZelRamPara;

class SyncUpdate : public QObject {
    Q_OBJECT

public:
    static SyncUpdate* p_SyncUpdate;
    static SyncUpdate* pInstance();

    using PageRefresh = std::function<bool(int code)>;
    using NoticeHook = std::function<void(int kind)>;

    // Registers the refresh of the page shown at `focus`; false when that focus is not routed.
    static bool set_page_refresh(int focus, PageRefresh refresh);
    static void clear_page_refresh(int focus);
    static void set_notice_hook(NoticeHook hook);

    // The mode-file work of code 2 runs a tick's worth at a time from the event loop, so that the
    // panel and a stop never wait for sixteen files: true while some of it is left.
    bool file_work_pending() const;
    // Does what is left of it at once (the end of the process, tests).
    void finish_file_work();
    // The end of the process, the workers stopped: the report the video engine still owed for a
    // commit (`owed`: its change flag, 0 none, 1 a change, 2 a change and the mode files) served as
    // it would have been, then all the file work left.
    void finish_at_stop(int owed);
    // How long one turn of the mode-file work may go on (it always does one file).
    static constexpr int kFileWorkTurnMs = 10;
    // Test back door: when set, it is asked after each file whether the turn is over, in place of
    // the turn's time.
    static std::function<bool()> turn_over;

public slots:
    void para_sync(int code);

private:
    SyncUpdate();

    void refresh_page(int code);
    // A mode stored in its slot whose files are then to be written; `osdOn` as the saved image
    // has it.
    struct SavedMode {
        int slot;
        int osdOn;
    };
    static void store_mode(ZelRamPara* model, uint16_t n, const unsigned char* content);
    static void serve_save_request(ZelRamPara* model, std::vector<SavedMode>& saves);
    void add_owed_saves(ZelRamPara* model, std::vector<SavedMode>& saves);
    enum class SlotFile : uint8_t { Keep, Delete, Rewrite };
    // What code 2 does with slot k; `decided` (kSlotSize bytes) takes the slot it decided on.
    static SlotFile slot_file(ZelRamPara* model, unsigned k, unsigned char* decided);
    // Puts every slot on the mode-file list (under the model's mutex).
    void plan_mode_file_work(ZelRamPara* model);
    // One turn of the mode-file work: files until `turnMs` have passed (at least one; -1 for no
    // limit). True when the plan has ended with it, `failed` telling whether a file could not be
    // written (planned again then, for the retry).
    bool mode_file_turn(int turnMs, bool& failed);
    void post_mode_file_turn();
    void serve_image();
    bool save_image(ZelRamPara* model, const std::vector<unsigned char>& image);
    void refresh_shadow_when_applied(ZelRamPara* model, const std::vector<unsigned char>& image);
    void retry_later();
    void serve_image_after(bool& pending, unsigned ms);
    void report_save(bool saved);

public:
    // While saving fails the dispatcher tries again this often (and on every report).
    static constexpr unsigned kSaveRetryMs = 5000;

private:
    bool retry_pending_ = false;
    bool save_retry_pending_ = false;
    bool mode_files_due_ = false;              // a code 2 waits for the image lock
    // The mode-file work under way: the slots whose file is still to be brought in step with
    // them, where the next turn goes on.
    std::vector<bool> mode_work_;
    unsigned mode_work_next_ = 0;
    bool mode_work_failed_ = false;
    bool mode_turn_posted_ = false;
    // Mode saves whose files (mode file or OSD copy) could not be written.
    std::vector<SavedMode> saves_owed_;
};
