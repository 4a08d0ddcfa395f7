// Reader of the receiving-card recovery file ("/data/rcvrecovery") and of the smart-mapping scan
// files ("/data/smartmapping", the USB stick). The PC software writes both; this side only reads
// them, one record at a time, into the fields below, for the check and recovery jobs and the
// scan-file player of the FPGA manager.
//
// Recovery file (little-endian): byte 3 the number of sections N (at most kMaxSections), then N
// directory entries of 12 bytes (u8 type, 3 unused, u32 length, u32 offset). Section 10 holds the
// screens, section 11 the per-port (XY) card operations, section 12 the card-parameter
// operations. Scan file: a 16-byte head, u16 operation count at 16, 18-byte operate records from
// 20, data at 16 + the record's offset.
//
// Every read opens the file read-only under Utils::_file_deal_mutex and returns 0, or 1 when the
// file is missing, too short for the record, or the directory is refused. The file lists are
// shared with the GUI thread and guarded by their own lock.
#pragma once

#include <cstdint>

#include <QMutex>
#include <QString>
#include <QStringList>

class rcvRecovery {
public:
    static constexpr int kMaxSections = 6;
    static constexpr uint8_t kSectionScreens = 10;
    static constexpr uint8_t kSectionXy = 11;
    static constexpr uint8_t kSectionParams = 12;
    static constexpr uint32_t kScanDataBase = 16;   // scan file: data at 16 + the record's offset
    // Where the files are (system paths).
    static constexpr const char* kRecoveryDir = "/data/rcvrecovery";
    static constexpr const char* kScanDir = "/data/smartmapping";
    static constexpr const char* kUsbDir = "/mnt/usb1/";

    struct DirEntry {
        uint8_t file_type = 0;
        uint32_t length = 0;
        uint32_t offset = 0;
    };
    struct ScreenHead {
        uint8_t type = 0;
        uint32_t rcv_para_len = 0;
        uint32_t rcv_para_crc32 = 0;
        uint32_t rcv_xy_len = 0;
        uint32_t rcv_xy_crc32 = 0;
        uint8_t screen_num = 0;
    };
    struct ScreenRecord {
        uint32_t config_id = 0;
        uint32_t net_use = 0;
        uint32_t rcv_para_offset = 0;
        uint32_t rcv_para_len = 0;
        uint32_t rcv_xy_offset = 0;
        uint32_t rcv_xy_len = 0;
    };
    struct NetRecord {
        uint16_t net_ledx = 0;
        uint16_t net_rcv_num = 0;
        uint32_t net_para_offset = 0;
        uint32_t net_para_len = 0;
    };
    // Operation types and targets of an operate record.
    enum OperateType : uint8_t {
        OP_WRITE = 1,
        OP_RAM2FLASH = 2,
        OP_ACTIVE_FIRMWARE = 3,
        OP_UPGRADE_RCV = 4,
        OP_RECONFIG = 5,
        OP_SLEEP = 6,
        OP_SEARCH_RXC = 7,
        OP_USER_DEFINED = 16,
    };
    enum OperateTarget : uint8_t { TARGET_RAM = 1, TARGET_REGISTER = 2, TARGET_FLASH = 3 };
    struct OperateRecord {
        uint32_t offset = 0;
        uint32_t dataLen = 0;
        uint32_t targetAddr = 0;
        uint32_t timeticks = 0;   // milliseconds
        uint8_t type = 0;
        uint8_t target = 0;
    };

    // ---- directories -----------------------------------------------------------------------
    // Creates `dir` (a system path) when missing: 0 when it existed, else 0 created / 1 failed.
    int check_file_dir(const QString& dir);
    // Lists the regular files of "/data/rcvrecovery" (recovery list) or of "/data/smartmapping"
    // and "/mnt/usb1/" (scan list); another directory changes nothing. 1 when it does not exist.
    int get_dir_file(const QString& dir);
    QStringList recovery_files() const;
    QStringList scan_files() const;
    int recovery_file_count() const { return recovery_files().size(); }
    int scan_file_count() const { return scan_files().size(); }

    // ---- one record at a time ----------------------------------------------------------------
    void init_para();
    int get_rcvPackedFileNum(const QString& path);
    int get_rcvPackedFileInfo(const QString& path, unsigned char i);
    int update_rcvScreenHead(const QString& path);
    int update_rcvScreenIDinfo(const QString& path, unsigned char s);
    int update_rcvXYscreenNetnum(const QString& path);
    int update_rcvXYscreenNetpara(const QString& path, unsigned short p);
    int update_rcvXYrcvOperateTimes(const QString& path, unsigned short k, bool smart = false);
    int update_rcvXYrcvOperatepara(const QString& path, unsigned short i, bool smart = false);
    int update_smartDebugingOperateTimes(const QString& path, bool smart);
    int update_smartDebugingOperatepara(const QString& path, unsigned short i, bool smart);
    // Reads exactly n bytes at `offset` into `buf` (the caller's buffer holds n).
    int update_rcvOperatedata(const QString& path, uint32_t offset, unsigned char* buf, unsigned short n);

    // Offset of the last directory entry of `type`, 0 when there is none.
    uint32_t section_offset(uint8_t type) const;
    bool has_section(uint8_t type) const;
    // Start of the current net's card list and of the current screen's parameter block.
    uint64_t xy_block() const;
    uint64_t card_list() const;
    uint64_t param_block() const;

    // ---- what was read -----------------------------------------------------------------------
    uint8_t file_head[4] = {};
    DirEntry directory[kMaxSections];
    QString path;
    uint32_t data_offset = 0;
    ScreenHead screen_head;
    ScreenRecord screen_record;
    NetRecord net_record;
    OperateRecord operate_record;
    uint16_t screen_net_num = 0;
    uint32_t card_offset = 0;
    uint16_t rcv_operate_times = 0;

    uint8_t section_count() const { return file_head[3]; }

private:
    // Reads n bytes at `offset` of `path` under the file lock: false unless all n were read.
    static bool readAt(const QString& path, uint64_t offset, unsigned char* buf, unsigned n);
    // The 18-byte operate record at `at` into operate_record.
    int readOperate(const QString& path, uint64_t at);

    mutable QMutex listMutex_;
    QStringList recoveryFiles_;
    QStringList scanFiles_;
};
