// Picture values of the video chip: brightness, contrast, saturation, colour temperature and
// sharpness. Each is written inside one register-update window so the chip takes the new values
// of all channels together.
#include <algorithm>
#include <cstdint>

#include "engine/c331_manage.h"
#include "engine/c331_picture_calc.h"

namespace {

// Per-channel picture block (bank 0x0C + 16 per channel).
constexpr uint32_t kRegBrightness[] = {0x0C3A02, 0x0C3C02, 0x0C3E02};
constexpr uint32_t kRegContrastCtl = 0x0C2101;   // bit 0 enables contrast and sharpness
constexpr uint32_t kRegContrast[] = {0x0C2802, 0x0C2A02, 0x0C2C02};
constexpr uint32_t kRegSaturationCtl = 0x0C1401;  // bit 0 enables saturation
constexpr uint32_t kRegSaturation[] = {0x0C1B02, 0x0C1D02, 0x0C1F02};
constexpr uint32_t kEnableBit = 0x01;
// 3 x 3 colour matrix, row by row.
constexpr uint32_t kRegColorMatrix = 0x0C5B02;
constexpr int kMatrixEntries = 9;
constexpr int kMatrixRed = 0, kMatrixGreen = 4, kMatrixBlue = 8;
// Bank-0 switches of the colour matrix, one per output channel.
constexpr uint32_t kRegColorMatrixOn = 0x005901;
constexpr uint32_t kColorMatrixOnBit = 0x20;

// Sharpness block (bank 0x0B + 16 per output channel).
constexpr uint32_t kRegSharpHGain = 0x0B0801;
constexpr uint32_t kRegSharpHStrength = 0x0B0901;
constexpr uint32_t kRegSharpHFilter = 0x0B0C01;   // five registers
constexpr uint32_t kRegSharpHGain2 = 0x0B1101;
constexpr uint32_t kRegSharpVStrength = 0x0B1201;
constexpr uint32_t kRegSharpVFilter = 0x0B1501;   // five registers
constexpr uint32_t kRegSharpVOn = 0x0B5E01;

constexpr uint32_t kNextAddr = 0x100;             // register id step to the next address
constexpr uint32_t kNextWord = 0x200;

// Switches a block on in every channel and writes `data` to each of its three registers.
void writeEnabledBlock(c331_manage& e, uint32_t ctl, const uint32_t (&regs)[3], uint32_t data)
{
    for (int ch = 0; ch < c331_manage::kOch; ++ch) {
        e.wrMask(ctl, kEnableBit, kEnableBit, c331_manage::chBank(ch));
        for (uint32_t reg : regs)
            e.wr(reg, data, c331_manage::chBank(ch));
    }
}

}  // namespace

void c331_manage::c331_SetBrightness(unsigned short value)
{
    const uint32_t data = picture::brightnessData(value);
    set_rtct(c331_fd, 2);
    for (int ch = 0; ch < kOch; ++ch)
        for (uint32_t reg : kRegBrightness)
            wr(reg, data, chBank(ch));
    set_rtct(c331_fd, 1);
}

void c331_manage::c331_SetContrast(int value)
{
    set_rtct(c331_fd, 2);
    writeEnabledBlock(*this, kRegContrastCtl, kRegContrast, picture::contrastData(value));
    set_rtct(c331_fd, 1);
}

void c331_manage::c331_SetSaturation(int value)
{
    set_rtct(c331_fd, 2);
    writeEnabledBlock(*this, kRegSaturationCtl, kRegSaturation, picture::saturationData(value));
    set_rtct(c331_fd, 1);
}

void c331_manage::c331_SetColorTemp(int packed)
{
    const picture::ColorGains g = picture::colorGains(static_cast<uint32_t>(packed));
    uint32_t matrix[kMatrixEntries] = {};
    matrix[kMatrixRed] = g.red;
    matrix[kMatrixGreen] = g.green;
    matrix[kMatrixBlue] = g.blue;
    set_rtct(c331_fd, 2);
    for (int ch = 0; ch < kOch; ++ch)
        wrMask(kRegColorMatrixOn + static_cast<uint32_t>(ch) * kNextAddr, kColorMatrixOnBit, kColorMatrixOnBit);
    for (int ch = 0; ch < kOch; ++ch)
        for (int i = 0; i < kMatrixEntries; ++i)
            wr(kRegColorMatrix + static_cast<uint32_t>(i) * kNextWord, matrix[i], chBank(ch));
    set_rtct(c331_fd, 1);
}

int c331_manage::winOchList(int w, int out[kOch]) const
{
    if (w < 0 || w >= kWinCount)
        return 0;
    const ST_WIN_INFO& wi = win_info[w];
    const int cells = std::min(wi.columns * wi.rows, kOch);
    int n = 0;
    for (int k = 0; k < cells; ++k)
        if (wi.ochLst[k] < kOch)
            out[n++] = wi.ochLst[k];
    return n;
}

void c331_manage::c331_SetSharpness(int value)
{
    const int level = picture::sharpnessLevel(value);
    const uint32_t gain = static_cast<uint32_t>(picture::sharpnessGain(level));
    const uint32_t strength = static_cast<uint32_t>(picture::sharpnessStrength(level));
    wrMask(kRegContrastCtl, kEnableBit, kEnableBit);
    for (int w = 0; w < kWinCount; ++w) {
        if (!zelApi_IsWinShown(w))
            continue;
        const int port = win_port[w];
        if (port < 0 || port >= kPorts || PI_STATE[port] == 0)
            continue;
        int ch[kOch];
        const int n = winOchList(w, ch);
        for (int k = 0; k < n; ++k)
            wr(kRegSharpHGain, gain, chBank(ch[k]));

        const int scan = PI_SCAN_MODE[port] != 0 ? 2 : 1;
        const int hRow = picture::sharpnessRow(OWIN[w].HW, IWIN[w].HW);
        const int vRow = picture::sharpnessRow(OWIN[w].VW, static_cast<int64_t>(IWIN[w].VW) * scan);
        const picture::SharpRow off{};
        const picture::SharpRow& h = level > 0 ? picture::kSharpHorizontal[hRow] : off;
        const picture::SharpRow& v = level > 0 ? picture::kSharpVertical[vRow] : off;

        set_rtct(c331_fd, 2);
        for (int k = 0; k < n; ++k) {
            for (size_t i = 0; i < h.size(); ++i)
                wr(kRegSharpHFilter + static_cast<uint32_t>(i) * kNextAddr, h[i], chBank(ch[k]));
            wr(kRegSharpHStrength, strength, chBank(ch[k]));
        }
        for (int k = 0; k < n; ++k)
            wr(kRegSharpHGain2, gain, chBank(ch[k]));
        for (int k = 0; k < n; ++k) {
            wr(kRegSharpVOn, 1, chBank(ch[k]));
            for (size_t i = 0; i < v.size(); ++i)
                wr(kRegSharpVFilter + static_cast<uint32_t>(i) * kNextAddr, v[i], chBank(ch[k]));
            wr(kRegSharpVStrength, strength, chBank(ch[k]));
        }
        set_rtct(c331_fd, 1);
    }
}
