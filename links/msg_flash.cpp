// Groups 0x70 erase, 0x71 write and 0x72 read flash, 0x83 flash unique id.
//
// Body of 0x70: u32 address in 10-13 (a multiple of 4 KB), u16 count in 14-15 (0 means 1),
// device in 16, erase unit in 17 (1: 4 KB, 2: 32 KB, 4: 64 KB). Bodies of 0x71/0x72: u32 address
// in 10-13, u16 length in 14-15, device in 16, zero in 17, data from 18 (0x71). Body of 0x83:
// device in 10. Devices: 2 and 3 the flash behind FPGA 0 and FPGA 1, 4 the video chip's flash.
#include <cstring>
#include <vector>

#include "ledout/fpga_manage.h"
#include "links/message_deal.h"
#include "links/register_hooks.h"

namespace {

constexpr uint8_t kFlashFpga0 = 2;
constexpr uint8_t kFlashFpga1 = 3;
constexpr uint8_t kFlashVideo = 4;
constexpr uint32_t kSector = 4096;
constexpr int kData = 18;
constexpr unsigned kUidLength = 8;

struct EraseUnit {
    uint8_t code;      // as in the frame
    uint32_t sectors;  // 4 KB sectors per unit, also the alignment of the first one
    int mode;          // the flash operation's unit type
};
constexpr EraseUnit kUnits[] = {{1, 1, 0}, {2, 8, 1}, {4, 16, 2}};

bool fpgaFlash(uint8_t device) { return device == kFlashFpga0 || device == kFlashFpga1; }

uint32_t flashSize(uint8_t device)
{
    if (fpgaFlash(device))
        return fpga_drv::kFlashSize;
    return device == kFlashVideo ? linkhooks::videoFlashSize() : 0;
}

bool inFlash(uint8_t device, uint32_t address, uint32_t n)
{
    uint32_t size = flashSize(device);
    return n > 0 && address < size && n <= size - address;
}

fpga_drv* drv() { return fpga_manage::p_fpga_manage ? &fpga_manage::p_fpga_manage->drv() : nullptr; }

}  // namespace

uint8_t message_deal::fpga_flash_of(const uint8_t* body, unsigned length)
{
    if (starts_record(body, length))
        return kFlashFpga0;
    uint8_t device = 0;
    const uint8_t g = body[frame::kGroup];
    if ((g == group::kEraseFlash || g == group::kWriteFlash || g == group::kReadFlash) && length > 16)
        device = body[16];
    else if (g == group::kFlashUid && length > 10)
        device = body[10];
    return fpgaFlash(device) ? device : 0;
}

bool message_deal::take_fpga_flash_now(uint8_t device)
{
    return device == 0 || !drv() || drv()->takeFlash(device, 0);
}

void message_deal::give_fpga_flash(uint8_t device)
{
    if (device != 0 && drv())
        drv()->giveFlash(device);
}

void message_deal::cmd_erase_flash(const uint8_t* body, unsigned length, Reply& r)
{
    r.status(kStatusRefused);
    if (length != kData + 1u)
        return;
    uint32_t address = frame::u32(body + 10);
    uint32_t count = frame::u16(body + 14);
    uint8_t device = body[16];
    if (count == 0)
        count = 1;
    const EraseUnit* unit = nullptr;
    for (const EraseUnit& u : kUnits) {
        if (u.code == body[17])
            unit = &u;
    }
    if (!unit || address % kSector != 0)
        return;
    uint32_t first = address / kSector;
    uint32_t sectors = flashSize(device) / kSector;
    if (first % unit->sectors != 0 || first >= sectors || count > (sectors - first) / unit->sectors)
        return;
    bool ok = false;
    if (fpgaFlash(device))
        ok = drv() && drv()->FPGA_SPI_FLASH_VBYONE_ERASE(device, first, unit->mode, count) == 1;
    else if (device == kFlashVideo)
        ok = linkhooks::videoFlashErase(first, count, unit->mode);
    r.status(ok ? kStatusOk : kStatusRefused);
}

void message_deal::cmd_write_flash(const uint8_t* body, unsigned length, Reply& r)
{
    r.status(kStatusRefused);
    if (length < kData + 1u)
        return;
    uint32_t address = frame::u32(body + 10);
    uint16_t n = frame::u16(body + 14);
    uint8_t device = body[16];
    if (length != kData + 1u + n || !inFlash(device, address, n))
        return;
    bool ok = false;
    if (fpgaFlash(device) && drv()) {
        // The program operation writes its page commands into 4 bytes in front of each piece.
        std::vector<uint8_t> buf(n + 4u);
        std::memcpy(buf.data() + 4, body + kData, n);
        ok = drv()->FPGA_SPI_FLASH_VBYONE_WRITE(device, address, buf.data(), n) == 1;
    } else if (device == kFlashVideo) {
        ok = linkhooks::videoFlashWrite(address, body + kData, n);
    }
    r.status(ok ? kStatusOk : kStatusRefused);
}

void message_deal::cmd_read_flash(const uint8_t* body, unsigned length, Reply& r)
{
    r.status(kStatusRefused);
    if (length != kData + 1u)
        return;
    uint32_t address = frame::u32(body + 10);
    uint16_t n = frame::u16(body + 14);
    uint8_t device = body[16];
    if (!inFlash(device, address, n) || n > kMaxReadLength || n > r.room())
        return;
    bool ok = false;
    if (fpgaFlash(device))
        ok = drv() && drv()->FPGA_SPI_FLASH_VBYONE_READ(device, address, n, r.data()) == 1;
    else if (device == kFlashVideo)
        ok = linkhooks::videoFlashRead(address, r.data(), n);
    if (ok) {
        r.commit(n);
        r.status(kStatusOk);
    }
}

void message_deal::read_flash_uid(const uint8_t* body, unsigned length, Reply& r)
{
    r.status(kStatusRefused);
    if (length != 12 || !fpgaFlash(body[10]) || !drv())
        return;
    uint8_t uid[kUidLength];
    if (drv()->FPGA_SPI_FLASH_SSTF016B_RD_UID(body[10], uid) != 1)
        return;
    r.append(uid, sizeof uid);
    r.status(kStatusOk);
}
