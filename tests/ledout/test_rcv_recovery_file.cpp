// The reader of recovery and scan files, on files laid out as the PC software writes them.
#include <gtest/gtest.h>

#include "ledout/rcv_recovery_file.h"
#include "recovery_files.h"
#include "support/test_root.h"

using rcvfiles::Bytes;
using rcvfiles::Op;

namespace {

const QString kFile = "/data/rcvrecovery/JYFX_screen";

Op op(uint8_t type, size_t dataLen, uint32_t address = 0)
{
    Op o;
    o.type = type;
    o.address = address;
    o.data.assign(dataLen, static_cast<uint8_t>(dataLen));
    return o;
}

// One screen, one net on port 5 whose cards carry 3, 5 and 2 operations.
Bytes threeCards()
{
    rcvfiles::Screen s;
    s.configId = 0x11223344;
    rcvfiles::Net n;
    n.ledx = 5;
    n.cards = {{op(1, 4), op(1, 8), op(2, 0)}, {op(1, 1), op(1, 2), op(1, 3), op(1, 4), op(1, 5)}, {op(16, 2), op(6, 0)}};
    s.nets = {n};
    return rcvfiles::recoveryFile({s});
}

void loadHead(rcvRecovery& r)
{
    ASSERT_EQ(r.get_rcvPackedFileNum(kFile), 0);
    for (unsigned char i = 0; i < r.section_count(); ++i)
        ASSERT_EQ(r.get_rcvPackedFileInfo(kFile, i), 0);
}

}  // namespace

TEST(RecoveryFile, WalksScreenNetCardAndOperationToTheirData)
{
    zeltest::TempRoot root;
    zeltest::writeFile(kFile.toStdString(), threeCards());
    rcvRecovery r;
    loadHead(r);
    ASSERT_EQ(r.update_rcvScreenHead(kFile), 0);
    EXPECT_EQ(r.screen_head.screen_num, 1);
    ASSERT_EQ(r.update_rcvScreenIDinfo(kFile, 0), 0);
    EXPECT_EQ(r.screen_record.config_id, 0x11223344u);
    EXPECT_EQ(r.update_rcvScreenIDinfo(kFile, 1), 1);   // past screen_num
    ASSERT_EQ(r.update_rcvXYscreenNetnum(kFile), 0);
    EXPECT_EQ(r.screen_net_num, 1);
    ASSERT_EQ(r.update_rcvXYscreenNetpara(kFile, 0), 0);
    EXPECT_EQ(r.net_record.net_ledx, 5);
    EXPECT_EQ(r.net_record.net_rcv_num, 3);

    ASSERT_EQ(r.update_rcvXYrcvOperateTimes(kFile, 2), 0);
    EXPECT_EQ(r.card_offset, 4u + 54 + 4 + 90);
    EXPECT_EQ(r.rcv_operate_times, 2);
    ASSERT_EQ(r.update_rcvXYrcvOperatepara(kFile, 0), 0);
    EXPECT_EQ(r.operate_record.type, 16);
    EXPECT_EQ(r.operate_record.dataLen, 2u);
    unsigned char data[2] = {};
    ASSERT_EQ(r.update_rcvOperatedata(kFile, static_cast<uint32_t>(r.card_list() + r.operate_record.offset), data, 2), 0);
    EXPECT_EQ(data[0], 2);
    EXPECT_EQ(r.update_rcvXYrcvOperateTimes(kFile, 3), 1);   // the net has three cards
}

TEST(RecoveryFile, DirectoryLastEntryWinsNoSectionsMeansOffsetZeroAndMoreThanSixIsRefused)
{
    zeltest::TempRoot root;
    Bytes f(4 + 24 + 32, 0);
    f[3] = 2;
    f[4] = 10;
    rcvfiles::put32(f, 12, 200);   // first screens entry: nonsense
    f[16] = 10;
    rcvfiles::put32(f, 24, 28);    // second one wins: screen head at 28
    f[28 + 20] = 7;
    zeltest::writeFile(kFile.toStdString(), f);
    rcvRecovery r;
    loadHead(r);
    ASSERT_EQ(r.update_rcvScreenHead(kFile), 0);
    EXPECT_EQ(r.screen_head.screen_num, 7);

    Bytes none(64, 0);
    none[20] = 3;
    zeltest::writeFile(kFile.toStdString(), none);
    rcvRecovery r0;
    loadHead(r0);
    ASSERT_EQ(r0.update_rcvScreenHead(kFile), 0);
    EXPECT_EQ(r0.screen_head.screen_num, 3);

    Bytes seven(4 + 7 * 12, 0);
    seven[3] = 7;
    zeltest::writeFile(kFile.toStdString(), seven);
    rcvRecovery r7;
    EXPECT_EQ(r7.get_rcvPackedFileNum(kFile), 1);
    EXPECT_EQ(r7.get_rcvPackedFileInfo(kFile, 6), 1);
}

TEST(RecoveryFile, TruncatedOrMissingFilesFail)
{
    zeltest::TempRoot root;
    Bytes f = threeCards();
    rcvRecovery r;
    EXPECT_EQ(r.get_rcvPackedFileNum(kFile), 1);   // missing

    zeltest::writeFile(kFile.toStdString(), f);
    loadHead(r);
    ASSERT_EQ(r.update_rcvScreenHead(kFile), 0);

    f.resize(f.size() - 1);   // the last data byte is gone
    zeltest::writeFile(kFile.toStdString() + "2", f);
    const QString cut = kFile + "2";
    ASSERT_EQ(r.update_rcvScreenIDinfo(cut, 0), 0);
    ASSERT_EQ(r.update_rcvXYscreenNetnum(cut), 0);
    ASSERT_EQ(r.update_rcvXYscreenNetpara(cut, 0), 0);
    ASSERT_EQ(r.update_rcvXYrcvOperateTimes(cut, 2), 0);
    ASSERT_EQ(r.update_rcvXYrcvOperatepara(cut, 0), 0);
    unsigned char data[2] = {9, 9};
    EXPECT_EQ(r.update_rcvOperatedata(cut, static_cast<uint32_t>(r.card_list() + r.operate_record.offset), data, 2), 1);
}

TEST(RecoveryFile, ListsFilesPerDirectoryAndScanFilesFromTheStick)
{
    zeltest::TempRoot root;
    rcvRecovery r;
    EXPECT_EQ(r.get_dir_file("/data/rcvrecovery"), 1);   // not there yet
    EXPECT_EQ(r.check_file_dir("/data/rcvrecovery"), 0);
    EXPECT_EQ(r.check_file_dir("/data/rcvrecovery"), 0);
    zeltest::writeText("/data/rcvrecovery/JYFX_a", "x");
    zeltest::writeText("/data/rcvrecovery/sub/inner", "x");
    zeltest::writeText("/data/rcvrecovery/.JYFX_b.tmp", "a write under way");
    zeltest::writeText("/mnt/usb1/scan.jyfile", "x");
    zeltest::writeText("/mnt/usb1/other", "x");
    ASSERT_EQ(r.get_dir_file("/data/rcvrecovery"), 0);
    ASSERT_EQ(r.get_dir_file("/mnt/usb1/"), 0);
    EXPECT_EQ(r.recovery_files(), QStringList{"JYFX_a"});
    EXPECT_EQ(r.scan_file_count(), 2);
    ASSERT_EQ(r.get_dir_file("/data/smartmapping"), 1);   // missing: the scan list stays
    EXPECT_EQ(r.scan_file_count(), 2);
    EXPECT_EQ(r.get_dir_file("/data"), 0);
    EXPECT_EQ(r.recovery_file_count(), 1);
    // Only the hidden form is a write under way: a received name ending in ".tmp" is listed.
    zeltest::writeText("/data/smartmapping/JYFRscan.tmp", "a received file named so");
    ASSERT_EQ(r.get_dir_file("/data/smartmapping"), 0);
    EXPECT_EQ(r.scan_files(), QStringList{"JYFRscan.tmp"});
}

TEST(RecoveryFile, ScanFileRecordsAndDataSitAfterItsHead)
{
    zeltest::TempRoot root;
    const QString scan = "/data/smartmapping/JYFR_a";
    zeltest::writeFile(scan.toStdString(), rcvfiles::scanFile({op(1, 3, 0x100), op(2, 0)}));
    rcvRecovery r;
    ASSERT_EQ(r.update_smartDebugingOperateTimes(scan, true), 0);
    EXPECT_EQ(r.rcv_operate_times, 2);
    ASSERT_EQ(r.update_smartDebugingOperatepara(scan, 0, true), 0);
    EXPECT_EQ(r.operate_record.targetAddr, 0x100u);
    unsigned char data[3] = {};
    ASSERT_EQ(r.update_rcvOperatedata(scan, rcvRecovery::kScanDataBase + r.operate_record.offset, data, 3), 0);
    EXPECT_EQ(data[2], 3);
    EXPECT_EQ(r.update_smartDebugingOperatepara(scan, 2, true), 1);
}
