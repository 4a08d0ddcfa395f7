#include "core/global.h"

#include "core/md5.h"

QString g_str_ip = "192.168.1.199";
QString g_srt_mask = "255.255.255.0";
QString g_str_gateway = "192.168.1.1";
QString g_str_mac = "FF:FF:FF:FF:FF:FF";
QString g_str_barcode = " ";
QString g_str_wifi_ip = "192.168.22.101";
std::string g_dtsIp = "192.168.1.101";
QString g_iVor_cloudserverip;
QString g_iVor_clouduserid;
QString g_iVor_controllername;
int g_iVor_cloudserverport = 0;
uint8_t g_iVor_cloud = 0;
QString g_imagelayoutpassword;
QString g_check_edid;
QString g_usb_grade_path;
QString g_rcv_sync_led;
int g_port = 5005;
int g_int_tcp_port = 5005;
int g_check_source = 255;
unsigned int g_zel_max_pixel = 0x1400000;
unsigned int g_lcd_lang_valid = 0x1001F;
char g_pid[33] = {0};
uint8_t g_update_status = 0;

uint8_t g_debugSwitch = 254;

std::atomic<unsigned int> G_timeTicks{0};
std::atomic<unsigned int> G_reboot_tickTicks{0};
std::atomic<uint8_t> g_app_reset_flag{0};
std::atomic<uint8_t> g_update_flag{0};

std::atomic<int> g_page_focus{0};
std::atomic<int> g_language{1};
unsigned int g_back_to_mainwindow_time = 18000;
unsigned int g_auto_lock_time = 30000;
QTimer* g_timer = nullptr;
MainWindow* g_mainwindow = nullptr;
LockWindow* g_lockwindow = nullptr;
QString l_str;
QString g_jyfile_name;
std::vector<QString> factoryage_log;
std::atomic<int> g_mode_select{0};

std::atomic<uint8_t> pc_cmd_valid{0};
std::atomic<unsigned int> pc_cmd_time{0};
std::atomic<uint8_t> g_passby_trans_port{255};
std::atomic<uint8_t> g_usb_grade{0};
std::atomic<uint8_t> g_set_led_para{0};
std::atomic<uint8_t> g_set_led_setup{0};
std::atomic<uint8_t> g_led_para_released{0};

unsigned char fileBuf_tarvo[kFileBufSize];
unsigned char edid_ram_table[6][256];
std::atomic<uint8_t> edid_ram_table_from[6];

MD5 md5;
