// The video engine swept over its configuration space. Fixed seeds make histories of configurations
// (inputs of common formats or any size, a few pixels or lines too, interlaced, two pixels a clock,
// V-by-One; panels up to the limits in every splice; one to six windows inside, partly off and
// wholly off the panel; crops, mirrors, dot-by-dot modes and words, black, freeze, priorities, test
// patterns; pictures of a few pixels mirrored over the split of two outputs; windows turned dot by
// dot in place under patterns 9 and 10, now and then to the mode a hidden window 0 holds), each
// later one a whole configuration or a few things changed, applied from power-up as PC software
// does (image writes in random groups, commits with flag 1 or 2, a value moved and moved back),
// and judge the engine each time it is quiet, from the
// chip alone: which windows its grids show, their frame memory, the pattern, where their pieces
// lie, mirrors, layers, dot-by-dot cells, input channels writing for no window, and against a box
// started afresh from the same image. A window refused is counted by kind when the judge's own
// count of what the windows before it hold leaves it too little, else failed.
//   ZEL_SWEEP_CONFIGS   configurations per profile (1500 realistic, 500 any sizes; a fifth of that
//                       with AddressSanitizer, a tenth with ThreadSanitizer), in histories of ten
//   ZEL_SWEEP_SEED      the seed of the first history (1); up to ten configurations replay that
//                       history's first ones, print what each found and what the judges saw last
//   ZEL_SWEEP_PROFILE   "realistic" or "any": only that profile
//   ZEL_SWEEP_REPORT=1  print the findings by kind with a reproducer each, and pass
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <tuple>

#include "core/para_commit.h"
#include "memory_judge.h"
#include "output_fixture.h"

using namespace ramaddr;

namespace {

// The sanitizer builds run a fraction of the configurations.
#if defined(__SANITIZE_THREAD__)
constexpr int kSlowdown = 10;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int kSlowdown = 5;
#elif defined(__has_feature)
constexpr int kSlowdown = __has_feature(thread_sanitizer) ? 10 : __has_feature(address_sanitizer) ? 5 : 1;
#else
constexpr int kSlowdown = 1;
#endif
constexpr int kChain = 10;   // configurations in one history

int envInt(const char* name, int fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

// An input signal, w x h frames (fields: interlaced) at hz, two pixels a clock; w 0 unplugged.
struct Format {
    int w = 0, h = 0, hz = 0;
    bool fields = false, two = false;
};
const Format kParallel[] = {{1920, 1080, 60}, {1280, 720, 60}, {1920, 1080, 60, true}, {3840, 2160, 30, false, true},
                            {2560, 1440, 60}, {5120, 1440, 30, false, true}, {1920, 1200, 60}, {1280, 1024, 60},
                            {720, 576, 50, true}, {3840, 2160, 60, false, true}, {1024, 768, 60}, {1920, 1080, 50}};
const Format kVbo[] = {{3840, 2160, 60}, {1920, 1080, 60}, {3840, 2160, 30}, {5120, 1440, 60}, {2560, 1440, 60}};
const Format kPanels[] = {{1920, 1080}, {3840, 2160}, {7680, 2160}, {3840, 1080}, {1280, 720}, {2560, 1440},
                          {5120, 1440}, {1920, 2160}, {7680, 1080}, {1024, 768}, {4096, 2160}, {3000, 1080}};
// The dot-by-dot mode of image word 0-9, and the first input and the input channels it takes:
// ports 0-1 are inputs 3 and 2, ports 2-3 inputs 1 and 0, the V-by-One ports inputs 5 and 4.
constexpr int kDbdModes[10] = {1, 20, 21, 22, 23, 30, 40, 41, 50, 51};
// The chip's memory as this box lays it out: plain buffers of 2176 lines a 64 KiB pitch apart,
// a channel's slot of 8 KiB of each line holding 3072 pixels in the field mode (8/3 bytes a
// pixel); five dot-by-dot buffers of 0x0B280000 bytes with lines of 32 KiB, in eight blocks.
constexpr int kTall = 2176, kWeaveWidth = 3072, kDbdPitch = 32768, kBandLines = 0x0B280000 / kDbdPitch / 8;
constexpr uint32_t kDbdMemory = 0x2A800000;
constexpr int kDbdFirst[10] = {-1, 2, 2, 0, 0, 1, 0, 0, 4, 4}, kDbdIchs[10] = {0, 2, 2, 2, 2, 3, 4, 4, 4, 4};

// One step of a configuration: an input's signal, an image word, a commit, a worker round.
struct Op {
    enum Kind { kInput, kWrite, kCommit, kPass, kJudge } kind;
    unsigned addr = 0;   // the input, the image address
    int value = 0;       // the word, the commit flag
    Format format{};
};

std::string describe(const Op& o)
{
    char s[80] = "pass";
    const Format& f = o.format;
    if (o.kind == Op::kInput && f.w == 0)
        std::snprintf(s, sizeof s, "input %u unplugged", o.addr);
    else if (o.kind == Op::kInput)
        std::snprintf(s, sizeof s, "input %u %dx%d%c%d%s", o.addr, f.w, f.h, f.fields ? 'i' : 'p', f.hz,
                      f.two ? " two a clock" : "");
    else if (o.kind == Op::kWrite)
        std::snprintf(s, sizeof s, "write 0x%03X = %d", o.addr, o.value);
    else if (o.kind == Op::kCommit)
        std::snprintf(s, sizeof s, "commit %d", o.value);
    else if (o.kind == Op::kJudge)
        std::snprintf(s, sizeof s, "-- quiet and judged --");
    return s;
}

class Maker {
public:
    // `later`: with the dimensions added after the reproducers of ConfigurationsThatFoundFaults.
    Maker(uint32_t seed, bool any, bool later = true)
        : rng_(seed), more_(seed ^ 0x69A11CEu), any_(any), later_(later)
    {
    }

    // A configuration from power-up, often over another one; later in a history, one over
    // whatever the box shows.
    std::vector<Op> make(bool fromPowerUp = true)
    {
        std::vector<Op> ops;
        if (fromPowerUp && chance(60))
            configuration(ops, true);
        if (!fromPowerUp && chance(50))
            change(ops);
        else
            configuration(ops, fromPowerUp && ops.empty());
        return ops;
    }

private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool chance(int percent) { return pick(0, 99) < percent; }
    // The later dimensions draw from a stream of their own, so that the configurations a seed
    // made before they came stay as they were wherever these do not add to them.
    int pickMore(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(more_); }
    bool more(int percent) { return later_ && pickMore(0, 99) < percent; }
    template <typename T, size_t N>
    const T& of(const T (&table)[N]) { return table[size_t(pick(0, int(N) - 1))]; }

    Format format(int input)
    {
        const Format f = drawFormat(input);
        // Any sizes: now and then a picture of a few pixels each way.
        if (any_ && f.w && more(4))
            return fed_[input] = Format{pickMore(1, 4), pickMore(1, 4), 60};
        return f;
    }

    Format drawFormat(int input)
    {
        const bool vbo = input >= kHdmi3;
        if (chance(10))
            return fed_[input] = Format{0, 0, 0};
        if (!any_ || chance(10))
            return fed_[input] = vbo ? of(kVbo) : of(kParallel);
        const int hzs[] = {24, 30, 50, 60};
        if (chance(8)) {   // a picture of a few pixels or lines, now and then in fields
            const bool narrow = chance(50);
            return fed_[input] = Format{narrow ? pick(1, 63) : pick(64, 1920), narrow ? pick(64, 1080) : pick(1, 63),
                                        of(hzs), !vbo && chance(50)};
        }
        Format f{pick(64, vbo ? 8192 : 5120), pick(64, vbo ? 4320 : 2400), of(hzs), !vbo && chance(15)};
        f.two = !vbo && double(f.w) * f.h * f.hz / (f.fields ? 2 : 1) > 150e6;
        return fed_[input] = f;
    }

    void configuration(std::vector<Op>& ops, bool allInputs)
    {
        for (int i = 0; i < 6; ++i)
            if (allInputs || chance(25))
                ops.push_back({Op::kInput, unsigned(i), 0, format(i)});
        const int pw = chance(50) ? pick(64, 4096) : pick(64, 16376);
        const int ph = chance(50) ? pick(64, 2400) : pick(64, 16376);
        const Format p = any_ ? Format{pw, ph} : of(kPanels);
        const int splice = any_                      ? pick(0, 5)
                           : p.w > 3840 && chance(50) ? 3
                           : p.h > 2160 && chance(50) ? 2
                           : chance(30)               ? 4
                                                      : 0;
        const int o1w = splice == 3 ? (p.w / 2 + 7) / 8 * 8 : p.w, o1h = splice == 2 ? (p.h + 1) / 2 : p.h;
        std::vector<std::pair<unsigned, int>> words, panel = {
            {kSpliceMode, splice}, {kLedWidth, p.w}, {kLedHeight, p.h}, {kOutputArea + 4, o1w}, {kOutputArea + 6, o1h},
            {kOutputArea + 8, splice == 3 ? o1w : 0}, {kOutputArea + 10, splice == 2 ? o1h : 0},
            {kOutputArea + 12, splice == 3 ? p.w - o1w : p.w}, {kOutputArea + 14, splice == 2 ? p.h - o1h : p.h}};
        const int n = pick(1, 6), cols = pick(1, 3), rows = (n + cols - 1) / cols;
        std::vector<int> prio = {0, 1, 2, 3, 4, 5};
        if (chance(30))
            std::shuffle(prio.begin(), prio.end(), rng_);
        for (int w = 0; w < 6; ++w) {
            int x, y, ww, hh;
            if (!any_ && chance(60))   // a grid of equal windows
                ww = p.w / cols, hh = p.h / rows, x = w % cols * ww, y = w / cols * hh;
            else if (!any_)
                ww = pick(p.w / 8, p.w), hh = pick(p.h / 8, p.h), x = pick(0, p.w - ww), y = pick(0, p.h - hh);
            else
                ww = pick(0, 2 * p.w), hh = pick(0, 2 * p.h), x = pick(0, 2 * p.w), y = pick(0, 2 * p.h);
            if (chance(8))   // partly off the panel
                x = p.w - ww / 2, y = chance(50) ? y : p.h - hh / 2;
            if (chance(4))   // wholly off
                x = p.w + pick(0, p.w / 2);
            // Now and then mirrored left to right over the split of two outputs side by side, a
            // few pixels on the first.
            const bool overSplit = splice == 3 && more(12);
            if (overSplit)
                x = std::max(0, o1w - pickMore(1, 4)), ww = pickMore(8, std::max(8, p.w - x));
            int source = pick(0, 5);
            if (chance(25)) {   // a crop of an input (any sizes: now and then an index past the table)
                const int k = any_ && chance(10) ? pick(40, 45) : pick(0, 39), in = pick(0, 5);
                const Format f = any_ || fed_[in].w == 0 ? Format{4096, 4096, 0} : fed_[in];
                const int cw = pick(16, f.w), ch = pick(16, f.h);
                const unsigned e = cropEntry(unsigned(k));
                if (k < 40)
                    words.insert(words.end(), {{e, in | (0x80 | k) << 8}, {e + 2, pick(0, f.w - cw)},
                                               {e + 4, pick(0, f.h - ch)}, {e + 6, cw}, {e + 8, ch}});
                source = kWinSourceCrop | k;
            }
            if (overSplit && any_ && source < 6 && more(60)) {   // its input a few pixels each way
                fed_[source] = Format{pickMore(1, 4), pickMore(1, 4), 60};
                ops.push_back({Op::kInput, unsigned(source), 0, fed_[source]});
            }
            const int flags = (chance(5) ? kWinFlagBlack : 0) | (chance(5) ? kWinFlagFrozen : 0) |
                              (chance(any_ ? 15 : 8) ? 0x100 : 0);
            const unsigned r = window(unsigned(w));
            const int state = w < n ? !chance(5) : chance(5);   // now and then a gap
            const int mirror = chance(15) ? pick(1, 3) : overSplit ? 1 + 2 * pickMore(0, 1) : 0;
            words.insert(words.end(), {{r + kWinState, state},
                                       {r + kWinMirror, mirror},
                                       {r + kWinSource, source},
                                       {r + kWinX, std::min(x, 32752)}, {r + kWinY, std::min(y, 32752)},
                                       {r + kWinWidth, std::min(ww, 32752)}, {r + kWinHeight, std::min(hh, 32752)},
                                       {r + kWinFlags, flags},
                                       {r + kWinDbdMode, chance(5) ? pick(10, 300) : pick(0, 9)},
                                       {kPriority + 2 * w, prio[size_t(w)]}});
        }
        if (chance(25))   // a test pattern on or off while the windows change
            words.push_back({kTestPattern, chance(25) ? 0 : pick(1, 20)});
        // Random groups, the panel words together; each group committed, not always passed at once.
        std::shuffle(words.begin(), words.end(), rng_);
        words.insert(words.begin() + pick(0, int(words.size())), panel.begin(), panel.end());
        for (size_t i = 0; i < words.size(); commit(ops))
            for (const size_t end = std::min(words.size(), i + size_t(pick(1, int(words.size())))); i < end; ++i)
                ops.push_back({Op::kWrite, words[i].first, words[i].second});
        if (chance(30)) {   // a value moved and moved back
            const auto [a, v] = words[size_t(pick(0, int(words.size()) - 1))];
            ops.push_back({Op::kWrite, a, v + pick(1, 64)});
            commit(ops);
            ops.push_back({Op::kWrite, a, v});
            commit(ops);
        }
        if (chance(10)) {   // the test pattern switched off once the windows are laid out
            ops.push_back({Op::kWrite, kTestPattern, 0});
            commit(ops);
        }
    }

    // One to three things changed, as a user changes them: a window on or off, its source, its
    // dot-by-dot mode or freeze, an input's signal, the test pattern.
    void change(std::vector<Op>& ops)
    {
        for (int n = pick(1, 3); n > 0; --n) {
            const unsigned r = window(unsigned(pick(0, 5)));
            switch (pick(0, 5)) {
            case 0: ops.push_back({Op::kWrite, r + kWinState, chance(60)}); break;
            case 1: ops.push_back({Op::kWrite, r + kWinSource, pick(0, 5)}); break;
            case 2:
                ops.push_back({Op::kWrite, r + kWinDbdMode, pick(0, 9)});
                ops.push_back({Op::kWrite, r + kWinFlags, chance(60) ? 0x100 : 0});
                break;
            case 3: ops.push_back({Op::kWrite, r + kWinFlags, chance(50) ? kWinFlagFrozen : 0}); break;
            case 4: {
                const int i = pick(0, 5);
                ops.push_back({Op::kInput, unsigned(i), 0, format(i)});
                break;
            }
            default: ops.push_back({Op::kWrite, kTestPattern, chance(50) ? 0 : pick(1, 20)});
            }
            commit(ops);
        }
        // Now and then a window turned dot by dot or back in place (its flag and word only)
        // under a pattern that draws over nothing, the other windows closed first or not.
        if (!more(15))
            return;
        if (more(50))
            for (unsigned w = 1; w < 6; ++w)
                ops.push_back({Op::kWrite, window(w) + kWinState, 0});
        const size_t beforePattern = ops.size();
        ops.push_back({Op::kWrite, kTestPattern, pickMore(9, 10)});
        commit(ops);
        const unsigned w = more(70) ? 0u : unsigned(pickMore(1, 5)), r = window(w);
        const int word = pickMore(0, 9);
        ops.push_back({Op::kWrite, r + kWinDbdMode, word});
        ops.push_back({Op::kWrite, r + kWinFlags, more(70) ? 0x100 : 0});
        commit(ops);
        // Now and then another window is turned to the mode window 0 holds, that window the one
        // shown when the pattern came (window 0 hidden).
        if (w == 0 || !more(40))
            return;
        std::vector<Op> alone = {{Op::kWrite, window(0) + kWinDbdMode, word}, {Op::kWrite, window(0) + kWinFlags, 0x100}};
        for (unsigned v = 0; v < 6; ++v)
            alone.push_back({Op::kWrite, window(v) + kWinState, v == w});
        ops.insert(ops.begin() + std::ptrdiff_t(beforePattern), alone.begin(), alone.end());
    }

    void commit(std::vector<Op>& ops)
    {
        ops.push_back({Op::kCommit, 0, chance(30) ? 2 : 1});
        if (chance(80))
            ops.push_back({Op::kPass});
    }

    std::mt19937 rng_, more_;
    bool any_, later_;
    Format fed_[6] = {};
};

class SweepTest : public EngineTest {
protected:
    void SetUp() override
    {
        if (auto* bus = dynamic_cast<platform::SimSpiBus*>(&platform::spi()))
            bus->attach("/dev/spidev32766.0", &chip);   // not the fresh start's chip
        EngineTest::SetUp();
    }

    void apply(const Op& o)
    {
        if (o.kind == Op::kInput) {
            const Format& f = o.format;
            const int in = int(o.addr);
            fed[in] = f;
            // The passes follow no input under a pattern (one asked for now, or on when last judged).
            unfollowed = unfollowed || patternOn || (imageWord(kTestPattern) & 0xFF) != 0;
            sim::setInputSignal(in, f.w != 0, uint16_t(f.w), uint16_t(f.h), uint16_t(f.hz), f.fields);
            // A V-by-One receiver reports the lanes the board runs the signal on.
            const int lanes = in >= kHdmi3 && f.w ? sim::VideoChipModel::vboLanes(in == kHdmi3 ? 1 : 0) : 0;
            TARVO_HDMI_INFO r = zeltest::videoRecord(f.w, f.fields ? f.h / 2 : f.h, f.hz, lanes);
            r.ip = f.fields, r.datamode = f.two;
            if (f.fields)
                r.Vtotal = (f.h + 45) / 2, r.Vback = 15;
            if (f.w == 0)
                r = TARVO_HDMI_INFO{}, r.nosignal = r.stable = 1;
            tarvosource::pInstance()->hdminfo[in] = r;
        } else if (o.kind == Op::kWrite) {
            setWord(o.addr, uint16_t(o.value));
        } else if (o.kind == Op::kCommit) {
            ParaCommit().set(uint8_t(o.value));
        } else {
            e->stepOnce();
        }
    }

    void powerUp(sim::VideoChipModel& c)
    {
        for (int b = 0; b < 256; ++b)
            for (int a = 1; a < 128; ++a)
                c.setReg(uint8_t(b), uint8_t(a), pristine.reg(uint8_t(b), uint8_t(a)));
    }

    // One configuration from power-up: its findings by kind, refusals among them.
    std::set<std::string> runOne(const std::vector<Op>& ops)
    {
        powerUp(chip);
        patternOn = unfollowed = false;
        std::memcpy(model->ram_para + kPersistStart, default_para_ramlist + 2, kPersistLen);
        size_t i = 0;
        for (; i < ops.size() && ops[i].kind == Op::kInput; ++i)
            apply(ops[i]);
        e = zeltest::newEngine();
        if (e->initialize(false) != 0 || !zeltest::bringUpEngine(e))
            return {"no bring-up"};
        return runNext(ops, i);
    }

    // One configuration over whatever the box shows now.
    std::set<std::string> runNext(const std::vector<Op>& ops, size_t i = 0)
    {
        details.clear();
        for (; i < ops.size(); ++i)
            apply(ops[i]);
        std::set<std::string> found = {"the engine never gets quiet"};
        for (int round = 0; round < 12 && found.count("the engine never gets quiet"); ++round) {
            chip.clearLog();
            e->stepOnce();
            // Quiet: nothing written beyond the measurement hold and the restarts of V-by-One
            // receivers without signal.
            bool wrote = e->para_chg_flag != 0;
            for (const sim::VideoChipModel::Write& w : chip.writes())
                wrote |= w.addr != 0 && !(w.bank == 0 && w.addr == 0x29) && w.bank != 0x02;
            if (!wrote)
                found.clear();
        }
        judge(found);
        return found;
    }

    // An input's chip port (ports 0-1 are inputs 3 and 2, ports 2-3 inputs 1 and 0, the V-by-One
    // ports inputs 5 and 4), and whether it carries a picture (a field of no line is no signal).
    static int portOf(int input) { return input < 4 ? 3 - input : 9 - input; }
    bool live(int k) const { return k >= 0 && k < 6 && fed[k].w > 0 && (fed[k].fields ? fed[k].h / 2 : fed[k].h) > 0; }

    // What a window needs beside the windows before it: input channels, output channels, blocks
    // of the dot-by-dot memory and weaving channels (0-3); weave: a plain interlaced window that
    // takes one of those first; other: the channels it holds anywhere.
    struct Need {
        int ichs = 0, ochs = 0, blocks = 0, woven = 0, weave = 0;
        bool unwoven = false, large = false;
        int other() const { return ichs - std::max(woven, weave); }
    };

    void judge(std::set<std::string>& found)
    {
        const int ledW = imageWord(kLedWidth), ledH = imageWord(kLedHeight);
        const int ochW = std::max<int>(1, e->panel.ochW), ochH = std::max<int>(1, e->panel.ochH);
        const std::vector<sim::DecodedChannel> decoded = sim::decodeOutputs(chip);
        const sim::MemoryMap m = sim::decodeMemory(chip);
        zeltest::WindowShows shows[kWinCount];
        zeltest::Channels channels;
        Need need[kWinCount];
        bool dark[kWinCount] = {}, refused[kWinCount] = {}, held[kWinCount] = {};
        int mainPort[kWinCount], mirrors[kWinCount] = {}, ports[kWinCount][4], parts[kWinCount] = {};
        int64_t expect[kWinCount] = {}, hi[kWinCount] = {}, slack[kWinCount] = {};   // the area its pieces cover
        int corner[kWinCount][3] = {};   // where in its first cell it starts, and that cell
        // The panel cell a channel places its piece on: its mixer's, else its own.
        const auto cellOf = [](const sim::DecodedChannel& d) { return d.mixer >= 0 ? d.mixer : d.och; };
        std::string kind[kWinCount];
        // With no window on, and in the splices that show the screen whole (0, and 4 on both
        // outputs) when window 0 is off or a window on reaches past the screen's right edge, is
        // rotated or has no input, the engine shows its default layout: window 0 over the panel.
        const int splice = imageWord(kSpliceMode);
        bool fallback = true;
        int enabled = 0, unnamed = 0;
        for (int w = 0; w < kWinCount; ++w)
            enabled += imageWord(window(unsigned(w)) + kWinState) != 0;
        fallback = enabled == 0;
        for (int w = 0; w < kWinCount && (splice == 0 || splice == 4); ++w) {
            // A crop index past the table names no input: the window record takes none, so the
            // default layout is shown, as a box started from this image shows it.
            const unsigned r = window(unsigned(w)), source = imageWord(r + kWinSource), k = source & 0xFF;
            const unsigned input = !(source & kWinSourceCrop) ? source
                                   : k < kCropEntries          ? model->ram_para[cropEntry(k)] & 0x0F
                                                               : 0xFF;
            if (imageWord(r + kWinState))
                fallback |= imageWord(r + kWinX) + imageWord(r + kWinWidth) > ledW ||
                            (imageWord(r + kWinMirror) & c331_manage::kRotateAttr) || input > 5;
            else
                fallback |= w == 0;
        }
        if (fallback)
            details += "the default layout\n";
        // The grids the chip shows: each output channel placing a picture, under the first
        // channel of its grid, the one naming the input channel.
        std::map<int, std::vector<int>> grids;
        for (const sim::DecodedChannel& d : decoded)
            if (d.on) {
                const uint32_t src = sim::outputSource(chip, d.och);
                grids[src & sim::kSourceFollows ? sim::sourceChannel(src) : d.och].push_back(d.och);
            }
        for (int w = 0; w < kWinCount; ++w) {
            const unsigned r = window(unsigned(w));
            const int source = imageWord(r + kWinSource), word = imageWord(r + kWinDbdMode);
            const int x = fallback ? 0 : imageWord(r + kWinX), y = fallback ? 0 : imageWord(r + kWinY);
            const int ww = fallback ? ledW : imageWord(r + kWinWidth), hh = fallback ? ledH : imageWord(r + kWinHeight);
            mirrors[w] = fallback ? 0 : imageWord(r + kWinMirror);
            const bool enable = fallback ? w == 0 : imageWord(r + kWinState) != 0;
            // Words 1-9 name the modes spanning several ports; 0 and any other the single input.
            const int dbd = imageWord(r + kWinFlags) & 0x100 ? word <= 9 ? kDbdModes[word] : 1 : 0;
            char line[128];
            std::snprintf(line, sizeof line,
                          "window %d: state %d %d,%d %dx%d source 0x%04X flags 0x%03X mode %d mirror %d\n", w,
                          imageWord(r + kWinState), imageWord(r + kWinX), imageWord(r + kWinY),
                          imageWord(r + kWinWidth), imageWord(r + kWinHeight), source, imageWord(r + kWinFlags), dbd,
                          mirrors[w]);
            details += line;
            const bool on = enable && x < ledW && y < ledH && ww && hh;
            shows[w] = on ? zeltest::WindowShows::kPicture : zeltest::WindowShows::kNothing;
            const int crop = source & kWinSourceCrop ? source & 0xFF : -1;
            mainPort[w] = -1;
            // A crop index past the table names no input: only a fresh start judges the window,
            // unless a mode spanning several ports names its inputs.
            if (!on || (crop >= int(kCropEntries) && dbd <= 1)) {
                shows[w] = on ? zeltest::WindowShows::kUnjudged : shows[w];
                held[w] = on;
                unnamed += on;
                need[w].ichs = need[w].ochs = on;
                continue;
            }
            // Its parts: the inputs a dot-by-dot mode takes in port order, else its own input.
            const int input = crop >= int(kCropEntries) ? 0xFF
                              : crop >= 0                ? model->ram_para[cropEntry(unsigned(crop))] & 0x0F
                                                         : source;
            const int slot = dbd > 1 ? word : 0, first = dbd > 1 ? kDbdFirst[slot] : input;
            Need& n = need[w];
            n.ichs = dbd > 1 ? kDbdIchs[slot] : input >= kHdmi3 ? 2 : 1;
            parts[w] = dbd > 1 ? (dbd >= 50 ? 2 : n.ichs) : 1;
            int pw[4] = {}, ph[4] = {}, lines = 0;
            bool big = false;
            for (int i = 0; i < parts[w]; ++i) {
                const int k = dbd > 1 ? first + parts[w] - 1 - i : input;
                ports[w][i] = k > 5 ? -1 : portOf(k);
                dark[w] |= !live(k);
                if (!live(k))
                    continue;
                pw[i] = fed[k].w, ph[i] = fed[k].h;
                // A port too wide or too tall for the plain buffers needs the larger count.
                big |= fed[k].w > (k >= kHdmi3 ? 5120 : 2560) || fed[k].h > kTall;
                // Shown dot by dot, an interlaced part is woven on its channel and the window's
                // channels before it, all among the four weaving ones, and never shrunk: a field
                // line wider than a channel's slot holds in the field mode cannot be stored.
                if (dbd > 1 && fed[k].fields && k < kHdmi3) {
                    n.woven = i + 1;
                    n.unwoven |= fed[k].w > kWeaveWidth || fed[k].h / 2 > kTall;
                }
                n.weave = dbd <= 1 && fed[k].fields && k < kHdmi3;
            }
            mainPort[w] = ports[w][0];
            // The picture: parts side by side, over each other (21, 23, 51) or two over two (41).
            const bool over = dbd == 21 || dbd == 23 || dbd == 51;
            int width = 0;
            for (int i = 0; i < parts[w]; ++i)
                width = over ? std::max(width, pw[i]) : width + pw[i],
                lines = over ? lines + ph[i] : std::max(lines, ph[i]);
            if (dbd == 41)
                width = std::max(pw[0], pw[2]) + std::max(pw[1], pw[3]),
                lines = std::max(ph[0], ph[1]) + std::max(ph[2], ph[3]);
            // The dot-by-dot memory: a single input that the plain buffers hold never uses it;
            // otherwise a block per port (two for a big one) and as many as its lines fill
            // (a line a part of rounding).
            if (dbd > 1 || (dbd == 1 && big)) {
                const int bands = (lines + parts[w] + kBandLines - 1) / kBandLines;
                n.blocks = std::max({std::min(parts[w] * (big ? 2 : 1), 4), bands, 1});
                n.large = bands > 4 || width * 2 > kDbdPitch;
            }
            dark[w] |= first > 5;
            const int x2 = std::min(x + ww, ledW) - 1, y2 = std::min(y + hh, ledH) - 1;
            n.ochs = (x2 / ochW - x / ochW + 1) * (y2 / ochH - y / ochH + 1);
            expect[w] = int64_t(x2 - x + 1) * (y2 - y + 1), slack[w] = 4 * (x2 - x + y2 - y + 2);
            hi[w] = int64_t(std::min(x + ww, std::max(ledW, ochW * e->panel.ochColumns)) - x) *
                    (std::min(y + hh, std::max(ledH, ochH * e->panel.ochRows)) - y);
            corner[w][0] = x % ochW, corner[w][1] = y % ochH, corner[w][2] = x / ochW + y / ochH * e->panel.ochColumns;
            if (dbd)
                expect[w] = int64_t(std::min(x2 - x + 1, width)) * std::min(y2 - y + 1, lines);
            kind[w] = dbd > 1 ? "dot-by-dot " + std::to_string(dbd) : input >= kHdmi3 ? "V-by-One pair" : "single";
            // A dot-by-dot window shows its inputs one to one: with no input of it carrying a
            // signal its picture has no size, so it covers nothing of its place; it keeps its
            // channels for when a signal comes.
            held[w] = dbd && (width == 0 || lines == 0);
            if (held[w])
                shows[w] = zeltest::WindowShows::kUnjudged;
        }
        // A test pattern is on while window 0 is the one window; the inputs are then not
        // followed.
        const int pattern = imageWord(kTestPattern) & 0xFF, index = (pattern + 19) % 20;
        const bool patterned = pattern && (enabled <= 1 || fallback);
        details += "pattern " + std::to_string(pattern) + (patterned ? ", inputs not followed\n" : "\n");
        // Under it the inputs may be as measured before it only where it draws over window 0
        // (patterns 9 and 10 leave the generator off), or for an input whose signal changed while
        // it was on; elsewhere the wall shows what a fresh start shows.
        unfollowed = unfollowed && patterned;
        patternOn = patterned;
        const bool asBefore =
            patterned && ((index != 8 && index != 9 && shows[0] != zeltest::WindowShows::kNothing) || unfollowed);
        // Each grid the chip shows goes to the window on its input's port, in the plain or the
        // dot-by-dot memory as the window needs (as its input measured before a pattern asks, under
        // one), whose place it covers most nearly (the nearest pairs first: where its first piece
        // starts, then its area; then window order); a window no grid goes to is refused.
        std::map<int, int> gridOwner;
        auto area = [&](const std::vector<int>& g) {
            int64_t a = 0;
            for (int c : g)
                a += int64_t(decoded[size_t(c)].width) * decoded[size_t(c)].height;
            return a;
        };
        std::vector<std::tuple<int, int64_t, int, int>> pairs;
        for (int w = 0; w < kWinCount; ++w)
            for (const auto& [root, g] : grids) {
                const sim::MemoryWriter* wr = m.writer(decoded[size_t(root)].ich);
                if (mainPort[w] >= 0 && (!held[w] || asBefore) && decoded[size_t(root)].port == mainPort[w] &&
                    (!wr || asBefore || (wr->base[0] >= kDbdMemory) == (need[w].blocks > 0)))
                    pairs.emplace_back(std::abs(decoded[size_t(root)].x - corner[w][0]) +
                                           std::abs(decoded[size_t(root)].y - corner[w][1]) +
                                           (cellOf(decoded[size_t(root)]) != corner[w][2]),
                                       std::llabs(area(g) - expect[w]), w, root);
            }
        std::sort(pairs.begin(), pairs.end());
        for (const auto& [place, score, w, root] : pairs)
            if (!gridOwner.count(root) && channels[size_t(w)].ochs.empty()) {
                channels[size_t(w)].ochs = {root};
                for (int c : grids[root])
                    if (c != root)
                        channels[size_t(w)].ochs.push_back(c);
                for (int c : channels[size_t(w)].ochs)
                    gridOwner[c] = w;
            }
        for (int w = 0; w < kWinCount; ++w)
            refused[w] = shows[w] == zeltest::WindowShows::kPicture && channels[size_t(w)].ochs.empty();
        // A test pattern is drawn, over what they read, on window 0's channels while it is the one
        // window (all of them, but for patterns 9 and 10, which leave the generator off; those of
        // its place too where a dot-by-dot picture leaves them empty).
        int drawn = 0;
        for (int c = 0; c < 8; ++c) {
            const bool on = chip.reg(sim::channelBank(0x08, c), 0x57) != 0;
            const bool ours = gridOwner.count(c) && gridOwner[c] == 0;
            drawn += on;
            if (on && (!patterned || (decoded[size_t(c)].on && !ours && shows[0] != zeltest::WindowShows::kUnjudged)))
                found.insert("an output channel shows a test pattern it was not asked for");
            if (!on && patterned && ours && index != 8 && index != 9)
                found.insert("a window's channel misses its test pattern");
        }
        if (drawn > need[0].ochs && shows[0] != zeltest::WindowShows::kUnjudged)
            found.insert("an output channel shows a test pattern it was not asked for");
        // A window whose crop index is past the table still shows what its dot-by-dot mode takes.
        const int unnamedWindows = unnamed;
        for (const auto& [root, g] : grids)
            if (!gridOwner.count(root) && unnamed-- <= 0) {
                found.insert("an output channel enabled with no window");
                details += "och " + std::to_string(root) + " shows a picture for no window\n";
            }
        // The input channels a window writes with: its grid's, the other half of a pair or of a
        // dual mode, and for a dot-by-dot window every other writer of its ports.
        std::set<int> claimed;
        for (const auto& [och, w] : gridOwner)
            claimed.insert(decoded[size_t(channels[size_t(w)].ochs[0])].ich);
        for (int pass = 0; pass < 2; ++pass)
            for (int w = 0; w < kWinCount; ++w) {
                if (channels[size_t(w)].ochs.empty() || (pass == 1) != (parts[w] > 1))
                    continue;
                const int ich = decoded[size_t(channels[size_t(w)].ochs[0])].ich;
                std::set<int>& own = channels[size_t(w)].ichs;
                own.insert(ich);
                for (const sim::MemoryWriter& wr : m.writers)
                    if ((wr.ich == ich && wr.dualWith >= 0) ||
                        (mainPort[w] >= 4 && wr.ich == (ich ^ 1) && portOfIch(wr.ich) == mainPort[w]))
                        own.insert(wr.ich == ich ? wr.dualWith : wr.ich);
                // Each further port's part: the writer of that port stored nearest after its
                // first part (or where it starts reading), inside its blocks (under a pattern
                // as many as its inputs measured before took); a V-by-One port's two halves.
                // (the block the grid's first line read lies in where that part writes nothing).
                const int64_t block = int64_t(kBandLines) * kDbdPitch;
                int64_t lo = -1;
                for (const sim::MemoryRead* rd : m.readsOf(channels[size_t(w)].ochs[0])) {
                    const int64_t first = std::min<int64_t>(rd->start, rd->start + (rd->lines - 1) * rd->step);
                    lo = lo < 0 ? first : std::min(lo, first);
                }
                const int64_t base = m.writer(ich) ? m.writer(ich)->base[0]
                                     : lo < kDbdMemory ? -1
                                                       : lo - (lo - kDbdMemory) % block;
                for (int i = 1; pass == 1 && base >= 0 && i < parts[w]; ++i) {
                    const sim::MemoryWriter* near = nullptr;
                    for (const sim::MemoryWriter& wr : m.writers)
                        if (!claimed.count(wr.ich) && portOfIch(wr.ich) == ports[w][i] && wr.base[0] >= base &&
                            wr.base[0] < base + (asBefore ? 8 : need[w].blocks) * block &&
                            (!near || wr.base[0] < near->base[0]))
                            near = &wr;
                    if (near)
                        own.insert(near->ich), claimed.insert(near->ich);
                    if (near && ports[w][i] >= 4 && m.writer(near->ich ^ 1) && portOfIch(near->ich ^ 1) == ports[w][i])
                        own.insert(near->ich ^ 1);
                }
                claimed.insert(own.begin(), own.end());
            }
        for (int w = 0; w < kWinCount; ++w) {
            const std::string win = "window " + std::to_string(w);
            if (refused[w]) {
                shows[w] = zeltest::WindowShows::kUnjudged;
                continue;
            }
            if (shows[w] != zeltest::WindowShows::kPicture)
                continue;
            // Its pieces together cover its place on the panel, and at most what of it lies on the
            // channels' grid (a few pixels of rounding apart).
            const unsigned r = window(unsigned(w));
            const int64_t shown = area(channels[size_t(w)].ochs);
            if (!(imageWord(r + kWinFlags) & 0x100) && (shown < expect[w] - slack[w] || shown > hi[w] + slack[w])) {
                found.insert("a window's pieces cover another area than its place");
                details += win + " covers " + std::to_string(shown) + " pixels\n";
            }
            const std::vector<const sim::MemoryRead*> reads = m.readsOf(channels[size_t(w)].ochs[0]);
            // Mirrored as its attributes say: bit 0 reads lines right to left, bit 1 bottom up.
            for (const sim::MemoryRead* rd : reads)
                if (!rd->covered && (rd->mirrored != bool(mirrors[w] & 1) || (rd->step < 0) != bool(mirrors[w] & 2)))
                    found.insert("a window mirrored against its attributes");
            // A dot-by-dot window's parts lie in its picture in port order: each writer of a
            // port later in the mode starts further into the memory.
            std::vector<std::pair<int, uint32_t>> cells;
            for (int i : channels[size_t(w)].ichs)
                if (const sim::MemoryWriter* wr = m.writer(i))
                    cells.push_back(
                        {int(std::find(ports[w], ports[w] + parts[w], portOfIch(i)) - ports[w]), wr->base[0]});
            std::sort(cells.begin(), cells.end());
            for (size_t i = 1; parts[w] > 1 && i < cells.size(); ++i)
                if (cells[i].first >= parts[w] || cells[i].second <= cells[i - 1].second)
                    found.insert("a dot-by-dot cell shows another port");
            // A crop of a parallel input, wholly inside it: the window's first piece reads from the
            // crop's corner in the picture the input channel stored (lines and pixels scaled alike).
            const int source = imageWord(r + kWinSource), crop = source & kWinSourceCrop ? source & 0xFF : -1;
            const unsigned e0 = cropEntry(unsigned(std::max(crop, 0)));
            const int cx = imageWord(e0 + 2), cy = imageWord(e0 + 4), in = model->ram_para[e0] & 0x0F;
            // (Under a pattern it is cut from the picture measured before.)
            if (crop >= 0 && !(imageWord(r + kWinFlags) & 0x100) && in < kHdmi3 && live(in) && !mirrors[w] &&
                !asBefore && cx + imageWord(e0 + 6) <= fed[in].w && cy + imageWord(e0 + 8) <= fed[in].h) {
                int row = 0, column = 0;
                auto sorted = reads;   // its top-left piece: the one at the first place
                std::sort(sorted.begin(), sorted.end(), [](auto* a, auto* b) { return a->position < b->position; });
                const sim::MemoryWriter* wr =
                    sorted.empty() ? nullptr : zeltest::readOrigin(m, *sorted[0], &row, &column);
                if (wr && (std::abs(column - cx * wr->pixels / fed[in].w) > 2 + wr->pixels / 100 ||
                           std::abs(row - cy * wr->lines / fed[in].h) > 2 + wr->lines / 100)) {
                    found.insert("a crop shows another part of its input");
                    details +=
                        win + " reads from row " + std::to_string(row) + " column " + std::to_string(column) + "\n";
                }
            }
        }
        // A window may be refused only when what it needs is not left beside the windows before
        // it that are shown: the weaving channels those take first, then the rest of 0-3 once
        // 4-7 are full. The CP21 splice (the word taken modulo 6 is 5) names no output areas, so
        // no window can be laid out on its channels.
        const bool noOutputArea = splice % 6 == 5;
        Need used;
        int otherUsed = 0;
        for (int w = 0; w < kWinCount; ++w) {
            const Need& n = need[w];
            const int weaving = 4 - used.woven - std::max(0, otherUsed - 4);
            if (refused[w])
                found.insert((noOutputArea                ? "refused (splice without output areas): "
                              : used.ichs + n.ichs > 8     ? "refused (input channels short): "
                              : used.ochs + n.ochs > 8     ? "refused (output channels short): "
                              : n.large                    ? "refused (dot-by-dot picture too large): "
                              : used.blocks + n.blocks > 8 ? "refused (dot-by-dot memory taken): "
                              : n.unwoven                  ? "refused (fields too wide to weave): "
                              : n.woven > weaving          ? "refused (weaving channels taken): "
                              : asBefore                   ? "refused (inputs as measured before a test pattern): "
                                                           : "a window refused though its channels are free: ") +
                             kind[w]);
            // A window refused while a later one needing no more of anything is shown.
            for (int v = w + 1; v < kWinCount && refused[w] && !noOutputArea; ++v)
                if (!refused[v] && shows[v] == zeltest::WindowShows::kPicture && need[v].ichs >= n.ichs &&
                    need[v].ochs >= n.ochs && need[v].blocks >= n.blocks && need[v].woven >= n.woven &&
                    need[v].unwoven >= n.unwoven && need[v].large >= n.large)
                    found.insert("a window refused while a later one of the same need is shown");
            if (refused[w] || shows[w] == zeltest::WindowShows::kNothing)
                continue;
            used.ichs += n.ichs, used.ochs += n.ochs, used.blocks += n.blocks;
            used.woven += std::max(n.woven, n.weave), otherUsed += n.other();
        }
        // Windows stacked on one panel cell: a lower priority word on top (a word above 5 counts
        // modulo 6). Of two windows alike in all but priority the chip cannot tell which is which.
        const auto twin = [&](int w) {
            const auto alike = [&](int v) {
                for (unsigned k : {kWinState, kWinMirror, kWinSource, kWinX, kWinY, kWinWidth, kWinHeight, kWinFlags})
                    if (imageWord(window(unsigned(v)) + k) != imageWord(window(unsigned(w)) + k))
                        return false;
                return true;
            };
            for (int v = 0; v < kWinCount; ++v)
                if (v != w && alike(v))
                    return true;
            return false;
        };
        const auto prio = [&](const sim::DecodedChannel& d) {
            return gridOwner.count(d.och) && !twin(gridOwner[d.och])
                       ? imageWord(kPriority + 2 * unsigned(gridOwner[d.och])) % 6
                       : -1;
        };
        for (const sim::DecodedChannel& a : decoded)
            for (const sim::DecodedChannel& b : decoded)
                if (a.on && b.on && a.mixer >= 0 && a.mixer == b.mixer && a.layer < b.layer && prio(a) >= 0 &&
                    prio(b) >= 0 && prio(a) < prio(b) && !fallback)
                    found.insert("windows layered against their priorities");
        for (const zeltest::MemoryFinding& f : zeltest::judgeMemory(chip, channels, shows)) {
            const int w = f.detail.rfind("window ", 0) == 0 ? f.detail[7] - '0' : -1;
            found.insert(f.kind + (w >= 0 && dark[w] ? " (input without signal)" : "") +
                         (patterned ? " under a test pattern" : ""));
            details += f.kind + ": " + f.detail + "\n";
        }
        // A writer no shown window reads (a window that shows nothing, one refused) stores for
        // nobody; a window not judged may keep its channels.
        std::set<int> kept;
        for (int w = 0; w < kWinCount; ++w)
            for (int i = 0; i < parts[w] && (held[w] || shows[w] == zeltest::WindowShows::kUnjudged); ++i)
                kept.insert(ports[w][i]);
        for (const sim::MemoryWriter& wr : m.writers)
            if (!std::any_of(channels.begin(), channels.end(), [&](auto& c) { return c.ichs.count(wr.ich); }) &&
                !kept.count(wr.port) && unnamedWindows == 0) {
                found.insert("an input channel writes memory for no shown window");
                details += "ich " + std::to_string(wr.ich) + " writes for no window\n";
            }
        const bool dbd0 = imageWord(window(0) + kWinFlags) & 0x100;
        const std::vector<std::string> running = zeltest::shownPicture(chip, true);
        powerUp(freshChip);
        const std::vector<std::string> fresh = zeltest::freshStartPicture(freshChip, chip, e, true);
        const auto compared = [&](const std::vector<std::string>& p) { return asBefore ? underPattern(p, dbd0) : p; };
        if (compared(running) != compared(fresh))
            found.insert("differs from a fresh start: " + freshDifference(compared(running), compared(fresh)));
        for (size_t i = 0; i < running.size() || i < fresh.size(); ++i)
            details += (i < running.size() ? running[i] : "") + "   |   " + (i < fresh.size() ? fresh[i] : "") + "\n";
        details += sim::describeMemory(chip);
    }

    // The chip port an input channel takes (its source: 2p for parallel port p, 8-11 port 4,
    // 12-15 port 5).
    int portOfIch(int ich) const
    {
        const int src = chip.reg(0x00, uint8_t(0x10 + ich));
        return src < 8 ? src / 2 : src < 12 ? 4 : src < 16 ? 5 : -1;
    }

    // What a fresh start's picture differs in first: a section, or a field of a channel's line.
    static std::string freshDifference(const std::vector<std::string>& a, const std::vector<std::string>& b)
    {
        size_t i = 0;
        std::string section;
        for (; i < a.size() && i < b.size() && a[i] == b[i]; ++i)
            section = a[i][0] == '[' ? a[i] : section;
        if (section != "[channels]" || i == a.size() || i == b.size() || a[i][0] != b[i][0])
            return section == "[channels]" ? "channels on" : section;
        if (a[i][0] == 'o')
            return "where a piece reads";
        const char* fields[] = {" port ", " zoom ", " cut ", " shrink ", " mixer ", " frozen"};
        const char* names[] = {"placement", "port", "zoom", "input cut", "shrink", "mixer", "freeze"};
        size_t f = 0;
        while (f < 6 && a[i].substr(0, a[i].find(fields[f])) == b[i].substr(0, b[i].find(fields[f])))
            ++f;
        return names[f];
    }

    // Under a test pattern a fresh start measures no input, and a running box shows what it
    // measured before (a dot-by-dot window's size, a freeze): the patterns and the picture values
    // stay to compare (the patterns not either when window 0 is shown dot by dot: whether its
    // input fits, and so gets the channels the pattern is drawn on, is measured).
    static std::vector<std::string> underPattern(const std::vector<std::string>& full, bool dotByDot)
    {
        std::vector<std::string> out;
        std::string section;
        for (const std::string& l : full) {
            section = l[0] == '[' ? l : section;
            if (l[0] == '[' || (section == "[pattern]" && !dotByDot) || section == "[picture]")
                out.push_back(l);
        }
        return out;
    }

    void sweep(const char* profile, bool any, int fallback)
    {
        const char* only = std::getenv("ZEL_SWEEP_PROFILE");
        if (only && *only && std::strcmp(only, profile) != 0)
            GTEST_SKIP() << "ZEL_SWEEP_PROFILE=" << only;
        const int count = envInt("ZEL_SWEEP_CONFIGS", fallback / kSlowdown);
        const uint32_t first = uint32_t(envInt("ZEL_SWEEP_SEED", 1));
        struct Kind {
            int configs = 0;
            uint32_t seed = 0;
            int steps = 0;
            std::vector<Op> ops;
        };
        std::map<std::string, Kind> kinds;
        int failing = 0;
        const auto start = std::chrono::steady_clock::now();
        // Histories of kChain configurations, each judged and compared with a fresh start once
        // quiet; the chain of seed s carries s's configuration from power-up first.
        for (int c = 0; c * kChain < count; ++c) {
            const uint32_t seed = first + uint32_t(c);
            Maker maker(seed * 2 + any, any);
            std::vector<Op> history;
            for (int k = 0; k < std::min(kChain, count - c * kChain); ++k) {
                const std::vector<Op> ops = maker.make(k == 0);
                const std::set<std::string> found = k == 0 ? runOne(ops) : runNext(ops);
                if (k > 0)
                    history.push_back({Op::kJudge});
                history.insert(history.end(), ops.begin(), ops.end());
                failing +=
                    std::any_of(found.begin(), found.end(), [](auto& f) { return f.rfind("refused (", 0) != 0; });
                for (const std::string& f : found) {
                    Kind& kd = kinds[f];
                    if (kd.configs++ == 0 || history.size() < kd.ops.size())   // the shortest reproducer
                        kd.seed = seed, kd.steps = k + 1, kd.ops = history;
                }
                if (count <= kChain && k + 1 == count)
                    std::printf("%s", details.c_str());
                for (const std::string& f : found)   // one history: what each configuration found
                    if (count <= kChain)
                        std::printf("configuration %d: %s\n", k + 1, f.c_str());
                if (found.count("no bring-up"))
                    break;
            }
        }
        std::ostringstream out;
        out << profile << ": " << count << " configurations in histories of " << kChain << " from seed " << first
            << " in "
            << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() << " s, " << failing
            << " with findings other than refusals\n";
        for (const auto& [k, f] : kinds)
            out << "  " << f.configs << "  " << k << " (seed " << f.seed << ")\n";
        int printed = 0;
        for (const auto& [k, f] : kinds) {
            if (k.rfind("refused (", 0) == 0 || printed++ == 12)
                continue;
            out << k << ": ZEL_SWEEP_PROFILE=" << profile << " ZEL_SWEEP_SEED=" << f.seed
                << " ZEL_SWEEP_CONFIGS=" << f.steps << "; from power-up with the factory image:\n";
            for (const Op& o : f.ops)
                out << "  " << describe(o) << "\n";
        }
        std::printf("%s", out.str().c_str());
        if (envInt("ZEL_SWEEP_REPORT", 0) == 0) {
            EXPECT_EQ(failing, 0) << "the findings are listed above";
        }
    }

    sim::VideoChipModel pristine;   // the chip's registers as it powers up
    sim::VideoChipModel& freshChip = sim::attachVideoChip();
    Format fed[6] = {};
    bool patternOn = false, unfollowed = false;   // at the last judge; an input changed since under it
    std::string details;
};

}  // namespace

TEST_F(SweepTest, RealisticConfigurations) { sweep("realistic", false, 1500); }

TEST_F(SweepTest, ConfigurationsOfAnySize) { sweep("any", true, 500); }

// Configurations that once showed a fault, each at the end of its history's first configurations:
// none shows anything but refusals.
TEST_F(SweepTest, ConfigurationsThatFoundFaults)
{
    // A pattern ended by several windows left the input backgrounds off; a pattern stayed on the
    // channels the admission took from window 0; an interlaced window stayed unwoven on channel 7
    // behind V-by-One pairs on 0-3 that a start puts on 4-7, a single window before them on 6; a
    // single input taller than the plain buffers stored in them after a re-layout under a pattern;
    // an input one pixel wide taken for no signal. Histories: an input changed while only a window
    // that then left measured it, its new size never taken by a dot-by-dot part shown later; dot-by-
    // dot windows refused after a history where a start shows them; interlaced windows woven on
    // other channels than a start weaves them; a dot-by-dot window over a port first measured when
    // another window's source changed to it, never set up with that port's size; a window zoomed
    // some 115 times over four channels whose last piece, pulled back inside the stored line,
    // overlapped the piece before it (found with the dimensions added later).
    struct Row {
        bool any;
        uint32_t seed;
        int steps;
        bool later = false;
    };
    const Row rows[] = {{false, 372, 1},     {true, 4107, 1},     {true, 438, 1},       {false, 510, 1},
                        {false, 907968, 1},  {true, 2389, 1},     {true, 7779017, 1},   {true, 7784319, 1},
                        {false, 900030, 2},  {false, 901660, 3},  {false, 1240, 10},  {false, 4200274, 6},
                        {true, 31337034, 10, true}};
    for (const Row& r : rows) {
        Maker maker(r.seed * 2 + r.any, r.any, r.later);
        for (int k = 0; k < r.steps; ++k) {
            const std::vector<Op> ops = maker.make(k == 0);
            const std::set<std::string> found = k == 0 ? runOne(ops) : runNext(ops);
            EXPECT_TRUE(std::all_of(found.begin(), found.end(), [](auto& f) { return f.rfind("refused (", 0) == 0; }))
                << "ZEL_SWEEP_PROFILE=" << (r.any ? "any" : "realistic") << " ZEL_SWEEP_SEED=" << r.seed
                << " ZEL_SWEEP_CONFIGS=" << k + 1 << ": " << *found.begin() << "\n" << details;
        }
    }
}

// A history that leaves a dot-by-dot window without input channels (a window before it takes a
// V-by-One pair): the memory it held goes to a later window, as a start hands it out.
TEST_F(SweepTest, AWindowLeftWithoutChannelsGivesItsMemoryBack)
{
    std::vector<Op> first, then;
    for (int i = 0; i < 6; ++i)
        first.push_back({Op::kInput, unsigned(i), 0, Format{1920, 1080, 60}});
    // Window, x, y, width, height, source, flags, dot-by-dot word: two single windows, one over
    // two ports side by side (two blocks), one over four (four), and later one over two ports
    // one over the other (four).
    const int windows[5][8] = {{0, 0, 0, 480, 270, 2, 0, 0},       {1, 480, 0, 480, 270, 3, 0, 0},
                               {2, 0, 270, 960, 540, 0, 0x100, 1}, {3, 960, 0, 960, 540, 0, 0x100, 6},
                               {4, 960, 540, 960, 540, 0, 0x100, 2}};
    for (const auto& v : windows) {
        const unsigned r = window(unsigned(v[0]));
        std::vector<Op>& ops = v[0] == 4 ? then : first;
        for (const auto& [a, value] : {std::pair{kWinX, v[1]}, {kWinY, v[2]}, {kWinWidth, v[3]}, {kWinHeight, v[4]},
                                        {kWinSource, v[5]}, {kWinDbdMode, v[7]}, {kWinFlags, v[6]}, {kWinState, 1}})
            ops.push_back({Op::kWrite, r + a, value});
    }
    first.push_back({Op::kCommit, 0, 1});
    then.push_back({Op::kWrite, window(1) + kWinSource, kHdmi3 + 1});
    then.push_back({Op::kCommit, 0, 1});
    for (const std::set<std::string>& found : {runOne(first), runNext(then)})
        EXPECT_TRUE(std::all_of(found.begin(), found.end(), [](auto& k) { return k.rfind("refused (", 0) == 0; }))
            << *found.begin() << "\n" << details;
}

// The judge itself: states of the chip known to be wrong are each flagged, and the states known
// good they are made from are not. Two windows side by side, then window 0 alone under pattern 10
// (which draws nothing); each wrong state is one register change on the chip the engine left.
TEST_F(SweepTest, TheJudgeFlagsEachStateKnownToBeWrongAndNoneKnownGood)
{
    std::vector<Op> sideBySide, patterned;
    for (int i = 0; i < 6; ++i)
        sideBySide.push_back({Op::kInput, unsigned(i), 0, Format{1920, 1080, 60}});
    for (const auto& [a, v] : {std::pair{kLedWidth, 3840}, {kOutputArea + 4, 3840}, {window(1) + kWinX, 1920},
                               {window(1) + kWinSource, kHdmi2}, {window(1) + kWinState, 1}})
        sideBySide.push_back({Op::kWrite, a, v});
    sideBySide.push_back({Op::kCommit, 0, 1});
    patterned = {{Op::kWrite, window(1) + kWinState, 0}, {Op::kWrite, kTestPattern, 10}, {Op::kCommit, 0, 1}};
    auto clean = [](const std::set<std::string>& found) {
        return std::all_of(found.begin(), found.end(), [](auto& f) { return f.rfind("refused (", 0) == 0; });
    };
    auto judged = [this] {
        std::set<std::string> found;
        judge(found);
        return found;
    };
    auto has = [](const std::set<std::string>& found, const std::string& kind) {
        return std::any_of(found.begin(), found.end(), [&](auto& f) { return f.rfind(kind, 0) == 0; });
    };
    // Copies `n` registers from `at` of channel `from`'s bank `base` to channel `to`'s.
    auto copyRegs = [this](uint8_t base, int from, int to, uint8_t at, int n) {
        for (int a = at; a < at + n; ++a)
            chip.setReg(sim::channelBank(base, to), uint8_t(a), chip.reg(sim::channelBank(base, from), uint8_t(a)));
    };
    constexpr uint8_t kOchBank = 0x08, kZoomBank = 0x0A, kMemBank = 0x16, kIchBank = 0x10;
    constexpr uint8_t kReadAddr = 0x08, kWriteAddr = 0x1C, kIchHw = 0x19, kReadMode = 0x69;
    constexpr int kBufferAddrs = 4 * sim::kFrameBuffers;
    struct Wrong {
        const char* what;
        bool underPattern;
        std::function<void()> make;
        const char* kind;   // the finding it must give
    };
    const Wrong wrongs[] = {
        {"two input channels write the same memory", false,
         [&] { copyRegs(kMemBank, e->win_ich[0][0], e->win_ich[1][0], kWriteAddr, kBufferAddrs); },
         "two input channels write the same memory"},
        {"a read of memory nobody writes", false,
         [&] {
             const int och = e->win_info[0].ochLst[0];
             const uint8_t mb = sim::channelBank(kMemBank, och);
             for (int b = 0; b < sim::kFrameBuffers; ++b) {
                 const uint8_t at = uint8_t(kReadAddr + 4 * b);
                 const uint32_t start = chip.regValue(mb, at, 4) + 540 * 65536;   // half the picture down
                 for (int k = 0; k < 4; ++k)
                     chip.setReg(mb, uint8_t(at + k), uint8_t(start >> (8 * k)));
             }
         },
         "a read covers unwritten memory"},
        {"an output channel on that no window owns", false,
         [&] {
             const int from = e->win_info[0].ochLst[0];
             int to = 7;   // the last channel no window owns
             while (to > 0 && e->och_owner[to] >= 0 && e->och_owner[to] < kWinCount)
                 --to;
             for (uint8_t base : {kOchBank, kZoomBank})
                 copyRegs(base, from, to, 1, 127);
             copyRegs(kMemBank, from, to, kReadAddr, kBufferAddrs);
             copyRegs(kMemBank, from, to, 0x30, 2);
             chip.setReg(0x00, uint8_t(kReadMode + to), chip.reg(0x00, uint8_t(kReadMode + from)));
         },
         "an output channel enabled with no window"},
        {"a window under a pattern drawing nothing cut as from an input not measured", true,
         [&] {
             const uint8_t ib = sim::channelBank(kIchBank, e->win_ich[0][0]);
             const uint32_t hw = chip.regValue(ib, kIchHw, 2) + 64;   // still inside its slot
             chip.setReg(ib, kIchHw, uint8_t(hw));
             chip.setReg(ib, kIchHw + 1, uint8_t(hw >> 8));
         },
         "differs from a fresh start"},
    };
    for (const Wrong& w : wrongs) {
        SCOPED_TRACE(w.what);
        ASSERT_TRUE(clean(runOne(sideBySide))) << details;
        if (w.underPattern) {
            ASSERT_TRUE(clean(runNext(patterned))) << details;
        }
        ASSERT_TRUE(clean(judged())) << "known good, judged again\n" << details;
        w.make();
        const std::set<std::string> found = judged();
        EXPECT_TRUE(has(found, w.kind)) << ::testing::PrintToString(found) << "\n" << details;
    }
}
