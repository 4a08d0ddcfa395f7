#include "ledout/rcv_recovery_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include "core/file_store.h"
#include "core/utils.h"
#include "ledout/rcv_card_cmd.h"
#include "platform/platform.h"

namespace {

constexpr unsigned kHeadLen = 4;
constexpr unsigned kDirEntryLen = 12;
constexpr unsigned kScreenHeadLen = 32;
constexpr unsigned kScreenRecordLen = 52;
constexpr unsigned kNetRecordLen = 12;
constexpr unsigned kOperateLen = 18;
constexpr unsigned kBlockHeadLen = 4;         // u16 operation count, 2 unused
constexpr uint64_t kScanTimesAt = 16;
constexpr uint64_t kScanRecordsAt = 20;

using rcv_card::rd16;
using rcv_card::rd32;

QString stripSlash(const QString& dir)
{
    QString d = dir;
    while (d.size() > 1 && d.endsWith('/'))
        d.chop(1);
    return d;
}

}  // namespace

bool rcvRecovery::readAt(const QString& path, uint64_t offset, unsigned char* buf, unsigned n)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    QFile f(platform::rootPath(path));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    if (offset + n > static_cast<uint64_t>(f.size()) || !f.seek(static_cast<qint64>(offset)))
        return false;
    return f.read(reinterpret_cast<char*>(buf), n) == static_cast<qint64>(n);
}

// ---- directories -------------------------------------------------------------------------------

int rcvRecovery::check_file_dir(const QString& dir)
{
    QDir d(platform::rootPath(dir));
    if (d.exists())
        return 0;
    return d.mkpath(".") ? 0 : 1;
}

int rcvRecovery::get_dir_file(const QString& dir)
{
    const QString logical = stripSlash(dir);
    QStringList* target = nullptr;
    if (logical == kRecoveryDir)
        target = &recoveryFiles_;
    else if (logical == kScanDir || logical == stripSlash(kUsbDir))
        target = &scanFiles_;
    QStringList names;
    {
        // Under the file lock: a file being received or written is then either whole or still
        // under its temporary name, which the list leaves out.
        QMutexLocker files(&Utils::_file_deal_mutex);
        QDir d(platform::rootPath(logical));
        if (!d.exists())
            return 1;
        if (target == nullptr)
            return 0;
        for (const QString& name : d.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Unsorted))
            if (!filestore::is_temp_name(name.toStdString()))
                names << name;
    }
    QMutexLocker lock(&listMutex_);
    *target = names;
    return 0;
}

QStringList rcvRecovery::recovery_files() const
{
    QMutexLocker lock(&listMutex_);
    return recoveryFiles_;
}

QStringList rcvRecovery::scan_files() const
{
    QMutexLocker lock(&listMutex_);
    return scanFiles_;
}

// ---- sections ----------------------------------------------------------------------------------

uint32_t rcvRecovery::section_offset(uint8_t type) const
{
    uint32_t offset = 0;
    for (int i = 0; i < section_count() && i < kMaxSections; ++i)
        if (directory[i].file_type == type)
            offset = directory[i].offset;
    return offset;
}

bool rcvRecovery::has_section(uint8_t type) const
{
    for (int i = 0; i < section_count() && i < kMaxSections; ++i)
        if (directory[i].file_type == type)
            return true;
    return false;
}

uint64_t rcvRecovery::xy_block() const
{
    return uint64_t(section_offset(kSectionXy)) + screen_record.rcv_xy_offset;
}

uint64_t rcvRecovery::card_list() const { return xy_block() + net_record.net_para_offset; }

uint64_t rcvRecovery::param_block() const
{
    return uint64_t(section_offset(kSectionParams)) + screen_record.rcv_para_offset;
}

// ---- records -----------------------------------------------------------------------------------

void rcvRecovery::init_para()
{
    screen_record.rcv_para_offset = 0;
    screen_record.rcv_para_len = 0;
    screen_record.rcv_xy_offset = 0;
    screen_record.rcv_xy_len = 0;
}

int rcvRecovery::get_rcvPackedFileNum(const QString& file)
{
    unsigned char b[kHeadLen];
    if (!readAt(file, 0, b, kHeadLen))
        return 1;
    // The directory table has room for six sections: a file declaring more is refused whole.
    if (b[3] > kMaxSections)
        return 1;
    std::copy(b, b + kHeadLen, file_head);
    return 0;
}

int rcvRecovery::get_rcvPackedFileInfo(const QString& file, unsigned char i)
{
    if (i >= kMaxSections)
        return 1;
    unsigned char b[kDirEntryLen];
    if (!readAt(file, kHeadLen + uint64_t(kDirEntryLen) * i, b, kDirEntryLen))
        return 1;
    directory[i].file_type = b[0];
    directory[i].length = rd32(b + 4);
    directory[i].offset = rd32(b + 8);
    return 0;
}

int rcvRecovery::update_rcvScreenHead(const QString& file)
{
    unsigned char b[kScreenHeadLen];
    if (!readAt(file, section_offset(kSectionScreens), b, kScreenHeadLen))
        return 1;
    screen_head.type = b[2];
    screen_head.rcv_para_len = rd32(b + 4);
    screen_head.rcv_para_crc32 = rd32(b + 8);
    screen_head.rcv_xy_len = rd32(b + 12);
    screen_head.rcv_xy_crc32 = rd32(b + 16);
    screen_head.screen_num = b[20];
    return 0;
}

int rcvRecovery::update_rcvScreenIDinfo(const QString& file, unsigned char s)
{
    if (s >= screen_head.screen_num)
        return 1;
    unsigned char b[kScreenRecordLen];
    const uint64_t at = uint64_t(section_offset(kSectionScreens)) + kScreenHeadLen + uint64_t(kScreenRecordLen) * s;
    if (!readAt(file, at, b, kScreenRecordLen))
        return 1;
    screen_record.config_id = rd32(b);
    screen_record.net_use = rd32(b + 4);
    screen_record.rcv_para_offset = rd32(b + 36);
    screen_record.rcv_para_len = rd32(b + 40);
    screen_record.rcv_xy_offset = rd32(b + 44);
    screen_record.rcv_xy_len = rd32(b + 48);
    return 0;
}

int rcvRecovery::update_rcvXYscreenNetnum(const QString& file)
{
    unsigned char b[2];
    if (!readAt(file, xy_block(), b, 2))
        return 1;
    screen_net_num = rd16(b);
    return 0;
}

int rcvRecovery::update_rcvXYscreenNetpara(const QString& file, unsigned short p)
{
    unsigned char b[kNetRecordLen];
    if (!readAt(file, xy_block() + kBlockHeadLen + uint64_t(kNetRecordLen) * p, b, kNetRecordLen))
        return 1;
    net_record.net_ledx = rd16(b);
    net_record.net_rcv_num = rd16(b + 2);
    net_record.net_para_offset = rd32(b + 4);
    net_record.net_para_len = rd32(b + 8);
    return 0;
}

int rcvRecovery::update_rcvXYrcvOperateTimes(const QString& file, unsigned short k, bool)
{
    if (k >= net_record.net_rcv_num)
        return 1;
    uint64_t offset = 0;
    unsigned char b[2];
    for (unsigned card = 0;; ++card) {
        if (!readAt(file, card_list() + offset, b, 2))
            return 1;
        if (card == k)
            break;
        offset += kBlockHeadLen + uint64_t(kOperateLen) * rd16(b);
    }
    if (offset > UINT32_MAX)
        return 1;
    card_offset = static_cast<uint32_t>(offset);
    rcv_operate_times = rd16(b);
    return 0;
}

int rcvRecovery::readOperate(const QString& file, uint64_t at)
{
    unsigned char b[kOperateLen];
    if (!readAt(file, at, b, kOperateLen))
        return 1;
    operate_record.offset = rd32(b);
    operate_record.dataLen = rd32(b + 4);
    operate_record.targetAddr = rd32(b + 8);
    operate_record.timeticks = rd32(b + 12);
    operate_record.type = b[16];
    operate_record.target = b[17];
    return 0;
}

int rcvRecovery::update_rcvXYrcvOperatepara(const QString& file, unsigned short i, bool)
{
    return readOperate(file, card_list() + card_offset + kBlockHeadLen + uint64_t(kOperateLen) * i);
}

int rcvRecovery::update_smartDebugingOperateTimes(const QString& file, bool smart)
{
    unsigned char b[2];
    if (!readAt(file, smart ? kScanTimesAt : param_block(), b, 2))
        return 1;
    rcv_operate_times = rd16(b);
    return 0;
}

int rcvRecovery::update_smartDebugingOperatepara(const QString& file, unsigned short i, bool smart)
{
    const uint64_t base = smart ? kScanRecordsAt : param_block() + kBlockHeadLen;
    return readOperate(file, base + uint64_t(kOperateLen) * i);
}

int rcvRecovery::update_rcvOperatedata(const QString& file, uint32_t offset, unsigned char* buf, unsigned short n)
{
    if (n == 0)
        return 0;
    if (buf == nullptr)
        return 1;
    return readAt(file, offset, buf, n) ? 0 : 1;
}
