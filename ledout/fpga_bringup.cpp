// Bring-up of the output FPGAs: the V-by-One steps, the parameter block, the checks that light
// the screen, reset pulses, the interrupt service and the status queries.
#include <cstring>

#include "chips/tarvosource.h"
#include "core/global.h"
#include "core/utils.h"
#include "ledout/change_words.h"
#include "ledout/fpga_manage.h"
#include "ledout/fpga_para.h"
#include "ledout/fpga_ports.h"

namespace {

// Registers and bits.
constexpr int kRegScreen = 0;
constexpr uint8_t kScreenFault = 0x08;
constexpr int kRegControl = 2;
constexpr uint8_t kControlTakeRam = 0x01, kControlInitDone = 0x08;
constexpr int kRegVbo = 3;
constexpr uint8_t kVboStep1 = 0x40, kVboStep3 = 0x80;
constexpr int kRegIdentity = 7;
constexpr int kRegRead3x = 21;
constexpr int kRegStatus = 22;
constexpr uint8_t kStatusVboError = 0x08, kStatusLocked = 0x10, kStatusIrqReply = 0x20, kStatusIrqFault = 0x40,
                  kStatusPicture = 0x80;
constexpr int kRegGate = 23;
constexpr uint8_t kGateOutput = 0x01, kGateHandshake = 0x02;
constexpr int kRegLanes = 40;
constexpr uint8_t kLanesLocked = 0x1C;
constexpr int kRegParaAck = 41;
constexpr int kRegVersion[] = {31, 30, 29, 28};
using fpga_ports::kRegFlagsHigh;
using fpga_ports::kRegFlagsLow;
using fpga_ports::kRegLinkHigh;
using fpga_ports::kRegLinkLow;
using fpga_ports::kReadyMask;
constexpr uint8_t kAnswerMin = 25, kAnswerMax = 48;   // register 31 of an FPGA that answers

// Pacing, in ticks.
constexpr uint32_t kStepTicks = 5;
constexpr uint32_t kCheckTicks = 10;
constexpr uint32_t kResetTicks = 200;
constexpr uint32_t kVboTicks = 9;

// Parameter block.
constexpr uint32_t kFlashMarker = 0x6C7000;
constexpr uint8_t kMarkerSaved = 0xAA;
constexpr uint32_t kFlashBlock = 0x6C7001;
constexpr int kParaRam = 1;
constexpr int kClearFrom = 96, kClearTo = 127;
constexpr int kPortWordsAt = 296, kPortWords = 16;
constexpr uint8_t kPortWord[4] = {0x76, 0x05, 0xD2, 0x01};
constexpr int kPortNumbersAt = 276;
constexpr int kPictureAt = 116;
constexpr uint32_t kFrameMin = 714286, kFrameMax = 999999;

// g_change words (per FPGA i: word + i).
constexpr int kWordVboStamp = 3;
constexpr int kWordStepStamp = 32;
constexpr int kWordReplyWait = changeword::kReplyWait;
constexpr int kWordLostTick = 38;
constexpr int kWordIdleStamp = 40;
constexpr int kWordIdleState = 42;
constexpr int kWordCheckStamp = 47;

bool answers(uint8_t reg31) { return reg31 >= kAnswerMin && reg31 <= kAnswerMax; }
bool after(uint32_t stamp, uint32_t ticks) { return Utils::getTimeSpace(stamp) > ticks; }
uint32_t now() { return G_timeTicks.load(); }

}  // namespace

namespace {
struct ByteAt {
    int at;
    uint8_t value;
};
// The non-zero bytes of the built-in parameter block.
constexpr ByteAt kRam1Bytes[] = {
    {1, 0x05},   {3, 0x04},   {4, 0x76},   {5, 0x05},   {6, 0xD2},   {7, 0x01},   {13, 0x05},  {15, 0x02},
    {24, 0x05},  {26, 0x02},  {30, 0x02},  {37, 0x01},  {48, 0x01},  {61, 0x05},  {63, 0x04},  {96, 0x05},
    {100, 0x02}, {116, 0x56}, {117, 0x05}, {119, 0x03}, {120, 0xD9}, {121, 0xB8}, {122, 0x0C},
};
constexpr std::array<uint8_t, 256> makeRam1()
{
    std::array<uint8_t, 256> block{};
    for (const ByteAt& b : kRam1Bytes)
        block[b.at] = b.value;
    return block;
}
}  // namespace

const std::array<uint8_t, 256> fpga_manage::RAM1 = makeRam1();

// ---- reset pulses ------------------------------------------------------------------------------

void fpga_manage::startResetPulse(int fpga)
{
    // A frame of a link on its way to this FPGA's ports is lost with the reset.
    passby_resets.fetch_or(uint8_t(1u << fpga));
    setLine(fpga == 0 ? GpioLine::rst_fpga0 : GpioLine::rst_fpga1, kLineLow);
    resetTick_[fpga] = now();
    resetPending_[fpga] = 1;   // last: whoever sees the pulse pending sees when it started
}

void fpga_manage::reset_fpga_rst(int fpga)
{
    if (fpga != 0 && fpga != 1)
        return;
    startResetPulse(fpga);
    powerResets_[fpga] = 0;
}

void fpga_manage::check_fpga_rst()
{
    for (int i = 0; i < kFpgas; ++i) {
        if (!resetPending_[i] || !after(resetTick_[i], kResetTicks))
            continue;
        setLine(i == 0 ? GpioLine::rst_fpga0 : GpioLine::rst_fpga1, kLineHigh);
        setShadow(kRegState, i, 0);
        setShadow(31, i, 0);
        checkStep_[i] = 0;
        powerStep_[i] = 0;
        powerErrors_[i] = 0;
        g_change[kWordLostTick + i] = now();
        resetPending_[i] = 0;
    }
}

// ---- V-by-One bring-up -------------------------------------------------------------------------

void fpga_manage::power_up_fpga_start(int force, int fpga)
{
    const int i = fpga ? 1 : 0;
    if (force == 1 && shadow(kRegState, i) == kStateRunning && powerStep_[i] == kStepUp)
        return;
    // Its own reset pulse is running: nothing to poll until the FPGA is out of reset.
    if (resetPending_[i])
        return;
    if (!after(g_change[kWordStepStamp + i], kStepTicks))
        return;

    if (!answers(shadow(31, i))) {
        for (int reg : kRegVersion)
            read_from_register(reg, i);
        read_from_register(kRegIdentity, i);
        powerStep_[i] = 1;
        powerErrors_[i] = 0;
        checkPolls_[i] = 0;
        checkResets_[i] = 0;
        g_change[kWordStepStamp + i] = now();
        return;
    }

    switch (powerStep_[i]) {
    case 1:
        write_to_0x00_register(kRegVbo, kVboStep1, kVboStep1, i);
        powerStep_[i] = 2;
        break;
    case 2:
        read_from_register(kRegStatus, i);
        if (!(shadow(kRegStatus, i) & kStatusVboError)) {
            powerStep_[i] = 3;
        } else if (++powerErrors_[i] >= 5) {
            if (++powerResets_[i] < 3) {
                powerErrors_[i] = 0;
                startResetPulse(i);
            } else {
                powerStep_[i] = 3;
            }
        }
        break;
    case 3:
        write_to_0x00_register(kRegVbo, kVboStep3, kVboStep3, i);
        powerStep_[i] = 5;
        powerErrors_[i] = 0;
        powerResets_[i] = 0;
        break;
    case 5:
        read_from_register(kRegStatus, i);
        if (shadow(kRegStatus, i) & kStatusLocked) {
            powerStep_[i] = 6;
            powerResets_[i] = 0;
            write_to_0x00_register(kRegGate, kGateOutput, 0, i);
        } else if (++powerErrors_[i] >= 6 && ++powerResets_[i] >= 3) {
            powerStep_[i] = 6;
        }
        break;
    case 6:
        write_to_0x00_register(kRegGate, kGateOutput, kGateOutput, i);
        setShadow(kRegState, i, kStateRunning);
        // A fresh bring-up runs the screen checks again (after a lost FPGA they would otherwise
        // stay at "lit" while the screen is blanked below).
        checkStep_[i] = 0;
        fpgainit(i);
        SCREEN_fpgactrl_status2(SCREEN_BLANK, i);
        setShadow(kRegState, i, kStateRunning);
        powerStep_[i] = kStepUp;
        return;
    default:
        break;
    }
    g_change[kWordStepStamp + i] = now();
}

// ---- parameter block ---------------------------------------------------------------------------

void fpga_manage::fpgainit(int fpga)
{
    const int i = fpga ? 1 : 0;
    uint8_t* block = MCU_RAM_PARA_func[i];
    // The reply path (on a link's thread as well) writes link bits and card counts into this block.
    std::lock_guard<std::recursive_mutex> lock(passby_mutex);

    read_from_register(kRegStatus, i);
    write_to_0x00_register(kRegStatus, kStatusIrqReply, 0, i);
    record_bright_change();
    record_onoff_time(i + 2);
    for (int n = 0; n < 3; ++n)
        read_from_register(kRegRead3x, i);

    uint8_t marker = 0;
    uint8_t saved[kRamImageSize];
    const bool haveSaved = drv_.FPGA_SPI_FLASH_VBYONE_READ(i + 2, kFlashMarker, 1, &marker) && marker == kMarkerSaved &&
                           drv_.FPGA_SPI_FLASH_VBYONE_READ(i + 2, kFlashBlock, kRamImageSize, saved);
    if (haveSaved) {
        std::memcpy(block, saved, kRamImageSize);
        std::memset(block + kClearFrom, 0, kClearTo - kClearFrom + 1);
        T71_back_mcu_set_net_para(i);
        if (i == 0)
            T71_mcu_set_net_para(0);
    } else {
        std::memcpy(block, RAM1.data(), RAM1.size());
        for (int p = 0; p < kPortWords; ++p)
            std::memcpy(block + kPortWordsAt + 4 * p, kPortWord, sizeof kPortWord);
        block[496] = 0;
        block[498] = 0;
        eth_param_init(1, i);
        T71_back_mcu_set_net_para(i);
    }
    for (int p = 0; p < 16; ++p)
        block[kPortNumbersAt + p] = uint8_t(16 * i + p + 1);

    write_fpga_ram(block, 0, kRamImageSize, kParaRam, i);
    update_eth_state(i);
    FPGA_to_RAM(i);
    write_to_0x00_register(kRegControl, kControlInitDone, kControlInitDone, i);

    fpga_ram_ok[i] = uint8_t(check_fpga_ram_param(i));
    if (fpga_ram_ok[i] == 0) {
        reset_fpga_rst(i);
        ZEL_DEBUG("\n check fpga%d ram error ,start to reset .... \n", i + 1);
    } else {
        ZEL_DEBUG("\n check fpga%d ram ok  .... \n", i + 1);
    }
}

void fpga_manage::FPGA_to_RAM(int fpga)
{
    for (int n = 0; n < 4; ++n)
        MCU_RAM_CMD[12 + n] = shadow(28 + n, fpga);
}

void fpga_manage::Version_to_RAM()
{
    const uint8_t version[4] = {1, 17, 0, 0};
    std::memcpy(MCU_RAM_CMD + 24, version, sizeof version);
}

void fpga_manage::PHY_status_to_RAM() { std::memset(MCU_RAM_CMD + 30, 0, 4); }

// ---- checks that light the screen -------------------------------------------------------------

void fpga_manage::power_up_check_fpga_status(int fpga)
{
    const int i = fpga ? 1 : 0;
    if (shadow(kRegState, i) != kStateRunning || powerStep_[i] != kStepUp)
        return;
    checkStep(i);
}

void fpga_manage::checkStep(int i)
{
    uint32_t& stamp47 = g_change[kWordCheckStamp + i];
    switch (checkStep_[i]) {
    case 0:
        if (!after(checkStamp_[i], kCheckTicks))
            return;
        read_from_register(kRegStatus, i);
        if (shadow(kRegStatus, i) & kStatusPicture) {
            checkStep_[i] = 7;
        } else if (checkPolls_[i] >= 20 * (checkResets_[i] + 1)) {
            if (++checkResets_[i] > 101) {
                checkStep_[i] = 7;
            } else {
                startResetPulse(i);
                powerStep_[i] = 17;
            }
        } else {
            ++checkPolls_[i];
        }
        checkStamp_[i] = now();
        return;
    case 7: {
        if (!after(checkStamp_[i], kCheckTicks))
            return;
        uint8_t* block = MCU_RAM_PARA_func[i];
        read_fpga_ram(block + kPictureAt, kPictureAt, 8, kParaRam, i);
        const uint32_t width = block[116] | block[117] << 8;
        const uint32_t height = block[118] | block[119] << 8;
        const uint32_t frame = uint32_t(block[120] | block[121] << 8 | block[122] << 16 | uint32_t(block[123]) << 24);
        const uint32_t ledWidth = ledpara::word(ledpara::kLedWidth);
        const uint32_t ledHeight = ledpara::word(ledpara::kLedHeight);
        if (2 * width >= ledWidth && 2 * height >= ledHeight && frame >= kFrameMin && frame <= kFrameMax) {
            write_to_0x00_register(kRegControl, kControlTakeRam, kControlTakeRam, i);
            write_to_0x00_register(kRegControl, kControlTakeRam, kControlTakeRam, i);
            checkStep_[i] = 1;
            ZEL_DEBUG("\nfpag%d.......ok(%u,%u,%u)  123................\n", i, width, height, frame);
        } else {
            ZEL_DEBUG("\nfpag%d.......error(%u,%u,%u)................\n", i, width, height, frame);
        }
        checkStamp_[i] = now();
        return;
    }
    case 1:
        write_to_0x00_register(kRegParaAck, 0x01, 0x01, i);
        checkStep_[i] = 8;
        stamp47 = now();
        write_to_0x00_register(kRegGate, kGateHandshake, kGateHandshake, i);
        return;
    case 8:
        if (!after(stamp47, kStepTicks))
            return;
        read_from_register(kRegGate, i);
        checkStep_[i] = (shadow(kRegGate, i) & kGateHandshake) ? 2 : 1;
        stamp47 = now();
        return;
    case 2:
        if (!after(stamp47, kCheckTicks))
            return;
        read_from_register(kRegParaAck, i);
        ramParaSeen_[i] = 1;
        checkStep_[i] = 9;
        return;
    case 9:
        write_to_0x00_register(kRegGate, kGateHandshake, 0, i);
        checkStep_[i] = 10;
        stamp47 = now();
        return;
    case 10:
        if (!after(stamp47, kStepTicks))
            return;
        read_from_register(kRegGate, i);
        if (!(shadow(kRegGate, i) & kGateHandshake)) {
            checkStep_[i] = 3;
            ZEL_DEBUG("\n --------------------check_fpga%d_singal_reset  0011------------------------- \n", i);
        } else {
            checkStep_[i] = 9;
        }
        return;
    case 3:
        if (!ramParaSeen_[0] || !ramParaSeen_[1])
            return;
        ZEL_DEBUG("\n --------------------RAM PARA reset!!!!!!---------------------- ");
        write_to_0x00_register(kRegControl, kControlTakeRam, kControlTakeRam, i);
        checkStep_[i] = 14;
        return;
    case 14:
        if (!after(checkStamp_[i], kCheckTicks))
            return;
        SCREEN_fpgactrl_status2(SCREEN_R23B3_CLEAR, i);
        checkStep_[i] = 15;
        write_to_0x00_register(kRegControl, kControlTakeRam, kControlTakeRam, i);
        write_to_0x00_register(kRegControl, kControlTakeRam, kControlTakeRam, i);
        checkStamp_[i] = now();
        return;
    case 15: {
        if (!after(checkStamp_[i], kCheckTicks))
            return;
        checkStep_[i] = kCheckLit;
        checkStamp_[i] = now();
        const bool bothLit = checkStep_[0] == kCheckLit && checkStep_[1] == kCheckLit;
        if (bothLit)
            applyLitBrightness();
        SCREEN_fpgactrl_status2(SCREEN_OUTPUT_ENABLE, i);
        ZEL_DEBUG("\n fpga%d over to enable lcd\n", i);
        // The bring-up left the output blank. An FPGA that comes back while the screen is
        // closed stays dark like the other one: only an open screen is lit, and at a start not
        // one the on/off schedule has switched off for now.
        if (ledpara::word(ledpara::kScreenClosed) == 0 && !onoffKeepsDark()) {
            SCREEN_fpgactrl_status2(SCREEN_SHOW, i);
            ZEL_DEBUG("\n fpga%d start to light on \n", i);
        }
        if (bothLit)
            ledpara::test_signal(12);
        return;
    }
    default:
        return;
    }
}

// ---- interrupt service -------------------------------------------------------------------------

void fpga_manage::markLost(int i)
{
    setShadow(kRegState, i, 0);
    g_change[kWordLostTick + i] = now();
    // The bring-up starts again; so must the checks that light the screen.
    checkStep_[i] = 0;
}

void fpga_manage::reg_IRQ_Dealwith(int fpga, int force)
{
    std::lock_guard<std::recursive_mutex> lock(passby_mutex);
    const int i = fpga ? 1 : 0;
    const uint8_t state = shadow(kRegState, i);
    if (state != 2 && state != kStateRunning)
        return;

    const bool served = force == 1 || lines_.input(i == 0 ? GpioLine::irq_fpga0 : GpioLine::irq_fpga1);
    if (!served) {
        g_change[kWordReplyWait + i] = 0;
        if (pc_cmd_valid.load() == 1 && multi_send_state.load() == 1) {
            if (g_change[kWordIdleState + i] == 0) {
                g_change[kWordIdleState + i] = 1;
                g_change[kWordIdleStamp + i] = now();
            } else if (after(g_change[kWordIdleStamp + i], 1)) {
                check_fpga_net_data_status(i);
                g_change[kWordIdleState + i] = 0;
            }
        }
        return;
    }

    g_change[kWordIdleState + i] = 0;
    g_change[kWordReplyWait + i] = 0;
    write_to_0x00_register(kRegStatus, kStatusIrqReply, 0, i);
    read_from_register(kRegStatus, i);
    if (shadow(kRegStatus, i) & kStatusIrqFault) {
        write_to_0x00_register(kRegStatus, kStatusIrqReply | kStatusIrqFault, 0, i);
        read_from_register(31, i);
        if (!answers(shadow(31, i)))
            markLost(i);
    }
    read_from_register(kRegFlagsLow, i);
    read_from_register(kRegFlagsHigh, i);
    if ((shadow(kRegFlagsLow, i) | shadow(kRegFlagsHigh, i)) & kReadyMask)
        Rcv_data_from_eth(i);
    update_eth_state(i);
}

void fpga_manage::check_fpga_net_data_status(int fpga)
{
    const int i = fpga ? 1 : 0;
    const uint8_t state = shadow(kRegState, i);
    if (state != 2 && state != kStateRunning)
        return;
    read_from_register(kRegFlagsLow, i);
    read_from_register(kRegFlagsHigh, i);
    if (((shadow(kRegFlagsLow, i) | shadow(kRegFlagsHigh, i)) & kReadyMask) && g_change[kWordReplyWait + i] == 0)
        g_change[kWordReplyWait + i] = 1;
}

// ---- V-by-One supervision ----------------------------------------------------------------------

uint8_t fpga_manage::check_vbo_status(int fpga)
{
    const int i = fpga ? 1 : 0;
    if (!after(g_change[kWordVboStamp + i], kVboTicks))
        return vboFault_[i];
    g_change[kWordVboStamp + i] = now();

    if (!vboFault_[i]) {
        int good = 0;
        for (int n = 0; n < 8; ++n) {
            read_from_register(kRegLanes, i);
            if ((shadow(kRegLanes, i) & kLanesLocked) == kLanesLocked)
                ++good;
        }
        if (good < 8 && 8 - good > 3) {
            vboFault_[i] = 1;
            write_to_0x00_register(kRegVbo, kVboStep1 | kVboStep3, 0, i);
            vboSub_[i] = 0;
        }
    } else if (vboSub_[i] == 0) {
        write_to_0x00_register(kRegVbo, kVboStep1, kVboStep1, i);
        vboSub_[i] = 1;
        vboRetries_[i] = 0;
    } else {
        read_from_register(kRegStatus, i);
        ++vboRetries_[i];
        if (!(shadow(kRegStatus, i) & kStatusVboError) || vboRetries_[i] >= 1000) {
            write_to_0x00_register(kRegVbo, kVboStep3, kVboStep3, i);
            vboFault_[i] = 0;
        }
    }
    return vboFault_[i];
}

// ---- status ------------------------------------------------------------------------------------

uint32_t fpga_manage::laneCheckDue(int fpga) const
{
    return g_change[kWordVboStamp + (fpga ? 1 : 0)] + kVboTicks + 1;   // `after` counts strictly
}

int fpga_manage::get_fpga_status()
{
    for (int i = 0; i < kFpgas; ++i) {
        if (shadow(kRegState, i) != kStateRunning || powerStep_[i] != kStepUp || checkStep_[i] != kCheckLit ||
            (shadow(kRegScreen, i) & kScreenFault))
            return 0;
    }
    return 1;
}

uint32_t fpga_manage::linkMask(int i)
{
    read_from_register(kRegLinkLow, i);
    read_from_register(kRegLinkHigh, i);
    return uint32_t(shadow(kRegLinkLow, i)) | uint32_t(shadow(kRegLinkHigh, i)) << 8;
}

uint32_t fpga_manage::get_wlan_state()
{
    uint32_t bits = 0;
    for (int i = 0; i < kFpgas; ++i)
        if (shadow(kRegState, i) == kStateRunning)
            bits |= linkMask(i) << (16 * i);
    return bits;
}

void fpga_manage::check_wlanonline_state()
{
    if (!tarvosource::p_tarvo_source)
        return;
    uint16_t mask[kFpgas] = {0, 0};
    for (int i = 0; i < kFpgas; ++i)
        if (path_ready(i) && shadow(kRegState, i) == kStateRunning)
            mask[i] = uint16_t(linkMask(i));
    if (get_fpga_status() == 1 && (mask[0] != lastLinkMask_[0] || mask[1] != lastLinkMask_[1])) {
        ledpara::test_signal(11);
        lastLinkMask_[0] = mask[0];
        lastLinkMask_[1] = mask[1];
    }
}
