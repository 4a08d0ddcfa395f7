// The video engine. Its para_mutex and para_chg_flag are the commit point of the parameter image:
// a writer that wants its change applied locks para_mutex, writes the image, sets para_chg_flag
// (1 apply, 2 apply and have the change dispatcher sync the user-mode files) and unlocks.
//
// The engine owns the video chip's register access, brings the chip up from its worker thread
// (states 0-7) and then, on every pass (state 8), applies what changed in the image to the chip.
#pragma once

#include <pthread.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>

#include "core/ram_layout.h"
#include "core/worker_pace.h"
#include "engine/c331_osd.h"
#include "engine/c331_tables.h"

class c331_drv;
class ImageView;

// Fields of a port's copy of the input-source manager's video-information record (PI_HDMI_INFO).
namespace c331hdmi {
enum Field {
    kHact, kHsync, kHback, kHpol, kHtotal, kVact, kVsync, kVback, kVpol, kVtotal,
    kPfreq, kType, kDatamode, kLane, kIp, kNoSignal, kHdmiFields
};
}  // namespace c331hdmi

// ---- globals owned by the engine ----------------------------------------------------------------
// 1 once a port's windows were set up again; the input-source manager writes the input
// summaries of the parameter image only after that.
extern std::atomic<int> g_c331_source_online;
extern std::atomic<int> g_fpga_c331_start;      // 1 once the panel set-up of the bring-up is done
extern std::atomic<int> g_osd_update;           // OSD-menu reload request
extern std::atomic<uint8_t> g_force_bkcolor;    // 1: green background at bring-up; 2 once switched off

// One rectangle of an input or output window.
struct _ImageWindowDef_st {
    int HST;
    int HW;
    int VST;
    int VW;
};

// One piece of a window in one column (horizontal fields) and one row (vertical fields) of its
// channel grid, with the first/last marks of the columns and rows that hold a piece.
struct _ImageWindowDef2_St {
    int HST;
    int HW;
    int VST;
    int VW;
    int firstH;
    int lastH;
    int firstV;
    int lastV;
};

// Scaling of a window: mode 0 none, 1 shrink, 2 zoom; ratios 16.16, 0 where they do not apply.
struct _ScalingSt {
    int hmode;
    int vmode;
    uint32_t hshrink;
    uint32_t vshrink;
    uint32_t hzoom;
    uint32_t vzoom;
};

// A crop rectangle handed to the crop operations.
struct ST_RECT {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

// The engine's record of one window.
struct ST_WIN_INFO {
    uint16_t x;
    uint16_t y;
    uint16_t width;
    uint16_t height;
    uint8_t attr;       // bits 0-1 mirror
    uint8_t output;     // bit 0 black, bit 1 freeze
    uint8_t enable;     // 1: the window is shown
    uint8_t port;       // input number of the source, kNoInput when none
    uint8_t crop;       // crop entry index, kNoCrop when the source is not a crop
    uint8_t priority;
    uint8_t ochLst[8];
    uint8_t ochPosLst[8];
    uint8_t columns;
    uint8_t rows;
};
static_assert(sizeof(ST_WIN_INFO) == 32, "window records are 32 bytes");

// A layout preset handed out: count rectangles of four 32-bit words.
struct ST_MWIN {
    int count;
    int32_t (*rect)[4];
};

class c331_manage {
public:
    // ---- constants ----------------------------------------------------------------------------
    static constexpr int kPorts = 6;
    // Chip ports 0-3 are parallel inputs, 4 and 5 the V-by-One receivers.
    static constexpr int kFirstVboPort = 4;
    static constexpr int kIpChannels = 4;   // input channels with an input processor (weave fields)
    static constexpr bool isVboPort(int p) { return p == kFirstVboPort || p == kFirstVboPort + 1; }
    static constexpr int kOch = 8;
    static constexpr int kIch = 8;
    static constexpr uint32_t kOchBankStep = 16;   // bank offset between channels' blocks
    // Bank offset of channel `ch`'s register block.
    static constexpr uint32_t chBank(int ch) { return static_cast<uint32_t>(ch) * kOchBankStep; }
    // A channel number 0-7 (input and output channels are numbered alike).
    static constexpr bool isCh(int c) { return c >= 0 && c < kOch; }
    static constexpr uint32_t kForcedBkgGreen = 0x00FF00;   // the background g_force_bkcolor 1 forces
    static constexpr int kSetupDone = 8;          // worker state of the steady pass
    static constexpr int kIdReadsNeeded = 5;
    static constexpr uint8_t kChipId = 0x24;
    static constexpr uint8_t kNoInput = 0xFF;
    static constexpr uint8_t kNoCrop = 0xFF;
    static constexpr int kNoPort = -1;
    static constexpr int kMultiWinPresets = 10;
    static constexpr uint16_t kRotateAttr = 0x0004;   // attribute bit: rotated window
    static constexpr uint8_t kWinBlack = 0x01;        // output byte bit: the window shows black
    static constexpr uint8_t kWinFrozen = 0x02;       // output byte bit: the window holds its picture
    // Memory write mode 0-3 as the input channels' write-mode register takes it.
    static constexpr uint32_t memWriteModeCode(int mode)
    {
        return mode == 1 ? 128 : mode == 2 ? 1 : mode == 3 ? 17 : 0;
    }

    c331_manage();
    ~c331_manage();

    static c331_manage* p_c331_manage;
    // Creates the engine on the first call, opens the chip and starts the worker thread.
    static c331_manage* pInstance();

    // 0 nothing to apply, 1 apply the image, 2 apply it and rewrite the user-mode files.
    // Written under para_mutex; the engine's pass may test it without the lock.
    std::atomic<uint8_t> para_chg_flag{0};
    // Guards ram_para with its shadow and para_chg_flag.
    pthread_mutex_t para_mutex;

    // ---- manager and worker thread ------------------------------------------------------------
    // Opens the chip, reads its id once and starts the worker (when startThread). 0, or 255
    // when the device cannot be opened or the thread cannot start.
    int initialize(bool startThread = true);
    static void* c331manageThread(void* arg);
    // One round of the worker: an id read (states 0-4), a bring-up step (5-7) or a pass (8).
    void stepOnce();
    // Makes the worker thread leave its loop (tests and shutdown); waits for it.
    void stopThread();
    // True when the next round should follow at once instead of waiting for the tracking pace.
    bool workPending() const;
    // The worker is being stopped, or the box is: its waits end.
    bool stopping() const;
    // The worker's wait between rounds; a committed change wakes it (ParaCommit).
    WorkerPace pace;
    void load_system_param();
    void define_param();
    void Sleep(int ms);
    // The sleep used by every wait of the engine (microseconds); tests make it return at once.
    std::function<void(unsigned)> usleepFn;
    // The clock of the engine's timed waits (microseconds, monotonic); tests give it the clock
    // that their sleeps move.
    std::function<uint64_t()> clockUsFn;

    // ---- change application pass --------------------------------------------------------------
    void c331managerdeal(void* arg);
    // A word the LED output writes into the image to report what it shows now (the screen
    // closed by the schedule, the brightness the timed task set): the image and the engine's
    // record of what it applied take it together, so it is not applied back. The caller holds
    // para_mutex. False, and nothing written, while a change of that word waits to be applied:
    // the newer value then goes out over the reported one.
    bool adoptWord(unsigned addr, uint16_t value);
    // True while a change pass waits, without para_mutex, for the LED output's hand-over: it
    // applies the image it took before, so a word adopted now would be lost. Read under para_mutex.
    bool handingOver() const { return handingOver_.load(); }
    // A commit of the word at `addr` that the engine has not passed on to the other consumers of
    // the image yet (no pass has applied it, or a bring-up restart took it and has not served it).
    // For the end of the process, once the engine's thread has ended, and for a link that takes
    // a brightness record's start (it waits for a pass that runs, as the links' RAM writes do).
    bool wordNotPassedOn(unsigned addr);
    // A repeated bring-up took a change of the word at `addr` that it has not served to the other
    // consumers of the image yet. The caller holds para_mutex.
    bool takenNotServed(unsigned addr) const;

    // ---- bring-up and panel ---------------------------------------------------------------------
    void write_initial_setting(int fd, int clockFlag);
    void set_rtct(int fd, int mode);
    void load_param();
    void zelApi_PnlInit2(int ledW, int ledH, int out1W, int out1H, int splice);
    void zelApi_PnlInitOch3();
    int zelApi_PnlInitOch_diff(uint32_t* htt, uint32_t* vtt, int hblank, int vblank, int width,
                               int height);
    void zelApi_WriteRam(int address);
    void zelApi_c331InitRegPanel();
    void zelApi_initEnvC331();
    void zelApi_initEnvC331Default();
    void c331_debugEnv();
    // A window is shown exactly when its state word in the image is on.
    bool zelApi_IsWinShown(int w) const;

    // ---- register access (shorthands over the driver with this engine's descriptor) ----------
    void wr(uint32_t id, uint32_t value, uint32_t bankOffset = 0);
    uint32_t rd(uint32_t id, uint32_t bankOffset = 0);
    void wrMask(uint32_t id, uint32_t value, uint32_t mask, uint32_t bankOffset = 0);

    // ---- input ports and channels ----------------------------------------------------------------
    int zelApi_inputCvtC331(int input) const;
    int zelApi_GetPortDevId(int port) const;
    int zelApi_IsPatternGen() const;
    // 1 and the window's ports (6 = unused) for a dot-by-dot mode spanning several ports.
    int zelApi_GetWinDbdMultiPort(int w, int ports[kPorts]) const;
    int zelApi_IsWinValid(int w) const;
    void c331_SetInputsource(int w, int input);
    void load_hdmi();
    void check_port_valid(int fd);
    void check_input_port(int fd);
    // Input channels: 0 allocated, 1 allocated by moving another window's channel, 2 failed.
    int set_input(int w, int port);
    int check_ich_all(int w);
    int check_ich(int interlaced, int pair);
    int adjust_ich(int interlaced, int pair, int w);
    void reset_ich(int w);
    // Frees the window's input channels whatever it shows, so they stop writing.
    void releaseIch(int w);
    // Frees the window's input channels and its dot-by-dot memory: what a window that shows
    // nothing, or whose allocation failed, gives back.
    void releaseInputs(int w);
    // Frees the window's input channels and has it set up again, its dot-by-dot memory too: it
    // asks for its channels anew in window order.
    void askIchAgain(int w);
    // The port input channel ich carries: its part's port in a multi-port mode, else its window's.
    int ichPort(int ich) const;
    void set_ichsel(int fd, int w);
    void set_idual(int fd, int ich, int on, int port);
    void set_sypol(int fd, int vbo, int n);
    void set_VBOInput(int fd, int k);
    void set_VBORXfrange(int fd, int k, uint64_t pixelClock, int mode);
    void set_pict(int fd, int on, int n);
    void set_input_bkg(int fd, int port, int on);
    void set_input_bkg2(int fd, int w, int on);
    // Waits on the chip's field and frame events; each is bounded.
    int wait_ifld_change(int port);
    int wait_ofld_change(int och);
    // Reads the 2-bit field at `shift` of `id` (under the measurement hold) until it changes.
    int waitFieldChange(uint32_t id, int shift, int reads);
    bool wait1_pivs(int ich);
    // Arms frame latch `bit` at armId and, under the measurement hold, polls seen() up to `polls`
    // more times 1 ms apart; the latch is disarmed again either way.
    bool waitFrameLatch(uint32_t armId, uint32_t bit, int polls, const std::function<bool()>& seen);
    bool wait1_pivs2();
    void reset_dbd_mem(int w);
    int check_dbd_input(int port) const;
    int set_dbd_mem(int w, int mode);
    // Window w shows ports p among others (a multi-port dot-by-dot mode) or alone.
    bool winListsPort(int w, int p) const;
    // The port has no signal (its status word's no-signal bit); ports outside 0-5 have none.
    int oimgct(int port) const;
    // The window has no picture to hold: no port it shows has a signal.
    int winNoSignal(int w) const;

    // ---- layers, priority, freeze, fade ------------------------------------------------------------
    void c331_SetWinPriority(int w, int priority);
    void c331_SetWinPriority1(int fd);
    void c331_SetWinAttr(int w, int attr);
    void c331_SetWinOutput(int fd, int w, int flags);
    void c331_SetWinDbdMode(int fd, int w, int mode);
    // The dot-by-dot mode (1, 20 ... 51) image word 0-9 selects; another word selects single input.
    static int dbdModeOf(int word);
    // The mode a window's image flags and dot-by-dot word select: 0 with dot-by-dot off.
    static int windowDbdMode(uint16_t flags, int word);

    void win_freeze_sel(int fd, int w, int flags);
    void set_freeze(int fd, int on);
    void update_overlay_info();
    void set_overlay(int fd);
    void reset_layer_coef(int fd, int cascade);
    // Runs a fade of n + 1 output frames; false when a frame never came (the fade was finished
    // at once).
    bool set_layer_coef(int fd, int w, int n, int dir);
    void reset_act(int fd, int mode);

    // ---- window geometry and scaling ---------------------------------------------------------------
    void calc_iwin2(int w);
    void calc_owin2(int w);
    void calc_oact(const _ImageWindowDef_st* owin, _ImageWindowDef2_St* pieces, int w);
    void calc_scaling(const _ImageWindowDef_st* iwin, const _ImageWindowDef_st* owin, _ScalingSt* s);
    int check_stitching_win(int* w, int* partner);
    int check_stitching_chg();
    void set_display_window_ich(int fd, const _ImageWindowDef_st* iwin, const _ImageWindowDef_st* owin, int w);
    // False when the dot-by-dot memory refused the window: it gave its input channels and memory back.
    bool set_display_window_ich_dbd(int fd, int w, int mode);
    void set_display_window_och(int fd, const _ImageWindowDef_st* iwin, const _ImageWindowDef_st* owin, int w);
    // Line pitch (KiB) of window w's frame buffers, the same for writing and reading them.
    uint32_t linePitch(int w) const;
    // Window w's picture lies in the dot-by-dot memory rather than its main channel's buffers.
    bool usesDbdMemory(int w) const;
    // Address of the first pixel of window w's stored picture in frame buffer b (0-4).
    uint32_t pictureBase(int w, int b) const;
    // One input channel's part of a dot-by-dot picture: the port, the active area it carries and
    // where the part lies in the picture (pixels, lines), with what the channel stores of it: two
    // pixels a clock from a port carrying two, both fields of an interlaced port it weaves. An
    // empty part has width 0.
    struct DbdPart {
        int port;
        int hst, hw, vst, vw;
        int x, y;
        int px, lines;
    };
    static constexpr int kDbdParts = 4;
    // The parts of window w's picture in dot-by-dot `mode`, one per channel the mode needs; the count.
    int dbdParts(int w, int mode, DbdPart out[kDbdParts]) const;
    // Width (pixels) and height (lines) of the stored dot-by-dot picture the n parts make up.
    static void dbdPictureSize(const DbdPart parts[], int n, int* width, int* height);
    // The write mode window w's dot-by-dot picture is stored in with the input channels and the
    // dot-by-dot memory it holds (its parts, the channels carrying them and the picture's size
    // filled in), or geometry's no-mode where it cannot be stored.
    int dbdStoreMode(int w, int mode, DbdPart parts[kDbdParts], int* carried, int* width, int* height) const;
    // Window w's dot-by-dot picture can be stored with the input channels it holds: it is given
    // its dot-by-dot memory; false (and no memory) where it cannot.
    bool dbdStorable(int w);
    // Input channel ich stores interlaced port p's fields woven into frames (it has an input
    // processor).
    bool weavesFields(int p, int ich) const;
    // The write mode of a window on an interlaced input (8 bytes a 3 pixels).
    static constexpr int kFieldWriteMode = 2;
    // Input channel ich's input processor can keep port p's fields in write mode `mode`: a field
    // line fits the channel's slot and a field the plain buffers.
    bool fieldLineFits(int p, int ich, int mode) const;
    // Pixels a channel stores per line of port p's active area (two a clock where it carries two).
    int storedPixels(int p) const;
    // A parallel port carrying two pixels a clock, whose set-up halved the active width.
    bool twoPixelsPerClock(int p) const;
    // The set-up halved port p's active width: two pixels a clock (an interlaced parallel port
    // too, whatever its format code), or a V-by-One picture its channel pair divides.
    bool widthHalved(int p) const;
    // Width of port p's picture: the active width, both pixels of each clock where the set-up
    // halved it; what the input window and the crops count against.
    int pictureWidth(int p) const;
    // Lines of one plain frame buffer and bytes of one channel's slot on its lines.
    uint32_t plainBufferLines() const;
    uint32_t plainSlotBytes() const;
    // Bytes in front of the first pixel of window w's stored lines (both sides of the memory).
    uint32_t pictureOffset(int w) const;
    // Window w's rotation pattern as the channels' rotation register takes it, 4 bits a field.
    uint32_t rotationWord(int w) const;
    void set_lut_vzoom_4sym(int fd, uint32_t ratio, int ch);
    // One output frame of channel ch; false when none came within the bound.
    bool wait1_povs(int fd, int ch);
    static const uint8_t lut_set_lut_vzoom_4sym[24];

    // ---- output channels and window reprogramming ------------------------------------------------
    void set_output(int fd);
    // Input window `in` as an input channel stores it under the shrinks hr and vr it took to fit
    // its slot and frame buffer (0 where it took none), never larger than the output window `out`.
    static _ImageWindowDef_st storedArea(const _ImageWindowDef_st& in, const _ImageWindowDef_st& out, uint32_t hr,
                                         uint32_t vr);
    // Something of window w's picture (of its stitching master's) is stored: its input channels
    // were set up.
    bool storesPicture(int w);
    // Switches window w's output channels off.
    void switchOffOch(int w);
    void zelApi_forceColorDisable(int fd);
    // out[k] = the window's output channel at grid position k, -1 where none.
    void get_och(int w, int out[kOch]) const;
    void set_oscwct(int fd, int ch);

    // ---- multi-window channel allocation ---------------------------------------------------------
    void zelApi_MultiWinChAlloc(char init);
    void zelApi_MultiWinChOverlay();
    void zelApi_MultiWinChInit();
    void zelApi_MultiWinInit();
    void zelApi_MultiWinGet(ST_MWIN* out);
    void zelApi_PreviewCh();
    // Margin between the window and the edge of its channel grid: 0 left, 1 right, 2 up, 3 down.
    int zelApi_OchGetWinOffset1(const ST_WIN_INFO* info, int side) const;

    // ---- picture values ----------------------------------------------------------------------------
    void c331_SetBrightness(unsigned short value);
    void c331_SetContrast(int value);
    void c331_SetSharpness(int value);
    void c331_SetSaturation(int value);
    void c331_SetColorTemp(int packed);

    // ---- input crops -------------------------------------------------------------------------------
    // Binds crop entry (low byte of cropWord) to window w: its index and the entry's input.
    void c331_SetInputsourceCrop(int w, int cropWord);
    // Clamps rect to the window's input, switches the window's crop on or off, stores its edge
    // offsets in PM_OFFSET and reprograms the outputs.
    void c331_SetCrop(char w, char enable, ST_RECT* rect);
    // One edge margin (0 left, 1 right, 2 top, 3 bottom) of rect inside chip port's picture.
    int zelApi_CropGetOffset(int port, ST_RECT* rect, int type);
    // The picture a crop of port p is counted against: the width its channel stores (both pixels
    // of each clock) and the frame's lines (both fields of an interlaced input).
    void cropFrame(int p, int* width, int* height) const;
    // The offsets of every cropped window on chip port, again from the image's crop table.
    void zelApi_updateCrop(int port);

    // ---- test pattern and background ------------------------------------------------------------------
    // 0 after showing (or clearing) a pattern, -1 without a write while several windows are shown.
    int c331_SetPattern(int pattern);
    // After window 0 was laid out again (or the chip was brought up again): the pattern moves to
    // the channels the window holds now and leaves the ones it gave up; with several windows it
    // ends. `wanted` is the image's pattern word: a pattern refused or ended by several windows
    // is shown once one window is left, as a box started with that image and layout shows it.
    void followPatternLayout(int wanted);
    // The pattern generator draws over window w's output channels, which then need no background.
    bool patternCovers(int w) const;
    // Background colour of all eight output channels (the argument is not used).
    void zelApi_SetOutBkg(int unused);

    // ---- picture processing blocks ------------------------------------------------------------------
    // Input processor of input channel ich (0-3) for the port it carries.
    void set_ip(int fd, int ich);
    void set_nr(int fd, int ich, int port);
    void set_nr_block(int fd, int ich, int port);
    void set_nr_b_1080i(int fd, int ich, int port);
    void set_nr_b_1080p(int fd, int ich, int port);
    void set_nr_b_480i(int fd, int ich, int port);
    void set_nr_b_480p(int fd, int ich, int port);
    void set_nr_b_720p(int fd, int ich, int port);
    void set_nr_tpx(int fd, int ich, int port);
    void set_nr_mosq(int fd, int ich, int port);
    void set_nr_hvpx(int fd, int ich, int port);
    void set_diag(int fd, int ich, int port);
    void set_comb(int fd, int ich, int port);
    void set_mvflt(int fd, int ich, int port);
    void set_ipregs(int fd, int ich, int port);
    // Scaler shrink filters of a channel (0-7); ratio is 16.16.
    void set_lut_hshrnk(int fd, int ratio, int channel, int both);
    void set_lut_vshrnk_4sym(int fd, int ratio, int channel, int both);
    // The output channels of window w's grid in list order, channels outside 0-7 left out; the count.
    int winOchList(int w, int out[kOch]) const;
    // Memory write mode of each input channel of window w.
    void set_iscwct(int fd, int w);
    // Input select and noise-reduction enable of window w's input channels.
    void set_mct(int fd, int w, int ignoreInterlace);

    // ---- on-screen display -------------------------------------------------------------------------
    // Stores one OSD setting; 1 for a known type, 0 otherwise.
    int zelApi_OsdSet(int type, int value);
    // Replaces the OSD text: lineCount lines of lengths[i] codes each (cut to the buffer).
    int zelApi_OsdSetUnicode(int lineCount, const int* lengths, const wchar_t text[][c331osd::kLineCodes]);
    void update_osd(int fd);
    void set_osd(int fd, int scrolling);
    void set_scroll(int fd);
    void load_char();
    void load_bmp();
    // Graphics-engine operations; each starts one chip operation and waits for it (0, or 255
    // when the engine stays busy).
    int osd_copy(uint32_t src, uint32_t dst, int width, int height, int fromFlash);
    int osd_paint(int x, int width, int y, int height, int fill, uint32_t base);
    int osd_put_unicode_string(int x, int y, const uint16_t* codes);
    int osd_write_dma_sfl(uint32_t flashAddress, uint32_t dest, int type, uint32_t length);
    void gen_char();
    void set_char_color();
    // Splits the OSD area over the output-channel grid; the number of segments (columns x rows).
    int calc_osd(c331osd::Segment* out, int* columns);

    // ---- chip serial flash and fonts ------------------------------------------------------------------
    // 0, or 255 when the controller did not finish (or the request lies outside the flash).
    int write_flash(int fd, int address, int length, const char* data);
    // Reads length bytes into buffer, which holds capacity bytes; 255 when it would not fit.
    int read_flash(int fd, int address, int length, char* buffer, int capacity);
    // Erases count units from 4 KB block startBlock: type 0 4 KB, 1 32 KB, other 64 KB.
    int erase_flash(int fd, int startBlock, int count, char type);
    void read_c331_font(int fd);
    void update_font(int fd);
    // The same; false when the copy was cut short (a stop) or a font's copy failed.
    bool copy_fonts(int fd);

    // ---- diagnostics -----------------------------------------------------------------------------------
    // Prints every register of the dump list (on the caller's thread).
    void c331_print();
    void input_slidebar(int fd);
    void output_slidebar(int fd);
    void disable_slidebar(int fd);
    void vbyone_rx_ch1_seq(int fd);
    void vbyone_rx_ch2_seq(int fd);
    void read_c331_b174bug(int fd);
    void write_read_c331_b80_iacthstch5(int fd);
    void zelDbg_c331_param(int n = 0);
    void zelDbg_c331_print_regGrp(int group);
    void sync_c331_device_test_input(int fd);
    void sync_c331_device_test_frame_lock(int fd);

    // ---- state -----------------------------------------------------------------------------------
    int c331_fd = -1;
    c331_drv* driver = nullptr;
    std::atomic<uint8_t> c331_setup_state{0};
    int pattern_gen = 0;                 // non-zero while a test pattern is shown
    int pattern_shown = 0;               // the pattern number the generator was set to
    int pattern_och[kOch] = {};          // the output channels it was set on
    int pattern_ochs = 0;
    int osd_redraw_request = 0;
    int osd_setup_request = 0;
    int font_bits = 0;                   // fonts present: 1 32-dot CJK, 2 32-dot ASCII, 4 64 CJK, 8 64 ASCII
    c331osd::Settings osd;
    uint16_t osd_text[c331osd::kTextLines][c331osd::kLineCodes];
    int osd_line_count = 0;
    uint32_t font_chip_addr[c331osd::kFonts] = {};
    int prnEn[8] = {};                   // print switches; entry 6 the serial flash, 7 the signal checks
    // One whole serial-flash operation, DMA, graphics-engine operation, font reload or register
    // dump at a time: they share the controller's registers of bank 0x04 across threads.
    std::recursive_mutex osd_op_mutex;
    // A flash operation failed with the flash still busy; the next one starts only once the flash
    // is idle again, which clears it.
    std::atomic<bool> sfl_left_busy{false};
    bool flash_left_busy() const { return sfl_left_busy.load(); }

    // Per input port (chip port 0-5).
    int PI_HDMI_INFO[kPorts][16];
    int PI_UPDATE[kPorts];
    int g_chg_hdmi[kPorts];
    int PI_ACT[kPorts][4];
    int PI_STATE[kPorts];

    // Per window (0-5).
    int win_port[kWinCount];             // chip input port shown by the window, kNoPort for none
    int g_chg_win[kWinCount];            // geometry must be set up again
    int g_chg_input[kWinCount];          // input must be set up again (1 source, 2 channel moved, 3 timing)
    int g_chg_attr[kWinCount];           // mirror changed
    int g_chg_dbd[kWinCount];            // output flags / dot-by-dot changed
    int g_chg_overlay = 0;               // output-channel-to-window map changed
    int g_chg_order = 0;                 // stitching map changed
    int PM_WIN_FADE_IN[kWinCount];
    int PM_WIN_FADE_OUT[kWinCount];
    int PM_WIN_FADE_EN[kWinCount];
    int PM_WIN_DBD_MODE[kWinCount];
    int win_dbd_word[kWinCount];         // dot-by-dot input combination word of the image (0-9)
    int32_t working_set[kParamWords];    // the engine's working set, loaded from parameters_txt
    int PM_WIN_MARGIN[kWinCount][4];     // window inside its channel grid: left, right, up, down

    // Input ports: status word (bit 7 checked for signal, bit 0 no signal), the last
    // measurement, interlace mark and the V-by-One receivers' retry counters.
    struct PortMeasure {
        uint32_t htotal, hcount, vtotal, frame;
        uint8_t status;
        bool valid;                      // a measurement with signal is stored
    };
    // Bit 7 of print switch 7 traces every signal check.
    static constexpr int kPrnNoSignal = 7;
    static constexpr int kPrnNoSignalBit = 0x80;
    int PI_STATUS[kPorts];
    PortMeasure PI_MEAS[kPorts];
    // The port's video information changed since its last set-up: whatever it measures, its next
    // measurement sets it up again (no window may have been on it when the change came).
    bool info_changed[kPorts] = {};
    int PI_FV[kPorts];                   // frame rate of the last set-up
    int vbo_retry[2];
    // Dot-by-dot memory blocks: owner window or -1; each window's blocks or -1. The dot-by-dot
    // memory (five buffers from sys.memaddr, kDbdBufferBytes each) holds lines of kDbdPitch KiB;
    // a block is a band of kDbdBlockLines of them, and a window's picture takes consecutive
    // bands, so ports stacked under each other stay one picture.
    static constexpr int kDbdBlocks = 8;
    static constexpr int kDbdSlots = 4;
    static constexpr uint32_t kDbdBufferBytes = 0x0B280000;
    static constexpr uint32_t kDbdPitch = 32;    // line pitch of a dot-by-dot window's buffers, KiB
    static constexpr uint32_t kDbdBlockLines = kDbdBufferBytes / (kDbdPitch * 1024) / kDbdBlocks;
    int dbd_mem_owner[kDbdBlocks];
    int dbd_mem_slot[kWinCount][kDbdSlots];

    // Windows as taken from the image. wincnt counts the shown windows; pages switch windows on
    // one by one, so a shown window is found by zelApi_IsWinShown(w), never by w < wincnt.
    ST_WIN_INFO win_info[kWinCount];
    int wincnt = 0;

    // Layout presets: {window count, record}.
    struct MultiWinEntry {
        int count;
        ST_WIN_INFO* record;
    };
    MultiWinEntry multi_win[kMultiWinPresets];
    int32_t multi_win_rect[kMultiWinPresets][kWinCount][4];

    // System parameters (load_system_param), then what define_param derives.
    struct SystemParam {
        uint32_t clock1, clock2, clock3, clock4;
        uint32_t width, height;
        uint32_t HTT, VTT, HSW, HBP, VSW, VBP;
        uint32_t PS_VBOTX_MODE, PS_VBOTX_LAYOUT;
        uint32_t scalar[9];
        uint32_t memmap[8][5];   // each channel's five frame buffers, 8 KiB apart on a line
        uint32_t memcount;       // line pitch of the frame buffers, KiB (eight channels' slots)
        uint32_t memaddr[5];
        uint32_t osd_mem[7];
        uint32_t font_mem[4];
        // derived
        uint32_t ihstart, ihend, ivstart, ivend;
        uint32_t ohstart, ohend, ovstart, ovend;
        uint32_t line_wmul, line_hmul;
        uint32_t clock_quarter;
    } sys;
    int work_scalar_a = 1;
    int work_scalar_b = 32;
    int ich_owner[kIch];                 // window using the input channel, -1 none
    int och_owner[kOch];                 // window owning the output channel, kNoWin none
    int PM_AREA_NUM[kOch];               // grid position of the output channel, kNoArea none
    int PM_OVERLAY[kOch];                // mixer group 1-8 of the output channel
    int alloc_error = 0;                 // a window listed an output channel above 7
    // Each window's block of output channels as the allocation gave it, before the windows
    // sharing a rectangle were moved apart or refused (valid once och_alloc_kept is set).
    ST_WIN_INFO alloc_grid[kWinCount] = {};
    bool och_alloc_kept = false;
    static constexpr int kNoWin = 6;
    static constexpr int kNoArea = 8;
    int win_ich[kWinCount][kIch];
    int win_list[kWinCount];
    int seq_list[kWinCount][5];

    // Panel record.
    struct PanelRecord {
        uint16_t ledW, ledH;
        uint16_t areaA, areaB, areaC, areaD;
        uint16_t xoffs, yoffs;
        uint8_t ochColumns, ochRows;
        uint16_t splice;
        uint32_t split;
        uint32_t arrangement;
        uint16_t ochW, ochH;
        uint16_t HTT, HSW, HFP, VTT, VSW, VFP;
        uint8_t use1och;
    } panel;

    // Table of the default working set.
    static const int32_t parameters_txt[kParamWords];
    // Character-mode OSD defaults (15 words) and bitmap-mode defaults (4 words).
    static const uint32_t osd_char_txt[15];
    static const uint32_t osd_bmp_txt[4];

    // Processing levels of each port's input processor (0 off, 1-3 low to high), fixed at
    // bring-up for ports 0-3.
    struct IpLevels {
        int nr[5];      // pixel NR horizontal, vertical; temporal; block; mosquito
        int comb;
        int field;      // interlace field setting
        int diag;
        int mvflt;
    };
    static constexpr int kIpPorts = 4;
    IpLevels ip_levels[kPorts] = {};
    // The noise-reduction enable last written per port 0-3, -1 before the first write.
    int nren_old[kIpPorts] = {-1, -1, -1, -1};
    // Vertical shrink filter coefficients, row by ratio band (row 0 unused).
    static constexpr int kLutRows = 10;
    static constexpr int kLutTaps = 24;
    static const uint32_t lut[kLutRows][kLutTaps];
    void define_ip_param();

    // Crop state per window: on/off and the edge offsets left, right, top, bottom.
    int PM_CROP_EN[kWinCount] = {};
    int PM_OFFSET[kWinCount][4] = {};

    // Input and window state that the input and geometry operations keep and the picture
    // operations read: scan mode per port (not 0: fields), input and output window and memory
    // write mode per window.
    int PI_SCAN_MODE[kPorts] = {};
    _ImageWindowDef_st IWIN[kWinCount] = {};
    _ImageWindowDef_st OWIN[kWinCount] = {};
    int PM_MEM_WMODE[kWinCount] = {};

    // Window state of the geometry, layer and output operations.
    int PS_MEM_WMODE[kWinCount] = {};    // memory write mode the input set-up chose
    // Vertical ratio (16.16) the input channel shrinks a picture by so it fits a plain frame
    // buffer, 0 when the window's own scaling fits it; the output side reads the stored lines.
    uint32_t ich_vlimit[kWinCount] = {};
    // The same horizontally: the ratio a line too wide for the channel's slot is shrunk by.
    uint32_t ich_hlimit[kWinCount] = {};
    // Pixels a line and lines of the picture the window's input channels stored last.
    uint32_t ich_stored[kWinCount][2] = {};
    int PM_IACTHST[kWinCount] = {};      // input active start offsets
    int PM_IACTVST[kWinCount] = {};
    int PM_DBD_FIT[kWinCount] = {};      // dot-by-dot windows fit into their output window
    int PM_LAYER[kWinCount] = {};
    int PM_WIN_HMIRROR[kWinCount] = {};
    int PM_WIN_VMIRROR[kWinCount] = {};
    int win_och[kWinCount][kOch] = {};   // output channels of each window in channel order, -1 filled
    int overlay_count[kOch] = {};        // mixer group members, bottom first
    int overlay_member[kOch][kOch] = {};
    static constexpr int kRotFields = 5;  // rotation pattern: four buffers, then the held one
    int rot_pattern[kWinCount][kRotFields] = {};
    int win_frozen[kWinCount] = {};
    // The user's freeze as last committed; held only while the window's port has a signal.
    uint8_t win_freeze_asked[kWinCount] = {};
    int prev_och_owner[kOch] = {};
    int prev_win_ich[kWinCount][kIch] = {};
    int g_chg_stitch[kWinCount][2] = {};
    int pass_through[kWinCount] = {1, 1, 1, 1, 1, 1};
    // A window carried narrower than its picture between the input and the output side (the
    // pass-through path's width), as its last input set-up chose it, with the 16.16 ratio its
    // input channels shrank a line by (0 none): every later placement reads what was stored.
    bool width_limited[kWinCount] = {};
    uint32_t ich_hratio[kWinCount] = {};
    // The layout in use is the default one (the image's windows could not be shown): it has no
    // mirrors.
    bool default_layout = false;
    // Whether the image's windows cannot be shown as they stand on this panel, so that the
    // default layout is laid out instead (`say`: print why).
    bool imageNeedsDefaultLayout(const ImageView& img, bool say) const;
    // Channels whose window width was last written 0 by reset_act: not written again while unused.
    bool ich_cleared[kIch] = {};
    bool och_cleared[kOch] = {};
    // The window shows a picture but the input channels did not stretch to it at the last set-up.
    bool ich_short[kWinCount] = {};
    // The window's dot-by-dot picture could not be stored at its last set-up: it takes no input
    // channels until it is set up again.
    bool dbd_refused[kWinCount] = {};

    c331_manage(const c331_manage&) = delete;
    c331_manage& operator=(const c331_manage&) = delete;

private:
    void idStep();
    // Freezes again the windows of setUp whose user asked for a freeze and whose port has a signal.
    void holdFrozenWindows(int fd, const bool setUp[kWinCount]);
    // Zero every pattern generator register of output channel och, in the clearing order.
    void clearGenerator(int och);
    void setupState5();
    void setupState6();
    void setupState7();
    void reloadOsdMenu();
    // True when the panel was set up anew.
    bool passPanel(const ImageView& img, const ImageView& shd);
    void relayoutWindows(const ImageView& img, const ImageView& shd, unsigned from);
    // After a panel set-up for `img`: the LED output gets its outputs back unless another size
    // change is on its way (`gaveUp`: the wait for the LED output ran out).
    void handBackPanel(const ImageView& img, bool gaveUp);
    bool panelCommittedBehind(const ImageView& img);
    void handBackUnchangedPanel();
    void passPicture(const ImageView& img, const ImageView& shd);
    void passPriorities(const ImageView& img, const ImageView& shd);
    // False when a full re-layout took every window from the image.
    bool passWindows(const ImageView& img, const ImageView& shd);
    void passSourceChange(int w, const ImageView& img, const ImageView& shd);
    // Windows showing a crop entry changed on its own take it as a source change does.
    void passCrops(const ImageView& img, const ImageView& shd);
    // The window shows no input, as a box started with that source word shows none.
    void setNoInput(int w);
    void passFades(const ImageView& img, const ImageView& shd);
    void passEdid(const ImageView& img, const ImageView& shd);
    void passVolume(const ImageView& img, const ImageView& shd);
    void requestBrightness();
    void requestScreen();
    // After a repeated bring-up: the LED output (a new panel included), the inputs' EDIDs and the
    // audio source take what the image holds now where it differs from what they were last asked
    // for (`before`). Called with para_mutex held; released while the LED output hands over.
    void serveAfterRestart(const ImageView& img, const ImageView& before);
    // The derived panel words in the image hold the last panel set-up's values again (a
    // user-mode recall brings its own copies of them).
    void keepPanelWords(const ImageView& img);
    void passDebug();
    void passInputs();
    // The pass's input work done once: the ports measured and the windows on changed ports set up.
    void takeInputsOnce();
    void setUpUpdatedPorts();
    // Copies the image (under the model's mutex) into `to`; the caller holds para_mutex.
    static void takeImage(uint8_t* to);
    // Waits while the LED output blanks for an LED-size change; true when it gave up waiting.
    bool waitLedHandover();
    void writeOchBlock(uint32_t bankOffset);
    // Input ports.
    PortMeasure measurePort(int p);
    bool vboLanesValid(int k, int lanes);
    void vboRestartRegs(int k, uint32_t mask);
    void vboRestart(int k, uint32_t mask);
    void portLost(int p);
    // What a port's windows are set up from: whether it has a picture, its active area, its
    // format code and its scan.
    struct PortPicture {
        bool valid;
        std::array<int, 4> act;
        int state, scan;
        bool operator==(const PortPicture& o) const
        {
            return valid == o.valid && act == o.act && state == o.state && scan == o.scan;
        }
    };
    PortPicture portPicture(int p) const;
    bool portUnchanged(int p, const PortMeasure& m) const;
    bool portWanted(int p) const;
    void portSetup(int p, const PortMeasure& m);
    void writeWindowBkg(int w, int enable);
    // The background enable window w shows for `enable` asked by its port or pattern.
    int windowBkgEnable(int w, int enable) const;
    // Output channel och's background: its colour, then whether it shows.
    void writeOchBkg(int och, uint32_t colour, uint32_t enable);
    bool winChanged(int w) const;
    // Input channels.
    bool ichFree(int c) const;
    int firstFreeIch(std::initializer_list<int> order) const;
    bool winAvailable(int w) const;
    // The window shows a picture: it is available and has a place among the output channels.
    bool winShowsPicture(int w) const;
    // Which windows the input channels stretch to (see check_ich_all); the channels they take.
    int admitIch(bool admitted[kWinCount]) const;
    // Releases the input channels of windows they no longer stretch to and gives them to the
    // windows that need them (steps 1-2 of set_output); alloc_failed marks the windows left
    // without.
    void allocateIch(bool alloc_failed[kWinCount]);
    // Input channels and dot-by-dot memory for the windows, in window order: allocateIch, then
    // the dot-by-dot pictures that cannot be stored refused, round by round.
    void placeInputs(bool alloc_failed[kWinCount]);
    // The input channels and dot-by-dot memory as a start hands them out from nothing, in window
    // order, taken where a window would show otherwise with those kept (shown or not, fields
    // woven or not); the windows given other channels are set up again.
    void allocateAsAStart(bool alloc_failed[kWinCount]);
    // Per channel of the window's list: -1 none, 1 it weaves its part's fields, 0 it does not.
    void weaveSignature(int w, int sig[kIch]) const;
    // What placeInputs may change, kept to undo a trial of it.
    struct AllocState {
        int ichOwner[kIch];
        int winIch[kWinCount][kIch];
        int memOwner[kDbdBlocks];
        int memSlot[kWinCount][kDbdSlots];
        int chgWin[kWinCount], chgInput[kWinCount], chgDbd[kWinCount];
        bool refused[kWinCount], shortOf[kWinCount];
    };
    AllocState allocState() const;
    void restoreAllocState(const AllocState& s);
    bool portInterlaced(int w) const;
    // How many of window w's first input channels must weave fields (lie among 0-3): its
    // interlaced input's, or a dot-by-dot window's up to its last interlaced part.
    int weavingChannels(int w) const;
    // Input channel c, one of 0-3, may be moved to a channel without an input processor to make
    // room for window w: its window keeps the weaving channels it needs and its pairs whole.
    bool ichMovable(int c, int w) const;
    // Channel c (0-3) is held by a window after w that weaves one parallel interlaced input on
    // it: w comes first for it.
    bool weavesAfter(int c, int w) const;
    // The window after w that holds channel c (0-3) for an input it weaves there, or -1.
    int weavingAfter(int c, int w) const;
    // Window w carries an interlaced input on a channel that cannot weave it while one of the
    // weaving channels could be its, as windows set up in order hand them out.
    bool weaveWithheld(int w) const;
    // Window w carries an interlaced input on a channel that cannot weave it while one of the
    // weaving channels is held where windows set up in order would not have it: by a window
    // after w, or by a V-by-One pair that had a pair of channels 4-7 free of the windows before
    // it. The first window to set up again from, or -1.
    int weaveHeldFrom(int w) const;
    // A pair of channels 4-7 holds no channel of a window before o.
    bool pairFreeBefore(int o) const;
    // The first window to set up again from so that, as a start hands the channels out, a pair of
    // channels 4-7 is free for V-by-One window o: o itself, or a single progressive window before
    // it on one of them that a start puts on channels 0-3; -1 when none is.
    int pairFreedFrom(int o) const;
    // The same for a dot-by-dot window w whose interlaced parts lack weaving channels that V-by-One
    // pairs before it hold where windows set up in order would not have them: the first such
    // window to set up again from, or -1.
    int dbdWeaveHeldFrom(int w) const;
    // Window w's block of output channels as allocated (alloc_grid, or win_info without one).
    const ST_WIN_INFO& allocatedPlace(int w) const;
    // The windows of `use` all get idle output channels for the rectangles they share.
    bool ochFit(const bool use[kWinCount]) const;
    // Gives the output channels to the windows the channels stretch to (admitIch) and takes them
    // from the others; a window whose channels change is placed again.
    void admitOch();
    // Output channel owners and grid places from the windows' blocks; the channels' use bits.
    void ochOwnersFromGrids();
    // lists[w] = the channels whose owner is window w, in channel order, -1 filled.
    template <int N>
    static void listOwned(const int (&owner)[N], int (&lists)[kWinCount][N])
    {
        for (int w = 0; w < kWinCount; ++w) {
            int k = 0;
            for (int c = 0; c < N; ++c)
                if (owner[c] == w)
                    lists[w][k++] = c;
            while (k < N)
                lists[w][k++] = -1;
        }
    }
    void moveIch(int from, int to);

    pthread_t thread_{};
    bool threadStarted_ = false;
    std::atomic<bool> stop_{false};
    unsigned badIdReads_ = 0;
    unsigned lastIdPrintTick_ = 0;
    // The image as the chip and the requests to the LED output and the inputs were last brought
    // to it (taken by the bring-up, then by each change pass), under para_mutex. A change pass
    // applies what differs from it: the model's shadow follows the parameter file on the GUI
    // thread and may already hold a value that never reached the chip.
    uint8_t applied_[ramaddr::kRamSize] = {};
    uint8_t passImage_[ramaddr::kRamSize] = {};   // the image a change pass works from
    bool appliedTaken_ = false;                   // applied_ holds the bring-up's image
    std::atomic<bool> handingOver_{false};        // see handingOver()
    // A repeated bring-up: what applied_ held before it took the image again, so that the
    // requests of the changes committed between the restart request and the new image are raised.
    uint8_t served_[ramaddr::kRamSize] = {};
    bool restarted_ = false;
    // The derived panel words (image address, value) of the last panel set-up.
    struct PanelWord {
        unsigned addr;
        uint16_t value;
    };
    static constexpr int kDerivedPanelWords = 7;
    PanelWord panelWords_[kDerivedPanelWords] = {};
};
