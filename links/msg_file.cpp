// Group 0xC0 file transfer and group 0xC1 EDID tables.
//
// 0xC0, byte 10 selects:
//   1 start:  transfer type in 11, u32 size in 12-15, name length in 16, name from 17
//   2 data:   u32 offset in 11-14, u16 length in 15-16, data from 17 (blocks in order)
//   3 end:    the sender's MD5 digest of the whole file in 11-26
//   4 delete: transfer type in 11, name length in 12, name from 13
// Transfer types: 1 flash image for "/dev/mtd8", 2 flash image for "/dev/mtd10", 5 the alias
// file, 6 the OSD menu file, 9 a receiving-card recovery record ("JYFX..." in
// "/data/rcvrecovery"), 13 a smart-mapping scan file ("JYFR..." in "/data/smartmapping").
// The file is collected in fileBuf_tarvo and written only when the whole file arrived and its
// digest matches.
//
// 0xC1: input 0-5 in byte 10, the 256-byte EDID from 11.
#include <QMutexLocker>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/file_store.h"
#include "core/global.h"
#include "core/md5.h"
#include "core/para_commit.h"
#include "core/utils.h"
#include "core/zelrampara.h"
#include "links/message_deal.h"
#include "links/register_hooks.h"
#include "platform/mtd.h"
#include "platform/platform.h"

namespace {

constexpr uint8_t kStart = 1;
constexpr uint8_t kData = 2;
constexpr uint8_t kEnd = 3;
constexpr uint8_t kDelete = 4;
constexpr unsigned kDigestLength = 16;
constexpr unsigned kEdidSize = 256;
constexpr unsigned kInputs = 6;

enum Kind { kMtd, kFixedFile, kNamedFile };

struct FileType {
    uint8_t type;
    Kind kind;
    const char* path;     // device, file, or directory of named files
    const char* prefix;   // names must begin with it (named files)
    uint32_t maxSize;
};

constexpr uint32_t kMaxJson = 1024 * 1024;
constexpr FileType kTypes[] = {
    {1, kMtd, "/dev/mtd8", nullptr, 0x60000},
    {2, kMtd, "/dev/mtd10", nullptr, 0x500000},
    {5, kFixedFile, "/data/configs/alias.json", nullptr, kMaxJson},
    {6, kFixedFile, "/data/configs/omenu.json", nullptr, kMaxJson},
    {9, kNamedFile, "/data/rcvrecovery", "JYFX", kFileBufSize},
    {13, kNamedFile, "/data/smartmapping", "JYFR", kFileBufSize},
};
constexpr uint8_t kAliasType = 5;
constexpr uint8_t kRecoveryType = 9;

const FileType* typeOf(uint8_t t)
{
    for (const FileType& f : kTypes) {
        if (f.type == t)
            return &f;
    }
    return nullptr;
}

struct Transfer {
    bool active = false;
    const FileType* type = nullptr;
    std::string path;     // system path of the destination
    uint32_t size = 0;
    uint32_t received = 0;
};
Transfer g_transfer;   // guarded by message_deal::deal_mutex

// The destination of a named or fixed file; empty when the name is refused.
std::string destination(const FileType& t, const std::string& name)
{
    if (t.kind != kNamedFile)
        return t.path;
    if (!message_deal::file_name_ok(name) || name.rfind(t.prefix, 0) != 0)
        return {};
    return std::string(t.path) + "/" + name;
}

bool nameField(const uint8_t* body, unsigned length, unsigned at, std::string& name)
{
    if (length < at + 1)
        return false;
    unsigned n = body[at];
    if (length != at + 1 + n + 1)
        return false;
    name.assign(reinterpret_cast<const char*>(body + at + 1), n);
    return true;
}

// Replaces a whole file so that a power cut leaves the old or the new one, never a part: the
// PC is told the transfer succeeded only once the new content is on the flash.
bool storeFile(const std::string& systemPath, const uint8_t* data, uint32_t size)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    if (filestore::write_atomic(systemPath, data, size) != 0)
        return false;
    filestore::saved(systemPath);
    return true;
}

bool storeFlash(const char* device, const uint8_t* data, uint32_t size)
{
    platform::MtdBus& mtd = platform::mtd();
    int fd = mtd.open(device);
    if (fd < 0)
        return false;
    int rc = Utils::non_region_erase(fd, 0, int(size), 0);
    if (rc == 0)
        rc = Utils::non_region_write(fd, data, int(size), 0);
    mtd.close(fd);
    return rc == 0;
}

void announce(const FileType& t, bool deleted)
{
    if (t.type == kRecoveryType)
        linkhooks::recoveryFilesChanged(deleted);
    else if (t.kind == kNamedFile)
        linkhooks::scanFilesChanged();
}

}  // namespace

void message_deal::file_transfer(const uint8_t* body, unsigned length, Reply& r)
{
    if (length < 12) {
        r.status(kStatusRefused);
        return;
    }
    switch (body[10]) {
    case kStart: write_file_start(body, length, r); break;
    case kData: write_file_data(body, length, r); break;
    case kEnd: write_file_end(body, length, r); break;
    case kDelete: delete_file_name(body, length, r); break;
    default: r.status(kStatusRefused); break;
    }
}

void message_deal::write_file_start(const uint8_t* body, unsigned length, Reply& r)
{
    g_transfer = Transfer();
    std::string name;
    const FileType* t = length > 16 ? typeOf(body[11]) : nullptr;
    if (!t || !nameField(body, length, 16, name)) {
        r.status(kStatusRefused);
        return;
    }
    uint32_t size = frame::u32(body + 12);
    std::string path = destination(*t, name);
    if (path.empty() || size > t->maxSize || size > kFileBufSize) {
        r.status(kStatusRefused);
        return;
    }
    md5.reset();
    g_transfer.active = true;
    g_transfer.type = t;
    g_transfer.path = path;
    g_transfer.size = size;
}

void message_deal::write_file_data(const uint8_t* body, unsigned length, Reply& r)
{
    constexpr unsigned kAt = 17;
    if (length < kAt + 1 || !g_transfer.active) {
        r.status(kStatusRefused);
        return;
    }
    uint32_t offset = frame::u32(body + 11);
    uint16_t n = frame::u16(body + 15);
    if (length != kAt + 1u + n || offset != g_transfer.received || n > g_transfer.size - g_transfer.received) {
        r.status(kStatusRefused);
        return;
    }
    std::memcpy(fileBuf_tarvo + offset, body + kAt, n);
    md5.update(body + kAt, n);
    g_transfer.received += n;
}

void message_deal::write_file_end(const uint8_t* body, unsigned length, Reply& r)
{
    Transfer t = g_transfer;
    g_transfer = Transfer();
    if (length != 11 + kDigestLength + 1 || !t.active || t.received != t.size ||
        std::memcmp(md5.digest(), body + 11, kDigestLength) != 0) {
        r.status(kStatusRefused);
        return;
    }
    bool ok = t.type->kind == kMtd ? storeFlash(t.type->path, fileBuf_tarvo, t.size)
                                   : storeFile(t.path, fileBuf_tarvo, t.size);
    if (!ok) {
        r.status(kStatusRefused);
        return;
    }
    if (t.type->type == kAliasType && ZelRamPara::p_zelrampara_config)
        ZelRamPara::p_zelrampara_config->test_signal(103);
    announce(*t.type, false);
}

void message_deal::delete_file_name(const uint8_t* body, unsigned length, Reply& r)
{
    std::string name;
    const FileType* t = typeOf(body[11]);
    if (!t || t->kind != kNamedFile || !nameField(body, length, 12, name)) {
        r.status(kStatusRefused);
        return;
    }
    std::string path = destination(*t, name);
    bool ok = false;
    if (!path.empty()) {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        ok = std::remove(platform::rootPath(path).c_str()) == 0;
    }
    r.status(ok ? kStatusOk : kStatusRefused);
    if (ok)
        announce(*t, true);
}

void message_deal::edid_table(const uint8_t* body, unsigned length, Reply& r)
{
    unsigned input = body[10];
    if (length != 11 + kEdidSize + 1 || input >= kInputs) {
        r.status(kStatusRefused);
        return;
    }
    {
        // The input-source manager copies a waiting table under the same lock.
        QMutexLocker lock(&Utils::_system_mutex);
        std::memcpy(edid_ram_table[input], body + 11, kEdidSize);
        edid_ram_table_from[input] = 1;
    }
    ParaCommit commit;
    commit.set(1);
}
