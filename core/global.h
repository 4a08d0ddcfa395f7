// The process-wide globals shared across subsystems, built before main() runs.
// Globals that belong to one subsystem only are declared by that subsystem's own headers.
#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class MD5;
class QTimer;
class MainWindow;
class LockWindow;

// ---- settings (loaded by the configuration store) ---------------------------------------------
extern QString g_str_ip;
extern QString g_srt_mask;
extern QString g_str_gateway;
extern QString g_str_mac;
extern QString g_str_barcode;
extern QString g_str_wifi_ip;
extern std::string g_dtsIp;
extern QString g_iVor_cloudserverip;
extern QString g_iVor_clouduserid;
extern QString g_iVor_controllername;
extern int g_iVor_cloudserverport;
extern uint8_t g_iVor_cloud;
extern QString g_imagelayoutpassword;
extern QString g_check_edid;
extern QString g_usb_grade_path;
extern QString g_rcv_sync_led;
extern int g_port;
extern int g_int_tcp_port;
extern int g_check_source;
extern unsigned int g_zel_max_pixel;
extern unsigned int g_lcd_lang_valid;   // bit n: language n offered
extern char g_pid[33];                  // device id, 32 characters (empty when unknown)
extern uint8_t g_update_status;         // 1: the launcher starts the application from /data/app

// ---- diagnostics -----------------------------------------------------------------------------
extern uint8_t g_debugSwitch;           // diagnostics are printed only while this is 254
// A build configured with ZEL_DEBUG_OUTPUT=OFF compiles the diagnostics out: the arguments are
// still type-checked but never evaluated, so they must not carry work the program needs.
#ifdef ZEL_NO_DEBUG_OUTPUT
#define ZEL_DEBUG_ENABLED() false
#else
#define ZEL_DEBUG_ENABLED() (g_debugSwitch == 254)
#endif
#define ZEL_DEBUG(...)                          \
    do {                                        \
        if (ZEL_DEBUG_ENABLED())                \
            printf(__VA_ARGS__);                \
    } while (0)

// ---- time --------------------------------------------------------------------------------------
extern std::atomic<unsigned int> G_timeTicks;     // 10 ms GUI tick
extern std::atomic<unsigned int> G_reboot_tickTicks;
extern std::atomic<uint8_t> g_app_reset_flag;
extern std::atomic<uint8_t> g_update_flag;

// ---- user interface --------------------------------------------------------------------------
extern std::atomic<int> g_page_focus;   // page in front (0 lock screen, 1 home page, ...)
extern std::atomic<int> g_language;     // 0 zh-CN, 1 en, 2 ru, 3 vi, 4 zh-TW
extern unsigned int g_back_to_mainwindow_time;  // ticks without touch before backing out
extern unsigned int g_auto_lock_time;           // ticks without touch before locking; 120000 never
extern QTimer* g_timer;
extern MainWindow* g_mainwindow;
extern LockWindow* g_lockwindow;
extern QString l_str;                   // keypad text buffer
extern QString g_jyfile_name;           // scan-parameter file chosen for smart mapping
extern std::vector<QString> factoryage_log;
extern std::atomic<int> g_mode_select;  // user mode picked on the home page

// ---- links and jobs ----------------------------------------------------------------------------
extern std::atomic<uint8_t> pc_cmd_valid;          // a link is busy with PC commands
extern std::atomic<unsigned int> pc_cmd_time;      // tick of the last accepted frame
extern std::atomic<uint8_t> g_passby_trans_port;   // 1 serial, 2 TCP, 3 UDP, 255 none
extern std::atomic<uint8_t> g_usb_grade;           // USB upgrade requested
extern std::atomic<uint8_t> g_set_led_para;        // LED-size handshake (1 asked, 2 panel set, 0 done)
extern std::atomic<uint8_t> g_set_led_setup;
// 1 from the LED output's release of the engine's wait (its blanking over, the outputs off) until
// it is handed the outputs back (g_set_led_para 2); under Utils::_led_para_init_mutex.
extern std::atomic<uint8_t> g_led_para_released;

// ---- shared buffers ----------------------------------------------------------------------------
constexpr unsigned int kFileBufSize = 5242880;
extern unsigned char fileBuf_tarvo[kFileBufSize];   // file transfers, upgrades, fonts
extern unsigned char edid_ram_table[6][256];        // custom EDIDs loaded over the links
extern std::atomic<uint8_t> edid_ram_table_from[6]; // 1: that table waits to be written

extern MD5 md5;                                     // the file-transfer digest
