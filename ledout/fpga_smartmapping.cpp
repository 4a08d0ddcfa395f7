// Smart mapping: the card positions of the 16 routing patterns, the job that writes them into the
// cards of one port (job 1), and the player of card operations from recovery and scan files.
#include <QMutexLocker>
#include <QString>

#include <cstdio>
#include <cstring>

#include "core/file_store.h"
#include "core/global.h"
#include "core/utils.h"
#include "ledout/card_job_report.h"
#include "ledout/fpga_manage.h"
#include "ledout/job_block.h"
#include "ledout/rcv_card_cmd.h"
#include "ledout/rcv_recovery_file.h"
#include "ledout/scan_para.h"
#include "platform/platform.h"

using namespace jobblock;

namespace {

// ---- routing patterns --------------------------------------------------------------------------
// A pattern walks the cabinets row by row (card i = r * K + c) or column by column
// (i = c * R + r). The outer step picks a row (column), counted from the bottom (right) when
// flipped; the inner step runs left to right (downward) unless reversed. Serpentine patterns
// reverse the inner direction on odd outer steps.
struct RoutePattern {
    bool columns;         // walk column by column
    bool flipOuter;       // rows from the bottom / columns from the right
    bool reverseInner;    // first inner run right to left / upward
    bool serpentine;      // odd outer steps run the other way
};

constexpr RoutePattern kRoutePatterns[16] = {
    /*  1 rows, bottom right   */ {false, true, true, true},
    /*  2 rows, bottom left    */ {false, true, false, true},
    /*  3 rows, top right      */ {false, false, true, true},
    /*  4 rows, top left       */ {false, false, false, true},
    /*  5 columns, bottom right*/ {true, true, true, true},
    /*  6 columns, top right   */ {true, true, false, true},
    /*  7 columns, top left    */ {true, false, false, true},
    /*  8 columns, bottom left */ {true, false, true, true},
    /*  9 rows, bottom right   */ {false, true, true, false},
    /* 10 rows, top left       */ {false, false, false, false},
    /* 11 rows, bottom left    */ {false, true, false, false},
    // Pattern 12 places its columns like pattern 15; the rows count decides the row, so a screen
    // with more rows than columns stays inside its grid.
    /* 12 columns, bottom left */ {true, false, true, false},
    /* 13 columns, bottom right*/ {true, true, true, false},
    /* 14 columns, top left    */ {true, false, false, false},
    /* 15 columns, bottom left */ {true, false, true, false},
    /* 16 columns, top right   */ {true, true, false, false},
};

constexpr uint8_t kPatternFirst = 1;
constexpr uint8_t kPatternLast = 16;

// Job 1 states.
enum MappingState : uint8_t {
    MAP_START = 0,
    MAP_NEXT_CARD = 1,
    MAP_SEND_POSITION = 2,
    MAP_WAIT_POSITION = 3,
    MAP_DONE = 4,
    MAP_RESET = 5,
    MAP_WAIT_RESET = 6,
    MAP_CLOSING = kStateClosing,
};

constexpr uint32_t kClosingTicks = 200;     // pause before the final 100
constexpr int kProgressDone = 90;
constexpr uint8_t kResetRegister = 1;
constexpr uint16_t kResetMaskValue = 0xFFFF;   // mask 0xFF, value 0xFF
constexpr unsigned kPositionPacketLen = 23;

// ---- the operation player ----------------------------------------------------------------------
enum PlayState : uint16_t {
    PLAY_START = kPlayStart,
    PLAY_CARDS = 21,
    PLAY_TYPE = 22,
    PLAY_WRITE_RAM = 23,
    PLAY_WRITE_REG = 24,
    PLAY_ACTIVATE = 25,
    PLAY_SAVE = 26,
    PLAY_RECONFIG = 27,
    PLAY_SLEEP = 28,
    PLAY_SEARCH = 29,
    PLAY_USER = 30,
    PLAY_WAIT_REPLY = 31,
    PLAY_DONE = 32,
    PLAY_FAILED = 33,
};

constexpr uint32_t kChunk = 1000;            // bytes of card RAM per write packet
constexpr uint32_t kMaxData = 1024;          // the send buffer
constexpr uint8_t kMaxRetries = 3;
constexpr uint32_t kSaveMsPerCard = 1000;    // a save waits this much longer per card
constexpr uint32_t kMsPerTick = 10;

uint32_t now() { return G_timeTicks.load(); }
uint32_t sinceJobTick() { return Utils::getTimeSpace(u32(kTick)); }

}  // namespace

// ---- card geometry -----------------------------------------------------------------------------

void fpga_manage::get_rcvcard_x_y(int index, unsigned short* x, unsigned short* y)
{
    const LineType lt = line_type;
    if (x == nullptr || y == nullptr || lt.pattern < kPatternFirst || lt.pattern > kPatternLast || lt.rows == 0 ||
        lt.columns == 0 || index < 0 || index >= lt.rows * lt.columns)
        return;
    const RoutePattern& p = kRoutePatterns[lt.pattern - kPatternFirst];
    const int outerCount = p.columns ? lt.columns : lt.rows;
    const int innerCount = p.columns ? lt.rows : lt.columns;
    const int outer = index / innerCount;
    const int inner = index % innerCount;
    const bool reverse = p.reverseInner != (p.serpentine && (outer & 1));
    const int outerPlace = p.flipOuter ? outerCount - 1 - outer : outer;
    const int innerPlace = reverse ? innerCount - 1 - inner : inner;
    const int row = p.columns ? innerPlace : outerPlace;
    const int column = p.columns ? outerPlace : innerPlace;
    *x = static_cast<unsigned short>(column * lt.width);
    *y = static_cast<unsigned short>(row * lt.height);
}

// ---- shared job steps ----------------------------------------------------------------------------

bool fpga_manage::jobWaitsForLinks()
{
    if (pc_cmd_valid.load() == 0)
        return false;
    releaseQuietLink();
    set32(kTick, now());
    g_change[kWordJobTick] = now();
    return true;
}

void fpga_manage::jobSend(const unsigned char* packet, unsigned short length, unsigned port)
{
    // A late reply to an earlier packet must not acknowledge this one.
    set8(kAck, 0);
    Send_to_port(packet, length, static_cast<unsigned short>(port % 16), static_cast<unsigned char>(port / 16));
}

void fpga_manage::jobPacketSent()
{
    set32(kTick, now());
    g_change[kWordJobProgress] = 0;
    g_change[kWordJobTick] = now();
}

void fpga_manage::jobAwaitAck(uint32_t limit, uint8_t next, int page)
{
    if (u8(kAck) == 1) {
        set8(kAck, 0);
        setState(next);
    } else if (sinceJobTick() > limit) {
        setState(next);
    }
    jobProgressTick(page);
}

void fpga_manage::jobStartClosing(int page, int value)
{
    setState(kStateClosing);
    cardjobs::progress(static_cast<cardjobs::Page>(page), value);
    set32(kTick, now());
}

void fpga_manage::jobClosing(int page)
{
    if (sinceJobTick() > kClosingTicks) {
        cardjobs::progress(static_cast<cardjobs::Page>(page), kProgressEnd);
        jobEnd();
    }
}

void fpga_manage::jobProgressTick(int page)
{
    if (Utils::getTimeSpace(g_change[kWordJobTick]) <= 100)
        return;
    uint32_t& counter = g_change[kWordJobProgress];
    counter = counter >= 99 ? 1 : counter + 1;
    g_change[kWordJobTick] = now();
    cardjobs::progress(static_cast<cardjobs::Page>(page), static_cast<int>(counter));
}

void fpga_manage::jobEnd() { set_job(0, 0); }

// ---- job 1 ---------------------------------------------------------------------------------------

void fpga_manage::SmartMapping_deal()
{
    constexpr int kPage = static_cast<int>(cardjobs::Page::SmartMapping);
    if (jobWaitsForLinks())
        return;
    const uint16_t index = u16(kCardIndex);
    const uint16_t count = u16(kCardCount);
    switch (state()) {
    case MAP_START:
        set16(kCardIndex, 0);
        set8(kPort, line_type.port);
        setState(MAP_NEXT_CARD);
        break;
    case MAP_NEXT_CARD: {
        const uint16_t cards = get_port_card_num(u8(kPort));
        set16(kCardCount, cards);
        if (cards == 0) {
            setState(MAP_DONE);
        } else if (index >= cards) {
            set8(kPort, line_type.port);
            setState(MAP_RESET);
        } else {
            setState(MAP_SEND_POSITION);
        }
        break;
    }
    case MAP_SEND_POSITION: {
        const unsigned port = u8(kPort);
        unsigned char packet[kPositionPacketLen];
        rcv_card_cmd_create(packet, static_cast<unsigned char>(port % 16));
        jobSend(packet, kPositionPacketLen, port);
        set16(kCardIndex, static_cast<uint16_t>(index + 1));
        setState(MAP_WAIT_POSITION);
        cardjobs::progress(cardjobs::Page::SmartMapping, (index + 1) * 100 / (count + 1));
        jobPacketSent();
        break;
    }
    case MAP_WAIT_POSITION: jobAwaitAck(kAckTicks, MAP_NEXT_CARD, kPage); break;
    case MAP_WAIT_RESET: jobAwaitAck(kAckTicks, MAP_RESET, kPage); break;
    case MAP_DONE: jobStartClosing(kPage, kProgressDone); break;
    case MAP_RESET: {
        if (index != count) {
            setState(MAP_DONE);
            break;
        }
        const unsigned port = u8(kPort);
        SCAN_PARA reset;
        reset.reg = kResetRegister;
        reset.mask_value = kResetMaskValue;
        unsigned char packet[rcv_card::kMaxPacket];
        ram_reset_cmd_create(packet, &reset, static_cast<unsigned char>(port % 16));
        jobSend(packet, u16(kPacketLen), port);
        cardjobs::progress(cardjobs::Page::SmartMapping, index * 100 / (count + 1));
        set16(kCardIndex, static_cast<uint16_t>(index + 1));
        setState(MAP_WAIT_RESET);
        jobPacketSent();
        break;
    }
    case MAP_CLOSING: jobClosing(kPage); break;
    default:
        break;
    }
}

// ---- the operation player ------------------------------------------------------------------------

int fpga_manage::load_rcv_xy_operate(const QString& file, uint32_t offset, bool all_cards)
{
    const uint16_t s = u16(kPlayerState);
    if (s == PLAY_DONE)
        return 1;
    if (s == PLAY_FAILED)
        return kPlayFailed;
    if (s < PLAY_START || s > PLAY_DONE || rcv_recovery == nullptr)
        return 0;
    return playStep(file, offset, all_cards);
}

int fpga_manage::playStep(const QString& file, uint32_t offset, bool all_cards)
{
    const rcvRecovery::OperateRecord& op = rcv_recovery->operate_record;
    const unsigned port = rcv_recovery->net_record.net_ledx;
    switch (u16(kPlayerState)) {
    case PLAY_START:
        playRetries_ = 0;
        set16(kPlayerState, PLAY_CARDS);
        break;
    case PLAY_CARDS: {
        const uint16_t cards = get_port_card_num(static_cast<unsigned char>(port));
        playCard_ = all_cards ? (cards > 0 ? cards - 1 : 0) : jobCard_;
        playTimeoutMs_ = op.timeticks;
        set16(kPlayerState, PLAY_TYPE);
        break;
    }
    case PLAY_TYPE: {
        uint16_t next = PLAY_FAILED;   // an operation the cards cannot be given ends the job
        playPacket_ = 0;
        playPackets_ = 1;
        switch (op.type) {
        case rcvRecovery::OP_WRITE:
            if (op.target == rcvRecovery::TARGET_RAM) {
                playPackets_ = op.dataLen == 0 ? 1 : (op.dataLen + kChunk - 1) / kChunk;
                next = PLAY_WRITE_RAM;
            } else if (op.target == rcvRecovery::TARGET_REGISTER) {
                next = PLAY_WRITE_REG;
            } else {
                next = PLAY_DONE;
            }
            break;
        case rcvRecovery::OP_RAM2FLASH:
            playTimeoutMs_ += kSaveMsPerCard * get_port_card_num(static_cast<unsigned char>(port));
            next = PLAY_SAVE;
            break;
        case rcvRecovery::OP_ACTIVE_FIRMWARE: next = PLAY_ACTIVATE; break;
        case rcvRecovery::OP_RECONFIG: next = PLAY_RECONFIG; break;
        case rcvRecovery::OP_SLEEP:
            set32(kTick, now());
            next = PLAY_SLEEP;
            break;
        case rcvRecovery::OP_SEARCH_RXC: next = PLAY_SEARCH; break;
        case rcvRecovery::OP_USER_DEFINED: next = PLAY_USER; break;
        default: break;
        }
        set16(kPlayerState, next);
        break;
    }
    case PLAY_SLEEP:
        if (sinceJobTick() >= playTimeoutMs_ / kMsPerTick)
            set16(kPlayerState, PLAY_DONE);
        break;
    case PLAY_WAIT_REPLY:
        playReplyWait(all_cards);
        break;
    case PLAY_DONE:
        return 1;
    default:
        return playSend(file, offset, all_cards);
    }
    return u16(kPlayerState) == PLAY_FAILED ? kPlayFailed : 0;
}

// States 23-27, 29 and 30: build the state's packet for the port and card, send it, wait.
int fpga_manage::playSend(const QString& file, uint32_t offset, bool all_cards)
{
    const rcvRecovery::OperateRecord& op = rcv_recovery->operate_record;
    const unsigned port = rcv_recovery->net_record.net_ledx;
    const uint16_t s = u16(kPlayerState);
    auto fail = [] {
        set16(kPlayerState, PLAY_FAILED);
        return kPlayFailed;
    };
    if (port >= kPorts)
        return fail();

    unsigned char data[kMaxData];
    uint32_t dataLen = op.dataLen;
    uint32_t dataAt = offset;
    if (s == PLAY_WRITE_RAM) {
        if (playRetries_ == 0)
            ++playPacket_;
        const bool last = playPacket_ >= playPackets_;
        dataLen = last && op.dataLen % kChunk != 0 ? op.dataLen % kChunk : (op.dataLen == 0 ? 0 : kChunk);
        dataAt = offset + kChunk * (playPacket_ - 1);
    }
    if (s != PLAY_SAVE) {
        if (dataLen > kMaxData)
            return fail();
        if (rcv_recovery->update_rcvOperatedata(file, dataAt, data, static_cast<unsigned short>(dataLen)) != 0)
            return fail();
    }

    const auto p = static_cast<unsigned char>(port % 16);
    const auto len = static_cast<unsigned short>(dataLen);
    unsigned char packet[rcv_card::kMaxPacket];
    set16(kPacketLen, 0);
    switch (s) {
    case PLAY_WRITE_RAM:
        load_write_ram_cmd_create(p, playCard_, op.targetAddr + kChunk * (playPacket_ - 1), data, len, packet,
                                  all_cards);
        break;
    case PLAY_WRITE_REG: load_write_reg_cmd_create(p, playCard_, data, len, packet, all_cards); break;
    case PLAY_ACTIVATE: rcv_active_firmware_cmd_create(p, playCard_, data, len, packet); break;
    case PLAY_SAVE: save_para2flash_cmd_create(p, playCard_, packet, all_cards); break;
    case PLAY_RECONFIG: rcv_reconfig_cmd_create(p, playCard_, data, len, packet); break;
    case PLAY_SEARCH: load_search_rxc_cmd_create(p, data, len, packet); break;
    case PLAY_USER: load_write_user_defined_cmd_create(p, playCard_, data, len, packet, all_cards); break;
    default: return fail();
    }
    const uint16_t packetLen = u16(kPacketLen);
    if (packetLen == 0)
        return fail();   // larger than the send RAM
    jobSend(packet, packetLen, port);
    set16(kPlayerState, static_cast<uint16_t>(PLAY_WAIT_REPLY));
    playSentFrom_ = s;
    set32(kTick, now());
    return 0;
}

void fpga_manage::playReplyWait(bool all_cards)
{
    const rcvRecovery::OperateRecord& op = rcv_recovery->operate_record;
    const uint16_t sentFrom = playSentFrom_;
    const bool walksCards = (sentFrom == PLAY_ACTIVATE || sentFrom == PLAY_RECONFIG) && all_cards;
    const bool packetsLeft = sentFrom == PLAY_WRITE_RAM && playPacket_ < playPackets_;

    auto nextCardOrDone = [&] {
        playRetries_ = 0;
        if (packetsLeft) {
            set16(kPlayerState, PLAY_WRITE_RAM);
        } else if (walksCards && playCard_ > 0) {
            --playCard_;
            set16(kPlayerState, sentFrom);
        } else {
            set16(kPlayerState, PLAY_DONE);
        }
    };

    if (u8(kAck) == 1) {
        set8(kAck, 0);
        nextCardOrDone();
        return;
    }
    if (sinceJobTick() <= playTimeoutMs_ / kMsPerTick)
        return;
    if (op.type == rcvRecovery::OP_SEARCH_RXC) {
        set16(kPlayerState, PLAY_DONE);
    } else if (playRetries_ < kMaxRetries) {
        ++playRetries_;
        set16(kPlayerState, sentFrom);
    } else {
        nextCardOrDone();
    }
}

// ---- operation records on the stick -------------------------------------------------------------

int fpga_manage::get_operate_deal_para(SCAN_PARA* scan, unsigned char n)
{
    constexpr unsigned kSettleUs = 100000;
    if (scan == nullptr || n >= scan_para_num)
        return 1;
    const std::string path =
        platform::rootPath(QString::fromLatin1(rcvRecovery::kUsbDir) + g_jyfile_name).toStdString();
    uint8_t record[scanrecord::kSize];
    bool whole = false;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        FILE* f = std::fopen(path.c_str(), "rb");
        if (f == nullptr)
            return 1;
        whole = std::fseek(f, long(scanrecord::kFirst + scanrecord::kSize * n), SEEK_SET) == 0 &&
                std::fread(record, 1, sizeof record, f) == sizeof record;
        std::fclose(f);
    }
    filestore::sync_and_settle(kSettleUs);
    if (!whole)
        return 1;   // a record cut off by the end of the file is no record
    std::memcpy(scan->text, record, scanrecord::kTextSize);
    scan->text[scanrecord::kTextSize] = '\0';
    scan->reg = rcv_card::rd32(record + scanrecord::kRegAt);
    scan->mask_value = rcv_card::rd16(record + scanrecord::kMaskValueAt);
    return 0;
}
