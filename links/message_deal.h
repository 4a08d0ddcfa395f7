// The command processor of the control links: one frame body in, one reply body out.
//
// Every handler reads its fields at fixed offsets of the body (docs/protocol.md has the layouts)
// and writes its reply through a Reply: the request's header with the two addresses swapped, a
// status in byte 10 (0 success, 1 refused) and data from byte 11, closed by the check byte.
// Every length and address taken from a frame is checked against what it indexes before anything
// is written; a refused command changes nothing.
#pragma once

#include <QMutex>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "links/protocol_phy.h"

// Command groups (byte 9).
namespace group {
constexpr uint8_t kWriteRam = 0x60;
constexpr uint8_t kReadRam = 0x61;
constexpr uint8_t kEraseFlash = 0x70;
constexpr uint8_t kWriteFlash = 0x71;
constexpr uint8_t kReadFlash = 0x72;
constexpr uint8_t kParamSave = 0x81;
constexpr uint8_t kVersion = 0x82;
constexpr uint8_t kFlashUid = 0x83;
constexpr uint8_t kSetClock = 0x87;
constexpr uint8_t kWriteRegister = 0xA0;
constexpr uint8_t kReadRegister = 0xA1;
constexpr uint8_t kBarcode = 0xA2;
constexpr uint8_t kNetwork = 0xA4;
constexpr uint8_t kFile = 0xC0;
constexpr uint8_t kEdid = 0xC1;
}  // namespace group

constexpr uint8_t kStatusOk = 0;
constexpr uint8_t kStatusRefused = 1;

// A reply under construction in the caller's buffer.
class Reply {
public:
    Reply(const uint8_t* request, uint8_t* out, unsigned capacity);
    void status(uint8_t s) { out_[frame::kPayload] = s; }
    uint8_t status() const { return out_[frame::kPayload]; }
    // Room for data after the status byte (the check byte is kept free).
    unsigned room() const { return capacity_ - kDataOffset - 1 - dataLength_; }
    uint8_t* data() { return out_ + kDataOffset; }
    // Appends data; false (nothing appended) when it does not fit.
    bool append(const void* bytes, unsigned length);
    // Marks `length` bytes written straight into data() as used; false when they do not fit.
    bool commit(unsigned length);
    // Closes the body with its check byte and returns its length.
    unsigned finish();

    static constexpr unsigned kDataOffset = frame::kPayload + 1;

private:
    uint8_t* out_;
    unsigned capacity_;
    unsigned dataLength_ = 0;
};

class message_deal {
public:
    // Largest reply body (header, status, data, check byte).
    static constexpr unsigned kMaxReplyBody = 20000;
    // Most bytes one read command (RAM or flash) returns.
    static constexpr unsigned kMaxReadLength = 16384;

    // Handles one body (`length` bytes, check byte included) and writes the reply body into
    // `reply`. Returns the reply length, 0 when nothing is to be sent. Commands of all links are
    // handled one at a time.
    static unsigned message_group_deal(uint8_t* body, unsigned length, uint8_t* reply, unsigned capacity);

    // What a link's thread calls: as message_group_deal, but a command that would hold the link
    // (and every other link) for long is not carried out: kRunApart says it is to be handed to
    // the thread that runs such commands (deal_apart). That is every flash erase and write, a
    // font reload (register 0x0E, bit 3), a write that starts the command record (FPGA register
    // 2, bit 2), and any other flash command while flash commands run apart or wait to.
    // A command on a flash device behind the FPGAs that another owner holds at the moment (the
    // box's own record work, an erase) is handed over as well, and waits there.
    static constexpr unsigned kRunApart = ~0u;
    static unsigned deal_on_link(uint8_t* body, unsigned length, uint8_t* reply, unsigned capacity);
    // Carries a command out on the thread that runs them apart: it waits for the flash commands
    // before it, never for the other commands of the links, which go on meanwhile.
    static unsigned deal_apart(const uint8_t* body, unsigned length, uint8_t* reply, unsigned capacity);
    // A refused reply to `body` (status 1), for a command that could not be taken.
    static unsigned refuse(const uint8_t* body, unsigned length, uint8_t* reply, unsigned capacity);

    // ---- groups --------------------------------------------------------------------------------
    static void write_ram(const uint8_t* body, unsigned length, Reply& r);
    static void read_ram(const uint8_t* body, unsigned length, Reply& r);
    static void write_register(const uint8_t* body, unsigned length, Reply& r);
    static void read_register(const uint8_t* body, unsigned length, Reply& r);
    static void cmd_erase_flash(const uint8_t* body, unsigned length, Reply& r);
    static void cmd_write_flash(const uint8_t* body, unsigned length, Reply& r);
    static void cmd_read_flash(const uint8_t* body, unsigned length, Reply& r);
    static void read_flash_uid(const uint8_t* body, unsigned length, Reply& r);
    static void param_save(const uint8_t* body, unsigned length, Reply& r);
    static void read_version(const uint8_t* body, unsigned length, Reply& r);
    static void write_rtc_time(const uint8_t* body, unsigned length, Reply& r);
    static void barcode(const uint8_t* body, unsigned length, Reply& r);
    static void network(const uint8_t* body, unsigned length, Reply& r);
    static void file_transfer(const uint8_t* body, unsigned length, Reply& r);
    static void edid_table(const uint8_t* body, unsigned length, Reply& r);

    // ---- register side effects -------------------------------------------------------------------
    // Bit 3 of the value with the OSD on (image 0x84C == 1): commit with the OSD reload request.
    static void REG_mcu_flag(uint8_t value);
    // Bit 3 of the value: reload the OSD font into the video chip.
    static void RegUpdate0E(uint8_t value);
    // A write of the font-update register that asks for the reload (it copies every font, 13.3 MB,
    // into the chip).
    static bool reloads_font(const uint8_t* body, unsigned length);
    // Carries such a write out with the command lock held, then the reload without it (the
    // caller holds flash_mutex: the reload reads the chip's flash).
    static unsigned write_reloading_font(const uint8_t* body, unsigned length, uint8_t* reply, unsigned capacity);

    // A write of FPGA register 2 with bit 2: it runs the command record, which may store or erase
    // a record in the flash behind FPGA 0.
    static bool starts_record(const uint8_t* body, unsigned length);
    // Carries such a write out with the command lock held, taking the command record as it
    // stands then, and runs that record without the lock (the caller holds flash_mutex).
    static unsigned write_starting_record(const uint8_t* body, unsigned length, uint8_t* reply, unsigned capacity);
    // What a link does with such a write when it takes it, in order with its client's other
    // commands: the register written without the run bit and a copy of the command record taken
    // under the command lock (`record` stays empty when the write is refused). Returns the reply.
    static unsigned take_starting_record(const uint8_t* body, unsigned length, uint8_t* reply, unsigned capacity,
                                         std::vector<uint8_t>& record);
    // Runs a record so taken (its flash wait, store and brightness), holding flash_mutex only;
    // false when its work was refused or cut short (the client is then answered status 1).
    static bool run_record(const uint8_t* record);
    // The flash device behind an FPGA (2 or 3) that a command works on, 0 for none: the flash
    // commands' device, and device 2 for a command that starts the command record.
    static uint8_t fpga_flash_of(const uint8_t* body, unsigned length);
    // Holds that device for this thread only when nobody holds it now; true without a device.
    static bool take_fpga_flash_now(uint8_t device);
    static void give_fpga_flash(uint8_t device);

    // ---- file transfer ---------------------------------------------------------------------------
    static void write_file_start(const uint8_t* body, unsigned length, Reply& r);
    static void write_file_data(const uint8_t* body, unsigned length, Reply& r);
    static void write_file_end(const uint8_t* body, unsigned length, Reply& r);
    static void delete_file_name(const uint8_t* body, unsigned length, Reply& r);

    // A file name from a frame is used only when it is 1 to kMaxFileName characters of printable
    // ASCII without "/" and not "." or "..": nothing can land outside its directory.
    static constexpr unsigned kMaxFileName = 64;
    static bool file_name_ok(const std::string& name);

    static QMutex deal_mutex;  // one command at a time across the links
    // One flash command at a time, the erase that runs apart included; taken before deal_mutex.
    static std::mutex flash_mutex;
};
