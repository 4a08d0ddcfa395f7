// The job-side builders of receiving-card packets: the pure builders of rcv_card_cmd plus the job
// block fields they read and write.
#include <cstring>

#include "ledout/fpga_manage.h"
#include "ledout/job_block.h"
#include "ledout/rcv_card_cmd.h"
#include "ledout/scan_para.h"

LineType line_type = {};

namespace {

void storeLength(unsigned len)
{
    rcv_card::wr16(g_send_para + jobblock::kPacketLen, static_cast<uint16_t>(len));
}

// The check byte of a built packet (0 for a refused one).
unsigned char checkByte(const unsigned char* buf, unsigned len) { return len != 0 ? buf[len - 1] : 0; }

}  // namespace

unsigned char fpga_manage::rcv_card_cmd_create(unsigned char* buf, unsigned char port)
{
    const uint16_t index = rcv_card::rd16(g_send_para + jobblock::kCardIndex);
    unsigned short x = 0, y = 0;
    get_rcvcard_x_y(index, &x, &y);
    x = static_cast<unsigned short>(x + line_type.x_offset);
    y = static_cast<unsigned short>(y + line_type.y_offset);
    return checkByte(buf, rcv_card::cardPosition(buf, port, index, x, y));
}

unsigned char fpga_manage::load_write_ram_cmd_create(unsigned char port, unsigned short index, unsigned int address,
                                                     const unsigned char* data, unsigned short len,
                                                     unsigned char* buf, bool broadcast)
{
    const unsigned n = rcv_card::writeRam(buf, port, index, address, data, len, broadcast);
    storeLength(n);
    return checkByte(buf, n);
}

unsigned short fpga_manage::rcv_active_firmware_cmd_create(unsigned char port, unsigned short index,
                                                           const unsigned char* data, unsigned short len,
                                                           unsigned char* buf)
{
    const unsigned n = rcv_card::activateFirmware(buf, port, index, data, len);
    storeLength(n);
    return static_cast<unsigned short>(n);
}

unsigned char fpga_manage::ram_reset_cmd_create(unsigned char* buf, const SCAN_PARA* scan, unsigned char port)
{
    const uint8_t reg = static_cast<uint8_t>(scan->reg);
    const uint8_t mask = static_cast<uint8_t>(scan->mask_value);
    const uint8_t value = static_cast<uint8_t>(scan->mask_value >> 8);
    const unsigned n = rcv_card::ramReset(buf, port, reg, mask, value);
    storeLength(n);
    return checkByte(buf, n);
}

unsigned char fpga_manage::save_para_cmd_create(unsigned char* buf, unsigned char port)
{
    const unsigned n = rcv_card::saveParams(buf, port);
    storeLength(n);
    return checkByte(buf, n);
}

unsigned short fpga_manage::load_write_reg_cmd_create(unsigned char port, unsigned short index,
                                                      const unsigned char* data, unsigned short len,
                                                      unsigned char* buf, bool broadcast)
{
    const unsigned n = rcv_card::writeReg(buf, port, index, data, len, broadcast);
    storeLength(n);
    return static_cast<unsigned short>(n);
}

unsigned short fpga_manage::load_write_user_defined_cmd_create(unsigned char port, unsigned short index,
                                                               const unsigned char* data, unsigned short len,
                                                               unsigned char* buf, bool broadcast)
{
    const unsigned n = rcv_card::userDefined(buf, port, index, data, len, broadcast);
    storeLength(n);
    return static_cast<unsigned short>(n);
}

unsigned short fpga_manage::rcv_reconfig_cmd_create(unsigned char port, unsigned short index,
                                                    const unsigned char* data, unsigned short len,
                                                    unsigned char* buf)
{
    const unsigned n = rcv_card::reconfig(buf, port, index, data, len);
    storeLength(n);
    return static_cast<unsigned short>(n);
}

unsigned short fpga_manage::load_search_rxc_cmd_create(unsigned char port, const unsigned char* data,
                                                       unsigned short len, unsigned char* buf)
{
    const unsigned n = rcv_card::search(buf, port, data, len);
    storeLength(n);
    return static_cast<unsigned short>(n);
}

unsigned short fpga_manage::save_para2flash_cmd_create(unsigned char port, unsigned short index,
                                                       unsigned char* buf, bool broadcast)
{
    const unsigned n = rcv_card::saveParamsToFlash(buf, port, index, broadcast);
    storeLength(n);
    return static_cast<unsigned short>(n);
}

unsigned char fpga_manage::mapping_enable_cmd_create(unsigned char port, unsigned char* buf)
{
    const unsigned n = rcv_card::mappingEnable(buf, port, g_send_para[jobblock::kParameter]);
    storeLength(n);
    return checkByte(buf, n);
}
