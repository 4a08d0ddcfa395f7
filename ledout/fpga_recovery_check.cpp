// The receiving-card check (job 5), self-recovery (job 6) and scan-file load (job 2): one state
// machine over the recovery file or a scan file, one step per pass of the manager's thread.
//
// Check: for every screen of the recovery file and every port (net) of the screen, ask the cards
// whether they are intact; the first faulty card ends the job with a line for the self-recovery
// tab. Self-recovery: replay the recovery file's card-parameter block and then the faulty card's
// own operations on that card. Scan load: replay a scan file on every card of the smart-mapping
// port.
#include <QString>

#include "core/global.h"
#include "core/utils.h"
#include "ledout/card_job_report.h"
#include "ledout/fpga_manage.h"
#include "ledout/fpga_para.h"
#include "ledout/job_block.h"
#include "ledout/rcv_recovery_file.h"
#include "ledout/scan_para.h"

using namespace jobblock;

namespace {

enum CheckState : uint8_t {
    CK_START = 0,
    CK_SETTLE = 1,
    CK_FIND_FILE = 2,
    CK_DIRECTORY = 3,
    CK_NEED_SCREENS = 4,
    CK_SCREEN_HEAD = 5,
    CK_SCREEN_RECORD = 6,
    CK_CHOOSE_BLOCK = 7,
    CK_NETS = 8,
    CK_NET_RECORD = 9,
    CK_CARD = 10,
    CK_XY_OPERATION = 11,
    CK_PLAY_XY = 12,
    CK_SEND_CHECK = 13,
    CK_WAIT_CHECK = 14,
    CK_NEXT_NET = 15,
    CK_PARAM_BLOCK = 17,
    CK_PARAM_OPERATION = 18,
    CK_PLAY_PARAMS = 19,
    CK_END = 33,     // '!'
    CK_ERROR = 34,   // '"'
    CK_PAUSE = 35,   // '#'
};

constexpr uint32_t kSettleTicks = 239;
constexpr uint32_t kSettleProgressFrom = 80;
constexpr uint32_t kSettleProgressSpan = 500;
constexpr uint32_t kCheckAnswerTicks = 500;   // a port that does not answer counts as intact
constexpr uint32_t kErrorPauseTicks = 100;
constexpr int kStateProgressSpan = 35;
constexpr int kRecoveryNetProgress = 28;
constexpr uint32_t kDeviceId = 0;
constexpr uint8_t kCheckEnable = 1;
constexpr int kRefreshPages = 1;

uint32_t now() { return G_timeTicks.load(); }

cardjobs::Page pageOf(int mode)
{
    return mode == fpga_manage::RCV_SCAN_LOAD ? cardjobs::Page::SmartMapping : cardjobs::Page::AdvancedOption;
}

QString twoDigits(unsigned n) { return QString("%1").arg(n, 2, 10, QChar('0')); }

}  // namespace

void fpga_manage::checkProgress(int mode, int value) { cardjobs::progress(pageOf(mode), value); }

void fpga_manage::rcv_recovery_check_deal(int mode)
{
    if (rcv_recovery == nullptr || jobWaitsForLinks())
        return;
    switch (state()) {
    case CK_START:
    case CK_SETTLE: checkStart(mode); break;
    case CK_FIND_FILE:
    case CK_DIRECTORY:
    case CK_NEED_SCREENS: checkFindFile(mode); break;
    case CK_SCREEN_HEAD:
    case CK_SCREEN_RECORD:
    case CK_CHOOSE_BLOCK: checkScreens(mode); break;
    case CK_NETS:
    case CK_NET_RECORD:
    case CK_CARD:
    case CK_SEND_CHECK:
    case CK_WAIT_CHECK:
    case CK_NEXT_NET: checkNets(mode); break;
    case CK_XY_OPERATION:
    case CK_PLAY_XY:
    case CK_PARAM_BLOCK:
    case CK_PARAM_OPERATION:
    case CK_PLAY_PARAMS: checkPlay(mode); break;
    case CK_END:
    case CK_ERROR:
    case CK_PAUSE: checkEnd(mode); break;
    default: break;
    }
}

// States 0-1: both FPGAs up, then a short settling time.
void fpga_manage::checkStart(int mode)
{
    if (state() == CK_START) {
        // No report of an earlier check survives into this one.
        set16(kCheckResult, kNoResult);
        if (get_fpga_status() != 1) {
            setState(CK_ERROR);
            return;
        }
        setState(CK_SETTLE);
        g_change[kWordJobTick] = now();
        checkProgress(mode, 0);
        return;
    }
    const uint32_t elapsed = Utils::getTimeSpace(g_change[kWordJobTick]);
    if (elapsed > kSettleTicks)
        setState(CK_FIND_FILE);
    else if (elapsed >= kSettleProgressFrom)
        checkProgress(mode, static_cast<int>(100 * elapsed / kSettleProgressSpan));
}

// States 2-4: the file, its head and its directory.
void fpga_manage::checkFindFile(int mode)
{
    rcvRecovery& r = *rcv_recovery;
    switch (state()) {
    case CK_FIND_FILE:
        g_change[kWordJobTick] = now();
        if (mode == RCV_SCAN_LOAD) {
            int listed = r.get_dir_file(rcvRecovery::kScanDir);
            if (listed != 0 || r.scan_file_count() == 0)
                listed = r.get_dir_file(rcvRecovery::kUsbDir);
            if (listed != 0)
                setState(CK_ERROR);
            else if (r.scan_file_count() == 0)
                setState(CK_END);
            else {
                r.init_para();
                r.path = g_jyfile_name;
                setState(CK_PARAM_BLOCK);
            }
            return;
        }
        if (r.get_dir_file(rcvRecovery::kRecoveryDir) != 0) {
            setState(CK_ERROR);
            return;
        }
        {
            const QStringList files = r.recovery_files();
            if (files.size() != 1) {
                setState(CK_END);
                return;
            }
            // The one recovery file, whatever the transfer named it after "JYFX".
            r.path = QString(rcvRecovery::kRecoveryDir) + "/" + files.front();
        }
        setState(r.get_rcvPackedFileNum(r.path) == 0 ? CK_DIRECTORY : CK_ERROR);
        return;
    case CK_DIRECTORY:
        for (unsigned char i = 0; i < r.section_count(); ++i) {
            if (r.get_rcvPackedFileInfo(r.path, i) != 0) {
                setState(CK_ERROR);
                return;
            }
        }
        setState(CK_NEED_SCREENS);
        return;
    default:   // CK_NEED_SCREENS
        set16(kCheckResult, kNoResult);
        setState(r.section_count() == 0 || r.has_section(rcvRecovery::kSectionScreens) ? CK_SCREEN_HEAD : CK_ERROR);
        return;
    }
}

// States 5-7: the screen head, the screen's record and which of its blocks comes first.
void fpga_manage::checkScreens(int mode)
{
    rcvRecovery& r = *rcv_recovery;
    const bool anySection = r.section_count() == 0;
    switch (state()) {
    case CK_SCREEN_HEAD:
        if (r.update_rcvScreenHead(r.path) != 0) {
            setState(CK_ERROR);
            return;
        }
        set8(kScreen, mode == RCV_CHECK ? 0 : recover_screen);
        setState(CK_SCREEN_RECORD);
        if (mode == RCV_RECOVERY)
            checkProgress(mode, CK_SCREEN_HEAD * 100 / kStateProgressSpan);
        return;
    case CK_SCREEN_RECORD:
        if (r.update_rcvScreenIDinfo(r.path, u8(kScreen)) != 0) {
            setState(CK_ERROR);
            return;
        }
        if (mode == RCV_CHECK) {
            setState(CK_NETS);
            checkProgress(mode, (100 + 100 * u8(kScreen)) / (r.screen_head.screen_num + 1));
        } else {
            setState(CK_CHOOSE_BLOCK);
        }
        return;
    default:   // CK_CHOOSE_BLOCK
        if (r.screen_record.rcv_para_len != 0)
            setState(anySection || r.has_section(rcvRecovery::kSectionParams) ? CK_PARAM_BLOCK : CK_ERROR);
        else if (r.screen_record.rcv_xy_len == 0)
            setState(CK_ERROR);
        else
            setState(anySection || r.has_section(rcvRecovery::kSectionXy) ? CK_NETS : CK_ERROR);
        return;
    }
}

// States 8-10 and 13-15: the nets of a screen, the check request and its answer, the faulty card.
void fpga_manage::checkNets(int mode)
{
    rcvRecovery& r = *rcv_recovery;
    switch (state()) {
    case CK_NETS:
        if (r.update_rcvXYscreenNetnum(r.path) != 0) {
            setState(CK_ERROR);
            return;
        }
        if (mode == RCV_CHECK)
            jobNet_ = 0;
        set8(kNet, static_cast<uint8_t>(jobNet_));
        setState(CK_NET_RECORD);
        checkProgress(mode, CK_NETS * 100 / kStateProgressSpan);
        return;
    case CK_NET_RECORD:
        set16(kCheckResult, kNoResult);
        if (jobNet_ >= r.screen_net_num || r.update_rcvXYscreenNetpara(r.path, jobNet_) != 0) {
            setState(CK_ERROR);
            return;
        }
        if (mode == RCV_CHECK) {
            setState(CK_SEND_CHECK);
            checkProgress(mode, (100 + 100 * jobNet_) / (r.screen_net_num + 1));
            return;
        }
        checkProgress(mode, kRecoveryNetProgress);
        if (r.net_record.net_rcv_num <= recover_card) {
            setState(CK_ERROR);   // the file does not know the faulty card
            return;
        }
        jobCard_ = recover_card;
        set8(kCard, recover_card);
        setState(CK_CARD);
        return;
    case CK_CARD:
        if (r.update_rcvXYrcvOperateTimes(r.path, jobCard_) != 0) {
            setState(CK_ERROR);
            return;
        }
        jobOperation_ = 0;
        // A card without operations cannot be recovered: never reported as if it were.
        setState(r.rcv_operate_times == 0 ? CK_ERROR : CK_XY_OPERATION);
        return;
    case CK_SEND_CHECK: {
        const unsigned port = r.net_record.net_ledx;
        if (port >= kPorts) {
            setState(CK_ERROR);
            return;
        }
        check_config_id = r.screen_record.config_id;
        check_error_rcv_search_card_cmd(port % 16, static_cast<unsigned char>(port / 16), r.screen_record.config_id,
                                        kDeviceId, kCheckEnable);
        setState(CK_WAIT_CHECK);
        set32(kTick, now());
        g_change[kWordJobProgress] = 0;
        checkProgress(mode, CK_SEND_CHECK * 100 / kStateProgressSpan);
        return;
    }
    case CK_WAIT_CHECK: {
        const uint16_t result = u16(kCheckResult);
        if (result == kAllIntact)
            setState(CK_NEXT_NET);
        else if (result < kNoResult)
            setState(CK_END);
        else if (Utils::getTimeSpace(u32(kTick)) > kCheckAnswerTicks)
            setState(CK_NEXT_NET);
        jobProgressTick(static_cast<int>(pageOf(mode)));
        return;
    }
    default:   // CK_NEXT_NET
        if (++jobNet_ < r.screen_net_num) {
            set8(kNet, static_cast<uint8_t>(jobNet_));
            setState(CK_NET_RECORD);
            return;
        }
        jobNet_ = 0;
        set8(kNet, 0);
        set8(kScreen, static_cast<uint8_t>(u8(kScreen) + 1));
        setState(u8(kScreen) >= r.screen_head.screen_num ? CK_END : CK_SCREEN_RECORD);
        return;
    }
}

// States 11-12 and 17-19: the operations of the faulty card and of the parameter block or scan
// file, each handed to the operation player.
void fpga_manage::checkPlay(int mode)
{
    rcvRecovery& r = *rcv_recovery;
    const bool scan = mode == RCV_SCAN_LOAD;
    auto startPlayer = [&](uint64_t dataOffset, uint8_t next) {
        if (dataOffset > UINT32_MAX) {
            setState(CK_ERROR);
            return;
        }
        r.data_offset = static_cast<uint32_t>(dataOffset);
        set16(kPlayerState, kPlayStart);
        setState(next);
        g_change[kWordJobProgress] = 0;
        g_change[kWordJobTick] = now();
    };
    switch (state()) {
    case CK_XY_OPERATION:
        if (r.update_rcvXYrcvOperatepara(r.path, jobOperation_) != 0) {
            setState(CK_ERROR);
            return;
        }
        set8(kOperation, static_cast<uint8_t>(jobOperation_));
        startPlayer(r.card_list() + r.operate_record.offset, CK_PLAY_XY);
        return;
    case CK_PLAY_XY:
    case CK_PLAY_PARAMS: {
        const int played = load_rcv_xy_operate(r.path, r.data_offset, scan);
        if (played == kPlayFailed) {
            setState(CK_ERROR);
            return;
        }
        if (played == 0) {
            jobProgressTick(static_cast<int>(pageOf(mode)));
            return;
        }
        const bool xy = state() == CK_PLAY_XY;
        if (++jobOperation_ < r.rcv_operate_times) {
            set16(kPlayerState, kPlayStart);
            setState(xy ? CK_XY_OPERATION : CK_PARAM_OPERATION);
        } else if (xy || scan) {
            setState(CK_END);
        } else {
            jobOperation_ = 0;
            setState(CK_NETS);   // the faulty card's own operations follow
        }
        return;
    }
    case CK_PARAM_BLOCK: {
        if (mode == RCV_CHECK || r.update_smartDebugingOperateTimes(r.path, scan) != 0) {
            setState(CK_ERROR);
            return;
        }
        r.net_record.net_ledx = scan ? line_type.port : recover_net;
        const uint16_t cards = get_port_card_num(static_cast<unsigned char>(r.net_record.net_ledx));
        jobOperation_ = 0;
        if (scan) {
            setState(cards != 0 ? CK_PARAM_OPERATION : CK_ERROR);
        } else {
            jobCard_ = recover_card;
            setState(cards != 0 && jobCard_ < cards ? CK_PARAM_OPERATION : CK_ERROR);
        }
        // An empty block would have the player read records that are not there.
        if (state() == CK_PARAM_OPERATION && r.rcv_operate_times == 0)
            setState(CK_ERROR);
        return;
    }
    default: {   // CK_PARAM_OPERATION
        if (r.update_smartDebugingOperatepara(r.path, jobOperation_, scan) != 0) {
            setState(CK_ERROR);
            return;
        }
        set8(kOperation, static_cast<uint8_t>(jobOperation_));
        const uint64_t base = scan ? uint64_t(rcvRecovery::kScanDataBase) : r.param_block();
        startPlayer(base + r.operate_record.offset, CK_PLAY_PARAMS);
        checkProgress(mode, static_cast<int>((100 + 100 * jobOperation_) / (r.rcv_operate_times + 1)));
        return;
    }
    }
}

// States 33-35: the end, with or without a faulty card, and the error end.
void fpga_manage::checkEnd(int mode)
{
    rcvRecovery& r = *rcv_recovery;
    switch (state()) {
    case CK_END: {
        const uint16_t result = u16(kCheckResult);
        if (result == kAllIntact || result == kNoResult) {
            if (mode == RCV_RECOVERY)
                cardjobs::report_recovered();
        } else {
            recover_screen = u8(kScreen);
            recover_net = static_cast<uint8_t>(r.net_record.net_ledx);
            recover_card = static_cast<uint8_t>(result);
            cardjobs::report_faulty_card(twoDigits(recover_screen + 1u) + "/" + twoDigits(recover_net + 1u) + "/" +
                                         twoDigits(recover_card + 1u) + "/" + twoDigits(r.net_record.net_rcv_num));
        }
        jobEnd();
        checkProgress(mode, kProgressEnd);
        return;
    }
    case CK_ERROR:
        checkProgress(mode, kProgressEnd);
        setState(CK_PAUSE);
        g_change[kWordJobTick] = now();
        return;
    default:   // CK_PAUSE
        if (Utils::getTimeSpace(g_change[kWordJobTick]) > kErrorPauseTicks) {
            jobEnd();
            g_change[kWordJobTick] = now();
            ledpara::test_signal(kRefreshPages);
        }
        return;
    }
}
