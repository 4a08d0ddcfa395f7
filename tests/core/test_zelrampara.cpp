#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>

#include "core/alerts.h"
#include "core/file_store.h"
#include "core/param_ranges.h"
#include "param_fixture.h"
#include "unusable_file.h"
#include "platform/file_sync.h"
#include "platform/platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace {

// Nonzero defaults of image 0x300-0xFFF as 16-bit words, written out from the field table.
std::map<unsigned, uint16_t> expectedDefaultWords()
{
    std::map<unsigned, uint16_t> w = {
        {0x302, 100}, {0x560, 4}, {0x562, 1920}, {0x564, 1080},
        {0x56A, 1}, {0x56C, 1}, {0x56E, 1920}, {0x570, 1080},
        {0x584, 1920}, {0x586, 1080}, {0x58C, 1920}, {0x58E, 1080},
        {0x880, 100}, {0x882, 50}, {0x884, 10}, {0x886, 50},
        {0x888, 2}, {0x88A, 64}, {0x88C, 64}, {0x88E, 64}, {0x8DE, 1},
    };
    const uint16_t edid[6][3] = {{1920, 1080, 60}, {1920, 1080, 60}, {1920, 1080, 60},
                                 {1920, 1080, 60}, {3840, 2160, 60}, {3840, 2160, 60}};
    for (unsigned p = 0; p < 6; ++p)
        for (unsigned f = 0; f < 3; ++f)
            w[0x380 + 6 * p + 2 * f] = edid[p][f];
    for (unsigned a = 0x5C0; a < 0x840; a += 10) {
        w[a] = 2;   // source 2, byte 1 (valid, id) 0
        w[a + 6] = 1920;
        w[a + 8] = 1080;
    }
    w.erase(0x82C + 6);   // the one entry of width 0
    for (unsigned k = 1; k < 16; ++k)
        w[0x8A0 + 2 * k] = static_cast<uint16_t>(k);
    const uint16_t sources[6] = {2, 5, 3, 4, 1, 0};
    for (unsigned k = 0; k < 6; ++k) {
        const unsigned rec = 0x8E0 + 26 * k;
        if (k == 0)
            w[rec] = 1;
        if (sources[k])
            w[rec + 8] = sources[k];
        w[rec + 14] = 1920;
        w[rec + 16] = 1080;
    }
    return w;
}

}  // namespace

TEST(DefaultParaRamlist, HoldsExactlyTheFieldDefaults)
{
    EXPECT_EQ(default_para_ramlist[0], 0xAA);
    EXPECT_EQ(default_para_ramlist[1], 0xAA);
    std::map<unsigned, uint16_t> words = expectedDefaultWords();
    for (unsigned a = 0x300; a < 0x1000; a += 2) {
        auto it = words.find(a);
        uint16_t want = it == words.end() ? 0 : it->second;
        EXPECT_EQ(u16(default_para_ramlist, a - 0x2FE), want) << std::hex << "image 0x" << a;
    }
    for (unsigned j = 2 + 3328; j < 4096; ++j)
        ASSERT_EQ(default_para_ramlist[j], 0) << j;
}

TEST_F(ParamModelTest, FirstStartWritesTheFactoryFile)
{
    ZelRamPara* m = start();
    ASSERT_EQ(m, ZelRamPara::p_zelrampara_config);
    std::vector<uint8_t> file = zeltest::readFile("/data/ram_device_info");
    ASSERT_EQ(file.size(), 4096u);
    EXPECT_EQ(0, std::memcmp(file.data(), default_para_ramlist, 4096));
    // Window 0 shows input 2 at 1920 x 1080.
    EXPECT_EQ(u16(m->ram_para, 0x8E0), 1);
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 8), 2);
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 14), 1920);
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 16), 1080);
    EXPECT_EQ(0, std::memcmp(m->ram_para, m->ram_para_shadow, 4096));
    // No mode files: every slot is empty.
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(m->ram_user_mode[k][0], 0xFF);
        EXPECT_EQ(m->ZelUserModeSaved(k), 0);
    }
}

TEST_F(ParamModelTest, WrongMarkerIsReplacedByTheDefaults)
{
    std::vector<uint8_t> bad(4096, 0x11);
    bad[0] = 0xAA;
    bad[1] = 0x55;
    zeltest::writeFile("/data/ram_device_info", bad);
    ZelRamPara* m = start();
    std::vector<uint8_t> file = zeltest::readFile("/data/ram_device_info");
    ASSERT_EQ(file.size(), 4096u);
    EXPECT_EQ(0, std::memcmp(file.data(), default_para_ramlist, 4096));
    EXPECT_EQ(u16(m->ram_para, 0x562), 1920);
    EXPECT_EQ(u16(m->ram_para, 0x302), 100);
}

// A value just outside a field's range, for every kind of rule.
uint16_t outOfRange(const paramcheck::FieldRange& r)
{
    using paramcheck::Rule;
    switch (r.rule) {
    case Rule::Bits: return uint16_t((r.hi + 1) & ~r.hi);   // the lowest bit not allowed
    case Rule::WindowSource: return uint16_t(0x8000 | (r.lo + 1));
    case Rule::Span: return uint16_t(r.hi + 1);             // a position past every end
    case Rule::Range:
    case Rule::CropId: return r.lo > 0 ? uint16_t(r.lo - 1) : uint16_t(r.hi + 1);
    }
    return 0xFFFF;
}

// Each kind of field with a known range, put out of range in the first and the last field of its
// row: the start uses the factory value, prints the repair and writes it back.
TEST_F(ParamModelTest, EveryFieldOutOfRangeTakesItsDefaultPrintedAndWrittenBack)
{
    for (const paramcheck::FieldRange& r : paramcheck::fieldRanges()) {
        for (unsigned index : {0u, unsigned(r.count) - 1}) {
            const unsigned a = r.address + r.stride * index;
            unsigned char image[4096] = {};
            std::memcpy(image + 0x300, default_para_ramlist + 2, 3328);
            if (r.width == 1)
                image[a] = uint8_t(outOfRange(r));
            else
                set16(image, a, outOfRange(r));
            ASSERT_FALSE(paramcheck::fieldInRange(r, index, image)) << r.name;
            zeltest::writeFile("/data/ram_device_info", parameterFileOf(image));
            testing::internal::CaptureStderr();
            ZelRamPara* m = start();
            const std::string err = testing::internal::GetCapturedStderr();
            const unsigned width = r.rule == paramcheck::Rule::Span ? 6 : r.width;   // position and size
            EXPECT_EQ(0, std::memcmp(m->ram_para + a, default_para_ramlist + 2 + a - 0x300, width))
                << r.name << " " << index;
            EXPECT_NE(err.find(std::string(r.name) + " " + std::to_string(index) + " "), std::string::npos)
                << r.name << " " << index << ": " << err;
            const std::vector<uint8_t> file = zeltest::readFile("/data/ram_device_info");
            ASSERT_EQ(file.size(), 4096u);
            EXPECT_EQ(0, std::memcmp(file.data() + fileOffset(a), default_para_ramlist + 2 + a - 0x300, width))
                << r.name << " " << index;
        }
    }
}

// The edges of what the pages and PC software store are no damage: such a file loads unchanged,
// with nothing said and nothing written back.
TEST_F(ParamModelTest, ValuesAtTheEdgesOfWhatTheBoxStoresAreKept)
{
    unsigned char image[4096] = {};
    std::memcpy(image + 0x300, default_para_ramlist + 2, 3328);
    const std::pair<unsigned, uint16_t> words[] = {
        {0x562, 16376}, {0x564, 16376}, {0x560, 3},               // the output page's largest screen,
        {0x580, 0}, {0x584, 8192}, {0x588, 8192}, {0x58C, 8192},  // split side by side
        {0x880, 0}, {0x884, 30}, {0x888, 3}, {0x88A, 128},        // PC software's sharpness
        {0x386, 4095}, {0x388, 2160}, {0x38A, 30},                // an EDID request
        {0x5C0 + 6, 4096},                                        // a crop of a whole 4096 input
        {0x8E0 + 10, 376}, {0x8E0 + 14, 16000},                   // window 0 up to the right edge
        {0x8E0 + 26 * 5 + 8, 0x8000 + 39}, {0x8E0 + 26 * 5 + 18, 0x105}, {0x8E0 + 26 * 5 + 22, 9},
        {0x8A0 + 2 * 3, 15},
    };
    for (const auto& [address, value] : words)
        set16(image, address, value);
    const std::vector<uint8_t> stored = parameterFileOf(image);
    zeltest::writeFile("/data/ram_device_info", stored);
    testing::internal::CaptureStderr();
    ZelRamPara* m = start();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("out of range"), std::string::npos) << err;
    for (const auto& [address, value] : words)
        EXPECT_EQ(u16(m->ram_para, address), value) << std::hex << address;
    EXPECT_EQ(zeltest::readFile("/data/ram_device_info"), stored);
}

// Each field's last allowed value loads unchanged; one past it takes the factory value. Limits and
// factory values as the image layout and the pages state them.
TEST_F(ParamModelTest, EachFieldsLastValueIsKeptAndTheNextOneRepaired)
{
    struct Limit {
        unsigned address, width, last, next, factory;
    } limits[] = {
        {0x300, 1, 4, 5, 0},                   // language 0-4
        {0x304, 2, 1, 2, 0},                   // front-panel lock
        {0x306, 2, 1, 2, 0},                   // Wi-Fi switch
        {0x364, 1, 16, 17, 0},                 // save request: user modes 1-16
        {0x560, 2, 5, 6, 4},                   // splice mode modulo 6
        {0x5C0 + 10 * 39, 1, 5, 6, 2},         // crop source: inputs 0-5
        {0x5C0 + 10 * 39 + 1, 1, 0x80 + 39, 0x80 + 40, 0},   // crop ids 1-40
        {0x840, 2, 5, 6, 0},                   // sound window 0-5
        {0x842, 2, 1, 2, 0},                   // dot-by-dot switch
        {0x846, 2, 1, 2, 0},                   // switch effect
        {0x84C, 2, 1, 2, 0},                   // OSD switch
        {0x880, 2, 100, 101, 100},             // brightness
        {0x882, 2, 100, 101, 50},              // contrast
        {0x886, 2, 100, 101, 50},              // saturation
        {0x888, 2, 3, 4, 2},                   // colour temperature mode
        {0x88A, 2, 128, 129, 64},              // red gain
        {0x88C, 2, 128, 129, 64},              // green gain
        {0x88E, 2, 128, 129, 64},              // blue gain
        {0x8A0 + 2 * 15, 2, 15, 16, 15},       // layer priority of window 15
        {0x8E0 + 26 * 2 + 8, 2, 5, 6, 3},      // window 2 shows input 5
        {0x8E0 + 26 * 2 + 8, 2, 0x8000 + 39, 0x8000 + 40, 3},   // or crop entry 39
        {0x8E0 + 26 * 2 + 18, 2, 0x105, 0x10D, 0},   // flags: black, fade, dot-by-dot
        {0x8E0 + 26 * 2 + 21, 1, 0x80, 0x40, 0},     // sound-on bit only
        {0x8E0 + 26 * 2 + 22, 2, 9, 10, 0},    // dot-by-dot word 0-9: the page's 0, 8 and 9,
        {0x8E0 + 26 * 2 + 22, 2, 1, 10, 0},    // and the words PC software writes besides
        {0x8E0 + 26 * 2 + 22, 2, 2, 10, 0}, {0x8E0 + 26 * 2 + 22, 2, 3, 10, 0}, {0x8E0 + 26 * 2 + 22, 2, 4, 10, 0},
        {0x8E0 + 26 * 2 + 22, 2, 5, 10, 0}, {0x8E0 + 26 * 2 + 22, 2, 6, 10, 0}, {0x8E0 + 26 * 2 + 22, 2, 7, 10, 0},
    };
    for (const Limit& l : limits) {
        for (const bool past : {false, true}) {
            unsigned char image[4096] = {};
            std::memcpy(image + 0x300, default_para_ramlist + 2, 3328);
            image[l.address] = uint8_t(past ? l.next : l.last);
            if (l.width == 2)
                image[l.address + 1] = uint8_t((past ? l.next : l.last) >> 8);
            zeltest::writeFile("/data/ram_device_info", parameterFileOf(image));
            g_lcd_lang_valid = 0x1F;
            ZelRamPara* m = start();
            const unsigned got = l.width == 2 ? u16(m->ram_para, l.address) : m->ram_para[l.address];
            EXPECT_EQ(got, past ? l.factory : l.last) << std::hex << "0x" << l.address << " " << (past ? l.next : l.last);
        }
    }
}

// Random bytes behind a valid marker: the file is damaged as a whole, replaced by the defaults
// (said on stderr), and every field the box starts with is within its range.
TEST_F(ParamModelTest, RandomBytesBehindTheMarkerAreReplacedByTheDefaults)
{
    std::mt19937 rng(42);
    for (int trial = 0; trial < 5; ++trial) {
        std::vector<uint8_t> junk(4096);
        for (uint8_t& b : junk)
            b = uint8_t(rng());
        junk[0] = junk[1] = 0xAA;
        zeltest::writeFile("/data/ram_device_info", junk);
        testing::internal::CaptureStderr();
        ZelRamPara* m = start();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("the file is replaced by the defaults"), std::string::npos) << err;
        for (const paramcheck::FieldRange& r : paramcheck::fieldRanges())
            for (unsigned i = 0; i < r.count; ++i)
                EXPECT_TRUE(paramcheck::fieldInRange(r, i, m->ram_para)) << r.name << " " << i;
        EXPECT_EQ(0, std::memcmp(zeltest::readFile("/data/ram_device_info").data(), default_para_ramlist, 4096));
    }
}

// A window that does not fit a smaller LED screen keeps to it: the repair ends at the screen's
// edge, not at the factory 1920 x 1080.
// A window reaching past the screen is kept, as the running box keeps it (it shows the part on the
// screen); one placed where no screen reaches is put back.
TEST_F(ParamModelTest, AWindowPastTheScreenIsKeptAndOneBeyondEveryScreenIsPutBack)
{
    unsigned char image[4096] = {};
    std::memcpy(image + 0x300, default_para_ramlist + 2, 3328);
    set16(image, 0x562, 1024);
    set16(image, 0x564, 768);
    set16(image, 0x8E0 + 26 * 1 + 10, 1000);   // window 1 at x 1000, 1920 wide
    set16(image, 0x8E0 + 26 * 2 + 10, 30000);  // window 2 at x 30000, 5000 wide
    set16(image, 0x8E0 + 26 * 2 + 14, 5000);
    zeltest::writeFile("/data/ram_device_info", parameterFileOf(image));
    ZelRamPara* m = start();
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 26 * 1 + 10), 1000);
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 26 * 1 + 14), 1920);
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 26 * 2 + 10), 0);
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 26 * 2 + 14), 1920);
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 26 * 2 + 16), 1080);   // its height is left alone
}

TEST_F(ParamModelTest, StoredFileIsLoaded)
{
    unsigned char image[4096];
    std::memcpy(image + 0x300, default_para_ramlist + 2, 3328);
    set16(image, 0x562, 3840);
    set16(image, 0x880, 77);
    zeltest::writeFile("/data/ram_device_info", parameterFileOf(image));
    ZelRamPara* m = start();
    EXPECT_EQ(u16(m->ram_para, 0x562), 3840);
    EXPECT_EQ(u16(m->ram_para, 0x880), 77);
    EXPECT_EQ(u16(m->ram_para_shadow, 0x880), 77);
}

TEST_F(ParamModelTest, ShortFileKeepsTheDefaultsForTheMissingTail)
{
    std::vector<uint8_t> file(2 + 0x100, 0);   // marker and image 0x300-0x3FF only
    file[0] = file[1] = 0xAA;
    file[fileOffset(0x302)] = 55;
    zeltest::writeFile("/data/ram_device_info", file);
    ZelRamPara* m = start();
    EXPECT_EQ(u16(m->ram_para, 0x302), 55);
    EXPECT_EQ(u16(m->ram_para, 0x306), 0);      // inside what the file held: its zeros,
    EXPECT_EQ(u16(m->ram_para, 0x380), 1920);   // but for fields out of range (an EDID width of 0)
    EXPECT_EQ(u16(m->ram_para, 0x562), 1920);    // beyond it: the factory values
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 8), 2);
    EXPECT_EQ(u16(m->ram_para, 0x880), 100);
}

// Whatever sits in the parameter file's place that the box cannot use whole is moved aside as
// ram_device_info.bad (one kept), said in one line naming it where the user finds it, shown on the
// home page until the next save, and replaced by a whole file: the defaults, or what a short file
// held with the defaults for the rest. Nothing waits on a FIFO.
TEST_F(ParamModelTest, DamagedParameterFilesAreSetAsideSaidAndReplaced)
{
    const std::string kFile = "/data/ram_device_info";
    std::vector<uint8_t> whole(default_para_ramlist, default_para_ramlist + 4096);
    whole[fileOffset(0x880)] = 77;   // brightness 77, at file offset 1410
    auto first = [&](size_t n) { return std::vector<uint8_t>(whole.begin(), whole.begin() + n); };
    std::mt19937 rng(7);
    std::vector<uint8_t> junk(4096);
    for (uint8_t& b : junk)
        b = uint8_t(rng());
    junk[0] = 0x35, junk[1] = 0xDD;
    struct Row {
        const char* what;
        std::vector<uint8_t> bytes;   // the file's content, when it is a file
        const unusable::Kind* kind;   // what sits there instead, when it is no file
        uint16_t brightness;          // what the box starts with
    };
    const Row rows[] = {
        {"empty", {}, nullptr, 100},
        {"1 byte", {0xAA}, nullptr, 100},
        {"random bytes", junk, nullptr, 100},
        {"2 bytes", first(2), nullptr, 100},
        {"102 bytes", first(102), nullptr, 100},
        {"3330 bytes", first(3330), nullptr, 77},
        {"1411 bytes", first(1411), nullptr, 77},
        {"a folder", {}, &unusable::kKinds[0], 100},
        {"a FIFO", {}, &unusable::kKinds[1], 100},
        {"a link to itself", {}, &unusable::kKinds[2], 100},
    };
    for (const Row& row : rows) {
        alerts::reset();
        unusable::forgetCopies(kFile);
        if (row.kind)
            unusable::make(*row.kind, kFile);
        else
            zeltest::writeFile(kFile, row.bytes);
        testing::internal::CaptureStderr();
        ASSERT_TRUE(unusable::returnsInTime([this] { start(); }, kFile)) << row.what;
        const std::string err = testing::internal::GetCapturedStderr();
        unusable::expectOneLineFor(err, kFile, row.what);
        ZelRamPara* m = ZelRamPara::p_zelrampara_config;
        EXPECT_EQ(u16(m->ram_para, 0x880), row.brightness) << row.what;
        EXPECT_EQ(u16(m->ram_para, 0x562), 1920) << row.what;
        const std::vector<uint8_t> file = zeltest::readFile(kFile);
        ASSERT_EQ(file.size(), 4096u) << row.what;
        EXPECT_EQ(u16(file.data(), fileOffset(0x880)), row.brightness) << row.what;
        if (row.kind)
            EXPECT_TRUE(unusable::is(*row.kind, kFile + ".bad")) << row.what;
        else
            EXPECT_EQ(zeltest::readFile(kFile + ".bad"), row.bytes) << row.what;
    }
    // The next save ends the home page's alert.
    ASSERT_EQ(ZelRamPara::p_zelrampara_config->save_parameter_file(), 0);
    EXPECT_FALSE(alerts::active(alerts::kFileReplaced));
}

TEST_F(ParamModelTest, StartUpClearsPatternModeFreezeAndBlackout)
{
    unsigned char image[4096] = {};
    std::memcpy(image + 0x300, default_para_ramlist + 2, 3328);
    set16(image, 0x360, 0x0105);   // both bytes of both words are cleared
    set16(image, 0x362, 0x0207);
    set16(image, 0x364, 0x0203);
    set16(image, 0x844, 1);
    set16(image, 0x8E0 + 26 * 2 + 18, 0x0107);   // window 2 black, frozen, fade, dot-by-dot
    set16(image, 0x8E0 + 26 * 7 + 18, 0x0002);   // window 7 is not one of the six
    set16(image, 0xB00, 0x1234);
    set16(image, 0xB3E, 0xFF00);
    zeltest::writeFile("/data/ram_device_info", parameterFileOf(image));
    ZelRamPara* m = start();
    EXPECT_EQ(u16(m->ram_para, 0x360), 0);
    EXPECT_EQ(u16(m->ram_para, 0x362), 0);
    EXPECT_EQ(u16(m->ram_para, 0x364), 0x0003);
    EXPECT_EQ(u16(m->ram_para, 0x844), 0);
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 26 * 2 + 18), 0x0105);
    EXPECT_EQ(u16(m->ram_para, 0x8E0 + 26 * 7 + 18), 0x0002);
    EXPECT_EQ(u16(m->ram_para, 0xB00), 0x123C);
    EXPECT_EQ(u16(m->ram_para, 0xB3E), 0xFF3C);
    for (unsigned a = 0xB00; a < 0xB40; a += 2)
        EXPECT_EQ(m->ram_para[a], 60) << std::hex << a;
    EXPECT_EQ(0, std::memcmp(m->ram_para, m->ram_para_shadow, 4096));
}

TEST_F(ParamModelTest, LanguageIsValidatedAgainstTheMask)
{
    struct Case {
        unsigned mask;
        uint8_t stored;
        unsigned wantMask;
        int wantLanguage;
    } cases[] = {
        {0x1001F, 2, 0x1001F, 2},   // bits 0 and 17 not both set: unchanged
        {0x2001F, 0, 0x1E, 1},      // bit 0 and bits 16 up dropped; 0 becomes 1
        {0x07, 3, 0x07, 0},         // not offered: lowest offered
        {0x20, 3, 0x20, 3},         // none of 0-4 offered: stays
        {0x1F, 40, 0x1F, 0},        // 32 and up counts as not offered
    };
    for (const Case& c : cases) {
        unsigned char image[4096] = {};
        std::memcpy(image + 0x300, default_para_ramlist + 2, 3328);
        image[0x300] = c.stored;
        zeltest::writeFile("/data/ram_device_info", parameterFileOf(image));
        g_lcd_lang_valid = c.mask;
        ZelRamPara* m = start();
        EXPECT_EQ(g_lcd_lang_valid, c.wantMask) << std::hex << c.mask;
        EXPECT_EQ(g_language.load(), c.wantLanguage) << std::hex << c.mask;
        EXPECT_EQ(m->ram_para[0x300], c.wantLanguage) << std::hex << c.mask;
    }
}

TEST_F(ParamModelTest, StatusAreaPresetsAtEveryStart)
{
    ZelRamPara* m = start();
    EXPECT_EQ(m->reg_status[37], 0x80);
    EXPECT_EQ(m->reg_status[38], 0x1F);
    EXPECT_EQ(m->reg_status[39], 0x06);
    m->reg_status[33] = 7;     // request bytes survive
    m->reg_status[42] = 9;
    m->reg_status[1060] = 5;
    m->reg_status[1061] = 6;   // beyond the cleared range
    start();
    EXPECT_EQ(m->reg_status[33], 7);
    EXPECT_EQ(m->reg_status[42], 0);
    EXPECT_EQ(m->reg_status[1060], 0);
    EXPECT_EQ(m->reg_status[1061], 6);
}

TEST_F(ParamModelTest, RamWritesAreBoundedWithoutOverflow)
{
    ZelRamPara* m = start();
    unsigned char data[2] = {0x12, 0x34};
    EXPECT_EQ(m->ZelRamParaDeal(data, 2, 0xFFE), 0u);
    EXPECT_EQ(m->ram_para[0xFFE], 0x12);
    EXPECT_EQ(m->ram_para[0xFFF], 0x34);
    unsigned char other[2] = {0x56, 0x78};
    EXPECT_EQ(m->ZelRamParaDeal(other, 2, 0xFFF), 1u);
    EXPECT_EQ(m->ram_para[0xFFF], 0x34);
    EXPECT_EQ(m->ZelRamParaDeal(other, 2, 0xFFFFFFFFu), 1u);   // address + length wraps
    EXPECT_EQ(m->ZelRamParaDeal(other, 0, 0x1000), 0u);
    EXPECT_EQ(m->ZelRamParaDeal(other, 2, 0x1000), 1u);
}

TEST_F(ParamModelTest, UserModeAddressesReachTheirSlot)
{
    ZelRamPara* m = start();
    unsigned char marker[2] = {0xAA, 0xAA};
    EXPECT_EQ(m->ZelModeUserRamParaDeal(marker, 2, 0x0000), 1u);
    EXPECT_EQ(m->ZelModeUserRamParaDeal(marker, 2, 0x11000), 1u);
    EXPECT_EQ(m->ZelModeUserRamParaDeal(marker, 2, 0x1000), 0u);
    EXPECT_EQ(m->ZelUserModeSaved(0), 1);
    unsigned char b = 0x5A;
    EXPECT_EQ(m->ZelModeUserRamParaDeal(&b, 1, 0x3000 + 0x123), 0u);   // slot 3, byte 0x123
    EXPECT_EQ(m->ram_user_mode[2][0x123], 0x5A);
    EXPECT_EQ(m->ZelModeUserRamParaDeal(&b, 1, 0x10000 + 0xFFF), 0u);  // slot 16, byte 4095
    EXPECT_EQ(m->ram_user_mode[15][0xFFF], 0x5A);
    unsigned char big[4] = {1, 2, 3, 4};
    EXPECT_EQ(m->ZelModeUserRamParaDeal(big, 3, 0x1000 + 0xFFF), 0u);  // ends at the slot's last byte
    EXPECT_EQ(m->ram_user_mode[0][4097], 3);
    EXPECT_EQ(m->ZelModeUserRamParaDeal(big, 4, 0x2000 + 0xFFF), 1u);  // one byte past the slot
    EXPECT_EQ(m->ram_user_mode[1][4097], 0);
    EXPECT_EQ(m->ZelModeUserRamParaDeal(big, 1, 0xFFFFFFFFu), 1u);
}

TEST_F(ParamModelTest, InterruptedSaveLeavesThePreviousFileLoadable)
{
    ZelRamPara* m = start();
    set16(m->ram_para, 0x880, 42);
    filestore::before_rename = [](const std::string&) { return false; };   // power cut
    EXPECT_EQ(m->save_parameter_file(), 255);
    filestore::before_rename = nullptr;
    std::vector<uint8_t> file = zeltest::readFile("/data/ram_device_info");
    ASSERT_EQ(file.size(), 4096u);
    EXPECT_EQ(0, std::memcmp(file.data(), default_para_ramlist, 4096));
    start();   // the next start loads the old file
    EXPECT_EQ(u16(m->ram_para, 0x880), 100);
    EXPECT_EQ(zeltest::readFile("/data/ram_device_info").size(), 4096u);

    set16(m->ram_para, 0x880, 42);
    EXPECT_EQ(m->save_parameter_file(), 0);
    file = zeltest::readFile("/data/ram_device_info");
    ASSERT_EQ(file.size(), 4096u);
    EXPECT_EQ(file[0], 0xAA);
    EXPECT_EQ(u16(file.data(), fileOffset(0x880)), 42);
}

TEST_F(ParamModelTest, StartRemovesWhatInterruptedWritesLeftBehind)
{
    ZelRamPara* m = start();
    set16(m->ram_para, 0x880, 42);
    filestore::before_rename = [](const std::string&) { return false; };   // power cut before the rename
    EXPECT_EQ(m->save_parameter_file(), 255);
    filestore::before_rename = nullptr;
    // The temporaries of the box's own files go; a file, link or folder of the user's that is only
    // named like one stays.
    enum Kind { File, Link, Folder };
    struct Row { const char* path; Kind kind; bool removed; };
    const Row rows[] = {
        {"/data/modes/.custom_mode2.tmp", File, true},
        {"/data/rcvrecovery/.JYFX_wall.tmp", File, true},
        {"/data/configs/.tcpip.ini.bad.tmp", File, true},
        {"/data/configs/..alias.json.replaced.tmp", File, true},
        {"/data/rcvrecovery/JYFX_wall", File, false},
        {"/data/smartmapping/JYFRscan.tmp", File, false},
        {"/data/.notes.tmp.backup", File, false},
        {"/data/configs/.photos.tmp.summer", File, false},
        {"/data/modes/.my settings.tmp", File, false},
        {"/data/configs/.my settings.tmp", File, false},
        {"/data/.notes.tmp", File, false},
        {"/data/configs/.tcpip.ini.tmp.backup", File, false},
        {"/data/modes/.link.tmp.ABCDEF", Link, false},
        {"/data/configs/.album.tmp", Folder, false},
        {"/data/.custom_mode2.tmp", File, false},
        {"/data/modes/.MO0a.json.tmp", File, true},
        {"/data/modes/.custom_mode16.tmp", File, true},
        {"/data/modes/.custom_mode_notes.tmp", File, false},
        {"/data/modes/.custom_mode1 (copy).tmp", File, false},
        {"/data/modes/.custom_modeX.tmp", File, false},
        {"/data/modes/.MOvie.json.tmp", File, false},
        {"/data/modes/.custom_mode17.tmp", File, false},
        {"/data/modes/.MO11.json.tmp", File, false},
    };
    for (const Row& row : rows) {
        const std::string path = root.at(row.path);
        if (row.kind == Folder)
            zeltest::writeText(std::string(row.path) + "/photo", "mine");
        else if (row.kind == Link)
            ASSERT_EQ(::symlink(root.at("/data/ram_device_info").c_str(), path.c_str()), 0) << row.path;
        else
            zeltest::writeText(row.path, "left");
    }
    start();
    EXPECT_FALSE(zeltest::fileExists("/data/.ram_device_info.tmp"));
    for (const Row& row : rows) {
        struct stat st;
        EXPECT_EQ(::lstat(root.at(row.path).c_str(), &st) != 0, row.removed) << row.path;
    }
    EXPECT_EQ(zeltest::readText("/data/rcvrecovery/JYFX_wall"), "left");
    EXPECT_FALSE(alerts::active(alerts::kDataNotWritable));
}

TEST_F(ParamModelTest, AnUnwritableDataFolderIsReportedAtStart)
{
    zeltest::writeText("/data", "a file where the data folder should be");
    testing::internal::CaptureStderr();
    ZelRamPara* m = start();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(alerts::active(alerts::kDataNotWritable));
    // Named as the user finds it: on the simulated board, the folder under the root.
    EXPECT_NE(said.find("the data folder " + root.at("/data") + " cannot be written"), std::string::npos) << said;
    EXPECT_EQ(u16(m->ram_para, 0x562), 1920);   // runs on the defaults all the same
}

TEST_F(ParamModelTest, AFailedFolderSyncFailsTheWrite)
{
    const unsigned char bytes[3] = {7, 8, 9};
    platform::files::failDirSyncs(true);
    EXPECT_EQ(filestore::write_atomic("/data/configs/x.json", bytes, sizeof bytes), 255);
    platform::files::failDirSyncs(false);
    EXPECT_EQ(filestore::write_atomic("/data/configs/x.json", bytes, sizeof bytes), 0);
}

// A power cut keeps only what was synced: a file written without a sync is gone, a rename whose
// folder was not synced is undone; the system's own writes survive.
TEST_F(ParamModelTest, APowerCutDropsWhatWasNotSyncedAndKeepsTheSavedSettings)
{
    ZelRamPara* m = start();
    ASSERT_TRUE(platform::files::watchPowerCuts());
    zeltest::writeText("/data/configs/unsynced.json", "{}");
    const std::string old = root.at("/data/modes/custom_mode9");
    zeltest::writeText("/data/modes/custom_mode9", "old");
    platform::files::cutPower();
    EXPECT_FALSE(zeltest::fileExists("/data/configs/unsynced.json"));
    EXPECT_FALSE(zeltest::fileExists("/data/modes/custom_mode9"));

    // data synced and renamed, but the folder never synced: the old name's content comes back
    const unsigned char oldBytes[3] = {'o', 'l', 'd'};
    ASSERT_EQ(filestore::write_atomic("/data/modes/custom_mode9", oldBytes, 3), 0);
    const std::string temp = root.at("/data/modes/.custom_mode9.tmp");
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "new", 3), 3);
    ASSERT_TRUE(platform::files::syncFile(fd, temp));
    ::close(fd);
    ASSERT_TRUE(platform::files::rename(temp, old));
    platform::files::cutPower();
    EXPECT_EQ(zeltest::readText("/data/modes/custom_mode9"), "old");

    set16(m->ram_para, 0x880, 37);
    set16(m->ram_para, 0x562, 2560);
    ASSERT_EQ(m->save_parameter_file(), 0);
    ASSERT_EQ(m->mode_file_write(4, 1), 1);
    platform::files::cutPower();
    std::vector<uint8_t> file = zeltest::readFile("/data/ram_device_info");
    ASSERT_EQ(file.size(), 4096u);
    EXPECT_EQ(u16(file.data(), fileOffset(0x880)), 37);
    EXPECT_EQ(u16(file.data(), fileOffset(0x562)), 2560);
    file = zeltest::readFile("/data/modes/custom_mode5");
    ASSERT_EQ(file.size(), 4096u);
    EXPECT_EQ(u16(file.data() + 2, 0x880 - 0x380), 37);

    // Written in place without a sync: the write may stop half way.
    zeltest::writeText("/data/modes/custom_mode5", "twelve bytes");
    platform::files::cutPower(platform::files::InPlace::CutShort);
    EXPECT_EQ(zeltest::readText("/data/modes/custom_mode5"), "twelve");

    // A folder never synced into its parent goes with what it holds; the ones a write makes stay.
    zeltest::writeText("/data/unsynced/inner/x", "x");
    platform::files::cutPower();
    EXPECT_FALSE(std::filesystem::exists(root.at("/data/unsynced")));
    ASSERT_EQ(filestore::write_atomic("/data/fresh/inner/y", oldBytes, 3), 0);
    platform::files::cutPower();
    EXPECT_EQ(zeltest::readText("/data/fresh/inner/y"), "old");
}

TEST_F(ParamModelTest, ResetRewritesTheFactoryFile)
{
    ZelRamPara* m = start();
    set16(m->ram_para, 0x562, 640);
    ASSERT_EQ(m->save_parameter_file(), 0);
    m->ram_para_reset();
    EXPECT_EQ(u16(m->ram_para, 0x562), 1920);
    EXPECT_EQ(u16(m->ram_para_shadow, 0x562), 1920);
    EXPECT_EQ(0, std::memcmp(zeltest::readFile("/data/ram_device_info").data(), default_para_ramlist, 4096));
}

// Each parameter file set aside is kept: a second one never takes the place of the first.
TEST_F(ParamModelTest, ASecondSetAsideKeepsTheFirstCopy)
{
    const std::string kFile = "/data/ram_device_info";
    const std::vector<uint8_t> first = {0x12, 0x34, 0x56};
    const std::vector<uint8_t> second = {0x78};
    for (const auto* bytes : {&first, &second}) {
        zeltest::writeFile(kFile, *bytes);
        start();
    }
    EXPECT_EQ(zeltest::readFile(kFile + ".bad"), first);
    EXPECT_EQ(zeltest::readFile(kFile + ".bad.2"), second);
}

// A power cut while a short parameter file is being made whole, after every step before the
// replacement took the file's name had reached the disk: the next start finds the user's values
// under the file's own name, and says again that it repairs it.
TEST_F(ParamModelTest, APowerCutWhileAShortFileIsRepairedKeepsTheUsersValues)
{
    const std::string kFile = "/data/ram_device_info";
    std::vector<uint8_t> file(default_para_ramlist, default_para_ramlist + 1411);
    file[fileOffset(0x880)] = 77;
    zeltest::writeFile(kFile, file);
    ASSERT_TRUE(platform::files::watchPowerCuts());
    const std::string data = root.at("/data");
    filestore::before_rename = [&](const std::string& temp) {
        if (temp != data + "/.ram_device_info.tmp")
            return true;
        platform::files::syncDir(data);   // what the file system had committed by then
        return false;                      // and the power goes
    };
    start();
    filestore::before_rename = nullptr;
    platform::files::cutPower();
    alerts::reset();
    ZelRamPara* m = start();
    EXPECT_EQ(u16(m->ram_para, 0x880), 77);
    EXPECT_TRUE(alerts::active_for(alerts::kFileReplaced, kFile));
    EXPECT_EQ(u16(zeltest::readFile(kFile).data(), fileOffset(0x880)), 77);
    EXPECT_EQ(zeltest::readFile(kFile + ".bad"), file);
    EXPECT_FALSE(zeltest::fileExists(kFile + ".bad.2"));
}

// A full disk while a short parameter file is made whole: no room for its copy nor for the whole
// file, so it stays under its own name as it was, for the next start to repair.
TEST_F(ParamModelTest, AShortFileOnAFullDiskStaysAsItWas)
{
    const std::string kFile = "/data/ram_device_info";
    std::vector<uint8_t> file(default_para_ramlist, default_para_ramlist + 1411);
    file[fileOffset(0x880)] = 77;
    zeltest::writeFile(kFile, file);
    platform::files::failAsFull({1 << 20});
    ZelRamPara* m = start();
    platform::files::failAsFull({});
    EXPECT_EQ(u16(m->ram_para, 0x880), 77);
    EXPECT_EQ(zeltest::readFile(kFile), file);
    EXPECT_FALSE(zeltest::fileExists(kFile + ".bad"));
}

// Parameter and mode files that are links stay links: a save replaces the file each names.
TEST_F(ParamModelTest, LinkedFilesAreFollowed)
{
    ZelRamPara* m = start();
    for (const std::string path : {"/data/ram_device_info", "/data/modes/custom_mode3"}) {
        const std::string target = "/data/keep" + path.substr(path.rfind('/'));
        zeltest::writeFile(target, zeltest::readFile("/data/ram_device_info"));
        std::filesystem::remove(root.at(path));
        std::filesystem::create_directories(root.at(path.substr(0, path.rfind('/'))));
        std::filesystem::create_symlink(root.at(target), root.at(path));
    }
    set16(m->ram_para, 0x880, 33);
    ASSERT_EQ(m->save_parameter_file(), 0);
    ASSERT_EQ(m->mode_file_write(2, 1), 1);
    EXPECT_TRUE(std::filesystem::is_symlink(root.at("/data/ram_device_info")));
    EXPECT_TRUE(std::filesystem::is_symlink(root.at("/data/modes/custom_mode3")));
    EXPECT_EQ(u16(zeltest::readFile("/data/keep/ram_device_info").data(), fileOffset(0x880)), 33);
    EXPECT_EQ(u16(zeltest::readFile("/data/keep/custom_mode3").data() + 2, 0x880 - 0x380), 33);
}

// A file replaced by the defaults is said again at every later start, with where its copy is,
// until a save reaches it.
TEST_F(ParamModelTest, AReplacedFileIsSaidAgainAtEveryStartUntilSaved)
{
    const std::string kFile = "/data/ram_device_info";
    zeltest::writeFile(kFile, {0x35, 0xDD, 1, 2});
    start();
    for (int restart = 0; restart < 2; ++restart) {
        alerts::reset();
        testing::internal::CaptureStderr();
        start();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(root.at(kFile) + ".bad"), std::string::npos) << err;
        const auto shown = alerts::inForce();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].subject, kFile);
        EXPECT_EQ(shown[0].arg, 1);
    }
    ASSERT_EQ(ZelRamPara::p_zelrampara_config->save_parameter_file(), 0);
    alerts::reset();
    start();
    EXPECT_TRUE(alerts::inForce().empty());
}
