// Input crops: a window shows a rectangle of its input. The crop becomes four edge offsets of the
// window's input window, which the window geometry reads.
#include <cstdint>

#include "core/global.h"
#include "core/ram_layout.h"
#include "engine/c331_image.h"
#include "engine/c331_manage.h"
#include "engine/c331_picture_calc.h"

namespace {

constexpr uint8_t kCropInputBits = 0x0F;
constexpr unsigned kCropX = 2, kCropY = 4, kCropWidth = 6, kCropHeight = 8;

picture::Rect toRect(const ST_RECT& r) { return {r.x, r.y, r.width, r.height}; }

}  // namespace

void c331_manage::c331_SetInputsourceCrop(int w, int cropWord)
{
    if (!zelApi_IsWinShown(w)) {
        ZEL_DEBUG("[%s] win:%d oor\n", __func__, w);
        return;
    }
    const unsigned k = static_cast<unsigned>(cropWord) & 0xFF;
    if (k >= ramaddr::kCropEntries) {
        ZEL_DEBUG("\t !!!!!!!!!cropIdx OOR,return !!!!!!!!!!!!!");
        return;
    }
    // The entry's source byte may hold anything the protocol wrote: only its input bits count,
    // and an input beyond the six is no input.
    const uint8_t input = ImageView::current().byte(ramaddr::cropEntry(k)) & kCropInputBits;
    win_info[w].crop = static_cast<uint8_t>(k);
    win_info[w].port = input < kPorts ? input : kNoInput;
}

void c331_manage::c331_SetCrop(char window, char enable, ST_RECT* rect)
{
    const int w = window;
    if (w < 0 || w >= kWinCount || rect == nullptr) {
        ZEL_DEBUG("  not found win:%d\r\n", w);
        return;
    }
    const uint8_t input = win_info[w].port;
    const int port = input < kPorts ? zelApi_inputCvtC331(input) : kNoPort;
    int width = 0, height = 0;
    cropFrame(port, &width, &height);
    picture::Rect r = toRect(*rect);
    const ST_RECT asked = *rect;
    const int reset = picture::clampCrop(r, width, height);
    if (reset & 1)
        ZEL_DEBUG("    x:%d + w:%d OOR, reset it to C331input\r\n", asked.x, asked.width);
    if (reset & 2)
        ZEL_DEBUG("    y:%d + h:%d OOR, reset it to C331input\r\n", asked.y, asked.height);
    *rect = ST_RECT{r.x, r.y, r.width, r.height};

    // A window whose crop entry was refused shows its whole input.
    if (enable != 0 && win_info[w].crop < ramaddr::kCropEntries) {
        PM_CROP_EN[w] = 1;
        for (int side = 0; side < 4; ++side)
            PM_OFFSET[w][side] = zelApi_CropGetOffset(port, rect, side);
    } else {
        PM_CROP_EN[w] = 0;
        for (int side = 0; side < 4; ++side)
            PM_OFFSET[w][side] = 0;
    }
    set_output(c331_fd);
}

int c331_manage::zelApi_CropGetOffset(int port, ST_RECT* rect, int type)
{
    if (port < 0 || port >= kPorts || rect == nullptr || PI_ACT[port][1] == 0 || PI_ACT[port][3] == 0) {
        ZEL_DEBUG("\t no signal, return 0\n");
        return 0;
    }
    const picture::Rect r = toRect(*rect);
    int width = 0, height = 0;
    cropFrame(port, &width, &height);
    const int64_t raw = picture::cropMargin(r, width, height, type);
    if (raw < 0)
        ZEL_DEBUG("[zelApi_CropGetOffset] offset:%lld < 0, reset to zeruo\n", static_cast<long long>(raw));
    return picture::cropOffset(r, width, height, type);
}

void c331_manage::cropFrame(int p, int* width, int* height) const
{
    const bool port = p >= 0 && p < kPorts;
    *width = port ? pictureWidth(p) : 0;
    *height = port ? PI_ACT[p][3] * (PI_SCAN_MODE[p] ? 2 : 1) : 0;
}

void c331_manage::zelApi_updateCrop(int port)
{
    if (port < 0 || port >= kPorts)
        return;
    const ImageView img = ImageView::current();
    for (int w = 0; w < kWinCount; ++w) {
        const unsigned k = win_info[w].crop;
        if (win_port[w] != port || PM_CROP_EN[w] == 0 || !zelApi_IsWinShown(w) || k >= ramaddr::kCropEntries)
            continue;
        const unsigned e = ramaddr::cropEntry(k);
        ST_RECT rect{img.word(e + kCropX), img.word(e + kCropY), img.word(e + kCropWidth), img.word(e + kCropHeight)};
        for (int side = 0; side < 4; ++side)
            PM_OFFSET[w][side] = zelApi_CropGetOffset(port, &rect, side);
    }
}
