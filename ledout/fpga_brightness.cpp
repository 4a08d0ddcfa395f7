// Brightness of the LED screen (register 6 of both FPGAs): from the image's brightness word, a
// fixed value, a table of 48 half-hour values or the multifunction card's light value; the
// brightness record in the flash behind FPGA 0; the multifunction card's read request.
#include <algorithm>
#include <cstring>
#include <mutex>

#include <QMutexLocker>

#include "core/global.h"
#include "core/utils.h"
#include "ledout/change_words.h"
#include "ledout/command_record.h"
#include "ledout/eth_param.h"
#include "ledout/fpga_manage.h"
#include "ledout/fpga_para.h"
#include "ledout/fpga_ports.h"
#include "ledout/rcv_card_cmd.h"

using namespace changeword;
using cmdrecord::kErase;
using cmdrecord::kPresent;
using cmdrecord::kStore;

void (*fpga_manage::spin_hook)() = nullptr;

namespace {

// Modes of the brightness record (byte 8).
constexpr uint8_t kModeFixedLevel = 0;
constexpr uint8_t kModeTimedLevel = 1;
constexpr uint8_t kModeAuto = 2;
constexpr uint8_t kModeFixedValue = 16;
constexpr uint8_t kModeTimedValue = 17;
constexpr uint8_t kModeLast = 17;

constexpr int kRegBrightness = 6;
constexpr int kRegControl3 = 3;
constexpr uint8_t kTakeBrightness = 0x04;
constexpr int kRegLevel = 64;            // shadow only: the current level or value
constexpr int kRegVmfErrors = 85;        // shadow only: bad multifunction replies
constexpr unsigned kParaBrightnessSet = 256;
constexpr uint8_t kMinValue = 15;

constexpr unsigned kRecordLen = 57;
constexpr uint8_t kRecordHead[9] = {0xAA, 0x03, 0xAA, 0x00, 0x00, 0x00, 0x31, 0x00, kModeFixedValue};
constexpr unsigned kRecordMode = cmdrecord::kPayload;
constexpr unsigned kRecordValue = kRecordMode + 1;
constexpr uint32_t kNoRecordValue = 16;

constexpr uint32_t kAutoTicks = 200;
constexpr uint32_t kTaskTicks = 1000;
constexpr uint32_t kFixedRepeats = 5;
constexpr uint32_t kSlotRepeats = 2;
constexpr int kSlots = 48;
constexpr int kMinutesPerSlot = 30;
constexpr uint32_t kSilentReads = 10;
constexpr uint32_t kFullBrightness = 255;

// The multifunction card.
constexpr uint16_t kVmfBase = 0x4000;
constexpr uint8_t kVmfRead = rcv_card::kCmdReadRam;
constexpr uint8_t kVmfRequest[19] = {0x00, 0x40, 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0x61,
                                     0x00, 0x00, 0x00, 0x02, 0x80, 0x00, 0x00, 0x00, 0x00};
constexpr uint32_t kVmfWaitTicks = 35;
constexpr unsigned kVmfReplyLen = 140;   // header, status, 128 data bytes, check byte
constexpr unsigned kVmfValid = 49;       // 255: the light value is valid
constexpr unsigned kVmfWanted = 53;      // the brightness the card asks for

bool fixedMode(uint8_t m) { return m == kModeFixedLevel || m == kModeFixedValue; }
bool timedMode(uint8_t m) { return m == kModeTimedLevel || m == kModeTimedValue; }
bool valueMode(uint8_t m) { return m == kModeFixedValue || m == kModeTimedValue; }

// The 8-bit value of a percent (integer division), at least kMinValue where `raised`.
uint8_t valueOfPercent(uint16_t percent, bool raised)
{
    unsigned v = percent * 255u / 100u;
    if (raised)
        v = std::max<unsigned>(v, kMinValue);
    return static_cast<uint8_t>(std::min(v, 255u));
}

// The percent that value v shows: the image's percent while that percent gives v (as set in any
// mode), so that a percent set by the user reads back as itself, restart after restart. Else the
// percent that gives v (229 -> 90, where plain scaling back would say 89), and for a value no
// percent gives, v scaled back to the nearest percent.
uint16_t percentOfValue(uint8_t v, uint16_t percent)
{
    if (valueOfPercent(percent, false) == v || valueOfPercent(percent, true) == v)
        return percent;
    const unsigned giving = (v * 100u + 254u) / 255u;   // the only percent whose value can be v
    if (valueOfPercent(static_cast<uint16_t>(giving), false) == v)
        return static_cast<uint16_t>(giving);
    return static_cast<uint16_t>((v * 100u + 127u) / 255u);
}

// The value that FPGA 0's level (register shadow 64) stands for in `mode`.
uint8_t valueOfLevel(uint8_t level, uint8_t mode)
{
    if (valueMode(mode) || mode == kModeAuto)
        return level;
    return static_cast<uint8_t>(16 * level - 1);
}

uint32_t now() { return G_timeTicks.load(); }

using StateLock = std::lock_guard<std::recursive_mutex>;

}  // namespace

// ---- applying ------------------------------------------------------------------------------------

int fpga_manage::Brightness_hand_dealwith(int) { return applyBrightness(set_bri_flag.load() != 0); }

// The engine's request taken and applied as one under the state lock: a record's start taken
// meanwhile finds the word either still on its way or applied, never taken off and not applied.
void fpga_manage::takeBrightnessRequest()
{
    StateLock state(recordStateMutex_);
    if (takeRequest(set_bri_flag, Utils::_bri_set_mutex) && set_fpga_bri_val() != 1)
        keepRequest(set_bri_flag, Utils::_bri_set_mutex);
}

// A link takes a record's start in the order of its connection's commands, before the record
// runs apart: a user's word committed before it and not applied yet is older than the record,
// and one applied after it is newer.
void fpga_manage::recordTaken(const uint8_t* rec)
{
    if (rec[0] != kPresent || rec[cmdrecord::kCommand] != cmdrecord::CMD_BRIGHTNESS)
        return;
    // Asked before the state lock: the engine's commit point is taken after it elsewhere. The
    // engine first: its pass raises the request before it lets the image go, so a word the engine
    // is passing on meanwhile is found raised; asked the other way round, it would be in neither.
    const bool wordOnItsWay = ledpara::wordOnItsWay(ledpara::kBrightness) || set_bri_flag.load() != 0;
    const int32_t word = ledpara::word(ledpara::kBrightness);
    StateLock state(recordStateMutex_);
    wordBeforeRecord_ = wordOnItsWay ? word : -1;
    wordAtTake_ = word;
    userAppliesAtTake_ = userApplies_;
    recordTaken_ = true;
}

// Another word than the one the record's start found, applied as a user's change since, or on
// its way to the manager (one taken off its request just before the start is the earlier one).
bool fpga_manage::wordAfterRecord()
{
    const int32_t percent = ledpara::word(ledpara::kBrightness);
    return (userApplies_ != userAppliesAtTake_ && lastUserWord_ != wordAtTake_) ||
           (set_bri_flag.load() != 0 && percent != wordAtTake_);
}

int fpga_manage::applyBrightness(bool userChange)
{
    StateLock state(recordStateMutex_);
    const uint16_t percent = ledpara::word(ledpara::kBrightness);
    if (userChange && int32_t(percent) == wordBeforeRecord_) {
        // The word a PC's later record replaced: what the record set stays, and the word says it.
        wordBeforeRecord_ = -1;
        userChange = false;
    } else if (userChange) {
        wordBeforeRecord_ = -1;
        ++userApplies_;
        lastUserWord_ = percent;
    }
    auto fromPercent = [&] { return valueOfPercent(percent, !valueMode(bri_mode)); };

    const uint32_t links = shadow(fpga_ports::kRegLinkLow, 0) | shadow(fpga_ports::kRegLinkHigh, 0) << 8 |
                           shadow(fpga_ports::kRegLinkLow, 1) | shadow(fpga_ports::kRegLinkHigh, 1) << 8;
    if (links == 0 && userChange)
        takeUserValue(fromPercent());   // not shown without a link, but the value kept
    if (links != 0) {
        MCU_RAM_PARA_func[0][kParaBrightnessSet] = 1;
        // Both FPGAs take the same value: from the percent after a user change, else FPGA 0's level.
        uint8_t v = 0;
        if (userChange) {
            v = fromPercent();
            takeUserValue(v);
            setShadow(kRegLevel, 1, v);
        } else {
            v = valueOfLevel(shadow(kRegLevel, 0), bri_mode);
            const uint16_t shown = percentOfValue(v, percent);
            // Not over a user's change that is still on its way here: that one is shown next.
            if (shown != percent)
                reportShown(ledpara::kBrightness, shown);
        }
        for (int f = 0; f < kFpgas; ++f) {
            write_to_register(kRegBrightness, 0xFF, v, f);
            write_to_register(kRegControl3, kTakeBrightness, kTakeBrightness, f);
        }
        read_from_register(kRegBrightness, 0);
        read_from_register(kRegBrightness, 1);
        if (shadow(kRegBrightness, 0) != shadow(kRegBrightness, 1))
            return 0;
    }
    if (userChange)
        storeBrightnessRecord(shadow(kRegLevel, 0));
    return 1;
}

// A user's value is an 8-bit value, stored as a fixed 8-bit record: whatever ran before (a fixed
// level, a schedule of levels or values, the card's value) gives way to it at once, as the stored
// record runs once loaded, so the fixed step goes on showing that value (not as a level) and no
// slot or card step replaces it, until a PC sends another record.
void fpga_manage::takeUserValue(uint8_t v)
{
    setShadow(kRegLevel, 0, v);
    bri_mode = kModeFixedValue;
    bri_last_slot = 255;
    g_change[kBriValue] = v;
    g_change[kBriRepeat] = 0;
    g_change[kBriTaskOn] = 1;
}

// A user change becomes the stored record: a fixed 8-bit value, taken at the next load.
bool fpga_manage::storeBrightnessRecord(uint8_t value)
{
    uint8_t record[kRecordLen];
    std::memcpy(record, kRecordHead, sizeof kRecordHead);
    std::memset(record + sizeof kRecordHead, value, kRecordLen - sizeof kRecordHead);
    return store_record(kBrightnessRecord, record, kRecordLen);
}

void fpga_manage::applyLitBrightness()
{
    StateLock state(recordStateMutex_);
    applyBrightness(set_bri_flag.load() != 0 || wordOverRecord());
}

// A schedule (timed or automatic) decides the value itself, and a report of the record's value
// still on its way (a PC brightness command during an LED-size change) is newer than the word:
// the record holds then. Without a record the word is compared with what FPGA 0 holds.
bool fpga_manage::wordOverRecord()
{
    StateLock state(recordStateMutex_);
    const bool recordRules = bri_record && (timedMode(bri_mode) || bri_mode == kModeAuto);
    if (recordRules || reportKept(ledpara::kBrightness))
        return false;
    const uint16_t percent = ledpara::word(ledpara::kBrightness);
    return percentOfValue(valueOfLevel(shadow(kRegLevel, 0), bri_mode), percent) != percent;
}

void fpga_manage::storePendingBrightness(bool committed)
{
    StateLock state(recordStateMutex_);
    if (!bri_loaded || (set_bri_flag.load() == 0 && !committed && !wordOverRecord()))
        return;
    if (outputsTakeRequests()) {
        applyBrightness(true);
    } else {
        const uint8_t v = valueOfPercent(ledpara::word(ledpara::kBrightness), !valueMode(bri_mode));
        takeUserValue(v);
        storeBrightnessRecord(v);
    }
    QMutexLocker lock(&Utils::_bri_set_mutex);
    set_bri_flag = 0;
}

// ---- the record ----------------------------------------------------------------------------------

void fpga_manage::record_bright_change()
{
    if (shadow(kRegState, 0) != kStateRunning && shadow(kRegState, 1) != kStateRunning)
        return;
    fpga_flash_access();
    uint8_t marker = 0;
    uint8_t record[kRecordLen];
    // A flash that did not answer says nothing about the record: what runs stays, and the load
    // is tried again on the next extension step.
    if (!read_record(kBrightnessRecord, &marker, 1) ||
        (marker == kPresent && !read_record(kBrightnessRecord, record, kRecordLen))) {
        ZEL_DEBUG("\n brightness record not read: the flash did not answer \n");
        StateLock state(recordStateMutex_);
        g_change[kBriReload] = 1;
        noteRecordUnread();
        return;
    }
    StateLock state(recordStateMutex_);
    bri_loaded = true;
    // Taken from its own copy: the command RAM is the clients', and what a client wrote there
    // stays until that client starts it.
    if (marker == kPresent) {
        Brightness_init(record);
        return;
    }
    bri_record = false;
    g_change[kBriTaskOn] = 0;
    g_change[kBriValue] = kNoRecordValue;
}

void fpga_manage::Brightness_init(const uint8_t* record)
{
    StateLock state(recordStateMutex_);
    bri_mode = record[kRecordMode];
    bri_record = true;
    bri_last_slot = 255;
    g_change[kBriTaskOn] = 0;
    if (bri_mode > kModeLast)
        return;
    if (fixedMode(bri_mode)) {
        setShadow(kRegLevel, 0, record[kRecordValue]);
        g_change[kBriValue] = record[kRecordValue];
        g_change[kBriRepeat] = 0;
        g_change[kBriTaskOn] = 1;
    } else if (timedMode(bri_mode)) {
        std::memcpy(HalfHourValue, record + kRecordValue, kSlots);
        // The slot of the current time is what the record says from now on: a light-up or an
        // apply before the task's first step shows it (a level as a level), not a level or value
        // left from before.
        TimeRealType t;
        IT8563WE_Get(&t);
        takeLevel(HalfHourValue[slotOf(t)]);
        g_change[kBriTaskOn] = 1;
    } else if (bri_mode == kModeAuto) {
        // The card moves the value a step at a time from what the wall shows now (at a start: the
        // saved word, which said what it showed), not from a level or from nothing.
        takeLevel(shownValue());
        g_change[kBriTaskOn] = 1;
    }
}

void fpga_manage::takeLevel(uint8_t level)
{
    g_change[kBriValue] = level;
    setShadow(kRegLevel, 0, level);
    setShadow(kRegLevel, 1, level);
}

// The 8-bit value the wall shows: register 6 as last written, while the word says it; else (a
// start, before the light-up) the value the word gives.
uint8_t fpga_manage::shownValue()
{
    const uint16_t percent = ledpara::word(ledpara::kBrightness);
    const uint8_t written = shadow(kRegBrightness, 0);
    return percentOfValue(written, percent) == percent ? written : valueOfPercent(percent, false);
}

// Runs on the thread the record was started from: the state changes take the state lock, the
// flash work is done outside it (the manager's steps go on meanwhile).
void fpga_manage::Brightness_command(const uint8_t* rec)
{
    const uint32_t length = cmdrecord::storedLength(rec);
    const uint8_t mode = rec[kRecordMode];
    const bool fixed = (mode & ~kModeFixedValue) == kModeFixedLevel;
    uint32_t appliesBefore = 0;
    {
        // A user's word that came after this record on its connection wins: the record neither
        // shows nor stores anything over it.
        StateLock state(recordStateMutex_);
        const bool superseded = recordTaken_ && wordAfterRecord();
        recordTaken_ = false;
        if (superseded)
            return;
        appliesBefore = userApplies_;
    }
    if (fixed) {
        StateLock state(recordStateMutex_);
        // The value is in the record's unit (a 4-bit level or an 8-bit value), whatever ran
        // before: the record's mode runs from here on, as it does once the stored record is
        // loaded, so the LEDs, the word and the record all say the same. The record's own value
        // is shown; a user's change on its way is applied and stored by the manager's next pass.
        bri_mode = mode;
        setShadow(kRegLevel, 0, rec[kRecordValue]);
        g_change[kBriValue] = rec[kRecordValue];
        applyBrightness(false);
    }
    bool changed = false;
    if (rec[cmdrecord::kStoreByte] == kStore) {
        changed = store_record(kBrightnessRecord, rec, length);
    } else if (rec[cmdrecord::kStoreByte] == kErase) {
        // The PC's record goes, of every mode (a fixed one's value is shown all the same). What
        // the wall shows then is kept as the box's own fixed 8-bit record, as a user's change is:
        // from the saved percent alone the next start would show the nearest value a percent
        // gives, not the one shown.
        uint8_t shown = 0;
        {
            StateLock state(recordStateMutex_);
            shown = valueOfLevel(shadow(kRegLevel, 0), bri_mode);
        }
        changed = storeBrightnessRecord(shown);
    }
    if (changed && userWordCameSince(appliesBefore))
        return;
    StateLock state(recordStateMutex_);
    if (changed)
        g_change[kBriReload] = 1;
    if (fixed)
        return;
    g_change[kVmfFailCount] = 0;
    // A stored schedule shows from its reply on, as a fixed record does, not from the reload's
    // next step: a user's word right behind it is then a change of what shows, never lost as
    // "the same word".
    if (changed && rec[cmdrecord::kStoreByte] == kStore && (timedMode(mode) || mode == kModeAuto)) {
        Brightness_init(rec);
        applyBrightness(false);
    }
}

// The record's flash work runs outside the state lock: a user's word applied meanwhile (and
// stored before the record's store) is the later one, and its record is stored again. True then.
bool fpga_manage::userWordCameSince(uint32_t applies)
{
    uint8_t value = 0;
    {
        StateLock state(recordStateMutex_);
        if (userApplies_ == applies)
            return false;
        value = shadow(kRegLevel, 0);
    }
    storeBrightnessRecord(value);
    return true;
}

// ---- the task ------------------------------------------------------------------------------------

uint32_t fpga_manage::brightnessDue(uint32_t none) const
{
    if (g_change[kBriTaskOn] == 0)
        return none;
    return g_change[kBriTick] + (bri_mode == kModeAuto ? kAutoTicks : kTaskTicks);
}

void fpga_manage::Brightness_task()
{
    std::unique_lock<std::recursive_mutex> state(recordStateMutex_);
    const uint32_t since = Utils::getTimeSpace(g_change[kBriTick]);
    const uint8_t mode = bri_mode;   // one mode for the whole step, whatever a PC command sets meanwhile
    if (mode == kModeAuto) {
        if (since >= kAutoTicks) {
            // The card's request waits for its reply under the pass-through lock, which a bring-up
            // holds over its loads of the records: not under this one.
            state.unlock();
            Brightness_auto_change();
            state.lock();
            g_change[kBriTick] = now();
        }
        return;
    }
    if (since < kTaskTicks)
        return;
    if (timedMode(mode))
        Brightness_time_change();
    else if (fixedMode(mode))
        Brightness_hand_change();
    g_change[kBriTick] = now();
}

void fpga_manage::Brightness_hand_change()
{
    uint32_t& repeat = g_change[kBriRepeat];
    if (repeat >= kFixedRepeats)
        return;
    const int ok = Brightness_hand_dealwith(1);
    repeat += 1;
    if (!ok && repeat == kFixedRepeats)
        repeat = 0;
}

int fpga_manage::slotOf(const TimeRealType& t)
{
    const int minutes = 60 * t.hour + t.minute;
    return std::min(minutes / kMinutesPerSlot, kSlots - 1);
}

void fpga_manage::Brightness_time_change()
{
    const int slot = slotOf(current_time);
    uint32_t& repeat = g_change[kBriRepeat];
    if (slot == bri_last_slot) {
        if (repeat >= kSlotRepeats)
            return;
        Brightness_hand_dealwith(1);
        repeat += 1;
        return;
    }
    takeLevel(HalfHourValue[slot]);
    Brightness_hand_dealwith(1);
    bri_last_slot = static_cast<uint8_t>(slot);
    Brightness_hand_dealwith(1);
    repeat = 1;
}

void fpga_manage::Brightness_auto_change()
{
    Brightness_check_VMF();
    Brightness_read_VMF_value();
    StateLock state(recordStateMutex_);
    Brightness_auto_filter();
    Brightness_hand_dealwith(1);
}

void fpga_manage::Brightness_auto_filter()
{
    const uint32_t value = g_change[kBriValue];
    if (g_change[kVmfGotData] != 0) {
        if (vmf_data[kVmfValid] == 255) {
            const uint32_t wanted = vmf_data[kVmfWanted];
            takeLevel(static_cast<uint8_t>(value < wanted ? value + 1 : value > wanted ? value - 1 : value));
        }
        g_change[kVmfGotData] = 0;
    }
    if (g_change[kVmfFailCount] == kSilentReads) {
        takeLevel(kFullBrightness);
        g_change[kVmfFailCount] = 0;
    }
}

// ---- the multifunction card ----------------------------------------------------------------------

void fpga_manage::Brightness_check_VMF()
{
    g_change[kVmfDest] = 0;
    g_change[kVmfGroup] = 0;
    for (int f = 0; f < kFpgas; ++f) {
        for (unsigned p = 0; p < eth_param::kPorts; ++p) {
            if (MCU_RAM_PARA_func[f][eth_param::kCardStatus[p]] == 0)
                continue;
            g_change[kVmfDest] = kVmfBase + 0x1000u * (p % 4);
            g_change[kVmfGroup] = (f == 0 ? 1u : 5u) + p / 4;
            return;
        }
    }
}

void fpga_manage::Send_read_VMF_data_cmd()
{
    uint8_t packet[sizeof kVmfRequest];
    std::memcpy(packet, kVmfRequest, sizeof packet);
    const uint32_t dest = g_change[kVmfDest];
    rcv_card::wr16(packet, static_cast<uint16_t>(dest));
    packet[sizeof packet - 1] = static_cast<uint8_t>(Utils::BCC(packet, sizeof packet - 1));
    const uint32_t group = g_change[kVmfGroup];
    const uint32_t inGroup = dest >= kVmfBase && dest <= kVmfBase + 0x3000 && dest % 0x1000 == 0
                                 ? (dest - kVmfBase) / 0x1000
                                 : 0;
    const uint32_t port = inGroup + 4 * ((group - 1) % 4);
    Send_to_port(packet, sizeof packet, static_cast<unsigned short>(port), group <= 4 ? 0 : 1);
}

void fpga_manage::Brightness_read_VMF_value()
{
    // No card found is no reading either: counted as a request without a reply, so the
    // automatic mode reaches its fallback (full brightness) rather than keep a value no card
    // asked for.
    if (g_change[kVmfDest] == 0) {
        StateLock state(recordStateMutex_);
        g_change[kVmfFailCount] += 1;
        return;
    }
    {
        // A reply served while the request goes out belongs to it: the flag is cleared first.
        std::lock_guard<std::recursive_mutex> lock(passby_mutex);
        vmf_reply_ready = 0;
    }
    Send_read_VMF_data_cmd();
    g_change[kVmfResult] = 0;
    g_change[kVmfGotData] = 0;
    g_change[kVmfExpectCmd] = kVmfRead;
    const uint32_t start = now();
    for (;;) {
        Brightness_VMF_run();
        if (g_change[kVmfResult] == 1)
            return;
        // The poll at the 35th tick is the last: a reply later than that is not this request's.
        if (Utils::getTimeSpace(start) >= kVmfWaitTicks)
            break;
        if (spin_hook)
            spin_hook();
    }
    StateLock state(recordStateMutex_);
    g_change[kVmfFailCount] += 1;
}

void fpga_manage::Brightness_VMF_run()
{
    std::lock_guard<std::recursive_mutex> lock(passby_mutex);
    reg_IRQ_Dealwith(0, 0);
    reg_IRQ_Dealwith(1, 0);
    VMF_data_back_result();
}

void fpga_manage::VMF_data_back_result()
{
    std::lock_guard<std::recursive_mutex> lock(passby_mutex);
    if (vmf_reply_ready == 0)
        return;
    if (vmf_reply_len >= kVmfReplyLen && vmf_reply[0] == 0 && vmf_reply_cmd == g_change[kVmfExpectCmd]) {
        std::memcpy(vmf_data, vmf_reply + 1, sizeof vmf_data);
        g_change[kVmfGotData] = 1;
        g_change[kVmfResult] = 1;
    } else {
        setShadow(kRegVmfErrors, 0, static_cast<uint8_t>(shadow(kRegVmfErrors, 0) + 1));
    }
    vmf_reply_ready = 0;
}
