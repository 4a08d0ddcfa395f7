// Groups 0x60 write RAM and 0x61 read RAM.
//
// Body: u32 address in bytes 10-13, u16 length in 14-15, zero in 16-17, data from 18 (writes).
// Address spaces:
//   0x00000000-0x00000FFF  parameter image
//   0x00001000-0x00010FFF  user-mode slot n (address 0x1000 * n + k, n 1-16, k from the marker)
//   0x00100000-0x001003FF  the controller's command RAM (fpga_manage::MCU_RAM_CMD)
//   0x01000000 + FPGA * 0x100000 + RAM id * 0x1000 + offset (offset + length <= 1024): FPGA RAM
#include <cstring>

#include "core/para_commit.h"
#include "core/zelrampara.h"
#include "ledout/fpga_manage.h"
#include "links/message_deal.h"
#include "links/ram_space.h"
#include "links/register_hooks.h"

namespace {

constexpr int kAddress = 10;
constexpr int kLength = 14;
constexpr int kData = 18;

bool fieldsOk(const uint8_t* body, unsigned length, bool write, uint32_t& address, uint16_t& n)
{
    if (length < kData + 1u)
        return false;
    address = frame::u32(body + kAddress);
    n = frame::u16(body + kLength);
    // A write carries exactly its data; a read carries nothing after its fields.
    return length == kData + 1u + (write ? n : 0u);
}

// FPGA RAM blocks through the FPGA manager; 0 done, 1 refused.
unsigned fpgaRamWrite(const unsigned char* data, const ramspace::Target& t, uint16_t n)
{
    return linkhooks::fpgaWriteRam(data, t.offset, n, t.ramId, t.fpga) ? 0 : 1;
}
unsigned fpgaRamRead(unsigned char* out, const ramspace::Target& t, uint16_t n)
{
    return linkhooks::fpgaReadRam(out, t.offset, n, t.ramId, t.fpga) ? 0 : 1;
}

// The bytes land in the image under the commit lock (against the engine's pass and the pages)
// and the model's mutex (against the change dispatcher), without a commit: the change reaches the
// chip with the next commit (the update register), whose pass applies everything that differs
// from what the engine applied last.
unsigned writeImage(ZelRamPara& model, unsigned char* data, uint16_t n, uint32_t address)
{
    ParaCommit lock;
    pthread_mutex_lock(&model.mutex);
    unsigned result = model.ZelRamParaDeal(data, n, address);
    pthread_mutex_unlock(&model.mutex);
    if (result == 0 && n != 0)
        model.mark_uncommitted();
    return result;
}

}  // namespace

void message_deal::write_ram(const uint8_t* body, unsigned length, Reply& r)
{
    uint32_t address;
    uint16_t n;
    if (!fieldsOk(body, length, true, address, n)) {
        r.status(kStatusRefused);
        return;
    }
    unsigned char* data = const_cast<unsigned char*>(body + kData);
    ramspace::Target t = ramspace::locate(address, n);
    unsigned result = 1;
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    switch (t.space) {
    case ramspace::kImage:
        if (model)
            result = writeImage(*model, data, n, address);
        break;
    case ramspace::kUserMode:
        if (model)
            result = model->ZelModeUserRamParaDeal(data, n, address);   // at the commit point
        break;
    case ramspace::kCommandRam:
        if (fpga_manage::p_fpga_manage) {
            std::memcpy(fpga_manage::p_fpga_manage->MCU_RAM_CMD + t.offset, data, n);
            result = 0;
        }
        break;
    case ramspace::kFpgaRam:
        result = fpgaRamWrite(data, t, n);
        break;
    case ramspace::kNone:
        break;
    }
    r.status(result == 0 ? kStatusOk : kStatusRefused);
}

void message_deal::read_ram(const uint8_t* body, unsigned length, Reply& r)
{
    uint32_t address;
    uint16_t n;
    if (!fieldsOk(body, length, false, address, n) || n > kMaxReadLength || n > r.room()) {
        r.status(kStatusRefused);
        return;
    }
    ramspace::Target t = ramspace::locate(address, n);
    uint8_t* out = r.data();
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    switch (t.space) {
    case ramspace::kImage:
    case ramspace::kUserMode: {
        if (!model)
            break;
        ParaCommit lock;
        pthread_mutex_lock(&model->mutex);   // the input summary's writer and the dispatcher
        const unsigned char* from = t.space == ramspace::kImage ? model->ram_para : model->ram_user_mode[t.slot];
        std::memcpy(out, from + t.offset, n);
        pthread_mutex_unlock(&model->mutex);
        r.commit(n);
        return;
    }
    case ramspace::kCommandRam:
        if (!fpga)
            break;
        std::memcpy(out, fpga->MCU_RAM_CMD + t.offset, n);
        r.commit(n);
        return;
    case ramspace::kFpgaRam:
        if (fpgaRamRead(out, t, n) != 0)
            break;
        r.commit(n);
        return;
    case ramspace::kNone:
        break;
    }
    r.status(kStatusRefused);
}
