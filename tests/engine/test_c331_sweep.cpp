// The video engine swept over its configuration space. Fixed seeds make configurations (inputs of
// common formats or any size, interlaced, two pixels a clock, V-by-One; panels up to the limits in
// every splice; one to six windows inside, partly off and wholly off the panel; crops, mirrors,
// dot-by-dot modes, black, freeze, priorities), apply them from power-up as PC software does (image
// writes in random groups, commits with flag 1 or 2, a value moved and moved back), often over
// another configuration, and judge the engine once it is quiet: by the chip's frame memory, by
// where each window's pieces lie and a crop's first piece reads, and against a box started afresh
// from the same image. Windows refused because their channels ran short are counted by kind, not
// failed.
//   ZEL_SWEEP_CONFIGS   configurations per profile (1500 realistic, 500 any sizes; a fifth of that
//                       with AddressSanitizer, a tenth with ThreadSanitizer)
//   ZEL_SWEEP_SEED      the first seed (1); one configuration alone prints what the judges saw
//   ZEL_SWEEP_PROFILE   "realistic" or "any": only that profile
//   ZEL_SWEEP_REPORT=1  print the findings by kind with a reproducer each, and pass
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>

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
constexpr int kDbdFirst[10] = {-1, 2, 2, 0, 0, 1, 0, 0, 4, 4}, kDbdIchs[10] = {0, 2, 2, 2, 2, 3, 4, 4, 4, 4};

// One step of a configuration: an input's signal, an image word, a commit, a worker round.
struct Op {
    enum Kind { kInput, kWrite, kCommit, kPass } kind;
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
    return s;
}

class Maker {
public:
    Maker(uint32_t seed, bool any) : rng_(seed), any_(any) {}

    std::vector<Op> make()   // a configuration, often over another one
    {
        std::vector<Op> ops;
        if (chance(60))
            configuration(ops, true);
        configuration(ops, ops.empty());
        return ops;
    }

private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool chance(int percent) { return pick(0, 99) < percent; }
    template <typename T, size_t N>
    const T& of(const T (&table)[N]) { return table[size_t(pick(0, int(N) - 1))]; }

    Format format(int input)
    {
        const bool vbo = input >= kHdmi3;
        if (chance(10))
            return fed_[input] = Format{0, 0, 0};
        if (!any_ || chance(10))
            return fed_[input] = vbo ? of(kVbo) : of(kParallel);
        const int hzs[] = {24, 30, 50, 60};
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
            const int flags = (chance(5) ? kWinFlagBlack : 0) | (chance(5) ? kWinFlagFrozen : 0) |
                              (chance(any_ ? 15 : 8) ? 0x100 : 0);
            const unsigned r = window(unsigned(w));
            words.insert(words.end(), {{r + kWinState, w < n ? !chance(5) : chance(5)},   // now and then a gap
                                       {r + kWinMirror, chance(15) ? pick(1, 3) : 0}, {r + kWinSource, source},
                                       {r + kWinX, std::min(x, 32752)}, {r + kWinY, std::min(y, 32752)},
                                       {r + kWinWidth, std::min(ww, 32752)}, {r + kWinHeight, std::min(hh, 32752)},
                                       {r + kWinFlags, flags}, {r + kWinDbdMode, pick(0, 9)},
                                       {kPriority + 2 * w, prio[size_t(w)]}});
        }
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
    }

    void commit(std::vector<Op>& ops)
    {
        ops.push_back({Op::kCommit, 0, chance(30) ? 2 : 1});
        if (chance(80))
            ops.push_back({Op::kPass});
    }

    std::mt19937 rng_;
    bool any_;
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
        std::memcpy(model->ram_para + kPersistStart, default_para_ramlist + 2, kPersistLen);
        size_t i = 0;
        for (; i < ops.size() && ops[i].kind == Op::kInput; ++i)
            apply(ops[i]);
        e = zeltest::newEngine();
        details.clear();
        if (e->initialize(false) != 0 || !zeltest::bringUpEngine(e))
            return {"no bring-up"};
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

    void judge(std::set<std::string>& found)
    {
        const int ledW = imageWord(kLedWidth), ledH = imageWord(kLedHeight);
        const int ochW = std::max<int>(1, e->panel.ochW), ochH = std::max<int>(1, e->panel.ochH);
        const std::vector<sim::DecodedChannel> decoded = sim::decodeOutputs(chip);
        zeltest::WindowShows shows[kWinCount];
        bool dark[kWinCount] = {}, refused[kWinCount] = {}, dbdMemory = false;
        // The weaving channels (0-3) a dot-by-dot window needs: the chip gives its parts the
        // window's channels in ascending order, so an interlaced part weaves only when all the
        // window's channels up to its own lie among those four.
        int woven[kWinCount] = {};
        bool big[kWinCount] = {};    // a dot-by-dot picture larger than 7680 x 2160
        bool unwoven[kWinCount] = {};   // an interlaced part whose field line no weaving channel keeps
        int ichs[kWinCount] = {}, ochs[kWinCount] = {}, ichUsed = 0, ochUsed = 0;
        std::string kind[kWinCount];
        // With no window on, and in the splices that show the screen whole (0, and 4 on both
        // outputs) when window 0 is off or a window on reaches past the screen's right edge, is
        // rotated or has no input, the engine shows its default layout: window 0 over the panel.
        const int splice = imageWord(kSpliceMode);
        bool fallback = true;
        for (int w = 0; w < kWinCount; ++w)
            fallback &= imageWord(window(unsigned(w)) + kWinState) == 0;
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
        for (int w = 0; w < kWinCount; ++w) {
            const unsigned r = window(unsigned(w));
            const int source = imageWord(r + kWinSource), word = imageWord(r + kWinDbdMode);
            const int x = fallback ? 0 : imageWord(r + kWinX), y = fallback ? 0 : imageWord(r + kWinY);
            const int ww = fallback ? ledW : imageWord(r + kWinWidth), hh = fallback ? ledH : imageWord(r + kWinHeight);
            const int mirror = fallback ? 0 : imageWord(r + kWinMirror);
            const bool enabled = fallback ? w == 0 : imageWord(r + kWinState) != 0;
            const int dbd = imageWord(r + kWinFlags) & 0x100 ? word <= 9 ? kDbdModes[word] : 1 : 0;
            char line[128];
            std::snprintf(line, sizeof line,
                          "window %d: state %d %d,%d %dx%d source 0x%04X flags 0x%03X mode %d mirror %d\n", w,
                          imageWord(r + kWinState), imageWord(r + kWinX), imageWord(r + kWinY),
                          imageWord(r + kWinWidth), imageWord(r + kWinHeight), source, imageWord(r + kWinFlags), dbd,
                          imageWord(r + kWinMirror));
            details += line;
            const bool on = enabled && x < ledW && y < ledH && ww && hh;
            shows[w] = on ? zeltest::WindowShows::kPicture : zeltest::WindowShows::kNothing;
            const int crop = source & kWinSourceCrop ? source & 0xFF : -1;
            if (!on || crop >= int(kCropEntries)) {   // a crop index past the table: only a fresh start judges it
                shows[w] = on ? zeltest::WindowShows::kUnjudged : shows[w];
                continue;
            }
            // Its inputs and input channels (a pair for a V-by-One input), and the cells of the
            // panel's channel grid it covers, an output channel each.
            const int input = crop >= 0 ? model->ram_para[cropEntry(unsigned(crop))] & 0x0F : source;
            const int first = dbd > 1 ? kDbdFirst[word] : input;
            ichs[w] = dbd > 1 ? kDbdIchs[word] : input >= kHdmi3 ? 2 : 1;
            int pw = 0, ph = 0;   // a dot-by-dot picture: its parts beside or (21, 23, 51) over each other
            for (int k = first; k < std::min(6, first + (dbd > 1 ? ichs[w] : 1)); ++k) {
                dark[w] |= fed[k].w == 0;
                if (dbd > 1 && fed[k].fields)   // ports 0-3 are inputs 3-0: the part of input k
                    woven[w] = std::max(woven[w], first + ichs[w] - k);
                // Shown dot by dot, a part is never shrunk: one whose field line is wider than
                // the slot of every channel that weaves (as the chip's memory plan lays them
                // out) cannot be stored.
                bool weavable = false;
                for (int ich = 0; ich < c331_manage::kIpChannels && k < kHdmi3; ++ich)
                    weavable |= e->fieldLineFits(3 - k, ich, c331_manage::kFieldWriteMode);
                unwoven[w] |= dbd > 1 && fed[k].fields && k < kHdmi3 && !weavable;
                const bool over = dbd == 21 || dbd == 23 || dbd == 51;
                pw = over ? std::max(pw, fed[k].w) : pw + fed[k].w, ph = over ? ph + fed[k].h : std::max(ph, fed[k].h);
            }
            if (dbd == 41)   // two over two
                pw = std::max(fed[0].w + fed[1].w, fed[2].w + fed[3].w),
                ph = std::max(fed[0].h, fed[1].h) + std::max(fed[2].h, fed[3].h);
            // A single input shown dot by dot is as bound by the memory as several.
            big[w] = dbd >= 1 && (pw > 7680 || ph > 2160);
            dark[w] |= first > 5;
            const int x2 = std::min(x + ww, ledW) - 1, y2 = std::min(y + hh, ledH) - 1;
            ochs[w] = (x2 / ochW - x / ochW + 1) * (y2 / ochH - y / ochH + 1);
            const auto owned = [&](const sim::DecodedChannel& d) { return d.on && e->och_owner[d.och] == w; };
            refused[w] = zeltest::ichsOf(*e, w).empty() && std::none_of(decoded.begin(), decoded.end(), owned);
            // Its pieces together cover its place on the panel, and at most what of it lies on the
            // channels' grid (a few pixels of rounding apart); a dot-by-dot window shows its
            // inputs one to one.
            int64_t area = 0;
            for (const sim::DecodedChannel& d : decoded)
                area += d.on && e->och_owner[d.och] == w ? int64_t(d.width) * d.height : 0;
            const int64_t lo = int64_t(x2 - x + 1) * (y2 - y + 1), slack = 4 * (x2 - x + y2 - y + 2),
                          hi = int64_t(std::min(x + ww, std::max(ledW, ochW * e->panel.ochColumns)) - x) *
                               (std::min(y + hh, std::max(ledH, ochH * e->panel.ochRows)) - y);
            if (area && dbd == 0 && (area < lo - slack || area > hi + slack)) {
                found.insert("a window's pieces cover another area than its place");
                details += "window " + std::to_string(w) + " covers " + std::to_string(area) + " pixels\n";
            }
            // A crop of a parallel input, wholly inside it: the window's first piece reads from the
            // crop's corner in the picture the input channel stored (lines and pixels scaled alike).
            const unsigned e0 = cropEntry(unsigned(std::max(crop, 0)));
            const int cx = imageWord(e0 + 2), cy = imageWord(e0 + 4), in = std::min(input, 5);
            if (crop >= 0 && dbd == 0 && input < kHdmi3 && !dark[w] && !mirror &&
                cx + imageWord(e0 + 6) <= fed[in].w && cy + imageWord(e0 + 8) <= fed[in].h) {
                const sim::MemoryMap m = sim::decodeMemory(chip);
                int och[8], row = 0, column = 0;
                e->get_och(w, och);
                auto reads = m.readsOf(och[0]);   // its top-left piece: the one at the first place
                std::sort(reads.begin(), reads.end(), [](auto* a, auto* b) { return a->position < b->position; });
                const sim::MemoryWriter* wr =
                    reads.empty() ? nullptr : zeltest::readOrigin(m, *reads[0], &row, &column);
                if (wr && (std::abs(column - cx * wr->pixels / fed[in].w) > 2 + wr->pixels / 100 ||
                           std::abs(row - cy * wr->lines / fed[in].h) > 2 + wr->lines / 100)) {
                    found.insert("a crop shows another part of its input");
                    details += "window " + std::to_string(w) + " reads from row " + std::to_string(row) + " column " +
                               std::to_string(column) + "\n";
                }
            }
            if (refused[w]) {
                shows[w] = zeltest::WindowShows::kUnjudged;
                kind[w] = dbd > 1 ? "dot-by-dot " + std::to_string(dbd) : input >= kHdmi3 ? "V-by-One pair" : "single";
            } else {
                ichUsed += ichs[w], ochUsed += ochs[w], dbdMemory |= e->usesDbdMemory(w);
            }
            // A dot-by-dot window shows its inputs one to one: with no input of it carrying a
            // signal its picture has no size, so it covers nothing of its place, and no input
            // background stands in for it (that is only for windows that scale their input). It
            // keeps its input channels for when a signal comes; only its output channels must
            // show nothing.
            if (!refused[w] && dbd && (pw == 0 || ph == 0)) {
                shows[w] = zeltest::WindowShows::kUnjudged;
                if (std::any_of(decoded.begin(), decoded.end(), owned))
                    found.insert("a dot-by-dot window without a picture has an output channel on");
            }
        }
        // A window may be refused only when its channels are not left beside the windows shown.
        // The CP21 splice (the word taken modulo 6 is 5; the output page never writes it) names
        // no output areas, so its output channels are 0 pixels wide at any LED size and no window
        // can be laid out on one of them.
        const bool noOutputArea = splice % 6 == 5;
        const int weaving = int(std::count_if(e->ich_owner, e->ich_owner + 4, [](int o) { return o < 0; }));
        for (int w = 0; w < kWinCount; ++w)
            if (refused[w])
                found.insert((noOutputArea                     ? "refused (splice without output areas): "
                              : ichUsed + ichs[w] > 8          ? "refused (input channels short): "
                              : ochUsed + ochs[w] > 8          ? "refused (output channels short): "
                              : dbdMemory && kind[w][0] == 'd' ? "refused (dot-by-dot memory taken): "
                              : unwoven[w]                     ? "refused (fields too wide to weave): "
                              : woven[w] > weaving             ? "refused (weaving channels taken): "
                              : big[w]                         ? "refused (dot-by-dot picture too large): "
                                                               : "a window refused though its channels are free: ") +
                             kind[w]);
        for (const zeltest::MemoryFinding& f : zeltest::judgeMemory(chip, *e, shows)) {
            const int w = f.detail.rfind("window ", 0) == 0 ? f.detail[7] - '0' : -1;
            found.insert(f.kind + (w >= 0 && dark[w] ? " (input without signal)" : ""));
            details += f.kind + ": " + f.detail + "\n";
        }
        std::set<int> taken;
        for (int w = 0; w < kWinCount; ++w) {
            int och[8];
            e->get_och(w, och);
            for (int c : och)
                if (c >= 0 && shows[w] == zeltest::WindowShows::kPicture && !taken.insert(c).second)
                    found.insert("two windows share an output channel");
        }
        const std::vector<std::string> running = zeltest::shownPicture(chip, true);
        powerUp(freshChip);
        const std::vector<std::string> fresh = zeltest::freshStartPicture(freshChip, chip, e, true);
        if (running != fresh)
            found.insert("differs from a fresh start: " + freshDifference(running, fresh));
        for (size_t i = 0; i < running.size() || i < fresh.size(); ++i)
            details += (i < running.size() ? running[i] : "") + "   |   " + (i < fresh.size() ? fresh[i] : "") + "\n";
        details += sim::describeMemory(chip);
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
        const char* fields[] = {" port ", " zoom ", " cut ", " shrink ", " mixer "};
        const char* names[] = {"placement", "port", "zoom", "input cut", "shrink or mixer"};
        size_t f = 0;
        while (f < 4 && a[i].substr(0, a[i].find(fields[f])) == b[i].substr(0, b[i].find(fields[f])))
            ++f;
        return names[f];
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
            std::vector<Op> ops;
        };
        std::map<std::string, Kind> kinds;
        int failing = 0;
        const auto start = std::chrono::steady_clock::now();
        for (uint32_t seed = first; seed < first + uint32_t(count); ++seed) {
            const std::vector<Op> ops = Maker(seed * 2 + any, any).make();
            const std::set<std::string> found = runOne(ops);
            failing += std::any_of(found.begin(), found.end(), [](auto& k) { return k.rfind("refused (", 0) != 0; });
            for (const std::string& k : found) {
                Kind& f = kinds[k];
                if (f.configs++ == 0 || ops.size() < f.ops.size())   // the shortest reproducer
                    f.seed = seed, f.ops = ops;
            }
            if (count == 1)
                std::printf("%s", details.c_str());
        }
        std::ostringstream out;
        out << profile << ": " << count << " configurations from seed " << first << " in "
            << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() << " s, " << failing
            << " with findings other than refusals\n";
        for (const auto& [k, f] : kinds)
            out << "  " << f.configs << "  " << k << " (seed " << f.seed << ")\n";
        int printed = 0;
        for (const auto& [k, f] : kinds) {
            if (k.rfind("refused (", 0) == 0 || printed++ == 12)
                continue;
            out << k << ": ZEL_SWEEP_PROFILE=" << profile << " ZEL_SWEEP_SEED=" << f.seed
                << " ZEL_SWEEP_CONFIGS=1; from power-up with the factory image:\n";
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
    std::string details;
};

}  // namespace

TEST_F(SweepTest, RealisticConfigurations) { sweep("realistic", false, 1500); }

TEST_F(SweepTest, ConfigurationsOfAnySize) { sweep("any", true, 500); }
