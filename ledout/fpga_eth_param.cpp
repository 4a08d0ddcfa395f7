// The output part of the FPGAs' parameter blocks: the output window, the area of the picture that
// each Ethernet output port carries, and the ports' link bits.
#include <algorithm>

#include "core/ram_layout.h"
#include "ledout/eth_param.h"
#include "ledout/fpga_manage.h"
#include "ledout/fpga_para.h"
#include "ledout/rcv_card_cmd.h"

using namespace eth_param;
using rcv_card::rd16;
using rcv_card::wr16;

namespace {

constexpr uint16_t kWindowAlign = 31;   // window width rounded up to a multiple of 32

bool validFpga(int fpga) { return fpga == 0 || fpga == 1; }

}  // namespace

int fpga_manage::get_eth_param_addr(unsigned char port, unsigned short* x, unsigned short* y, unsigned short* w,
                                    unsigned short* h)
{
    portFields(port, x, y, w, h);
    return 0;
}

void fpga_manage::get_eth_min_x_y(int fpga, unsigned short* x, unsigned short* y)
{
    if (!validFpga(fpga))
        return;
    const uint8_t* block = MCU_RAM_PARA_func[fpga];
    uint16_t minX = 0xFFFF, minY = 0xFFFF;
    for (unsigned p = 0; p < kPorts; ++p) {
        minX = std::min(minX, rd16(block + kPortGeometry[p]));
        minY = std::min(minY, rd16(block + kPortGeometry[p] + 2));
    }
    *x = minX;
    *y = minY;
}

void fpga_manage::get_eth_max_border(int fpga, unsigned short* x, unsigned short* y)
{
    if (!validFpga(fpga))
        return;
    const uint8_t* block = MCU_RAM_PARA_func[fpga];
    uint16_t maxX = 0, maxY = 0;
    for (unsigned p = 0; p < kPorts; ++p) {
        const unsigned b = kPortGeometry[p];
        maxX = std::max(maxX, static_cast<uint16_t>(rd16(block + b) + rd16(block + b + 4)));
        maxY = std::max(maxY, static_cast<uint16_t>(rd16(block + b + 2) + rd16(block + b + 6)));
    }
    *x = maxX;
    *y = maxY;
}

void fpga_manage::get_eth_lcd_x_y(int fpga, unsigned short* x, unsigned short* y)
{
    if (!validFpga(fpga))
        return;
    *x = rd16(MCU_RAM_PARA_func[fpga] + kWindowX);
    *y = rd16(MCU_RAM_PARA_func[fpga] + kWindowY);
}

void fpga_manage::get_eth_lcd_w_h(int fpga, unsigned short* w, unsigned short* h)
{
    if (!validFpga(fpga))
        return;
    *w = rd16(MCU_RAM_PARA_func[fpga] + kWindowW);
    *h = rd16(MCU_RAM_PARA_func[fpga] + kWindowH);
}

void fpga_manage::eth_param_init(uint8_t mode, int fpga)
{
    if (mode != 1 || !validFpga(fpga))
        return;
    uint8_t* block = MCU_RAM_PARA_func[fpga];
    for (unsigned p = 0; p < kPorts; ++p) {
        const unsigned b = kPortGeometry[p];
        wr16(block + b, 0);
        wr16(block + b + 2, 0);
        wr16(block + b + 4, kDefaultPortW);
        wr16(block + b + 6, kDefaultPortH);
    }
}

void fpga_manage::T71_back_mcu_set_net_para(int fpga)
{
    if (!validFpga(fpga))
        return;
    const uint8_t* block = MCU_RAM_PARA_func[fpga];
    uint8_t* back = MCU_RAM_ETH_BACK_PARA_func[fpga];
    wr16(back + kBackWindowW, rd16(block + kWindowW));
    wr16(back + kBackWindowH, rd16(block + kWindowH));
    for (unsigned p = 0; p < kPorts; ++p)
        for (unsigned field = 0; field < 8; field += 2)
            wr16(back + kBackPorts + 8 * p + field, rd16(block + kPortGeometry[p] + field));
    wr16(back + kBackWindowX, rd16(block + kWindowX));
    wr16(back + kBackWindowY, rd16(block + kWindowY));
}

void fpga_manage::T71_mcu_set_net_para(int fpga)
{
    if (!validFpga(fpga))
        return;
    // the output offset of the parameter image (0, 0 without a parameter model)
    const uint16_t dx = ledpara::word(ramaddr::kLedX);
    const uint16_t dy = ledpara::word(ramaddr::kLedY);
    uint8_t* block = MCU_RAM_PARA_func[fpga];
    const uint8_t* back = MCU_RAM_ETH_BACK_PARA_func[fpga];
    const uint16_t width = static_cast<uint16_t>((rd16(back + kBackWindowW) + dx + kWindowAlign) & ~kWindowAlign);
    wr16(block + kWindowW, width);
    wr16(block + kWindowH, static_cast<uint16_t>(rd16(back + kBackWindowH) + dy));
    for (unsigned p = 0; p < kPorts; ++p) {
        wr16(block + kPortGeometry[p], static_cast<uint16_t>(rd16(back + kBackPorts + 8 * p) + dx));
        wr16(block + kPortGeometry[p] + 2, static_cast<uint16_t>(rd16(back + kBackPorts + 8 * p + 2) + dy));
    }
}

void fpga_manage::update_eth_state(int fpga)
{
    if (!validFpga(fpga))
        return;
    const unsigned links = linkMask(fpga);
    const uint8_t reg128 = static_cast<uint8_t>(links);
    const uint8_t reg144 = static_cast<uint8_t>(links >> 8);
    uint8_t* block = MCU_RAM_PARA_func[fpga];

    const struct {
        unsigned offset;
        uint8_t value;
    } bytes[3] = {{kLinkByte0, linkByte0(block[kLinkByte0], reg128)},
                  {kLinkByte1, linkByte1(block[kLinkByte1], reg128)},
                  {kLinkByte2, reg144}};
    for (const auto& b : bytes) {
        if (block[b.offset] == b.value)
            continue;
        block[b.offset] = b.value;
        write_fpga_ram(block + b.offset, b.offset, 1, kParamRam, fpga);
    }

    for (unsigned p = 0; p < kPorts; ++p) {
        if (links & (1u << p))
            continue;
        const unsigned n = kCardCount[p], s = kCardStatus[p];
        wr16(block + n, 0);
        block[s] = 0;
        write_fpga_ram(block + n, n, 2, kParamRam, fpga);
        write_fpga_ram(block + s, s, 1, kParamRam, fpga);
    }
}

int fpga_manage::check_fpga_ram_param(int fpga)
{
    if (!validFpga(fpga))
        return 0;
    const uint8_t* block = MCU_RAM_PARA_func[fpga];
    uint8_t got[2];
    auto same = [&](unsigned offset) {
        got[0] = got[1] = 0;
        read_fpga_ram(got, offset, 2, kParamRam, fpga);
        return got[0] == block[offset] && got[1] == block[offset + 1];
    };
    for (unsigned p = 0; p < kPorts; ++p)
        for (unsigned field = 0; field < 8; field += 2)
            if (!same(kPortGeometry[p] + field))
                return 0;
    for (unsigned k = 0; k < kPorts; ++k)
        if (!same(kPortWords + 4 * k) || !same(kPortWords + 4 * k + 2))
            return 0;
    return 1;
}
