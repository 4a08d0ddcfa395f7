// The FPGA manager: the two output FPGAs and the flash behind them, their GPIO lines, the
// register shadows and RAM images, the worker thread that brings the FPGAs up and runs the
// receiving-card jobs, and the LED screen switches.
//
// Other subsystems use the GPIO lines through setLine()/getLine(); they are safe to call in any
// state (before or after a failed initialize they act on a scratch window and reach no device).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <pthread.h>

class QMutex;

#include "core/worker_pace.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_lines.h"
#include "ledout/fpga_para.h"
#include "ledout/scan_para.h"

class QString;
class rcvRecovery;
class clock_record_run;

// ---- globals of the manager ------------------------------------------------------------------
constexpr int kChangeWords = 49;
extern uint32_t g_change[kChangeWords];
constexpr int kSendParaSize = 36;
// The receiving-card job block. Byte 0 job code, byte 1 job state: pages start a job, and jobs
// end, with one 16-bit store of both (fpga_manage::set_job).
extern uint8_t g_send_para[kSendParaSize];
extern uint32_t readtime_ticks;

// Requests of the screen switches (SCREEN_fpgactrl_status / SCREEN_fpgactrl_status2).
enum SCREEN_status : uint8_t {
    SCREEN_BLANK = 0,            // register 0 bit 2 set
    SCREEN_SHOW = 1,             // register 0 bit 2 clear
    SCREEN_R0B1_SET = 2,
    SCREEN_R0B1_CLEAR = 3,
    SCREEN_OUTPUT_ENABLE = 4,    // register 3 bit 5 set
    SCREEN_OUTPUT_DISABLE = 5,   // register 3 bit 5 clear
    SCREEN_NONE = 6,
    SCREEN_GATE_CLEAR = 7,       // register 23 bit 0 clear
    SCREEN_GATE_SET = 8,         // register 23 bit 0 set
    SCREEN_READ_STATUS = 9,      // register 22 into the shadow
    SCREEN_R23B3_SET = 10,
    SCREEN_R23B3_CLEAR = 11,
};

// The current-time record refreshed by the pass.
struct TimeRealType {
    uint16_t year = 0;
    uint8_t month = 0, day = 0, week = 0, hour = 0, minute = 0, second = 0;
};

class fpga_manage {
public:
    static constexpr int kFpgas = 2;
    static constexpr int kRegisters = 171;        // register numbers 0-170
    static constexpr int kRamImageSize = 1024;
    static constexpr int kEthParaSize = 136;
    static constexpr int kRegState = 80;          // shadow-only: bring-up state
    static constexpr uint8_t kStateRunning = 3;
    static constexpr uint8_t kRunning = kStateRunning;
    static constexpr int kRegOnOffEnable = 66;    // shadow-only: stored on/off schedule enabled
    static constexpr uint8_t kCheckLit = 18;      // post-bring-up check step once the screen is lit
    static constexpr uint8_t kStepUp = 7;         // bring-up step once brought up

    // Creates the manager on the first call (and maps its lines); the program keeps it to the end.
    static fpga_manage* pInstance();
    // Stops the worker thread before the state it steps goes.
    ~fpga_manage();
    static fpga_manage* p_fpga_manage;

    // ---- GPIO lines (16 high, 0 low; inputs in bit 0) ------------------------------------------
    void setLine(GpioLine line, uint16_t level) { lines_.set(line, level); }
    uint16_t getLine(GpioLine line) const { return lines_.get(line); }
    bool linesMapped() const { return lines_.mapped(); }

    // ---- start-up and the worker ---------------------------------------------------------------
    int initialize();
    void softinit();
    int initialize_start();
    static void* fpgamanageThread(void* arg);
    // One turn of the worker: an upgrade step while g_usb_grade is set, else a pass.
    void worker_step(void* arg);
    void fpga_manage_deal(void* arg);         // one pass
    void usb_upgrade_manage_deal(void* arg);  // one upgrade step
    // Hands the worker a request (a flag of the engine, a page or a link): its next pass runs at
    // once instead of after a quiet wait.
    void wake() { pace.wake(); }
    // True when a pass has nothing left but its timed checks: both FPGAs up and lit, no job,
    // no link waiting for pass-through replies, no request of the engine or the pages pending.
    bool quiet();
    // True when the pass left work that the next pass goes on with at once: a job runs, a link
    // waits for a pass-through reply, or a request of the engine waits, while both FPGAs run.
    bool busy();
    // Replies wait in an FPGA (as its interrupt service last saw).
    bool repliesWaiting();
    // Makes the worker thread leave its loop after its current pass and waits for it (tests).
    void stopThread();
    // Turns of the worker thread, and how many of them ended waiting for a tick.
    std::atomic<uint32_t> worker_passes{0};
    std::atomic<uint32_t> worker_waits{0};
    // The tick a quiet worker waits for: the next of its timed checks (V-by-One lanes, clock,
    // card search, brightness task), and at most kQuietPassTicks after `seen`, the tick read
    // before the pass.
    uint32_t quietWakeTick(uint32_t seen) const;
    // The ticks at which the next lane check of FPGA i and the next card search are due.
    uint32_t laneCheckDue(int fpga) const;
    uint32_t searchDue() const;
    // The tick at which the brightness task's next step is due, or `none` while it is off.
    uint32_t brightnessDue(uint32_t none) const;
    // Output path i is ready (its clock chip is set up); FPGA i is served only then.
    bool path_ready(int fpga) const;
    // Job block: code and state stored/read as one 16-bit word.
    static void set_job(uint8_t code, uint8_t state);
    static uint16_t job_word();

    // ---- FPGA access ---------------------------------------------------------------------------
    static uint32_t fpga_cmd_to_spi_data(uint8_t access, uint8_t ram_id, uint16_t address, uint8_t read);
    static uint32_t fpga_reg_cmd_to_spi_data(uint8_t access, uint8_t ram_id, uint8_t reg, uint8_t read,
                                             uint8_t mask);
    int read_fpga_register(uint8_t reg, uint8_t* out, int fpga);
    int write_fpga_register(uint8_t reg, uint8_t value, int fpga, uint8_t mask);
    void read_from_register(int reg, int fpga);
    void write_to_register(int reg, uint8_t mask, uint8_t value, int fpga);
    void write_to_0x00_register(int reg, uint8_t mask, uint8_t value, int fpga);
    int write_fpga_ram(const uint8_t* buffer, uint32_t address, uint32_t length, uint8_t ram_id, int fpga);
    int read_fpga_ram(uint8_t* buffer, uint32_t address, uint32_t length, uint8_t ram_id, int fpga);
    void write_LCD_register(uint8_t byte, const uint8_t* data, int fpga, uint32_t length);
    void fpga_flash_access() {}
    // The shadow byte of a register (0 for numbers outside the shadow), read under reg_mutex.
    uint8_t shadow(int reg, int fpga) const;

    // ---- bring-up, reset and status ------------------------------------------------------------
    void power_up_fpga_start(int force, int fpga);
    void fpgainit(int fpga);
    void power_up_check_fpga_status(int fpga);
    void reset_fpga_rst(int fpga);
    void check_fpga_rst();
    void reg_IRQ_Dealwith(int fpga, int force);
    void check_fpga_net_data_status(int fpga);
    uint8_t check_vbo_status(int fpga);
    int get_fpga_status();
    uint32_t get_wlan_state();
    void check_wlanonline_state();
    void FPGA_to_RAM(int fpga);
    void Version_to_RAM();
    void PHY_status_to_RAM();
    uint8_t bringup_step(int fpga) const { return powerStep_[fpga & 1]; }
    uint8_t check_step(int fpga) const { return checkStep_[fpga & 1]; }
    bool reset_pending(int fpga) const { return resetPending_[fpga & 1] != 0; }

    // ---- LED screen control --------------------------------------------------------------------
    void SCREEN_fpgactrl_status(uint8_t status);
    void SCREEN_fpgactrl_status2(uint8_t status, int fpga);
    int set_output_status();
    int set_fpga_bri_val();
    bool outputsTakeRequests();
    // Reports what the outputs now show as a word of the image (change code 1 when written). A
    // report that an LED-size change holds back is kept, and made again by the pass once that
    // change has ended.
    void reportShown(uint32_t address, uint16_t value);
    void set_led_para_deal();
    void Extension_function();

    // ---- USB upgrade packages (ledout/usb_upgrade.cpp) ----------------------------------------------
    // One step of the upgrade (worker thread, while g_usb_grade is set): 0 start, 1 list, 2 install,
    // 3 report the end (change code 104) and give the worker back to its passes.
    void usb_upgrade_deal();
    // Lists the "ZEL" and "ZELZK" files of the upgrade folder on the stick into usb_file_list.
    int get_usb_file_list_path();
    // Installs every listed package, then restarts what was renewed.
    void usb_upgrade_main_deal();
    // One child each: 0 when it was installed completely, 255 otherwise.
    int update_muc_file(const std::string& path, uint32_t offset, uint32_t length);
    int update_txc_file(const std::string& path, int device, uint32_t offset);
    int update_c331_osd_font_file(const std::string& path, uint32_t offset, uint32_t length);
    std::vector<std::string> usb_file_list;   // system paths of the packages found
    struct UsbInstallFlags {
        uint8_t app = 0;
        uint8_t fpga[2] = {0, 0};
        uint8_t font = 0;
    } usb_install;

    // ---- clock and run-time recorder (ledout/fpga_clock.cpp, ledout/clock_record_run) --------
    // Fills the record from the local clock.
    void IT8563WE_Get(TimeRealType* time);
    void run_clock_record();
    std::unique_ptr<clock_record_run> clock_record;

    // ---- brightness and the multifunction card (ledout/fpga_brightness.cpp) -------------------
    // Applies the brightness to both FPGAs: 1 done, 0 when they read back different values.
    int Brightness_hand_dealwith(int mode);
    // The same with the source of the value given: the image's brightness word (a user's change)
    // or FPGA 0's current level.
    int applyBrightness(bool userChange);
    // The brightness a bring-up lights both FPGAs with. The box starts with what it acknowledged:
    // the image's brightness word (as saved) wins over a fixed record that says otherwise (a
    // change whose record a stop or a power cut cut off), and the record is stored again from it.
    void applyLitBrightness();
    // At a stop, once this thread has ended: a brightness change not carried out yet (`committed`:
    // one the video engine has not passed on) is applied where the FPGAs take it and stored in
    // the record, so the next start shows it. Nothing before a bring-up has loaded the record: the
    // next start's light-up then takes the saved word.
    void storePendingBrightness(bool committed);
    void record_bright_change();
    void Brightness_init(const uint8_t* record);
    void Brightness_task();
    void Brightness_hand_change();
    void Brightness_time_change();
    void Brightness_auto_change();
    void Brightness_auto_filter();
    void Brightness_command(const uint8_t* rec);   // command 3 of the command record
    // The pass's apply of a brightness the video engine asks for (set_bri_flag).
    void takeBrightnessRequest();
    // A link took the start of a copy of the command record (before it runs apart).
    void recordTaken(const uint8_t* rec);
    void Brightness_check_VMF();
    void Send_read_VMF_data_cmd();
    void Brightness_read_VMF_value();
    void Brightness_VMF_run();
    void VMF_data_back_result();
    uint8_t HalfHourValue[48];
    std::atomic<uint8_t> bri_mode{0};   // also set by a PC's brightness command on another thread
    bool bri_record = false;   // the last load found a record
    bool bri_loaded = false;   // a bring-up has loaded the record (or found none) in this run
    uint8_t bri_last_slot = 255;
    uint8_t vmf_data[128] = {};
    // Called on every turn of the manager's short spin-waits (the multifunction card's reply):
    // tests advance the tick counter there; null on the board.
    static void (*spin_hook)();

    // ---- command record, clock setting and on/off schedule (ledout/fpga_schedule.cpp) -------
    // Runs the command record in the command RAM (a write of register 2 with bit 2).
    void Dealwith_mcu_ram();
    // Runs a copy of a command record taken when its start was written: a client's RAM writes
    // meanwhile do not change it under the record. False when its work was refused or cut short
    // (a clock the calendar has not, a schedule the flash did not take or erase): the client is
    // answered so.
    bool run_command_record(const uint8_t* rec);
    bool Checktime(const uint8_t* rec);
    // The box's clock was set (the clock record or the set-clock command): the recorder marks its
    // period, and the on/off schedule takes the state it gives for the new time and arms the day.
    void clockSet();
    void OnOff_time(const uint8_t* rec);
    void record_onoff_time(int device);
    void dealwith_onoff();
    void setOnOffEnable(uint8_t on);   // register shadow of the schedule's enable, under the state lock
    // The schedule's step runs: a stored one (register shadow 66 is 1), or one applied without
    // storing, which runs until a restart, an erase or a stored one.
    bool onoffRuns();
    // At the bring-up's light-up: a start (or a clock set) whose schedule says the screen is off
    // now keeps it dark, the state the schedule's next step takes.
    bool onoffKeepsDark();
    // Takes the state the schedule gives for the current time (see onoff_settle).
    void settleOnOff();
    // The screen state the schedule gives at minute `now` of the day: that of the latest switch
    // (kScreenOn 1, kScreenOff 0), or -1 without any switch. Under the state lock.
    int onoffStateAt(int now) const;
    static constexpr int kOnOffPlaces = 8;
    static constexpr int kOnOffEntries = 4;
    uint8_t onoff_count = 0;
    uint8_t on_hour[kOnOffPlaces] = {};
    uint8_t on_minute[kOnOffPlaces] = {};
    uint8_t off_hour[kOnOffPlaces] = {};
    uint8_t off_minute[kOnOffPlaces] = {};
    uint8_t on_armed[kOnOffPlaces] = {};
    uint8_t off_armed[kOnOffPlaces] = {};
    // The date (year << 16 | month << 8 | day) on which the entries were last armed: any change
    // of date arms them again, also a clock set to the same day of another month.
    uint32_t onoff_last_day = 0;
    std::atomic<bool> onoff_applied{false};   // a schedule applied without storing runs
    // Set at a start and by a clock set: the next step (once both FPGAs are lit) takes the state the
    // schedule gives for the current time, instead of waiting for the next switch's minute.
    std::atomic<bool> onoff_settle{true};
    bool onoff_reload = false;   // the stored schedule could not be read: the extension step tries again
    // A record read the flash did not answer, and its tick: the next try waits kRecordRetryTicks.
    static constexpr uint32_t kRecordRetryTicks = 100;
    bool record_unread = false;
    uint32_t record_unread_at = 0;
    void noteRecordUnread();

    // Records in the flash behind FPGA 0 (flash device 2): brightness and schedule.
    static constexpr uint32_t kBrightnessRecord = 0x6CE000;
    static constexpr uint32_t kScheduleRecord = 0x6CD000;
    // Erases the record's sector and writes `length` bytes, the flash held across both; false
    // when the record does not fit the command RAM it came from, or the flash did not take it
    // (then said in the log).
    bool store_record(uint32_t address, const uint8_t* data, uint32_t length);
    bool erase_record(uint32_t address);
    bool read_record(uint32_t address, uint8_t* out, uint32_t length);

    // ---- receiving-card jobs ----------------------------------------------------------------------
    // One step each per pass while the job block holds their job code. Smart mapping (job 1) and
    // the operation player in ledout/fpga_smartmapping.cpp, parameter save (3) and mapping enable
    // (4) in ledout/fpga_card_jobs.cpp, check (5), self-recovery (6) and scan-file load (2) in
    // ledout/fpga_recovery_check.cpp.
    enum RCV_CHECK_OR_RECOVERY { RCV_CHECK = 0, RCV_RECOVERY = 1, RCV_SCAN_LOAD = 2 };
    void SmartMapping_deal();
    void save_para_deal();
    void mapping_enable_deal();
    void rcv_recovery_check_deal(int mode);
    // Plays the reader's current operate record, its data at `offset` of `file`, on the port of
    // the reader's net record: one card (the job's card index) or, with all_cards, every card.
    // 1 once the operation is finished, -1 when it cannot be played, else 0.
    static constexpr int kPlayFailed = -1;
    int load_rcv_xy_operate(const QString& file, uint32_t offset, bool all_cards);
    // Reads record n of the operation file on the stick ("/mnt/usb1/" + g_jyfile_name) into
    // `scan`: 0 done; 1 when n is not below scan_para_num, the file does not open or the record
    // is not all there (scan then unchanged).
    int get_operate_deal_para(SCAN_PARA* scan, unsigned char n);
    uint8_t scan_para_num = 0;   // records get_operate_deal_para serves

    std::unique_ptr<rcvRecovery> rcv_recovery;   // the recovery and scan file reader
    uint8_t recover_screen = 0;            // where the last check found a faulty card
    uint8_t recover_net = 0;
    uint8_t recover_card = 0;

    // ---- receiving-card packets (ledout/fpga_builders.cpp) ----------------------------------------
    // Each fills `buf` (at least the packet length) and, except rcv_card_cmd_create, stores the
    // packet length in the job block (0 when the packet would not fit the send RAM).
    unsigned char rcv_card_cmd_create(unsigned char* buf, unsigned char port);
    unsigned char load_write_ram_cmd_create(unsigned char port, unsigned short index, unsigned int address,
                                            const unsigned char* data, unsigned short len, unsigned char* buf,
                                            bool broadcast);
    unsigned short rcv_active_firmware_cmd_create(unsigned char port, unsigned short index,
                                                  const unsigned char* data, unsigned short len,
                                                  unsigned char* buf);
    unsigned char ram_reset_cmd_create(unsigned char* buf, const SCAN_PARA* scan, unsigned char port);
    unsigned char save_para_cmd_create(unsigned char* buf, unsigned char port);
    unsigned short load_write_reg_cmd_create(unsigned char port, unsigned short index, const unsigned char* data,
                                             unsigned short len, unsigned char* buf, bool broadcast);
    unsigned short load_write_user_defined_cmd_create(unsigned char port, unsigned short index,
                                                      const unsigned char* data, unsigned short len,
                                                      unsigned char* buf, bool broadcast);
    unsigned short rcv_reconfig_cmd_create(unsigned char port, unsigned short index, const unsigned char* data,
                                           unsigned short len, unsigned char* buf);
    unsigned short load_search_rxc_cmd_create(unsigned char port, const unsigned char* data, unsigned short len,
                                              unsigned char* buf);
    unsigned short save_para2flash_cmd_create(unsigned char port, unsigned short index, unsigned char* buf,
                                              bool broadcast);
    unsigned char mapping_enable_cmd_create(unsigned char port, unsigned char* buf);
    void get_rcvcard_x_y(int index, unsigned short* x, unsigned short* y);

    // ---- sending to ports, replies, pass-through (ledout/fpga_send.cpp) ---------------------------
    int Send_to_port(const unsigned char* packet, unsigned short length, unsigned short port, unsigned char fpga);
    unsigned char wait_fpga_send_ready(unsigned char port, unsigned char fpga);
    void multi_port_send(unsigned char* packet, unsigned short length);
    int check_multi_port_send(unsigned int length, unsigned char* packet);
    int Dealwith1_PC_to_eth(unsigned int length, unsigned char* frame);
    // The link side of a pass-through: hand a frame over (under passby_mutex, reply flag cleared);
    // 1 when an answer can come, 0 when none can (nothing was sent, or no port it went to has
    // cards by the card count): then the hand-over is over at once, as after passby_give_up.
    // Then poll: 1 (flag cleared) once the cards' reply is queued for the waiting link, else 0;
    // kPassbyCutOff when an FPGA the frame went to has been reset since the hand-over (or was in
    // its reset pulse then): the frame is lost and no answer can come.
    // A link that gives up waiting calls passby_give_up: g_passby_trans_port is 255 again.
    static constexpr int kPassbyCutOff = 2;
    int passby_deliver(unsigned int length, unsigned char* frame);
    int passby_poll();
    void passby_give_up();
    // The ports a PC frame goes to by its bytes 6 and 7, bit Pg - 1 for port Pg (every bit for
    // a frame to all ports with cards).
    static uint32_t passby_target_ports(const unsigned char* frame);

    uint8_t passby_multi = 0;
    uint32_t passby_ack_mask = 0;
    uint8_t passby_tag = 0;
    uint8_t passby_addr_fffe = 0;
    // The frame a link waits on: only a reply with its tag from a port it went to answers it (a
    // late reply to a frame given up on is dropped, not taken for the next one, whose tag PC
    // software often reuses).
    uint8_t passby_waiting = 0;
    uint8_t passby_wait_tag = 0;
    uint32_t passby_wait_ports = 0;
    // Bit i: FPGA i has been reset since the frame a link waits on was handed over (set by the
    // pass's reset pulses, read under passby_mutex).
    std::atomic<uint8_t> passby_resets{0};
    uint32_t multi_send_time = 0;
    uint8_t vmf_reply_ready = 0;
    uint8_t vmf_reply_cmd = 0;
    uint8_t vmf_reply[129] = {};
    uint16_t vmf_reply_len = 0;     // length of the whole reply that vmf_reply comes from

    void Rcv_data_from_eth(int fpga);
    // Reply RAM access shared by the reply reader and the card search.
    void refresh_reply_registers(int fpga);   // 129, 25, 145, 153
    int first_ready_pair(int fpga) const;
    unsigned read_reply(int fpga, int pair, unsigned char* buf);   // buf: 1024 bytes
    void acknowledge_pair(int fpga, int pair);
    uint32_t passby_expected_mask();
    uint32_t ports_with_cards();   // bit Pg - 1 when port Pg's card count is not 0
    void forward_reply(unsigned char* reply, unsigned len, unsigned port_global);

    // ---- output-port parameters (ledout/fpga_eth_param.cpp) ---------------------------------------
    void eth_param_init(uint8_t mode, int fpga);
    void T71_back_mcu_set_net_para(int fpga);
    void T71_mcu_set_net_para(int fpga);
    void update_eth_state(int fpga);
    int check_fpga_ram_param(int fpga);
    int get_eth_param_addr(unsigned char port, unsigned short* x, unsigned short* y, unsigned short* w,
                           unsigned short* h);
    void get_eth_min_x_y(int fpga, unsigned short* x, unsigned short* y);
    void get_eth_max_border(int fpga, unsigned short* x, unsigned short* y);
    void get_eth_lcd_x_y(int fpga, unsigned short* x, unsigned short* y);
    void get_eth_lcd_w_h(int fpga, unsigned short* w, unsigned short* h);

    // ---- receiving-card search (ledout/fpga_search.cpp) -------------------------------------------
    void Check_search_card();
    void Search_Card_Cmd();
    // A link busy with PC commands that has been quiet for a search period is taken as done:
    // the search and the jobs go on, and the search's sent requests start over.
    void releaseQuietLink();
    void CHECK_search_cmd_status();
    void check_error_rcv_search_card_cmd(unsigned int port, unsigned char fpga, unsigned int config_id,
                                         unsigned int device_id, unsigned char enable);
    int deal_with_search_concurrent(int fpga);
    void Search_concurrent_back_result(unsigned char* reply, unsigned char group, int fpga, unsigned int length);
    void update_eth_rcv_num(const unsigned char* reply, unsigned char port, int fpga);
    unsigned short get_port_card_num(unsigned char port);
    unsigned short check_netport_card(int fpga);
    void Search_Card_task_run();

    uint32_t search_sent_mask = 0;
    uint32_t search_reply_mask = 0;
    uint16_t rcv_card_total = 0;
    uint32_t check_config_id = 0;   // config id of the screen that the check job works on

    // ---- requests from other subsystems --------------------------------------------------------
    std::atomic<uint8_t> set_output_flag{0};   // cleared under Utils::_system_mutex
    std::atomic<uint8_t> set_bri_flag{0};      // set and cleared under Utils::_bri_set_mutex

    // ---- locks ---------------------------------------------------------------------------------
    mutable std::mutex reg_mutex;            // shadow bytes and MCU_RAM_EXTEND byte 29
    std::recursive_mutex passby_mutex;       // pass-through frames against the interrupt service

    // ---- register shadows and RAM images -------------------------------------------------------
    uint8_t* MCU_REG_func[kFpgas];
    uint8_t* MCU_RAM_PARA_func[kFpgas];
    uint8_t* MCU_RAM_RX_func[kFpgas];
    uint8_t* MCU_RAM_TX_func[kFpgas];
    uint8_t* MCU_RAM_ETH_PARA_func[kFpgas];
    uint8_t* MCU_RAM_ETH_BACK_PARA_func[kFpgas];
    uint8_t MCU_RAM_CMD[kRamImageSize] = {};
    uint8_t MCU_RAM_EXTEND[kRamImageSize] = {};
    uint8_t MCU_RAM_ZOOM[kRamImageSize] = {};
    std::atomic<uint8_t> ScreenState{1};
    static const std::array<uint8_t, 256> RAM1;   // parameter block defaults

    // ---- state shared with the receiving-card work ---------------------------------------------
    std::atomic<uint8_t> multi_send_state{0};
    std::atomic<uint8_t> passby_reply_ready{0};
    uint8_t fpga_ram_ok[kFpgas] = {0, 0};
    uint32_t monitor_change_state[kFpgas] = {3, 3};
    TimeRealType current_time;
    // The USB upgrade's start time, then four blanks and its end time ("h:m:s    h:m:s"). Written
    // by the upgrade on this thread before it reports its end (change code 104); the
    // communication page reads it on that report.
    std::string usb_upgrade_time;

    fpga_drv& drv() { return drv_; }

private:
    fpga_manage();
    fpga_manage(const fpga_manage&) = delete;
    fpga_manage& operator=(const fpga_manage&) = delete;

    // One command word and its data phase on an FPGA, under Utils::_spi_mutex.
    int fpgaTransaction(int fpga, uint32_t word, const uint8_t* tx, uint8_t* rx, uint32_t length);
    void writeShadowed(int reg, uint8_t mask, uint8_t value, int fpga, bool full);
    void setShadow(int reg, int fpga, uint8_t value);
    void startResetPulse(int fpga);
    void installChild(const std::string& path, uint8_t publishType, uint16_t controllerType, uint8_t type,
                      uint32_t length, uint32_t offset, const uint8_t* version);
    void finishUpgrade();
    bool usbRunning_ = false;
    uint8_t usbStep_ = 0;
    void markLost(int fpga);
    void checkStep(int fpga);
    // The request a change of the word raises (set_output_flag, set_bri_flag).
    const std::atomic<uint8_t>& requestOf(uint32_t address) const;
    // Makes a report; true when written. The caller holds keptMutex_.
    bool settleReport(ledpara::WordReport report);
    void retryKeptReports();
    bool reportKept(uint32_t address);
    // The image's brightness word says otherwise than a fixed record (or, without a record,
    // FPGA 0's level), and no report of the record's value is on its way to the word.
    bool wordOverRecord();
    // A user's 8-bit value taken as FPGA 0's level (a fixed level mode gives way to the value mode).
    void takeUserValue(uint8_t v);
    // FPGA 0's and FPGA 1's level (register shadow 64) and the task's value.
    void takeLevel(uint8_t level);
    uint8_t shownValue();
    // The half-hour slot of a time of day (the last one from 24:00 on).
    static int slotOf(const TimeRealType& t);
    bool storeBrightnessRecord(uint8_t value);
    bool wordAfterRecord();
    bool userWordCameSince(uint32_t applies);
    // The word a user's change not applied yet had when a PC's brightness record was taken (-1:
    // none), and the user's changes applied up to then and since: the later of the two wins.
    int32_t wordBeforeRecord_ = -1;
    int32_t wordAtTake_ = -1;
    int32_t lastUserWord_ = -1;
    uint32_t userApplies_ = 0;
    uint32_t userAppliesAtTake_ = 0;
    bool recordTaken_ = false;   // a link took a brightness record's start that has not run yet
    std::mutex keptMutex_;                   // one report at a time, and kept_
    // The brightness state (bri_mode, bri_record, register shadow 64, the g_change brightness words)
    // and the on/off schedule, shared by the manager's steps and a command record run on another
    // thread. Never held while a record waits for the flash: only the manager's own steps hold it
    // over a flash access, and a record does its flash work before or after taking it.
    std::recursive_mutex recordStateMutex_;
    std::vector<ledpara::WordReport> kept_;  // reports held back by an LED-size change
    std::atomic<bool> anyKept_{false};
    // Re-reads registers 128 and 144: the link bits of the FPGA's 16 ports.
    uint32_t linkMask(int fpga);

    FpgaLines lines_;
    fpga_drv drv_;
    std::mutex rmwMutex_[kFpgas];            // one register read-modify-write at a time per FPGA
    pthread_t thread_{};
    bool threadStarted_ = false;
    std::atomic<bool> stop_{false};
    static bool takeRequest(std::atomic<uint8_t>& request, QMutex& lock);
    static void keepRequest(std::atomic<uint8_t>& request, QMutex& lock);
    WorkerPace pace;                         // the worker's wait between passes

    uint8_t regShadow_[kFpgas][kRegisters] = {};
    uint8_t ramPara_[kFpgas][kRamImageSize] = {};
    uint8_t ramRx_[kFpgas][kRamImageSize] = {};
    uint8_t ramTx_[kFpgas][kRamImageSize] = {};
    uint8_t ramEthPara_[kFpgas][kEthParaSize] = {};
    uint8_t ramEthBackPara_[kFpgas][kEthParaSize] = {};

    // Bring-up state per FPGA.
    std::atomic<uint8_t> powerStep_[kFpgas] = {{0}, {0}};   // read by the status queries of other threads
    uint16_t powerErrors_[kFpgas] = {0, 0};
    uint8_t powerResets_[kFpgas] = {0, 0};
    std::atomic<uint8_t> checkStep_[kFpgas] = {{0}, {0}};
    uint8_t checkPolls_[kFpgas] = {0, 0};
    uint8_t checkResets_[kFpgas] = {0, 0};
    uint8_t ramParaSeen_[kFpgas] = {0, 0};
    uint32_t checkStamp_[kFpgas] = {0, 0};
    std::atomic<uint8_t> resetPending_[kFpgas] = {{0}, {0}};   // read by other threads' request checks
    uint32_t resetTick_[kFpgas] = {0, 0};
    uint8_t vboFault_[kFpgas] = {0, 0};
    uint8_t vboSub_[kFpgas] = {0, 0};
    uint16_t vboRetries_[kFpgas] = {0, 0};
    uint16_t lastLinkMask_[kFpgas] = {0, 0};

    // LED-size handshake.
    uint32_t ledParaStamp_ = 0;

    // Receiving-card jobs: shared steps.
    bool jobWaitsForLinks();
    // Sends a packet to port 0-31 with the acknowledge flag cleared first.
    void jobSend(const unsigned char* packet, unsigned short length, unsigned port);
    // After a job's packet: its stamp, and the progress ring restarts from 0.
    void jobPacketSent();
    // The cards' acknowledgement, or `limit` ticks without it, moves the job to `next`; the
    // progress ring turns meanwhile.
    void jobAwaitAck(uint32_t limit, uint8_t next, int page);
    // The closing states of jobs 1, 3 and 4: `value` at once, then 100 and the end.
    void jobStartClosing(int page, int value);
    void jobClosing(int page);
    void jobProgressTick(int page);
    void jobEnd();
    void portBroadcastStep(bool save);
    // The check and recovery machine, one helper per group of states.
    void checkStart(int mode);
    void checkFindFile(int mode);
    void checkScreens(int mode);
    void checkNets(int mode);
    void checkPlay(int mode);
    void checkEnd(int mode);
    void checkProgress(int mode, int value);
    // Indices of the check and recovery (16-bit: counts in the files are 16-bit).
    uint16_t jobNet_ = 0;
    uint16_t jobCard_ = 0;
    uint16_t jobOperation_ = 0;
    // The operation player.
    uint8_t playRetries_ = 0;
    uint32_t playPackets_ = 0;
    uint32_t playPacket_ = 0;
    uint16_t playCard_ = 0;
    uint32_t playTimeoutMs_ = 0;
    uint16_t playSentFrom_ = 0;   // the state that sent the packet being waited for
    int playStep(const QString& file, uint32_t offset, bool all_cards);
    int playSend(const QString& file, uint32_t offset, bool all_cards);
    void playReplyWait(bool all_cards);
};
