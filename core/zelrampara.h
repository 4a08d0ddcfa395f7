// The device parameter model: the 4096-byte parameter image, its shadow copy, the 16 user-mode
// slots and the register and status area, with the window, crop, EDID-timing and user-mode
// operations. One object, created at start by pInstance() and reached by everyone through
// ZelRamPara::p_zelrampara_config.
//
// Writers of the image that want their change applied commit it at the video engine's commit
// point (para_mutex / para_chg_flag, see core/para_commit.h); the engine reports the change with
// test_signal(), and the change dispatcher (SyncUpdate::para_sync) then saves the image and
// copies it over the shadow.
#pragma once

#include <QObject>

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "core/ram_layout.h"

// One input crop: source word (entry byte 1 * 256 + byte 0), x, y, width, height.
struct CROP_PARA {
    int source;
    int x;
    int y;
    int width;
    int height;
};

// Crop ids in use, 40 bits per source 0-5 (source s owns bytes 5s to 5s + 4, LSB first); bit
// s * 40 + (id - 1) is set while crop id `id` of source s exists. Rebuilt by ZelCropSourceInit.
constexpr unsigned kCutSourceStateSize = 30;
extern unsigned char g_cut_source_state[kCutSourceStateSize];
// The window selected on the pages (0-5).
extern unsigned char g_image_current;

class ZelRamPara : public QObject {
    Q_OBJECT

public:
    static ZelRamPara* p_zelrampara_config;
    // Creates the model on the first call, then loads the parameter file and prepares the image.
    // Every call repeats the load, so it is called once, at start.
    static ZelRamPara* pInstance();

    // ---- change reports ------------------------------------------------------------------------
    // Emits sig_update_para(code) under Utils::_test_signal_mutex; returns 1. Any thread.
    // The change reports 1 and 2 of other threads are merged while one waits for this object's
    // thread (the GUI thread): the engine reports every commit, and the dispatcher's serve of one
    // covers every change made before it, so one waiting report carrying the highest code is
    // enough. A report made on this object's thread is emitted at once and takes the waiting one
    // with it. While nothing is connected a report reaches no one and nothing waits.
    int test_signal(int code);
    // test_signal(1) on the singleton.
    static int ram_para_save();
    // Rewrites the parameter file from the factory table and reloads image 0x300-0xFFF.
    void ram_para_reset();

    // ---- direct access by address (the protocol's RAM and user-mode address spaces) -------------
    // Copies into the image at `address`; 1 (nothing copied) when it would pass 0xFFF, else 0.
    unsigned int ZelRamParaDeal(unsigned char* data, unsigned short length, unsigned int address);
    // Address 0x1000 * n + k is byte k of user-mode slot n (1-16), marker included; 1 when n is
    // out of range or the copy would pass the end of the slot, else 0.
    unsigned int ZelModeUserRamParaDeal(unsigned char* data, unsigned short length, unsigned int address);

    // ---- window, source and crop operations ----------------------------------------------------
    void ZelCropSourceInit();
    int ZelGetCropID(int source, int n);
    int ZelAddCropID(int source);
    int ZelGetSourceNum(int source, int count);
    void ZelGetCropPara(int source, int n, CROP_PARA* out, int* index);
    void ZelSetCropPara(char source, char n, CROP_PARA* in);
    int ZelAddNewCrop(int source, CROP_PARA* in);
    void ZelDeleteCrop(char source, char n);
    int ZelSetImageSource(int n, char source, char window);
    unsigned char ZelGetImageSource(unsigned char* base, unsigned char window, short* is_crop,
                                    char* crop_index, unsigned char from_slot);
    int ZelSourceId_is_on(unsigned char id);
    int ZelSetEDIDPara(int port, short width, short height, short refresh);
    int ZelSetImageFreeze();
    int ZelSetImageBlack();

    // ---- user modes ----------------------------------------------------------------------------
    unsigned ZelGetCurrentModeIndex();
    int ZelUserModeSaved(int k);
    int ZelUserModeIndex(char index, char direction);
    int ZelLanguageChanged();
    // Writes mode file k + 1 (operation 1 copies the image into the slot first; operation 0 also
    // copies the OSD menu file when the OSD is on: `osdOn` 1 or 0 says so for a mode saved from an
    // earlier image, -1 takes image word 0x84C). 1 when the file was written, and with operation 0
    // the OSD copy too where one is made: a save is written whole or answered as failed. Takes the
    // model's mutex for its copies: never called with it held.
    int mode_file_write(int k, int operation, int osdOn = -1);
    // Loads slot k from its mode file (operation 1 deletes the file first). 1 when loaded. Like
    // mode_file_write it takes the model's mutex for its copies.
    int mode_file_deal(int k, int operation);
    // Deletes mode k's files and empties the slot, but only while the slot still holds `decided`
    // (kSlotSize bytes: the slot as the delete found it): a slot written again meanwhile (over a
    // link, before its commit) keeps what was written. 0, as mode_file_deal(k, 1).
    int delete_mode(int k, const unsigned char* decided);
    // Removes slot k's mode file, and its OSD copy when `osdCopy`, where they exist; true when one
    // was removed.
    bool remove_mode_files(int k, bool osdCopy);
    // Test back door: called with the slot after a delete removed its files, before it empties
    // the slot.
    static std::function<void(int k)> mode_removed;

    // ---- user-mode save requests (image word 0x364) --------------------------------------------
    // A request written over the links is taken at the commit that carries it (the first commit
    // after it): the image 0x380-0xFFF as it stood then, for the mode it named. The change
    // dispatcher carries the taken requests out in order; a later request or change never
    // replaces one taken. The word itself stays in the image until the dispatcher serves it, as
    // peers that read it expect.
    struct ModeSave {
        uint16_t mode;                              // 1-16
        unsigned char content[ramaddr::kModeLen];   // image 0x380-0xFFF at the commit
    };
    // The protocol's RAM write reached the word (under the model's mutex).
    void note_save_request_written();
    // At a commit (under the commit lock; takes the model's mutex).
    void take_save_request();
    // What the word `n` found by the dispatcher is (under the model's mutex).
    enum class SaveWord {
        Untaken,   // set by a page or left by a start: served from the image now
        Waiting,   // written over a link, its commit still to come
        Taken,     // taken at its commit: only the word is left to clear
    };
    SaveWord save_word(uint16_t n) const;
    // Clears the word (under the model's mutex).
    void clear_save_word();
    // The requests taken since the last call, in order (under the model's mutex).
    std::vector<ModeSave> take_mode_saves();
    bool mode_saves_waiting();
    // Recalls user mode k: copies its slot into image 0x380-0xFFF and makes it the current mode,
    // holding each field to its range as the start-up load does (each repair printed). A slot
    // with more kinds of field out of range than a start repairs is damaged as a whole: printed,
    // and the image is left as it was. Called at the commit point; the caller commits.
    enum class Recall { Loaded, Empty, Damaged };
    Recall recall_user_mode(int k);

    // ---- saving (the change dispatcher's) --------------------------------------------------------
    // True when a byte of 0x300-0xFFF differs between image and shadow.
    bool persisted_part_changed() const;
    // Writes image 0x300-0xFFF to the parameter file so that a power cut leaves the old or the new
    // file whole. 0 on success, 255 when it could not be written.
    int save_parameter_file();
    // The same from a copy of the whole image (taken under the commit lock).
    int save_parameter_file(const unsigned char* image);
    // True when the parameter file already holds image 0x300-0xFFF exactly.
    static bool parameter_file_holds(const unsigned char* image);
    // Copies the whole image (or a copy of it) over the shadow.
    void refresh_shadow();
    void refresh_shadow(const unsigned char* image);

    // ---- changes written without a commit (the protocol's RAM write) ----------------------------
    // Set and cleared under the commit lock (core/para_commit.h); while set, the dispatcher keeps
    // the shadow at the state before the change.
    void mark_uncommitted() { uncommitted_ = true; }
    void clear_uncommitted() { uncommitted_ = false; }
    bool has_uncommitted() const { return uncommitted_.load(); }

    // ---- data (in this order) ------------------------------------------------------------------
    // Guards the input summary 0x100-0x123, and the image and slots between the links' RAM writes,
    // the words the engine and the LED output write back, and the change dispatcher (taken after
    // the commit point and the file mutex when those are held; no file is written under it).
    pthread_mutex_t mutex;
    unsigned char ram_para[ramaddr::kRamSize];
    unsigned char ram_para_shadow[ramaddr::kRamSize];
    unsigned char ram_user_mode[ramaddr::kUserModeCount][ramaddr::kSlotSize];
    // Shared by threads: read and written through core/status_bytes.h only.
    unsigned char reg_status[ramaddr::kRegStatusSize];

signals:
    void sig_update_para(int code);

private:
    ZelRamPara();
    ~ZelRamPara() override;

    // save_parameter_file without ending the record of a file replaced at an earlier start: the
    // start-up's own repair of the file is no save the user asked for.
    int write_parameter_file(const unsigned char* image);

    // Language n is offered when its bit of g_lcd_lang_valid is set (32 and above never are).
    static bool language_offered(unsigned language);
    // The lowest offered language 0-4, or -1 when none of them is offered.
    static int lowest_offered_language();

    // Loads slot k from its file; after a delete only while the slot holds `decided`.
    int load_slot(int k, const unsigned char* decided);
    // Loads the parameter file; one that cannot be used is set aside and replaced.
    void load_parameter_file();
    // Writes the factory file and loads it (from memory when it cannot be stored).
    void store_defaults();
    // Holds the loaded image to the fields' ranges: each field out of range takes its default,
    // printed (`repaired`: how many kinds). False, with nothing printed, when so many are out of
    // range that the file is damaged.
    bool hold_to_ranges(unsigned& repaired);
    void apply_startup_fixups();
    void preset_reg_status();
    int find_crop_entry(int source, int n);

    std::atomic<bool> uncommitted_{false};
    // The save requests (under `mutex`): those the links' RAM writes left in the word, in order,
    // waiting for a commit; the modes of those taken since the word was last cleared (bit n); the
    // saves taken, at most one per mode (a later one for the same mode goes last in its place).
    std::vector<uint16_t> written_requests_;
    uint32_t taken_requests_ = 0;
    std::vector<ModeSave> mode_saves_;
    // The merged change report waiting for this object's thread (0: none).
    std::atomic<int> waiting_report_{0};
    // Queued by name, so that the call is made and taken inside Qt, as a queued signal is.
    Q_INVOKABLE void emit_waiting_report();
};

// Mode file of slot k ("/data/modes/custom_mode" + (k + 1)) and its OSD copy
// ("/data/modes/MO" + two lower-case hex digits of k + 1 + ".json").
QString mode_file_path(int k);
QString mode_osd_path(int k);

constexpr const char* kParameterFile = "/data/ram_device_info";
// The parameter file and the factory table begin with a two-byte marker, then image 0x300-0xFFF.
constexpr unsigned kFileMarkerLen = 2;
