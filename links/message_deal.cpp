#include "links/message_deal.h"

#include <cstring>

#include "core/global.h"
#include "links/apart_worker.h"

QMutex message_deal::deal_mutex;
std::mutex message_deal::flash_mutex;

Reply::Reply(const uint8_t* request, uint8_t* out, unsigned capacity) : out_(out), capacity_(capacity)
{
    std::memcpy(out_, request, frame::kHeaderSize);
    // The reply goes back to the sender: the two addresses change places.
    std::memcpy(out_ + frame::kFirstAddr, request + frame::kSecondAddr, 2);
    std::memcpy(out_ + frame::kSecondAddr, request + frame::kFirstAddr, 2);
    out_[frame::kPayload] = kStatusOk;
}

bool Reply::append(const void* bytes, unsigned length)
{
    if (length > room())
        return false;
    std::memcpy(data() + dataLength_, bytes, length);
    dataLength_ += length;
    return true;
}

bool Reply::commit(unsigned length)
{
    if (length > room())
        return false;
    dataLength_ += length;
    return true;
}

unsigned Reply::finish()
{
    unsigned n = kDataOffset + dataLength_;
    out_[n] = frame::xorOf(out_, n);
    return n + 1;
}

namespace {

using Handler = void (*)(const uint8_t*, unsigned, Reply&);

struct GroupEntry {
    uint8_t group;
    Handler handler;
};

constexpr GroupEntry kGroups[] = {
    {group::kWriteRam, &message_deal::write_ram},
    {group::kReadRam, &message_deal::read_ram},
    {group::kEraseFlash, &message_deal::cmd_erase_flash},
    {group::kWriteFlash, &message_deal::cmd_write_flash},
    {group::kReadFlash, &message_deal::cmd_read_flash},
    {group::kParamSave, &message_deal::param_save},
    {group::kVersion, &message_deal::read_version},
    {group::kFlashUid, &message_deal::read_flash_uid},
    {group::kSetClock, &message_deal::write_rtc_time},
    {group::kWriteRegister, &message_deal::write_register},
    {group::kReadRegister, &message_deal::read_register},
    {group::kBarcode, &message_deal::barcode},
    {group::kNetwork, &message_deal::network},
    {group::kFile, &message_deal::file_transfer},
    {group::kEdid, &message_deal::edid_table},
};

}  // namespace

namespace {

Handler handlerOf(uint8_t g)
{
    for (const GroupEntry& e : kGroups) {
        if (e.group == g)
            return e.handler;
    }
    return nullptr;
}

// The commands on a flash: the flash serves one at a time, and an erase takes seconds.
bool onFlash(uint8_t g)
{
    return g == group::kEraseFlash || g == group::kWriteFlash || g == group::kReadFlash || g == group::kFlashUid;
}

// The commands that keep a flash busy for long (every page of a write waits for the part; a
// command record may wait for the flash behind FPGA 0, erase and write its record and apply a
// brightness) never run on a link: the link would hold every other link meanwhile.
bool alwaysApart(const uint8_t* body, unsigned length)
{
    const uint8_t g = body[frame::kGroup];
    return g == group::kEraseFlash || g == group::kWriteFlash || message_deal::reloads_font(body, length) ||
           message_deal::starts_record(body, length);
}

bool takes(unsigned length, unsigned capacity)
{
    return length >= frame::kMinBody && capacity >= Reply::kDataOffset + 1;
}

// Runs the command's handler (an unknown group is refused).
unsigned dealWith(const uint8_t* body, unsigned length, uint8_t* reply, unsigned capacity)
{
    Reply r(body, reply, capacity);
    if (Handler h = handlerOf(body[frame::kGroup])) {
        h(body, length, r);
        return r.finish();
    }
    ZEL_DEBUG("\n unknown command group %#x \n", body[frame::kGroup]);
    r.status(kStatusRefused);
    return r.finish();
}

}  // namespace

unsigned message_deal::message_group_deal(uint8_t* body, unsigned length, uint8_t* reply, unsigned capacity)
{
    if (!takes(length, capacity))
        return 0;
    std::unique_lock<std::mutex> flash(flash_mutex, std::defer_lock);
    if (onFlash(body[frame::kGroup]))
        flash.lock();
    QMutexLocker lock(&deal_mutex);
    return dealWith(body, length, reply, capacity);
}

unsigned message_deal::deal_on_link(uint8_t* body, unsigned length, uint8_t* reply, unsigned capacity)
{
    if (!takes(length, capacity))
        return 0;
    const uint8_t g = body[frame::kGroup];
    const bool flashWork = onFlash(g) || starts_record(body, length);
    std::unique_lock<std::mutex> flash(flash_mutex, std::defer_lock);
    // A flash command goes behind those already handed apart, in the order they came.
    if (alwaysApart(body, length) || (flashWork && (ApartWorker::pending() != 0 || !flash.try_lock())))
        return kRunApart;
    // Nor does the link wait for the box's own work on the device.
    const uint8_t device = fpga_flash_of(body, length);
    if (!take_fpga_flash_now(device))
        return kRunApart;
    unsigned n;
    {
        QMutexLocker lock(&deal_mutex);
        n = dealWith(body, length, reply, capacity);
    }
    give_fpga_flash(device);
    return n;
}

unsigned message_deal::deal_apart(const uint8_t* body, unsigned length, uint8_t* reply, unsigned capacity)
{
    if (!takes(length, capacity))
        return 0;
    const bool font = reloads_font(body, length);
    const bool record = starts_record(body, length);
    if (!onFlash(body[frame::kGroup]) && !font && !record)
        return refuse(body, length, reply, capacity);
    // Only the flash is held: the handlers of the flash commands touch nothing else that the
    // other commands change (each operation waits, within its bound, for the box's own work on
    // its device).
    std::lock_guard<std::mutex> flash(flash_mutex);
    if (font)
        return write_reloading_font(body, length, reply, capacity);
    if (record)
        return write_starting_record(body, length, reply, capacity);
    return dealWith(body, length, reply, capacity);
}

unsigned message_deal::refuse(const uint8_t* body, unsigned length, uint8_t* reply, unsigned capacity)
{
    if (!takes(length, capacity))
        return 0;
    Reply r(body, reply, capacity);
    r.status(kStatusRefused);
    return r.finish();
}

bool message_deal::file_name_ok(const std::string& name)
{
    if (name.empty() || name.size() > kMaxFileName || name == "." || name.find("..") != std::string::npos)
        return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c > 0x7E || c == '/' || c == '\\')
            return false;
    }
    return true;
}
