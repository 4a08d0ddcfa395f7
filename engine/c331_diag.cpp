// Service aids of the video engine: the register dump, dumps of the engine's state and the chip
// test sequences that the protocol's debug registers ask for.
#include <QMutexLocker>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "chips/tarvosource.h"
#include "core/global.h"
#include "core/utils.h"
#include "engine/c331_diag.h"
#include "engine/c331_drv.h"
#include "engine/c331_manage.h"

using namespace c331hdmi;

namespace {

// ---- register dump list ----------------------------------------------------------------------------
// Banks first..last each list, from address `start` on and back to back, `ones` 1-byte
// registers, then `twos` 2-byte, `threes` 3-byte and `fours` 4-byte ones.
struct DumpRun {
    uint8_t first, last, start, ones, twos, threes, fours;
};
constexpr DumpRun kDumpRuns[] = {
    {0x00, 0x4B, 0x08, 21, 9, 1, 2},
    {0x4C, 0x74, 0x08, 21, 9, 1, 1},
    {0x75, 0xA9, 0x08, 21, 9, 0, 1},
    {0xAA, 0xCD, 0x08, 20, 9, 0, 1},
    {0xCE, 0xFE, 0x08, 20, 8, 0, 1},
    {0xFF, 0xFF, 0x01, 1, 0, 2, 0},
};

constexpr uint32_t regId(uint32_t bank, uint32_t addr, uint32_t count) { return (bank << 16) | (addr << 8) | count; }

// ---- test sequences --------------------------------------------------------------------------------
constexpr uint32_t kRegPattern = 0x085701;
constexpr uint32_t kRegPatA = 0x085801, kRegPatB = 0x085901, kRegPatC = 0x085A01;
constexpr uint32_t kRegPatStep = 0x085B02, kRegPatD = 0x085D02, kRegPatE = 0x085F02, kRegPatWidth = 0x086102;
constexpr uint32_t kRegPatLevel = 0x086301, kRegPatGain = 0x086601;   // three each: R, G, B
constexpr uint32_t kRegZoomCtl = 0x0A4601, kRegZoomCtlB = 0x0A4B01;
constexpr uint32_t kRegInMode = 0x504A01, kRegInColor = 0x504B03;
constexpr uint32_t kRegIactHst5 = 0x501702;
constexpr uint32_t kRegVboReset = 0x027F01;

struct Colour {
    bool r, g, b;
};
constexpr Colour kWhite{true, true, true}, kRed{true, false, false}, kGreen{false, true, false}, kBlue{false, false, true};

struct Slidebar {
    int och;
    uint32_t mode, width;
    Colour colour;
};
constexpr Slidebar kOutputBars[] = {{0, 9, 1376, kWhite}, {1, 9, 1376, kRed}, {2, 9, 1376, kGreen}, {3, 9, 1376, kBlue}};
constexpr Slidebar kInputBars[] = {{4, 137, 2752, kWhite}, {5, 137, 2752, kGreen}};

struct Seq {
    uint32_t id, value;
};
constexpr Seq kVbyoneCh1[] = {{kRegVboReset, 14}, {kRegVboReset, 15}, {0x024001, 5}, {0x024F01, 255}, {0x024C01, 171}};
constexpr Seq kVbyoneCh2[] = {{kRegVboReset, 13}, {kRegVboReset, 15}, {0x025C01, 5}, {0x026B01, 255}, {0x026801, 171}};
constexpr Seq kSyncInput[] = {{0x004801, 137}, {0x004901, 67}, {0x004A01, 2}, {0x004B01, 16}, {0x081802, 1}, {0x080F01, 196}};
constexpr Seq kFrameLock[] = {{0x080F01, 4}, {0x080802, 3}, {0x081802, 1}, {0x080C02, 5612}};
constexpr uint32_t kRegSyncTest = 0x080F01;
constexpr int kSyncPauseMs = 100;

// Registers of one channel that the register-group dump shows: in the channel's bank block
// (bank offset 16 per channel) or, for the bank-0 ones, one address per channel.
struct ChannelReg {
    const char* name;
    uint32_t id;
    bool perAddress;   // bank 0, address + channel
};
constexpr int kFields = 5;
constexpr uint32_t kFieldStep = 0x400;   // the five field addresses are 4 bytes apart
constexpr uint32_t kRegOsfld0 = 0x160804, kRegIsfld0 = 0x161C04;
constexpr ChannelReg kSyncRegs[] = {
    {"OSYCT", 0x080802, false}, {"ISYCT", 0x100901, false}, {"OMWI", 0x163001, false}, {"IMWI", 0x163101, false}};
constexpr ChannelReg kOactRegs[] = {{"HST", 0x084002, false}, {"HW", 0x084202, false}, {"VST", 0x084402, false},
                                    {"VW", 0x084602, false}};
constexpr ChannelReg kIactRegs[] = {{"HST", 0x101702, false}, {"HW", 0x101902, false}, {"VST", 0x101B02, false},
                                    {"VW", 0x101D02, false}};
constexpr ChannelReg kSelectRegs[] = {
    {"ICHSEL", 0x001001, true}, {"ISCWCT", 0x007101, true}, {"OSCWCT", 0x006901, true}};

constexpr int kParamGroups = 14;
constexpr const char* kParamGroupName[kParamGroups] = {"c331_param", "c331_win", "c331_mem", "c331_mwi", "c331_mw1s",
                                                       "c331_PI",    "none",     "none",     "none",     "none",
                                                       "none",       "none",     "none",     "none"};

}  // namespace

std::vector<uint32_t> c331DumpList()
{
    std::vector<uint32_t> ids;
    for (const DumpRun& r : kDumpRuns)
        for (uint32_t bank = r.first; bank <= r.last; ++bank) {
            uint32_t addr = r.start;
            const uint8_t counts[4] = {r.ones, r.twos, r.threes, r.fours};
            for (uint32_t width = 1; width <= 4; ++width)
                for (int k = 0; k < counts[width - 1]; ++k, addr += width)
                    ids.push_back(regId(bank, addr, width));
        }
    return ids;
}

void c331_manage::c331_print()
{
    // The dump reads bank 0x04 too: keep it out of a running flash operation or OSD drawing.
    std::lock_guard<std::recursive_mutex> lock(osd_op_mutex);
    for (uint32_t id : c331DumpList()) {
        printf("%06X  %08Xh\n", id, rd(id));
        usleepFn(1);
    }
}

// ---- test sequences --------------------------------------------------------------------------------

namespace {

void writeSeq(c331_manage& e, const Seq* seq, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        e.wr(seq[i].id, seq[i].value);
}

void slidebar(c331_manage& e, const Slidebar& s)
{
    const uint32_t off = c331_manage::chBank(s.och);
    e.wr(kRegPattern, s.mode, off);
    for (uint32_t id : {kRegPatA, kRegPatB, kRegPatC})
        e.wr(id, 0, off);
    e.wr(kRegPatStep, 160, off);
    e.wr(kRegPatD, 0, off);
    e.wr(kRegPatE, 32, off);
    e.wr(kRegPatWidth, s.width, off);
    const bool on[3] = {s.colour.r, s.colour.g, s.colour.b};
    for (uint32_t k = 0; k < 3; ++k)
        e.wr(kRegPatLevel + (k << 8), on[k] ? 255 : 0, off);
    for (uint32_t k = 0; k < 3; ++k)
        e.wr(kRegPatGain + (k << 8), on[k] ? 3 : 0, off);
}

}  // namespace

void c331_manage::output_slidebar(int)
{
    for (const Slidebar& s : kOutputBars)
        slidebar(*this, s);
}

void c331_manage::input_slidebar(int)
{
    for (const Slidebar& s : kInputBars)
        slidebar(*this, s);
}

void c331_manage::disable_slidebar(int)
{
    for (int ch = 0; ch < 6; ++ch)
        wr(kRegPattern, 0, chBank(ch));
}

void c331_manage::vbyone_rx_ch1_seq(int)
{
    writeSeq(*this, kVbyoneCh1, sizeof kVbyoneCh1 / sizeof kVbyoneCh1[0]);
    ZEL_DEBUG("\n vbyone_rx_ch1_seq over ");
}

void c331_manage::vbyone_rx_ch2_seq(int)
{
    writeSeq(*this, kVbyoneCh2, sizeof kVbyoneCh2 / sizeof kVbyoneCh2[0]);
    ZEL_DEBUG("\n vbyone_rx_ch2_seq over ");
}

void c331_manage::sync_c331_device_test_input(int)
{
    writeSeq(*this, kSyncInput, sizeof kSyncInput / sizeof kSyncInput[0]);
    Sleep(kSyncPauseMs);
    wr(kRegSyncTest, 0);
}

void c331_manage::sync_c331_device_test_frame_lock(int)
{
    writeSeq(*this, kFrameLock, sizeof kFrameLock / sizeof kFrameLock[0]);
}

void c331_manage::read_c331_b174bug(int)
{
    static constexpr const char* kLineNames[4] = {"VI11FHM", "VI13FHM", "VI15FHM", "VI17FHM"};
    static constexpr const char* kFrameNames[4] = {"VI11FVM", "VI13FVM", "VI15FVM", "VI17FVM"};
    // The registers are read whatever the debug switch says: the reads are the action.
    for (uint32_t k = 0; k < 4; ++k) {
        const int lines = int(rd(regId(0xAE, 0x40 + 2 * k, 2))) + 1;
        ZEL_DEBUG("\n read_c331_b174bug(B174_%s=%d ) over \n", kLineNames[k], lines);
    }
    for (uint32_t k = 0; k < 4; ++k) {
        const int frame = int(rd(regId(0xAE, 0x5C + 3 * k, 3))) + 1;
        ZEL_DEBUG("\n read_c331_b174bug(B174_%s=%d ) over \n", kFrameNames[k], frame);
    }
    const int dual = int(rd(regId(0x03, 0x1A, 1)));
    ZEL_DEBUG("\n read_c331_b174bug(B3_IDUALCTCH56=%d ) over \n", dual);
}

void c331_manage::write_read_c331_b80_iacthstch5(int)
{
    const uint32_t before = rd(kRegIactHst5);
    wr(kRegIactHst5, before + 100);
    const uint32_t after = rd(kRegIactHst5);
    ZEL_DEBUG("\n write_read_c331_b80_iacthstch5(B80_IACTHSTCH5=%d ) read \n", int(before));
    ZEL_DEBUG("\n write_read_c331_b80_iacthstch5(B80_IACTHSTCH5=%d ) read \n", int(after));
}

// ---- state dumps -----------------------------------------------------------------------------------

namespace {

const char* portKind(int p) { return c331_manage::isVboPort(p) ? "VBO RX" : "CMOS"; }

// The pixel clock (MHz) that a port's record keeps as the bits of a float.
float pixelClock(const int* info)
{
    float f = 0;
    std::memcpy(&f, &info[kPfreq], sizeof f);
    return f;
}

// Input port: update and state, totals, active area and what is known of its signal.
void printPorts(const c331_manage& e)
{
    for (int p = 0; p < c331_manage::kPorts; ++p) {
        const int* h = e.PI_HDMI_INFO[p];
        printf("PI[%d] PI_UPDATE:%d PI_STATE:%d htt:%d vtt:%d PI_ACT HST:%d HW:%d VST:%d VW:%d\n", p, e.PI_UPDATE[p],
               e.PI_STATE[p], h[kHtotal], h[kVtotal], e.PI_ACT[p][0], e.PI_ACT[p][1], e.PI_ACT[p][2], e.PI_ACT[p][3]);
        printf("\tport info: %s status:%02X nosignal:%d type:%d datamode:%d lane:%d scan:%d fv:%d\n", portKind(p),
               unsigned(e.PI_STATUS[p]) & 0xFF, h[kNoSignal], h[kType], h[kDatamode], h[kLane], e.PI_SCAN_MODE[p],
               e.PI_FV[p]);
    }
}

void printReceived(const c331_manage& e)
{
    for (int p = 0; p < c331_manage::kPorts; ++p) {
        const int* h = e.PI_HDMI_INFO[p];
        printf("PI_HDMI_INFO[%d] -- %s - %s\t hact:%d, htt:%d, hsync:%d, hback:%d, vact:%d, vtt:%d, vsync:%d, vback:%d\n",
               p, c331_manage::isVboPort(p) ? "IT6807" : "IT6602", h[kIp] ? "Interlaced" : "Progressive", h[kHact],
               h[kHtotal], h[kHsync], h[kHback], h[kVact], h[kVtotal], h[kVsync], h[kVback]);
    }
}

void printRect(const char* name, const _ImageWindowDef_st& r)
{
    printf(" %s HST:%d HW:%d VST:%d VW:%d", name, r.HST, r.HW, r.VST, r.VW);
}

// Window: its record, input and output window, crop offsets and margins.
void printWindowGeometry(const c331_manage& e, int w)
{
    const ST_WIN_INFO& wi = e.win_info[w];
    printf("win[%d] enable:%d port:%d x:%d y:%d w:%d h:%d", w, wi.enable, e.win_port[w], wi.x, wi.y, wi.width,
           wi.height);
    printRect("IWIN", e.IWIN[w]);
    printRect("OWIN", e.OWIN[w]);
    const int* o = e.PM_OFFSET[w];
    const int* m = e.PM_WIN_MARGIN[w];
    printf("\n\tcrop:%d offset l:%d r:%d t:%d b:%d margin l:%d r:%d u:%d d:%d\n", e.PM_CROP_EN[w], o[0], o[1], o[2],
           o[3], m[0], m[1], m[2], m[3]);
}

// Window: scaling factors between its input and output window and its memory write modes.
void printWindowMemory(c331_manage& e, int w)
{
    _ScalingSt f{};
    e.calc_scaling(&e.IWIN[w], &e.OWIN[w], &f);
    printf("\tfactor hmode:%d vmode:%d hshrink:%u vshrink:%u hzoom:%u vzoom:%u wmode PM:%d PS:%d\n", f.hmode,
           f.vmode, f.hshrink, f.vshrink, f.hzoom, f.vzoom, e.PM_MEM_WMODE[w], e.PS_MEM_WMODE[w]);
}

// Input port side of the memory: the fields its first input channel writes, where its picture
// starts, what the chip measured and its sync polarity.
void printPortMemory(const c331_manage& e)
{
    for (int p = 0; p < c331_manage::kPorts; ++p) {
        int ich = -1;
        for (int w = 0; w < kWinCount && ich < 0; ++w)
            if (e.win_port[w] == p && c331_manage::isCh(e.win_ich[w][0]))
                ich = e.win_ich[w][0];
        printf("PI[%d] %s ich:%d fields:", p, portKind(p), ich);
        for (int f = 0; f < 5; ++f)
            printf(" %08X", ich < 0 ? 0u : e.sys.memmap[ich][f]);
        const c331_manage::PortMeasure& m = e.PI_MEAS[p];
        const int* h = e.PI_HDMI_INFO[p];
        printf("\n\tact start h:%d v:%d measured htotal:%u hcount:%u vtotal:%u frame:%u pclk:%.3f fv:%d"
               " sync pol h:%d v:%d\n",
               e.PI_ACT[p][0], e.PI_ACT[p][2], m.htotal, m.hcount, m.vtotal, m.frame, double(pixelClock(h)), e.PI_FV[p],
               h[kHpol], h[kVpol]);
    }
}

// Priorities and the mixer groups of the output channels.
void printOverlay(const c331_manage& e)
{
    for (int w = 0; w < kWinCount; ++w)
        printf("win[%d] priority:%d layer:%d\n", w, e.win_info[w].priority, e.PM_LAYER[w]);
    for (int c = 0; c < c331_manage::kOch; ++c)
        printf("OCH%d owner:%d area:%d overlay:%d\n", c, e.och_owner[c], e.PM_AREA_NUM[c], e.PM_OVERLAY[c]);
}

void printFades(const c331_manage& e, int w)
{
    printf("\tfade in:%d out:%d en:%d\n", e.PM_WIN_FADE_IN[w], e.PM_WIN_FADE_OUT[w], e.PM_WIN_FADE_EN[w]);
}

void printOsd(const c331_manage& e)
{
    const c331osd::Settings& s = e.osd;
    printf("OSD display:%d char:%d out l:%d r:%d t:%d b:%d src l:%d r:%d t:%d b:%d size %dx%d scroll:%d\n", s.display,
           s.charMode, s.outLeft, s.outRight, s.outTop, s.outBottom, s.srcLeft, s.srcRight, s.srcTop, s.srcBottom,
           s.width, s.height, s.scrollMode);
}

}  // namespace

void c331_manage::zelDbg_c331_param(int n)
{
    const int group = int(unsigned(n) % kParamGroups);
    printf("[zelDbg_c331_param] %s\n", kParamGroupName[group]);
    switch (group) {
    case 0:
        printPorts(*this);
        for (int w = 0; w < kWinCount; ++w) {
            printWindowGeometry(*this, w);
            printFades(*this, w);
        }
        printOverlay(*this);
        printOsd(*this);
        printReceived(*this);
        printf("windows on:%d window limit:%d input limit:%d\n", wincnt, kWinCount, kPorts);
        break;
    case 1:
        printPorts(*this);
        break;
    case 2:
        for (int w = 0; w < kWinCount; ++w) {
            printWindowGeometry(*this, w);
            printWindowMemory(*this, w);
        }
        printPortMemory(*this);
        printOverlay(*this);
        break;
    case 5:
        printPorts(*this);
        printReceived(*this);
        break;
    case 6:
        for (int ch = 0; ch < kOch; ++ch)
            writeOchBkg(ch, 0xFFFFFF, 1);
        break;
    case 7:
        for (int ch = 0; ch < kOch; ++ch)
            wr(kRegZoomCtl, 195, chBank(ch));
        break;
    case 8:
        for (int ch = 0; ch < kOch; ++ch) {
            wr(kRegInMode, 1, chBank(ch));
            wr(kRegInColor, 0x80FF80, chBank(ch));
        }
        printf("\n .........input change........... ");
        break;
    case 9:
        for (uint32_t off : {chBank(0), chBank(1)}) {
            wr(kRegZoomCtl, 3, off);
            wr(kRegZoomCtlB, 3, off);
        }
        printf("\n .........B10_HZOOMCTCH1/B10_VZOOMCTCH1 change........... ");
        break;
    case 10: {
        tarvosource* src = tarvosource::p_tarvo_source;
        const int input = win_info[0].port < kPorts ? win_info[0].port : 0;
        if (!src)
            break;
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        const TARVO_HDMI_INFO& h = src->hdminfo[input];
        printf("input %d datamode:%d %s %dx%d pclk:%.2f\n", input, h.datamode, h.ip ? "Interlaced" : "Progressive",
               h.Hact, h.Vact, double(h.pfreq));
        break;
    }
    default:
        break;
    }
}

namespace {

uint32_t readChannelReg(c331_manage& e, const ChannelReg& r, int ch)
{
    return r.perAddress ? e.rd(r.id + (uint32_t(ch) << 8)) : e.rd(r.id, c331_manage::chBank(ch));
}

template <size_t N>
void printChannelRegs(c331_manage& e, int ch, const char* group, const ChannelReg (&regs)[N])
{
    printf("\t%s", group);
    for (const ChannelReg& r : regs)
        printf(" %s:%u", r.name, readChannelReg(e, r, ch));
    printf("\n");
}

void printChannelRegs(c331_manage& e, int ch)
{
    const uint32_t off = c331_manage::chBank(ch);
    printf("CH%d\n\t", ch);
    for (int f = 0; f < kFields; ++f)
        printf("OSFLD%d:%08X ", f, e.rd(kRegOsfld0 + kFieldStep * uint32_t(f), off));
    printf("\n\t");
    for (int f = 0; f < kFields; ++f)
        printf("ISFLD%d:%08X ", f, e.rd(kRegIsfld0 + kFieldStep * uint32_t(f), off));
    printf("\n");
    printChannelRegs(e, ch, "", kSyncRegs);
    printChannelRegs(e, ch, "OACT", kOactRegs);
    printChannelRegs(e, ch, "IACT", kIactRegs);
    printChannelRegs(e, ch, "", kSelectRegs);
}

}  // namespace

void c331_manage::zelDbg_c331_print_regGrp(int group)
{
    printf("[%s] grp:%d\n", "zelDbg_c331_print_regGrp", group);
    if (group != 0) {
        printf("\t not found valid grp!!!!!!!\n");
        return;
    }
    for (int w = 0; w < kWinCount; ++w) {
        const ST_WIN_INFO& wi = win_info[w];
        printf("win%d port:%d", w, win_port[w]);
        for (int i = 0; i < kIch; ++i)
            if (win_ich[w][i] >= 0)
                printf(" ICH%d", win_ich[w][i]);
        for (int c = 0; c < 8; ++c)
            if (wi.ochLst[c] < kOch && c < wi.columns * wi.rows)
                printf(" OCH%d", wi.ochLst[c]);
        printf("\n");
    }
    for (int ch = 0; ch < kOch; ++ch)
        printChannelRegs(*this, ch);
}
