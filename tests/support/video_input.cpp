#include "support/video_input.h"

#include "core/ram_layout.h"
#include "sim/video_chip.h"

namespace zeltest {

TARVO_HDMI_INFO videoRecord(int w, int h, int refresh, int lanes)
{
    TARVO_HDMI_INFO r{};
    r.Hact = w;
    r.Hsync = 44;
    r.Hback = 148;
    r.Hpol = 1;
    r.Htotal = w + 280;
    r.Vact = h;
    r.Vsync = 5;
    r.Vback = 36;
    r.Vtotal = h + 45;
    r.pfreq = float(r.Htotal) * float(r.Vtotal) * float(refresh) / 1e6f;
    r.type = 1;
    r.lane = lanes;
    r.stable = 1;
    return r;
}

void feedVideo(int input, const TARVO_HDMI_INFO& record, int refresh)
{
    tarvosource::pInstance()->hdminfo[input] = record;
    // The board is given frames: a field record's height is half of them.
    const int frame = record.ip ? 2 * record.Vact : record.Vact;
    sim::setInputSignal(input, true, uint16_t(record.Hact), uint16_t(frame), uint16_t(refresh), record.ip != 0);
}

void setInputSummary(unsigned char* image, int input, uint16_t w, uint16_t h, uint8_t rate, uint8_t flag)
{
    const unsigned base = ramaddr::kInputSummary + 6 * unsigned(input);
    ram_set_u16(image, base, w);
    ram_set_u16(image, base + 2, h);
    image[base + 4] = rate;
    image[base + 5] = flag;
}

}  // namespace zeltest
