// Window, source, crop and EDID-timing operations of the parameter model.
#include "core/zelrampara.h"

#include <cstring>

#include "core/global.h"
#include "core/para_commit.h"

using namespace ramaddr;

namespace {

constexpr int kSources = 6;                   // inputs 0-5 own crop ids
constexpr int kCropIds = 40;                  // ids 1-40 per source
constexpr unsigned kEdidPorts = 6;
constexpr uint8_t kCropIdMask = 0x7F;

// Input number to the receivers' device id: inputs 1-5 are devices 1-5, everything else 0.
constexpr unsigned char kSourceToDevice[] = {0, 1, 2, 3, 4, 5};

bool crop_bit(int source, int id)
{
    const unsigned bit = static_cast<unsigned>(source * kCropIds + id - 1);
    return (g_cut_source_state[bit / 8] >> (bit % 8)) & 1u;
}

void set_crop_bit(int source, int id)
{
    const unsigned bit = static_cast<unsigned>(source * kCropIds + id - 1);
    g_cut_source_state[bit / 8] |= static_cast<unsigned char>(1u << (bit % 8));
}

bool valid_source(int source) { return source >= 0 && source < kSources; }

bool entry_valid(const unsigned char* image, unsigned e)
{
    return image[cropEntry(e) + 1] & kCropValid;
}

// The input shown by the window record at `window_addr` of an image, through its crop entry when
// the source word names one. False when it names an entry outside the crop table.
bool window_input(const unsigned char* base, unsigned window_addr, unsigned char* input)
{
    const uint16_t word = ram_get_u16(base, window_addr + kWinSource);
    const unsigned low = word & 0xFFu;
    if (!(word & kWinSourceCrop)) {
        *input = static_cast<unsigned char>(low);
        return true;
    }
    if (low >= kCropEntries)
        return false;
    *input = base[cropEntry(low)];
    return true;
}

}  // namespace

void ZelRamPara::ZelCropSourceInit()
{
    std::memset(g_cut_source_state, 0, sizeof g_cut_source_state);
    for (unsigned e = 0; e < kCropEntries; ++e) {
        const unsigned char source = ram_para[cropEntry(e)];
        const unsigned id = (ram_para[cropEntry(e) + 1] & kCropIdMask) + 1u;
        if (entry_valid(ram_para, e) && valid_source(source) && id <= static_cast<unsigned>(kCropIds))
            set_crop_bit(source, static_cast<int>(id));
    }
}

int ZelRamPara::ZelGetCropID(int source, int n)
{
    if (!valid_source(source) || n < 1)
        return 0;
    int seen = 0;
    for (int id = 1; id <= kCropIds; ++id) {
        if (crop_bit(source, id) && ++seen == n)
            return id;
    }
    return 0;
}

int ZelRamPara::ZelAddCropID(int source)
{
    if (!valid_source(source))
        return 0;
    for (int id = 1; id <= kCropIds; ++id) {
        if (!crop_bit(source, id))
            return id;
    }
    return 0;
}

int ZelRamPara::ZelGetSourceNum(int source, int count)
{
    if (count < 1)
        return 0;
    const unsigned last = count > static_cast<int>(kCropEntries) ? kCropEntries : static_cast<unsigned>(count);
    int num = 0;
    for (unsigned e = 0; e < last; ++e) {
        if (entry_valid(ram_para, e) && ram_para[cropEntry(e)] == static_cast<unsigned char>(source))
            ++num;
    }
    return num;
}

// Index of the entry holding ordinal n of the source, or kCropEntries when there is none.
int ZelRamPara::find_crop_entry(int source, int n)
{
    const int id = ZelGetCropID(source, n);
    if (id == 0)
        return kCropEntries;
    for (unsigned e = 0; e < kCropEntries; ++e) {
        const unsigned a = cropEntry(e);
        if (entry_valid(ram_para, e) && ram_para[a] == static_cast<unsigned char>(source) &&
            (ram_para[a + 1] & kCropIdMask) == id - 1)
            return static_cast<int>(e);
    }
    return kCropEntries;
}

void ZelRamPara::ZelGetCropPara(int source, int n, CROP_PARA* out, int* index)
{
    const int e = find_crop_entry(source, n);
    if (index)
        *index = e;
    if (e >= static_cast<int>(kCropEntries) || !out)
        return;
    const unsigned a = cropEntry(static_cast<unsigned>(e));
    out->source = ram_para[a + 1] * 256 + ram_para[a];
    out->x = ram_get_u16(ram_para, a + 2);
    out->y = ram_get_u16(ram_para, a + 4);
    out->width = ram_get_u16(ram_para, a + 6);
    out->height = ram_get_u16(ram_para, a + 8);
}

namespace {
void put_crop_area(unsigned char* image, unsigned a, const CROP_PARA* in)
{
    ram_set_u16(image, a + 2, static_cast<uint16_t>(in->x));
    ram_set_u16(image, a + 4, static_cast<uint16_t>(in->y));
    ram_set_u16(image, a + 6, static_cast<uint16_t>(in->width));
    ram_set_u16(image, a + 8, static_cast<uint16_t>(in->height));
}
}  // namespace

void ZelRamPara::ZelSetCropPara(char source, char n, CROP_PARA* in)
{
    const int e = find_crop_entry(static_cast<unsigned char>(source), n);
    if (e >= static_cast<int>(kCropEntries) || !in)
        return;
    // Byte 0 keeps the entry's own source, byte 1 its id; the caller commits the change.
    put_crop_area(ram_para, cropEntry(static_cast<unsigned>(e)), in);
}

int ZelRamPara::ZelAddNewCrop(int source, CROP_PARA* in)
{
    const int id = ZelAddCropID(source);
    unsigned e = 0;
    while (e < kCropEntries && entry_valid(ram_para, e))
        ++e;
    if (e == kCropEntries || id == 0 || !in)
        return id;
    ParaCommit commit;
    const unsigned a = cropEntry(e);
    ram_para[a] = static_cast<unsigned char>(source);
    ram_para[a + 1] = static_cast<unsigned char>(kCropValid + id - 1);
    put_crop_area(ram_para, a, in);
    commit.set(1);
    return 0;
}

void ZelRamPara::ZelDeleteCrop(char source, char n)
{
    const int e = find_crop_entry(static_cast<unsigned char>(source), n);
    if (e >= static_cast<int>(kCropEntries))
        return;
    ParaCommit commit;
    const unsigned a = cropEntry(static_cast<unsigned>(e));
    ram_para[a] = 0;
    ram_para[a + 1] = 0;
    commit.set(1);
}

int ZelRamPara::ZelSetImageSource(int n, char source, char window_index)
{
    const unsigned w = static_cast<unsigned char>(window_index);
    if (w >= kWindowSlots)
        return 255;
    uint16_t word = static_cast<unsigned char>(source);
    if (n >= 1) {
        const int e = find_crop_entry(static_cast<unsigned char>(source), n);
        word = e < static_cast<int>(kCropEntries) ? static_cast<uint16_t>(kWinSourceCrop + e) : 0;
    }
    ParaCommit commit;
    ram_set_u16(ram_para, window(w) + kWinSource, word);
    // A source change leaves the user mode, unless a mode change is still pending.
    if (ram_get_u16(ram_para, kCurrentMode) == ram_get_u16(ram_para_shadow, kCurrentMode))
        ram_set_u16(ram_para, kCurrentMode, 0);
    commit.set(1);
    return 0;
}

unsigned char ZelRamPara::ZelGetImageSource(unsigned char* base, unsigned char window_index, short* is_crop,
                                            char* crop_index, unsigned char from_slot)
{
    // In a slot's content every image address lies 0x380 lower.
    const unsigned shift = from_slot ? kModeStart : 0;
    if (!base || window_index >= kWindowSlots) {
        if (is_crop)
            *is_crop = 0;
        return 0;
    }
    const uint16_t word = ram_get_u16(base, window(window_index) + kWinSource - shift);
    const bool crop = word & kWinSourceCrop;
    if (is_crop)
        *is_crop = crop ? 1 : 0;
    if (!crop)
        return static_cast<unsigned char>(word & 0xFFu);
    const unsigned index = word & 0xFFu;
    if (crop_index)
        *crop_index = static_cast<char>(index);
    if (index >= kCropEntries)
        return 0;   // names no entry of the table
    return base[cropEntry(index) - shift];
}

int ZelRamPara::ZelSourceId_is_on(unsigned char id)
{
    for (unsigned w = 0; w < kUsedWindows; ++w) {
        const unsigned rec = window(w);
        if (!(ram_para[rec + kWinState] & 1u))
            continue;
        unsigned char input = 0;
        if (!window_input(ram_para, rec, &input))
            continue;
        const unsigned char dev = input < sizeof kSourceToDevice ? kSourceToDevice[input] : 0;
        ZEL_DEBUG("\n ZelSourceId_is_on  source_id = %d, dev_id1 = %d ,dev_id = %d\n", input, dev, id);
        if (dev == id)
            return 1;
    }
    return 0;
}

int ZelRamPara::ZelSetEDIDPara(int port, short width, short height, short refresh)
{
    if (port < 0 || static_cast<unsigned>(port) >= kEdidPorts)
        return 255;
    const unsigned a = kEdidTiming + 6u * static_cast<unsigned>(port);
    ParaCommit commit;
    ram_set_u16(ram_para, a, static_cast<uint16_t>(width));
    ram_set_u16(ram_para, a + 2, static_cast<uint16_t>(height));
    ram_set_u16(ram_para, a + 4, static_cast<uint16_t>(refresh));
    commit.set(1);
    return 0;
}

int ZelRamPara::ZelSetImageFreeze()
{
    if (g_image_current >= kWindowSlots)
        return 255;
    const unsigned rec = window(g_image_current);
    ParaCommit commit;
    if (ram_para[rec + kWinState] & 1u) {
        const uint16_t flags = ram_get_u16(ram_para, rec + kWinFlags) ^ kWinFlagFrozen;
        ram_set_u16(ram_para, rec + kWinFlags, flags);
        ZEL_DEBUG("\n set freeze : %s \n", (flags & kWinFlagFrozen) ? "freeze " : "normal");
    }
    commit.set(1);
    return 0;
}

int ZelRamPara::ZelSetImageBlack()
{
    if (g_image_current >= kWindowSlots)
        return 255;
    const unsigned rec = window(g_image_current);
    ParaCommit commit;
    ram_set_u16(ram_para, rec + kWinFlags, ram_get_u16(ram_para, rec + kWinFlags) ^ kWinFlagBlack);
    commit.set(1);
    return 0;
}
