// Groups 0xA0 write register and 0xA1 read register.
//
// Write body: register in byte 10, mask in 11, target in 12 (0 the controller's register and
// status area, 1 FPGA 0, 2 FPGA 1), value in 13. Read body: register in 10, count in 11 (0 reads
// one), target in 12, and byte 13 when the sender fills the read like a write (it is ignored); the
// reply carries one byte per register.
#include <QMutexLocker>

#include <vector>

#include "core/global.h"
#include "core/para_commit.h"
#include "core/ram_layout.h"
#include "core/status_bytes.h"
#include "core/utils.h"
#include "core/zelrampara.h"
#include "ledout/fpga_manage.h"
#include "links/message_deal.h"
#include "links/register_hooks.h"

namespace {

constexpr int kRegister = 10;
constexpr int kMask = 11;
constexpr int kTarget = 12;
constexpr int kValue = 13;
constexpr int kCount = 11;
constexpr unsigned kWriteBody = 15;
constexpr unsigned kReadBody = 14;
constexpr unsigned kReadBodyFilled = 15;

constexpr uint8_t kTargetDevice = 0;
constexpr uint8_t kTargetFpga0 = 1;
constexpr uint8_t kTargetFpga1 = 2;

// The controller's own registers: byte r of the register and status area for r below 170.
constexpr unsigned kDeviceRegisters = 170;
constexpr unsigned kFpgaRegisters = fpga_manage::kRegisters;
constexpr uint8_t kRegFontUpdate = 0x0E;    // bit 3: reload the OSD font
constexpr uint8_t kRegUpdate = 0x10;        // commit the image and rewrite the mode files
constexpr uint8_t kUpdateLedSize = 0x02;    // bit of the update register: apply the LED size
constexpr uint8_t kRegPrint = 161;          // bit 1: print the engine's state
constexpr uint8_t kPrintBit = 0x02;
constexpr uint8_t kRegDebugPlusOne = 163;   // engine debug bytes 162-165

bool isDebugRegister(unsigned r) { return r >= 162 && r <= 165; }

void writeDebugRegister(ZelRamPara& m, unsigned r, uint8_t value, uint8_t mask)
{
    ParaCommit commit;
    statusbyte::store(&m.reg_status[r], r == kRegDebugPlusOne ? uint8_t(value + 1) : uint8_t(value & mask));
    commit.set(1);
}

// The LED-size change starts only while both FPGAs run.
void requestLedSize()
{
    fpga_manage* f = fpga_manage::p_fpga_manage;
    if (!f)
        return;
    QMutexLocker lock(&Utils::_led_para_init_mutex);
    if (f->shadow(fpga_manage::kRegState, 0) == fpga_manage::kRunning &&
        f->shadow(fpga_manage::kRegState, 1) == fpga_manage::kRunning) {
        g_set_led_setup = 0;
        g_set_led_para = 1;
        f->wake();
    }
}

bool writeDevice(unsigned r, uint8_t mask, uint8_t value)
{
    ZelRamPara* m = ZelRamPara::p_zelrampara_config;
    if (!m || r >= kDeviceRegisters)
        return false;
    if (isDebugRegister(r)) {
        writeDebugRegister(*m, r, value, mask);
        return true;
    }
    // Other threads set and clear bits of these bytes (the input thread's requests, clock and
    // receiver bits): only the bits under the mask change.
    statusbyte::writeMasked(&m->reg_status[r], mask, value);
    uint8_t v = value & mask;
    if (r == kRegPrint && (v & kPrintBit))
        linkhooks::enginePrint();
    if (r == kRegFontUpdate)
        message_deal::RegUpdate0E(v);
    if (r == kRegUpdate) {
        // The LED output is asked to blank before the commit, as the output page does: asked
        // after it, the request could come once the engine has set the new panel up and handed
        // the outputs back, and would then leave them blank.
        if (v & kUpdateLedSize)
            requestLedSize();
        // The OSD reload commits with flag 1 first; the update's flag 2 (apply and rewrite the
        // mode files) then stands.
        message_deal::REG_mcu_flag(v);
        {
            ParaCommit commit;
            commit.set(2);
        }
    }
    return true;
}

}  // namespace

void message_deal::REG_mcu_flag(uint8_t value)
{
    constexpr uint8_t kOsdReloadBit = 0x08;
    ZelRamPara* m = ZelRamPara::p_zelrampara_config;
    if (!m || !(value & kOsdReloadBit))
        return;
    ParaCommit commit;
    if (frame::u16(m->ram_para + ramaddr::kOsdOn) == 1) {
        linkhooks::requestOsdReload();
        commit.set(1);
    }
}

namespace {
constexpr uint8_t kFontBit = 0x08;
// Set on the thread that runs commands apart while it writes a font-update register: the
// reload follows once the command lock is given back.
thread_local bool t_fontReloadLater = false;
}  // namespace

void message_deal::RegUpdate0E(uint8_t value)
{
    if ((value & kFontBit) && !t_fontReloadLater)
        linkhooks::reloadFont();
}

bool message_deal::reloads_font(const uint8_t* body, unsigned length)
{
    return length == kWriteBody && body[frame::kGroup] == group::kWriteRegister && body[kTarget] == kTargetDevice &&
           body[kRegister] == kRegFontUpdate && (body[kValue] & body[kMask] & kFontBit);
}

unsigned message_deal::write_reloading_font(const uint8_t* body, unsigned length, uint8_t* reply, unsigned capacity)
{
    Reply r(body, reply, capacity);
    {
        QMutexLocker lock(&deal_mutex);
        t_fontReloadLater = true;
        write_register(body, length, r);
        t_fontReloadLater = false;
    }
    // The answer says whether the fonts are in the chip: a reload a stop cut short is not.
    if (r.status() == kStatusOk && !linkhooks::reloadFont())
        r.status(kStatusRefused);
    return r.finish();
}

namespace {
constexpr uint8_t kRegCommand = 2;
constexpr uint8_t kRunRecordBit = 0x04;
}  // namespace

bool message_deal::starts_record(const uint8_t* body, unsigned length)
{
    return length == kWriteBody && body[frame::kGroup] == group::kWriteRegister &&
           (body[kTarget] == kTargetFpga0 || body[kTarget] == kTargetFpga1) && body[kRegister] == kRegCommand &&
           (body[kValue] & body[kMask] & kRunRecordBit);
}

unsigned message_deal::take_starting_record(const uint8_t* body, unsigned length, uint8_t* reply,
                                            unsigned capacity, std::vector<uint8_t>& record)
{
    Reply r(body, reply, capacity);
    QMutexLocker lock(&deal_mutex);
    // The register as the write leaves it (the run bit reads back 0), the record not run yet;
    // the record as the client's RAM writes before this one left it, before anything after it
    // (the client's next RAM write, the box's own record work) changes the RAM.
    std::vector<uint8_t> plain(body, body + length);
    plain[kMask] &= uint8_t(~kRunRecordBit);
    write_register(plain.data(), length, r);
    if (r.status() == kStatusOk)
        record = linkhooks::fpgaCommandRecord();
    return r.finish();
}

bool message_deal::run_record(const uint8_t* record)
{
    // Its flash work and the brightness it applies hold no other command.
    std::lock_guard<std::mutex> flash(flash_mutex);
    return linkhooks::fpgaRunCommandRecord(record);
}

unsigned message_deal::write_starting_record(const uint8_t* body, unsigned length, uint8_t* reply,
                                             unsigned capacity)
{
    std::vector<uint8_t> record;
    const unsigned n = take_starting_record(body, length, reply, capacity, record);
    if (!record.empty() && !linkhooks::fpgaRunCommandRecord(record.data()))
        return refuse(body, length, reply, capacity);
    return n;
}

void message_deal::write_register(const uint8_t* body, unsigned length, Reply& r)
{
    if (length != kWriteBody) {
        r.status(kStatusRefused);
        return;
    }
    unsigned reg = body[kRegister];
    uint8_t mask = body[kMask];
    uint8_t value = body[kValue];
    bool ok = false;
    switch (body[kTarget]) {
    case kTargetDevice:
        ok = writeDevice(reg, mask, value);
        break;
    case kTargetFpga0:
    case kTargetFpga1:
        ok = reg < kFpgaRegisters && linkhooks::fpgaWriteRegister(reg, mask, value, body[kTarget] - kTargetFpga0);
        break;
    default:
        break;
    }
    r.status(ok ? kStatusOk : kStatusRefused);
}

void message_deal::read_register(const uint8_t* body, unsigned length, Reply& r)
{
    if (length != kReadBody && length != kReadBodyFilled) {
        r.status(kStatusRefused);
        return;
    }
    unsigned reg = body[kRegister];
    unsigned count = body[kCount] ? body[kCount] : 1;
    uint8_t target = body[kTarget];
    uint8_t* out = r.data();
    if (target == kTargetDevice) {
        ZelRamPara* m = ZelRamPara::p_zelrampara_config;
        if (m && reg + count <= kDeviceRegisters) {
            for (unsigned i = 0; i < count; ++i)
                out[i] = statusbyte::load(&m->reg_status[reg + i]);
            r.commit(count);
            return;
        }
    } else if (target == kTargetFpga0 || target == kTargetFpga1) {
        int fpga = target - kTargetFpga0;
        if (reg + count <= kFpgaRegisters && linkhooks::fpgaReadRegisters(reg, count, fpga, out)) {
            r.commit(count);
            return;
        }
    }
    r.status(kStatusRefused);
}
