// Input ports of the video engine: which chip port shows which input, what the chip measures at
// each port, when a port has a signal, and the port-side set-up (polarity, V-by-One receiver
// lanes and range, input background), with the bounded waits on the chip's field and frame
// events and the dot-by-dot memory blocks.
#include <QMutexLocker>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "chips/tarvosource.h"
#include "core/global.h"
#include "core/utils.h"
#include "engine/c331_geometry.h"
#include "engine/c331_manage.h"

using namespace c331hdmi;

namespace {

// ---- measurement ----
constexpr uint32_t kRegUpdateCtl = 0x002901;
constexpr uint32_t kHoldMeasure = 0x80;
constexpr uint32_t kMaxLineCount = 65534;     // a count (register + 1) up to this is a signal
constexpr uint32_t kMaxFrameCount = 0xFFFFFE;
constexpr uint32_t kHTolerance = 2, kVTolerance = 100, kFTolerance = 100;

// ---- V-by-One receivers (k = port - 4) ----
constexpr uint32_t kRegVboReset = 0x027F01;
constexpr uint32_t kVboResetRx[2] = {14, 13};
constexpr uint32_t kVboResetDone = 15;
constexpr uint32_t kRegVboRxMode = 0x024001, kVboRxModeOn = 5;
constexpr uint32_t kRegVboRxLanes = 0x024F01;
constexpr uint32_t kRegVboRxRange = 0x024C01, kRangeLowBit = 0x08;
constexpr uint32_t kVboRxStep = 0x1C00;
constexpr uint32_t kRegVboRxCount = 0xAE5C03, kVboRxCountStep = 0xC00;
constexpr uint32_t kRegRxLock = 0xB26301;
constexpr int kRangeLockPolls = 250;
constexpr uint64_t kRangeLowClock = 50000000;
constexpr int kVboRetryWrap = 30;
// Per-lane counts of a receiver: horizontal count (2 bytes) then frame count (3 bytes), five
// addresses per lane, 0x40 per receiver.
constexpr uint32_t kRegLaneH = 0xAD0802, kRegLaneF = 0xAD0A03;
constexpr uint32_t kLaneStep = 5, kLaneRxStep = 0x40;
constexpr uint32_t kRegVboMode = 0x001E02, kRegVboSelect = 0x003902;

// ---- parallel ports, polarity, channel sources ----
constexpr uint32_t kRegPict = 0x001802;
constexpr uint32_t kRegSyPolParallel = 0x063804, kRegSyPolVbo = 0x063C04;
constexpr uint32_t kPolarityFixed = 0x04;

// ---- waits ----
constexpr uint32_t kRegField = 0xAB4701;
constexpr int kIfldReads = 90, kOfldReads = 70, kPivsPolls = 45;
constexpr int kInFieldShift = 2;   // input fields in bits 2-3, output fields in bits 0-1
constexpr uint32_t kRegInLatchArm = 0x050801, kRegInLatchDone = 0x052201;
constexpr uint32_t kRegInStatus = 0xA83F01, kInStatusStep = 0x500, kInStatusIdle = 0xFF;
constexpr unsigned kPollUs = 1000;
constexpr int kNoFrameWaitMs = 45;
constexpr int kMaxFrameMs = 120;

// ---- set-up ----
constexpr uint64_t kVboSingleMaxClock = 324000000;
constexpr int kVboSingleMaxWidth = 2176;
constexpr int kNoSignalStart = 16;
constexpr int kDbdWideParallel = 2560, kDbdWideVbo = 5120, kDbdTall = 2176;

constexpr const char* kHdmiFieldName[kHdmiFields] = {
    "Hact", "Hsync", "Hback", "Hpol", "Htotal", "Vact", "Vsync", "Vback", "Vpol", "Vtotal",
    "pfreq", "type", "datamode", "lane", "ip", "nosignal"};

constexpr int kStatusCheck = 0x80, kStatusNoSignal = 0x01;

// How a dot-by-dot picture puts its ports together: side by side, under each other, or the first
// two over the other two.
enum DbdLayout { kSideBySide, kStacked, kTwoOverTwo };

// Dot-by-dot modes spanning several ports.
struct DbdPorts {
    int mode;
    int count;
    int port[4];
    int source[4];
    DbdLayout layout;
};
constexpr DbdPorts kDbdPorts[] = {
    {20, 2, {0, 1}, {0, 2}, kSideBySide},       {21, 2, {0, 1}, {0, 2}, kStacked},
    {22, 2, {2, 3}, {4, 6}, kSideBySide},       {23, 2, {2, 3}, {4, 6}, kStacked},
    {30, 3, {0, 1, 2}, {0, 2, 4}, kSideBySide},
    {40, 4, {0, 1, 2, 3}, {0, 2, 4, 6}, kSideBySide}, {41, 4, {0, 1, 2, 3}, {0, 2, 4, 6}, kTwoOverTwo},
    {50, 2, {5, 4}, {8, 9, 12, 13}, kSideBySide},     {51, 2, {5, 4}, {8, 9, 12, 13}, kStacked},
};
constexpr int kVboDbdChannels = 4;

const DbdPorts* dbdPortsOf(int mode)
{
    for (const DbdPorts& d : kDbdPorts)
        if (d.mode == mode)
            return &d;
    return nullptr;
}

bool isPort(int p) { return p >= 0 && p < c331_manage::kPorts; }

// "count - 2 > limit" in unsigned arithmetic: a count of 0 or 1 wraps and counts as invalid.
bool outOfRange(uint32_t count, uint32_t limit) { return count - 2u > limit - 2u; }

// Line, line and frame counts (register + 1) a port with a signal can measure.
bool plausibleCounts(uint32_t h, uint32_t v, uint32_t f)
{
    return !outOfRange(h, kMaxLineCount) && !outOfRange(v, kMaxLineCount) && !outOfRange(f, kMaxFrameCount);
}

uint32_t absDiff(uint32_t a, uint32_t b) { return a > b ? a - b : b - a; }

uint32_t laneMask(int lanes)
{
    switch (lanes) {
    case 8: return 255;
    case 4: return 240;
    case 2: return 192;
    default: return 128;
    }
}

struct MeasureIds {
    uint32_t h, h2, v, f, status;
};
MeasureIds measureIds(int p)
{
    if (p < c331_manage::kFirstVboPort) {
        const uint32_t s = static_cast<uint32_t>(p) << 9;
        return {0xAE0802 + s, 0xAE2002 + s, 0xAE3802 + s, 0xAE5003 + 0x300u * p, 0xAF0802 + s};
    }
    const uint32_t k = static_cast<uint32_t>(p - c331_manage::kFirstVboPort);
    return {0xAE1002 + (k << 11), 0xAE2802 + (k << 11), 0xAE4002 + (k << 11), 0xAE5C03 + 0xC00 * k,
            0xAF1002 + (k << 11)};
}

}  // namespace

// ---- mappings ----------------------------------------------------------------------------------

namespace {

// Inputs and chip ports pair up the same way in both directions.
constexpr int kPortInputSwap[c331_manage::kPorts] = {3, 2, 1, 0, 5, 4};

}  // namespace

int c331_manage::zelApi_inputCvtC331(int input) const
{
    return (input >= 0 && input < kPorts) ? kPortInputSwap[input] : 255;
}

int c331_manage::zelApi_GetPortDevId(int port) const
{
    return (port >= 0 && port < kPorts) ? kPortInputSwap[port] : 3;
}

int c331_manage::zelApi_IsPatternGen() const { return pattern_gen ? 1 : 0; }

int c331_manage::zelApi_IsWinValid(int w) const { return w >= 0 && w < kWinCount ? 1 : 0; }

int c331_manage::zelApi_GetWinDbdMultiPort(int w, int ports[kPorts]) const
{
    for (int i = 0; i < kPorts; ++i)
        ports[i] = kPorts;
    const DbdPorts* d = zelApi_IsWinValid(w) ? dbdPortsOf(PM_WIN_DBD_MODE[w]) : nullptr;
    if (!d)
        return 0;
    for (int i = 0; i < d->count; ++i)
        ports[i] = d->port[i];
    return 1;
}

bool c331_manage::winListsPort(int w, int p) const
{
    int ports[kPorts];
    if (zelApi_GetWinDbdMultiPort(w, ports))
        return std::find(ports, ports + kPorts, p) != ports + kPorts;
    return zelApi_IsWinValid(w) && win_port[w] == p;
}

int c331_manage::oimgct(int port) const
{
    return isPort(port) ? (PI_STATUS[port] & kStatusNoSignal ? 1 : 0) : 1;
}

int c331_manage::winNoSignal(int w) const
{
    // A window over several ports has a picture while any of them has a signal; its source word
    // names a port it does not show.
    int ports[kPorts];
    if (!zelApi_GetWinDbdMultiPort(w, ports))
        return zelApi_IsWinValid(w) ? oimgct(win_port[w]) : 1;
    for (int p : ports)
        if (isPort(p) && !oimgct(p))
            return 0;
    return 1;
}

// ---- source of a window --------------------------------------------------------------------------

void c331_manage::c331_SetInputsource(int w, int input)
{
    const int in = ((input % kPorts) + kPorts) % kPorts;
    const int port = zelApi_inputCvtC331(in);
    if (!zelApi_IsWinShown(w)) {
        ZEL_DEBUG("    win:%d OOR, wincnt:%d\r\n", w, wincnt);
        return;
    }
    if (port == 255) {
        ZEL_DEBUG("    input:%d OOR\r\n", input);
        return;
    }
    win_info[w].port = static_cast<uint8_t>(in);
    win_port[w] = port;
    g_chg_input[w] = 1;
    ZEL_DEBUG("[c331_SetInputsource] win_%d, port_%d\n", w, port);
    const PortPicture before = portPicture(port);
    check_input_port(c331_fd);
    // The window is set up right here with the port as just measured. So is every other window
    // showing the port alone when that measurement changed its picture (the signal came, went or
    // took another timing): the pass's input work finds the port measured and would leave them
    // as they were. A window showing the port as a dot-by-dot part of several, set up before
    // that timing, waits for it: the pass's input work sets the port's windows up once the pass
    // is done.
    const bool changed = !(portPicture(port) == before);
    int ports[kPorts];
    bool waiting = false;
    for (int v = 0; v < kWinCount; ++v) {
        if (v == w || !zelApi_IsWinShown(v) || !winListsPort(v, port))
            continue;
        if (zelApi_GetWinDbdMultiPort(v, ports))
            waiting = true;
        else if (changed)
            g_chg_input[v] = 3;
    }
    if (!waiting)
        PI_UPDATE[port] = 0;
    set_output(c331_fd);
}

c331_manage::PortPicture c331_manage::portPicture(int p) const
{
    return {PI_MEAS[p].valid, {PI_ACT[p][0], PI_ACT[p][1], PI_ACT[p][2], PI_ACT[p][3]}, PI_STATE[p], PI_SCAN_MODE[p]};
}

// ---- timing from the input-source manager ---------------------------------------------------------

namespace {

// A copy of input record r as the port's 16 fields; false while the record is being refilled.
bool readHdmiInfo(int r, int out[kHdmiFields])
{
    tarvosource* src = tarvosource::pInstance();
    QMutexLocker lock(&Utils::_source_hdminfo_mutex);
    const TARVO_HDMI_INFO& in = src->hdminfo[r];
    if (!in.stable)
        return false;
    std::memcpy(out, &in, sizeof(int) * kHdmiFields);   // the first 16 fields, pfreq as its bits
    return true;
}

}  // namespace

void c331_manage::load_hdmi()
{
    for (int p = 0; p < kPorts; ++p) {
        const int r = zelApi_GetPortDevId(p);
        int info[kHdmiFields];
        if (!readHdmiInfo(r, info))
            continue;
        bool differs = false;
        for (int f = 0; f < kHdmiFields; ++f) {
            if (info[f] == PI_HDMI_INFO[p][f])
                continue;
            ZEL_DEBUG("\n [load_hdmi]%s=%d,%d,chaned! \n", kHdmiFieldName[f], info[f], PI_HDMI_INFO[p][f]);
            PI_HDMI_INFO[p][f] = info[f];
            differs = true;
        }
        if (!differs)
            continue;
        info_changed[p] = true;
        printf("[load_hdmi] chg_input[PI_HDMI_INFO], port:%d, dev_id:%d\n", p, r);
        for (int w = 0; w < kWinCount; ++w) {
            if (!zelApi_IsWinShown(w))
                continue;
            int ports[kPorts];
            if (zelApi_GetWinDbdMultiPort(w, ports)) {
                if (std::find(ports, ports + kPorts, p) == ports + kPorts)
                    continue;
                g_chg_input[w] = 1;
                ZEL_DEBUG("\n[load_hdmi] g_chg_input[%d] = 1 for dbd:%d\n", w, PM_WIN_DBD_MODE[w]);
                set_ichsel(c331_fd, w);
            } else if (win_port[w] == p) {
                g_chg_input[w] = 1;
                ZEL_DEBUG("\n[load_hdmi] g_chg_input[%d] = 1\n", w);
            }
        }
    }
}

// ---- signal checks -------------------------------------------------------------------------------

namespace {

// Ports shown by some window (its port, or every port of its multi-port dot-by-dot mode).
void usedPorts(const c331_manage& e, bool used[c331_manage::kPorts])
{
    for (int p = 0; p < c331_manage::kPorts; ++p)
        used[p] = false;
    for (int w = 0; w < kWinCount; ++w) {
        if (!e.zelApi_IsWinShown(w))
            continue;
        int ports[c331_manage::kPorts];
        if (e.zelApi_GetWinDbdMultiPort(w, ports)) {
            for (int p : ports)
                if (isPort(p))
                    used[p] = true;
        } else if (isPort(e.win_port[w])) {
            used[e.win_port[w]] = true;
        }
    }
}

}  // namespace

void c331_manage::check_port_valid(int)
{
    bool used[kPorts];
    usedPorts(*this, used);
    for (int p = 0; p < kPorts; ++p) {
        int status;
        {
            QMutexLocker lock(&Utils::_check_nosig_mutex);
            status = PI_STATUS[p];
        }
        if (!used[p] || !(status & kStatusCheck))
            continue;
        const MeasureIds id = measureIds(p);
        wr(kRegUpdateCtl, kHoldMeasure);
        const uint32_t h = rd(id.h) + 1, v = rd(id.v) + 1, f = rd(id.f) + 1;
        wr(kRegUpdateCtl, 0);
        const bool signal = plausibleCounts(h, v, f);
        {
            QMutexLocker lock(&Utils::_check_nosig_mutex);
            PI_STATUS[p] = signal ? (PI_STATUS[p] & ~kStatusNoSignal) : (PI_STATUS[p] | kStatusNoSignal);
            status = PI_STATUS[p];
        }
        if (!signal && isVboPort(p))
            vboRestart(p - kFirstVboPort, laneMask(0));
        if (prnEn[kPrnNoSignal] & kPrnNoSignalBit)
            printf("[c331_check_nosignal] port_%d, nosignal:%02x\n", p, status);
    }
}

void c331_manage::vboRestartRegs(int k, uint32_t mask)
{
    const uint32_t off = kVboRxStep * static_cast<uint32_t>(k);
    wr(kRegVboReset, kVboResetRx[k]);
    wr(kRegVboReset, kVboResetDone);
    wr(kRegVboRxMode + off, kVboRxModeOn);
    wr(kRegVboRxLanes + off, mask);
}

void c331_manage::vboRestart(int k, uint32_t mask)
{
    vboRestartRegs(k, mask);
    set_VBORXfrange(c331_fd, k, 0, 1);
    vbo_retry[k] = (vbo_retry[k] + 1) % kVboRetryWrap;
}

c331_manage::PortMeasure c331_manage::measurePort(int p)
{
    const MeasureIds id = measureIds(p);
    PortMeasure m{};
    wr(kRegUpdateCtl, kHoldMeasure);
    m.htotal = rd(id.h) + 1;
    m.hcount = rd(id.h2) + 1;
    m.vtotal = rd(id.v) + 1;
    m.frame = rd(id.f) + 1;
    m.status = static_cast<uint8_t>(rd(id.status));
    wr(kRegUpdateCtl, 0);
    return m;
}

bool c331_manage::vboLanesValid(int k, int lanes)
{
    bool ok = true;
    wr(kRegUpdateCtl, kHoldMeasure);
    for (int l = 0; l < std::clamp(lanes, 1, 8) && ok; ++l) {
        const uint32_t off = (kLaneRxStep * static_cast<uint32_t>(k) + kLaneStep * static_cast<uint32_t>(l)) << 8;
        ok = !outOfRange(rd(kRegLaneH + off) + 1, kMaxLineCount) && !outOfRange(rd(kRegLaneF + off) + 1, kMaxFrameCount);
    }
    wr(kRegUpdateCtl, 0);
    return ok;
}

void c331_manage::portLost(int p)
{
    const bool hadSignal = PI_MEAS[p].valid;
    {
        QMutexLocker lock(&Utils::_check_nosig_mutex);
        PI_STATUS[p] |= kStatusNoSignal;
    }
    if (hadSignal) {
        set_input_bkg(c331_fd, p, 1);
        PI_MEAS[p] = PortMeasure{};
        PI_STATE[p] = 0;
        PI_SCAN_MODE[p] = 0;
        PI_ACT[p][0] = kNoSignalStart;
        PI_ACT[p][1] = 0;
        PI_ACT[p][2] = kNoSignalStart;
        PI_ACT[p][3] = 0;
        // The windows on the port are set up again for no picture, as a start without the
        // signal sets them up, rather than keeping the cut of the picture that went.
        PI_UPDATE[p] = 1;
        if (!isVboPort(p)) {
            set_pict(c331_fd, 0, p);
            return;
        }
    }
    if (isVboPort(p))
        vboRestart(p - kFirstVboPort, laneMask(0));
}

bool c331_manage::portUnchanged(int p, const PortMeasure& m) const
{
    const PortMeasure& o = PI_MEAS[p];
    return o.valid && !info_changed[p] && absDiff(m.htotal, o.htotal) <= kHTolerance &&
           absDiff(m.hcount, o.hcount) <= kHTolerance &&
           absDiff(m.vtotal, o.vtotal) <= kVTolerance && absDiff(m.frame, o.frame) <= kFTolerance &&
           m.status == o.status;
}

bool c331_manage::portWanted(int p) const
{
    for (int w = 0; w < kWinCount; ++w) {
        if (!zelApi_IsWinShown(w) || !g_chg_input[w])
            continue;
        int ports[kPorts];
        const bool on = zelApi_GetWinDbdMultiPort(w, ports) ? std::find(ports, ports + kPorts, p) != ports + kPorts
                                                            : win_port[w] == p;
        if (on) {
            ZEL_DEBUG("\t port_info_chg:%d, g_chg_input[win_%d]:%d\n", 0, w, g_chg_input[w]);
            return true;
        }
    }
    return false;
}

void c331_manage::portSetup(int p, const PortMeasure& m)
{
    const int* hi = PI_HDMI_INFO[p];
    const uint32_t fv = m.frame ? sys.clock_quarter / m.frame : 0;
    const uint64_t pclk = static_cast<uint64_t>(std::max(hi[kHtotal], 0)) * fv *
                          static_cast<uint64_t>(std::max(hi[kVtotal], 0));
    int state;
    if (isVboPort(p)) {
        const int k = p - kFirstVboPort;
        const int lanes = hi[kLane];
        const uint64_t laneClock = lanes > 0 ? pclk / static_cast<uint64_t>(lanes) : pclk;
        vboRestartRegs(k, laneMask(lanes));
        set_VBORXfrange(c331_fd, k, laneClock, 0);
        set_VBOInput(c331_fd, k);
        state = (hi[kHact] <= kVboSingleMaxWidth && pclk <= kVboSingleMaxClock && lanes < 4) ? 4 : 1;
        PI_SCAN_MODE[p] = 0;
    } else {
        set_pict(c331_fd, hi[kDatamode], p);
        set_sypol(c331_fd, 0, p);
        state = hi[kDatamode] ? 3 : 4;
        PI_SCAN_MODE[p] = hi[kIp] ? 1 : 0;
        if (hi[kIp]) {
            const int vt = hi[kVtotal];
            if (vt >= 560 && vt <= 565)
                state = fv >= 55 ? 5 : 6;
            else if (vt >= 260 && vt <= 265)
                state = 7;
            else if (vt >= 266 && vt <= 350)
                state = 8;
        }
    }
    int* act = PI_ACT[p];
    act[0] = hi[kHsync] + hi[kHback];
    act[1] = hi[kHact];
    act[2] = hi[kVsync] + hi[kVback];
    act[3] = hi[kVact];
    // A parallel port set to two pixels a clock counts clocks, interlaced too (whose format code
    // names the field format instead).
    if (state <= 3 || (!isVboPort(p) && hi[kDatamode] > 0)) {
        act[0] /= 2;
        // Two pixels a clock: an odd width's last pixel comes in a clock of its own, kept where
        // the line with it still fits a channel's slot.
        const uint32_t widest = geometry::widestLine(plainSlotBytes(), geometry::kDensestMode);
        const bool lastClock = !isVboPort(p) && act[1] % 2 != 0 && static_cast<uint32_t>(act[1]) + 1 <= widest;
        act[1] = lastClock ? act[1] / 2 + 1 : act[1] / 2;
    }
    PI_STATE[p] = state;
    PI_FV[p] = static_cast<int>(fv);
    PI_MEAS[p] = m;
    PI_MEAS[p].valid = true;
    info_changed[p] = false;
    {
        QMutexLocker lock(&Utils::_check_nosig_mutex);
        PI_STATUS[p] &= ~kStatusNoSignal;
    }
    zelApi_updateCrop(p);
    set_input_bkg(c331_fd, p, 0);
    PI_UPDATE[p] = 1;
    ZEL_DEBUG("PortInfo Updated.  port=%d  STATE=%d  IP=%d  HTOTAL=%4d  VTOTAL=%4d\n", p, state, PI_SCAN_MODE[p],
              m.htotal, m.vtotal);
    ZEL_DEBUG("\t HST=%4d  HW=%4d  VST=%4d  VW=%4d  FV=%u\n", act[0], act[1], act[2], act[3], fv);
}

void c331_manage::check_input_port(int)
{
    bool used[kPorts];
    usedPorts(*this, used);
    for (int p = 0; p < kPorts; ++p) {
        int info[kHdmiFields];
        if (!used[p] || !readHdmiInfo(zelApi_GetPortDevId(p), info))
            continue;
        {
            QMutexLocker lock(&Utils::_check_nosig_mutex);
            PI_STATUS[p] |= kStatusCheck;
        }
        const PortMeasure m = measurePort(p);
        // A picture without a pixel in its lines or a line in its fields is no picture: its
        // windows would read memory that no channel writes.
        const bool noSignal = !plausibleCounts(m.htotal, m.vtotal, m.frame) || PI_HDMI_INFO[p][kNoSignal] == 1 ||
                              info[kHact] <= 0 || info[kVact] <= 0;
        if (noSignal) {
            portLost(p);
            continue;
        }
        if (isVboPort(p)) {
            const int k = p - kFirstVboPort;
            const int lanes = PI_HDMI_INFO[p][kLane];
            if (vboLanesValid(k, lanes))
                vbo_retry[k] = 0;
            else
                vboRestart(k, laneMask(lanes));
        }
        if (portUnchanged(p, m) && !portWanted(p))
            continue;
        portSetup(p, m);
    }
    // The inputs have been measured: their summaries may now be published.
    g_c331_source_online = 1;
}

// ---- port-side registers --------------------------------------------------------------------------

void c331_manage::set_sypol(int, int vbo, int n)
{
    const int port = vbo ? n + kFirstVboPort : n;
    if ((vbo && (n < 0 || n > 1)) || (!vbo && (n < 0 || n >= kFirstVboPort)))
        return;
    const uint32_t pol = static_cast<uint32_t>((PI_HDMI_INFO[port][kVpol] & 1) | (PI_HDMI_INFO[port][kHpol] & 1) << 1);
    const uint32_t id = vbo ? kRegSyPolVbo : kRegSyPolParallel;
    wr(kRegUpdateCtl, kHoldMeasure);
    uint32_t v = rd(id);
    wr(kRegUpdateCtl, 0);
    if (vbo) {
        const uint32_t shift = 16u * static_cast<uint32_t>(n);
        v = (v & ~(0xFFFFu << shift)) | ((pol * 0x1111u) << shift);
    } else {
        const uint32_t shift = 8u * static_cast<uint32_t>(n);
        v = (v & ~(0xFFu << shift)) | ((pol | kPolarityFixed) << shift);
    }
    wr(id, v);
}

void c331_manage::set_VBOInput(int fd, int k)
{
    if (k < 0 || k > 1)
        return;
    set_sypol(fd, 1, k);
    uint32_t mode, select;
    switch (PI_HDMI_INFO[k + kFirstVboPort][kLane]) {
    case 1: mode = 0; select = 0; break;
    case 2: mode = 1; select = 16; break;
    case 4: mode = 17; select = 4; break;
    default: mode = 0x404; select = 2; break;
    }
    wr(kRegVboMode + (static_cast<uint32_t>(k) << 9), mode);
    const uint32_t shift = 8u * static_cast<uint32_t>(k);
    const uint32_t sel = rd(kRegVboSelect);
    wr(kRegVboSelect, (sel & ~(0xFFu << shift)) | (select << shift));
}

void c331_manage::set_VBORXfrange(int, int k, uint64_t pixelClock, int mode)
{
    if (k < 0 || k > 1)
        return;
    const uint32_t off = kVboRxStep * static_cast<uint32_t>(k);
    uint32_t v = rd(kRegVboRxRange + off);
    if (mode == 1)
        v ^= kRangeLowBit;
    else if (pixelClock < kRangeLowClock)
        v |= kRangeLowBit;
    else
        v &= ~kRangeLowBit;
    wr(kRegVboRxRange + off, v);
    const uint32_t lockBit = 1u << (5 + 2 * k);
    for (int i = 0; i < kRangeLockPolls; ++i) {
        if (rd(kRegRxLock) & lockBit)
            return;
        if (rd(kRegVboRxCount + kVboRxCountStep * static_cast<uint32_t>(k)) < kMaxFrameCount)
            return;
    }
}

void c331_manage::set_pict(int, int on, int n)
{
    if (n < 0 || n >= kFirstVboPort)
        return;
    const uint32_t bit = 1u << (4 * n);
    wrMask(kRegPict, on ? bit : 0, bit);
}

void c331_manage::writeWindowBkg(int w, int enable)
{
    const bool green = g_force_bkcolor == 1;
    for (int o = 0; o < kOch; ++o) {
        if (och_owner[o] != w)
            continue;
        // A channel switched off shows nothing of its window, background included.
        writeOchBkg(o, green ? kForcedBkgGreen : 0, green ? 1 : och_cleared[o] ? 0 : static_cast<uint32_t>(enable));
    }
}

int c331_manage::windowBkgEnable(int w, int enable) const
{
    // The user's black wins over everything; a dot-by-dot window otherwise shows its ports'
    // pictures as they come.
    if (win_info[w].output & kWinBlack)
        return 1;
    return PM_WIN_DBD_MODE[w] != 0 ? 0 : enable;
}

void c331_manage::set_input_bkg(int fd, int port, int on)
{
    if (!isPort(port))
        return;
    set_rtct(fd, 2);
    for (int w = 0; w < kWinCount; ++w) {
        if (!zelApi_IsWinShown(w) || win_port[w] != port)
            continue;
        writeWindowBkg(w, windowBkgEnable(w, on ? 1 : oimgct(port)));
    }
    set_rtct(fd, 1);
}

void c331_manage::set_input_bkg2(int fd, int w, int on)
{
    if (!zelApi_IsWinValid(w))
        return;
    // Under a pattern only the window it draws over goes without: any other shows its port's
    // state, a port not measured since the window was placed on it counting as no signal.
    const int enable = on ? 1 : (patternCovers(w) ? 0 : oimgct(win_port[w]));
    set_rtct(fd, 2);
    writeWindowBkg(w, windowBkgEnable(w, enable));
    set_rtct(fd, 1);
}

// ---- waits ------------------------------------------------------------------------------------------

int c331_manage::waitFieldChange(uint32_t id, int shift, int reads)
{
    wr(kRegUpdateCtl, kHoldMeasure);
    const int old = (rd(id) >> shift) & 3;
    int now = (old + 1) & 3;   // what the field would be after one more frame
    for (int i = 0; i < reads; ++i) {
        const int v = (rd(id) >> shift) & 3;
        if (v != old) {
            now = v;
            break;
        }
    }
    wr(kRegUpdateCtl, 0);
    return now;
}

int c331_manage::wait_ifld_change(int port)
{
    if (!isPort(port))
        return 0;
    const uint32_t q = static_cast<uint32_t>(port < kFirstVboPort ? port : 2 * (port - 2));
    return waitFieldChange(kRegField + (q << 8), kInFieldShift, kIfldReads);
}

int c331_manage::wait_ofld_change(int och)
{
    if (och < 0 || och >= kOch)
        return 0;
    return waitFieldChange(kRegField + (static_cast<uint32_t>(och) << 8), 0, kOfldReads);
}

bool c331_manage::waitFrameLatch(uint32_t armId, uint32_t bit, int polls, const std::function<bool()>& seen)
{
    wr(armId, bit);
    wr(kRegUpdateCtl, kHoldMeasure);
    bool ok = seen();
    for (int i = 0; i < polls && !ok; ++i) {
        usleepFn(kPollUs);
        ok = seen();
    }
    wr(armId, 0);
    wr(kRegUpdateCtl, 0);
    return ok;
}

bool c331_manage::wait1_pivs(int ich)
{
    if (ich < 0 || ich >= kIch)
        return false;
    const uint32_t bit = 1u << ich;
    const uint32_t status = kRegInStatus + kInStatusStep * static_cast<uint32_t>(ich);
    const bool ok = waitFrameLatch(kRegInLatchArm, bit, kPivsPolls,
                                   [&] { return (rd(kRegInLatchDone) & bit) || rd(status) == kInStatusIdle; });
    if (!ok)
        ZEL_DEBUG("[wait1_pivs] ich_%d no input frame\n", ich);
    return ok;
}

bool c331_manage::wait1_pivs2()
{
    int best = -1, bestMs = kMaxFrameMs;
    for (int w = 0; w < kWinCount; ++w) {
        const int p = win_port[w];
        if (!zelApi_IsWinShown(w) || !isPort(p) || PI_FV[p] <= 0 || win_ich[w][0] < 0)
            continue;
        const int ms = 1000 / PI_FV[p];
        if (ms < bestMs) {
            bestMs = ms;
            best = w;
        }
    }
    if (best < 0) {
        Sleep(kNoFrameWaitMs);
        return false;
    }
    return wait1_pivs(win_ich[best][0]);
}

// ---- dot-by-dot memory ------------------------------------------------------------------------------

void c331_manage::reset_dbd_mem(int w)
{
    if (!zelApi_IsWinValid(w))
        return;
    for (int& b : dbd_mem_slot[w]) {
        if (b >= 0 && b < kDbdBlocks)
            dbd_mem_owner[b] = -1;
        b = -1;
    }
}

int c331_manage::check_dbd_input(int port) const
{
    if (!isPort(port))
        return 0;
    const int wide = isVboPort(port) ? kDbdWideVbo : kDbdWideParallel;
    // The lines of the picture as the port was set up, which its channel stores (an interlaced
    // input as frames of both fields): the timing copy may be dropped meanwhile, awaiting a reload.
    const int lines = std::max(PI_ACT[port][3], 0) * (PI_SCAN_MODE[port] ? 2 : 1);
    return (static_cast<int>(PI_MEAS[port].hcount) > wide || lines > kDbdTall) ? 1 : 0;
}

bool c331_manage::fieldLineFits(int p, int ich, int mode) const
{
    if (!isPort(p) || ich < 0 || ich >= kIpChannels)
        return false;
    // The input processor keeps each field whole, from the field offset of its channel's slot of
    // the plain buffers on (the set-up's field word, in KiB).
    constexpr uint32_t kFieldWordMask = 31;
    const uint32_t offset = (sys.memmap[ich][0] & kFieldWordMask) * 1024;
    const uint32_t line = geometry::lineBytes(static_cast<uint32_t>(storedPixels(p)), mode);
    return offset + line <= plainSlotBytes() && static_cast<uint32_t>(std::max(PI_ACT[p][3], 0)) <= plainBufferLines();
}

bool c331_manage::weavesFields(int p, int ich) const
{
    // A field too wide for the channel's slot in the field inputs' own write mode (or too tall for
    // a buffer) is not woven: the channel stores one field, as a channel without a processor does.
    return isPort(p) && PI_SCAN_MODE[p] != 0 && fieldLineFits(p, ich, kFieldWriteMode);
}

int c331_manage::dbdParts(int w, int mode, DbdPart out[kDbdParts]) const
{
    for (int k = 0; k < kDbdParts; ++k)
        out[k] = DbdPart{kNoPort, 0, 0, 0, 0, 0, 0, 0, 0};
    if (!zelApi_IsWinValid(w))
        return 0;
    const DbdPorts* d = dbdPortsOf(mode);
    const int single[1] = {win_port[w]};
    const int count = d ? d->count : 1;
    const DbdLayout layout = d ? d->layout : kSideBySide;
    // The V-by-One modes (and a single V-by-One port) take the two receivers in chip order, a
    // pair of channels each; the others one channel per port in the listed order.
    int ports[4];
    std::copy(d ? d->port : single, (d ? d->port : single) + count, ports);
    const bool pairs = isVboPort(ports[0]);
    if (pairs && count == 2 && ports[0] > ports[1])
        std::swap(ports[0], ports[1]);
    // What each port's channels store: its width in pixels (two a clock where the parallel port
    // carries two; a V-by-One port arriving two pixels a clock split over its pair, one arriving a
    // pixel a clock on the pair's first channel), its lines (both fields where the channel weaves
    // them), and the pixels and lines one step of its channel window adds.
    struct Port {
        int q, split, hw, vw, width, lines, unitW, unitH;
    } pt[4] = {};
    for (int i = 0; i < count; ++i) {
        Port& o = pt[i];
        o.q = ports[i];
        const int* a = isPort(o.q) ? PI_ACT[o.q] : nullptr;
        o.split = pairs && isPort(o.q) && PI_STATE[o.q] >= 1 && PI_STATE[o.q] <= 3 ? 2 : 1;
        o.hw = a ? std::max(a[1], 0) : 0;
        o.vw = a ? std::max(a[3], 0) : 0;
        o.unitW = pairs ? o.split : (twoPixelsPerClock(o.q) ? 2 : 1);
        o.unitH = weavesFields(o.q, win_ich[w][pairs ? 2 * i : i]) ? 2 : 1;
        o.width = pairs ? o.hw * o.split : storedPixels(o.q);
        o.lines = o.vw * o.unitH;
    }
    // Every part has a cell at the place the mode gives it: side by side the parts share a row
    // as tall as the tallest, under each other a column as wide as the widest, two over two the
    // columns and rows of a grid as wide and as tall as their widest and tallest parts. A part
    // never moves for a neighbour's size, and its channel stores its whole cell, so a shorter,
    // narrower or missing input leaves the rest of its cell black (the input background) rather
    // than a stretch of memory nobody writes.
    auto roundUp = [](int v, int unit) { return unit > 1 ? (v + unit - 1) / unit * unit : v; };
    int colW[4] = {}, rowH[4] = {}, colUnit[4] = {1, 1, 1, 1}, rowUnit[4] = {1, 1, 1, 1};
    int colOf[4] = {}, rowOf[4] = {};
    for (int i = 0; i < count; ++i) {
        colOf[i] = layout == kStacked ? 0 : layout == kTwoOverTwo ? i % 2 : i;
        rowOf[i] = layout == kSideBySide ? 0 : layout == kTwoOverTwo ? i / 2 : i;
        colW[colOf[i]] = std::max(colW[colOf[i]], pt[i].width);
        rowH[rowOf[i]] = std::max(rowH[rowOf[i]], pt[i].lines);
        colUnit[colOf[i]] = std::max(colUnit[colOf[i]], pt[i].unitW);
        rowUnit[rowOf[i]] = std::max(rowUnit[rowOf[i]], pt[i].unitH);
    }
    int colX[5] = {}, rowY[5] = {};
    for (int c = 0; c < 4; ++c) {
        colW[c] = roundUp(colW[c], colUnit[c]);
        rowH[c] = roundUp(rowH[c], rowUnit[c]);
        colX[c + 1] = colX[c] + colW[c];
        rowY[c + 1] = rowY[c] + rowH[c];
    }
    int k = 0;
    for (int i = 0; i < count && k < kDbdParts; ++i) {
        const Port& o = pt[i];
        const int* a = isPort(o.q) ? PI_ACT[o.q] : nullptr;
        const int cellW = colW[colOf[i]], cellH = rowH[rowOf[i]];
        const int px = cellW / o.split;   // pixels each channel of the port stores a line
        for (int h = 0; h < (pairs ? 2 : 1) && k < kDbdParts; ++h, ++k) {
            if (h >= o.split)
                continue;
            const int hw = pairs ? px : cellW / o.unitW;
            out[k] = DbdPart{o.q, a ? a[0] : 0, hw, a ? a[2] : 0, cellH / o.unitH, colX[colOf[i]] + h * px,
                             rowY[rowOf[i]], px, cellH};
        }
    }
    return k;
}

void c331_manage::dbdPictureSize(const DbdPart parts[], int n, int* width, int* height)
{
    *width = *height = 0;
    for (int k = 0; k < n; ++k) {
        *width = std::max(*width, parts[k].x + parts[k].px);
        *height = std::max(*height, parts[k].y + parts[k].lines);
    }
}

int c331_manage::set_dbd_mem(int w, int mode)
{
    if (!zelApi_IsWinValid(w))
        return -1;
    reset_dbd_mem(w);
    // A single input a plain channel carries is stored in that channel's own buffers: it takes
    // none of the dot-by-dot memory and never waits for it.
    if (mode == 1 && check_dbd_input(win_port[w]) == 0)
        return 0;
    // A block per port, two for a port too big for a plain channel; more when the picture's
    // lines need more bands. Its width must fit one line in some write mode, and every
    // interlaced port of a mode spanning several must reach a channel that weaves its fields
    // (else its part would be half as tall as the others).
    const DbdPorts* d = dbdPortsOf(mode);
    const int ports = d ? d->count : (mode == 1 ? 1 : 0);
    DbdPart parts[kDbdParts];
    const int n = dbdParts(w, mode, parts);
    int width = 0, height = 0;
    dbdPictureSize(parts, n, &width, &height);
    const int bands = static_cast<int>((static_cast<uint32_t>(height) + kDbdBlockLines - 1) / kDbdBlockLines);
    // A mode spanning several ports sizes its blocks by its own ports, never by the window's
    // source (a port it may not read).
    bool big = d ? false : check_dbd_input(win_port[w]) != 0;
    for (int i = 0; d && i < d->count; ++i)
        big = big || check_dbd_input(d->port[i]) != 0;
    const int need = std::max({std::min(ports * (big ? 2 : 1), kDbdSlots), bands, 1});
    const uint32_t line = kDbdPitch * 1024;
    bool fits = geometry::memModeFor(static_cast<uint32_t>(width), line) != geometry::kNoMode;
    for (int k = 0; k < n && d; ++k)
        if (parts[k].hw > 0 && PI_SCAN_MODE[parts[k].port] != 0 && !weavesFields(parts[k].port, win_ich[w][k]))
            fits = false;
    // Consecutive free bands, the first run long enough.
    int first = -1;
    for (int b = 0, run = 0; b < kDbdBlocks && first < 0; ++b) {
        run = dbd_mem_owner[b] == -1 ? run + 1 : 0;
        if (run == need)
            first = b - need + 1;
    }
    if (!fits || need > kDbdSlots || first < 0) {
        const int free = static_cast<int>(std::count(dbd_mem_owner, dbd_mem_owner + kDbdBlocks, -1));
        printf("Dot-By-Dot memory assignment error!!!   win=%d  mode=%d  mem_cnt=%d  blk_cnt=%d\n", w, mode, need,
               free);
        return -1;
    }
    for (int k = 0; k < need; ++k) {
        dbd_mem_owner[first + k] = w;
        dbd_mem_slot[w][k] = first + k;
    }
    return 0;
}

// ---- channel sources --------------------------------------------------------------------------------

void c331_manage::set_ichsel(int, int w)
{
    static constexpr uint32_t kRegIchSource = 0x001001;
    if (!zelApi_IsWinValid(w))
        return;
    auto source = [&](int ich, uint32_t src) {
        if (ich >= 0 && ich < kIch)
            wr(kRegIchSource + (static_cast<uint32_t>(ich) << 8), src);
    };
    const DbdPorts* d = dbdPortsOf(PM_WIN_DBD_MODE[w]);
    if (!d) {
        const int n = win_ich[w][0], p = win_port[w];
        if (n < 0 || !isPort(p))
            return;
        if (!isVboPort(p)) {
            source(n, 2u * static_cast<uint32_t>(p));
            return;
        }
        const uint32_t s = static_cast<uint32_t>(p - 2) * 4;
        source(n, s);
        source(n + 1, PI_HDMI_INFO[p][kLane] > 4 ? s + 2 : s + 1);
        return;
    }
    const int channels = d->mode >= 50 ? kVboDbdChannels : d->count;
    for (int i = 0; i < channels; ++i) {
        uint32_t src = static_cast<uint32_t>(d->source[i]);
        if (d->mode >= 50 && (i == 1 || i == 3)) {
            const int p = i == 1 ? kFirstVboPort : kFirstVboPort + 1;
            const bool eight = PI_HDMI_INFO[p][kLane] > 4;
            ZEL_DEBUG(eight ? "\t port_%d 8 lane\n" : "\t port_%d 4 lane\n", p);
            src += eight ? 1 : 0;
        }
        source(win_ich[w][i], src);
    }
}

void c331_manage::set_idual(int, int ich, int on, int port)
{
    static constexpr uint32_t kRegDualMode = 0x030801, kRegDualStart = 0x030902, kRegDualWidth = 0x030B02;
    static constexpr uint32_t kDualOn = 3, kPairStep = 9;
    if (ich < 0 || ich >= kIch)
        return;
    const uint32_t off = (kPairStep * static_cast<uint32_t>(ich / 2)) << 8;
    if (!on || !isPort(port)) {
        wr(kRegDualMode + off, 0);
        return;
    }
    wr(kRegDualMode + off, kDualOn);
    wr(kRegDualStart + off, static_cast<uint32_t>(std::max(PI_ACT[port][0], 0)));
    wr(kRegDualWidth + off, 2u * static_cast<uint32_t>(std::max(PI_ACT[port][1], 0)));
}
