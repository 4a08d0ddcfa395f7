// Erasing and writing raw flash partitions (MTD character devices). The caller owns the
// descriptor: it is never closed here.
#include "core/utils.h"

#include "core/global.h"
#include "platform/mtd.h"
#include "platform/platform.h"

namespace {
constexpr int kEraseFailed = 8;
constexpr int kWriteFailed = 1;
}  // namespace

int Utils::non_region_erase(int fd, int offset, int length, int unlock)
{
    platform::MtdBus& mtd = platform::mtd();
    platform::MtdInfo info;
    if (mtd.getInfo(fd, info) != 0 || info.erasesize == 0 || offset < 0 || length < 0)
        return kEraseFailed;

    const uint32_t blockSize = info.erasesize;
    const uint64_t blocks = (static_cast<uint64_t>(length) + blockSize - 1) / blockSize;
    uint32_t start = static_cast<uint32_t>(offset);
    ZEL_DEBUG("\r\nPerforming Flash Erase of length %u at offset 0x%x\n", blockSize, start);
    for (uint64_t i = 0; i < blocks; ++i) {
        if (unlock && mtd.unlock(fd, start, blockSize) != 0)
            return kEraseFailed;
        if (mtd.erase(fd, start, blockSize) != 0)
            return kEraseFailed;
        start += blockSize;
    }
    return 0;
}

int Utils::non_region_write(int fd, const unsigned char* buf, int length, int offset)
{
    platform::MtdBus& mtd = platform::mtd();
    platform::MtdInfo info;
    if (mtd.getInfo(fd, info) != 0 || info.writesize == 0 || offset < 0 || length < 0 ||
        (length > 0 && !buf))
        return kWriteFailed;

    const uint32_t piece = info.writesize;
    const uint32_t pieces = static_cast<uint32_t>(length) / piece;
    const uint32_t rest = static_cast<uint32_t>(length) % piece;
    uint32_t at = static_cast<uint32_t>(offset);
    for (uint32_t i = 0; i < pieces; ++i) {
        if (mtd.pwrite(fd, buf, piece, at) != static_cast<long>(piece)) {
            ZEL_DEBUG("\n nand non_region_write error %#x ,writesize=%#x,offset=%#x,size=%#x\n", pieces,
                      piece, at, static_cast<unsigned>(length));
            return kWriteFailed;
        }
        at += piece;
        buf += piece;
    }
    if (rest && mtd.pwrite(fd, buf, rest, at) != static_cast<long>(rest)) {
        ZEL_DEBUG("\n nand non_region_write error %#x,size=%#x \n", rest, static_cast<unsigned>(length));
        return kWriteFailed;
    }
    return 0;
}
