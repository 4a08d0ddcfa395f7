// The video engine swept over its configuration space. Fixed seeds make configurations (inputs of
// common formats or of any size, interlaced, two pixels a clock, V-by-One; panels up to the
// limits in every splice; one to six windows inside, partly off and wholly off the panel; crops,
// mirrors, dot-by-dot modes, black, freeze, priorities), apply them as PC software does (image
// writes in random groups, commits with flag 1 or 2, a value moved and moved back) on a box that
// showed another configuration before, and judge the engine once it is quiet: by the chip's frame
// memory, and against a box started afresh from the same image. Windows refused because the
// input channels ran short are counted by kind, not failed.
//
//   ZEL_SWEEP_CONFIGS   configurations per profile (default 1500 realistic, 500 any sizes; a
//                       tenth of that in the sanitizer builds)
//   ZEL_SWEEP_SEED      the first seed (default 1): configuration i of a run has seed first + i
//   ZEL_SWEEP_PROFILE   "realistic" or "any": only that profile
//   ZEL_SWEEP_REPORT=1  print the findings by kind with one reproducer each, and pass
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <sstream>

#include "core/para_commit.h"
#include "memory_judge.h"
#include "output_fixture.h"

using namespace ramaddr;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kSanitized = 1;
#elif defined(__has_feature)
constexpr int kSanitized = __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
constexpr int kSanitized = 0;
#endif

int envInt(const char* name, int fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

// An input signal: w x h frames at hz (fields: interlaced), two pixels a clock or over V-by-One
// lanes; w 0: unplugged.
struct Format {
    int w, h, hz;
    bool fields = false, two = false;
};
const Format kParallel[] = {{1920, 1080, 60}, {1280, 720, 60}, {1920, 1080, 60, true}, {3840, 2160, 30, false, true},
                            {2560, 1440, 60}, {5120, 1440, 30, false, true}, {1920, 1200, 60}, {1280, 1024, 60},
                            {720, 576, 50, true}, {3840, 2160, 60, false, true}, {1024, 768, 60}, {1920, 1080, 50}};
const Format kVbo[] = {{3840, 2160, 60}, {1920, 1080, 60}, {3840, 2160, 30}, {5120, 1440, 60}, {2560, 1440, 60}};
struct Size {
    int w, h;
};
const Size kPanels[] = {{1920, 1080}, {3840, 2160}, {7680, 2160}, {3840, 1080}, {1280, 720}, {2560, 1440},
                        {5120, 1440}, {1920, 2160}, {7680, 1080}, {1024, 768}, {4096, 2160}, {3000, 1080}};

std::string describe(const Format& f)
{
    if (f.w == 0)
        return "unplugged";
    std::ostringstream s;
    s << f.w << "x" << f.h << (f.fields ? "i" : "p") << f.hz << (f.two ? " two a clock" : "");
    return s.str();
}

// One step of applying a configuration: an input's signal, an image word written, a commit, one
// worker round.
struct Op {
    enum Kind { kInput, kWrite, kCommit, kPass } kind;
    unsigned addr = 0;   // the input, the image address
    int value = 0;       // the word, the commit flag
    Format format{};
};

std::string describe(const Op& o)
{
    char s[96];
    switch (o.kind) {
    case Op::kInput: std::snprintf(s, sizeof s, "input %u: %s", o.addr, describe(o.format).c_str()); break;
    case Op::kWrite: std::snprintf(s, sizeof s, "write 0x%03X = %d", o.addr, o.value); break;
    case Op::kCommit: std::snprintf(s, sizeof s, "commit %d", o.value); break;
    default: std::snprintf(s, sizeof s, "pass");
    }
    return s;
}

class Maker {
public:
    Maker(uint32_t seed, bool any) : rng_(seed), any_(any) {}

    // A configuration on a box that showed another one before.
    std::vector<Op> make()
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
    const T& of(const T (&table)[N])
    {
        return table[size_t(pick(0, int(N) - 1))];
    }

    Format format(int input)
    {
        const bool vbo = input >= kHdmi3;
        if (chance(10))
            return cur_[input] = {0, 0, 0};
        if (!any_)
            return cur_[input] = vbo ? of(kVbo) : of(kParallel);
        const int hzs[] = {24, 30, 50, 60};
        Format f{pick(64, vbo ? 8192 : 5120), pick(64, vbo ? 4320 : 2400), of(hzs), !vbo && chance(15)};
        const double rate = double(f.w) * f.h * f.hz / (f.fields ? 2 : 1);
        f.two = !vbo && rate > 150e6;
        return cur_[input] = f;
    }

    // Every input's signal and every word of one configuration, in random groups.
    void configuration(std::vector<Op>& ops, bool allInputs)
    {
        for (int i = 0; i < 6; ++i)
            if (allInputs || chance(25))
                ops.push_back({Op::kInput, unsigned(i), 0, format(i)});
        std::vector<std::pair<unsigned, int>> words;
        std::vector<std::pair<unsigned, int>> panelWords;
        const Size p = any_ ? Size{chance(50) ? pick(64, 4096) : pick(64, 16376), chance(50) ? pick(64, 2400) : pick(64, 16376)}
                            : of(kPanels);
        const int splice = any_ ? pick(0, 5) : (p.w > 3840 && chance(50)) ? 3 : (p.h > 2160 && chance(50)) ? 2 : chance(30) ? 4 : 0;
        const int o1w = splice == 3 ? (p.w / 2 + 7) / 8 * 8 : p.w, o1h = splice == 2 ? (p.h + 1) / 2 : p.h;
        for (auto [a, v] : {std::pair<unsigned, int>{kSpliceMode, splice}, {kLedWidth, p.w}, {kLedHeight, p.h},
                            {kOutputArea + 4, o1w}, {kOutputArea + 6, o1h}, {kOutputArea + 8, splice == 3 ? o1w : 0},
                            {kOutputArea + 10, splice == 2 ? o1h : 0}, {kOutputArea + 12, splice == 3 ? p.w - o1w : p.w},
                            {kOutputArea + 14, splice == 2 ? p.h - o1h : p.h}})
            panelWords.push_back({a, v});
        const int n = pick(1, 6), cols = pick(1, 3), rows = (n + cols - 1) / cols;
        std::vector<int> prio = {0, 1, 2, 3, 4, 5};
        if (chance(30))
            std::shuffle(prio.begin(), prio.end(), rng_);
        for (int w = 0; w < 6; ++w) {
            const unsigned r = window(unsigned(w));
            int x, y, ww, hh;
            if (!any_ && chance(60)) {   // a grid of equal windows
                ww = p.w / cols, hh = p.h / rows, x = w % cols * ww, y = w / cols * hh;
            } else if (!any_) {
                ww = pick(p.w / 8, p.w), hh = pick(p.h / 8, p.h), x = pick(0, p.w - ww), y = pick(0, p.h - hh);
            } else {
                ww = pick(0, 2 * p.w), hh = pick(0, 2 * p.h), x = pick(0, 2 * p.w), y = pick(0, 2 * p.h);
            }
            if (chance(8))   // partly off the panel
                x = p.w - ww / 2, y = chance(50) ? y : p.h - hh / 2;
            if (chance(4))   // wholly off
                x = p.w + pick(0, p.w / 2);
            int source = pick(0, 5);
            if (chance(25)) {   // a crop of an input
                const int k = any_ && chance(10) ? pick(40, 45) : pick(0, 39), in = pick(0, 5);
                const Format f = any_ || cur_[in].w == 0 ? Format{4096, 4096, 0} : cur_[in];
                const int cw = pick(16, f.w), ch = pick(16, f.h);
                if (k < 40) {
                    const unsigned e = cropEntry(unsigned(k));
                    words.push_back({e, in | (0x80 | k) << 8});
                    words.push_back({e + 2, pick(0, f.w - cw)});
                    words.push_back({e + 4, pick(0, f.h - ch)});
                    words.push_back({e + 6, cw});
                    words.push_back({e + 8, ch});
                }
                source = kWinSourceCrop | k;
            }
            const int flags = (chance(5) ? kWinFlagBlack : 0) | (chance(5) ? kWinFlagFrozen : 0) |
                              (chance(any_ ? 15 : 8) ? 0x100 : 0);
            for (auto [o, v] : {std::pair<unsigned, int>{kWinState, w < n ? 1 : 0}, {kWinMirror, chance(15) ? pick(1, 3) : 0},
                                {kWinSource, source}, {kWinX, std::min(x, 32752)}, {kWinY, std::min(y, 32752)},
                                {kWinWidth, std::min(ww, 32752)}, {kWinHeight, std::min(hh, 32752)}, {kWinFlags, flags},
                                {kWinDbdMode, pick(0, 9)}})
                words.push_back({r + o, v});
            words.push_back({kPriority + 2 * unsigned(w), prio[size_t(w)]});
        }
        // Random groups, the panel words together; each group committed, not always passed.
        std::shuffle(words.begin(), words.end(), rng_);
        words.insert(words.begin() + pick(0, int(words.size())), panelWords.begin(), panelWords.end());
        for (size_t i = 0; i < words.size();) {
            const size_t end = std::min(words.size(), i + size_t(pick(1, int(words.size()))));
            for (; i < end; ++i)
                ops.push_back({Op::kWrite, words[i].first, words[i].second});
            commit(ops);
        }
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
    Format cur_[6] = {};
};

struct Finding {
    int configs = 0;
    uint32_t seed = 0;
    std::string detail, repro;
};

class SweepTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        report = envInt("ZEL_SWEEP_REPORT", 0) != 0;
        pristine = std::make_unique<sim::VideoChipModel>();
    }

    void apply(const Op& o)
    {
        if (o.kind == Op::kInput) {
            if (o.format.w == 0) {
                TARVO_HDMI_INFO none{};
                none.nosignal = 1;
                none.stable = 1;
                zeltest::feedVideo(int(o.addr), none, 0);
                sim::setInputSignal(int(o.addr), false, 0, 0, 0);
                fed[o.addr] = o.format;
                return;
            }
            // A V-by-One receiver reports the lanes the board runs the signal on.
            const int in = int(o.addr);
            sim::setInputSignal(in, true, uint16_t(o.format.w), uint16_t(o.format.h), uint16_t(o.format.hz));
            const int lanes = in >= kHdmi3 ? sim::VideoChipModel::vboLanes(in == kHdmi3 ? 1 : 0) : 0;
            TARVO_HDMI_INFO r = zeltest::videoRecord(o.format.w, o.format.fields ? o.format.h / 2 : o.format.h,
                                                     o.format.hz, lanes);
            r.ip = o.format.fields;
            r.datamode = o.format.two;
            if (o.format.fields)
                r.Vtotal = (o.format.h + 45) / 2, r.Vback = 15;
            zeltest::feedVideo(int(o.addr), r, o.format.hz);
            fed[o.addr] = o.format;
        } else if (o.kind == Op::kWrite) {
            setWord(o.addr, uint16_t(o.value));
        } else if (o.kind == Op::kCommit) {
            ParaCommit c;
            c.set(uint8_t(o.value));
        } else {
            e->stepOnce();
        }
    }

    // Worker rounds until one writes nothing to the chip beyond its measurements; false when the
    // engine never gets there.
    bool runToQuiet()
    {
        for (int i = 0; i < 12; ++i) {
            chip.clearLog();
            e->stepOnce();
            // The measurement hold is taken on every round, and a V-by-One receiver without signal
            // restarted.
            bool wrote = false;
            for (const sim::VideoChipModel::Write& w : chip.writes())
                wrote |= w.addr != 0 && !(w.bank == 0 && w.addr == 0x29) && w.bank != 0x02;
            if (!wrote && e->para_chg_flag == 0)
                return true;
        }
        return false;
    }

    // One configuration from power-up: its findings, refusals counted by kind.
    std::set<std::string> runOne(const std::vector<Op>& ops)
    {
        for (int b = 0; b < 256; ++b)   // the chip as it powers up
            for (int a = 1; a < 128; ++a)
                chip.setReg(uint8_t(b), uint8_t(a), pristine->reg(uint8_t(b), uint8_t(a)));
        std::memcpy(model->ram_para + kPersistStart, default_para_ramlist + 2, kPersistLen);
        size_t i = 0;
        for (; i < ops.size() && ops[i].kind == Op::kInput; ++i)
            apply(ops[i]);
        e = zeltest::newEngine();
        std::set<std::string> found;
        details.clear();
        if (e->initialize(false) != 0 || !zeltest::bringUpEngine(e))
            return {"no bring-up"};
        for (; i < ops.size(); ++i)
            apply(ops[i]);
        if (!runToQuiet())
            found.insert("the engine never gets quiet");
        judge(found);
        return found;
    }

    void judge(std::set<std::string>& found)
    {
        const int ledW = imageWord(kLedWidth), ledH = imageWord(kLedHeight);
        const int ochW = std::max<int>(1, e->panel.ochW), ochH = std::max<int>(1, e->panel.ochH);
        zeltest::WindowShows shows[kWinCount];
        bool dark[kWinCount] = {}, refused[kWinCount] = {};
        int ichs[kWinCount] = {}, ochs[kWinCount] = {}, ichUsed = 0, ochUsed = 0;
        std::string kind[kWinCount];
        for (int w = 0; w < kWinCount; ++w) {
            const unsigned r = window(unsigned(w));
            const int x = imageWord(r + kWinX), y = imageWord(r + kWinY), ww = imageWord(r + kWinWidth),
                      hh = imageWord(r + kWinHeight), source = imageWord(r + kWinSource);
            const int dbd = c331_manage::windowDbdMode(imageWord(r + kWinFlags), imageWord(r + kWinDbdMode));
            char line[160];
            std::snprintf(line, sizeof line, "window %d: state %d %d,%d %dx%d source 0x%04X flags 0x%03X mode %d mirror %d\n",
                          w, imageWord(r + kWinState), x, y, ww, hh, source, imageWord(r + kWinFlags), dbd,
                          imageWord(r + kWinMirror));
            details += line;
            const bool on = (imageWord(r + kWinState) & 1) && x < ledW && y < ledH && ww && hh;
            shows[w] = on ? zeltest::WindowShows::kPicture : zeltest::WindowShows::kNothing;
            if (!on)
                continue;
            // Its input channels (a V-by-One input takes a pair) and the inputs it shows: a
            // dot-by-dot mode's ports, 20/21 ports 0-1, 22/23 ports 2-3, 30 ports 0-2, 40/41 ports 0-3.
            const int input = source & kWinSourceCrop ? model->ram_para[cropEntry(source & 0xFF)] & 7 : source;
            ichs[w] = dbd >= 20 && dbd <= 23 ? 2 : dbd == 30 ? 3 : dbd >= 40 ? 4 : input >= kHdmi3 ? 2 : 1;
            const int first = dbd >= 50 ? kHdmi3 : dbd >= 40 || dbd == 22 || dbd == 23 ? 0 : dbd == 30 ? 1 : dbd >= 20 ? kHdmi1 : input;
            for (int k = first; k < std::min(6, first + (dbd > 1 ? ichs[w] : 1)); ++k)
                dark[w] |= fed[k].w == 0;
            // Its output channels: the cells of the panel's channel grid it covers.
            const int x2 = std::min(x + ww, ledW) - 1, y2 = std::min(y + hh, ledH) - 1;
            ochs[w] = (x2 / ochW - x / ochW + 1) * (y2 / ochH - y / ochH + 1);
            bool placed = false;
            for (const sim::DecodedChannel& d : sim::decodeOutputs(chip))
                placed |= d.on && e->och_owner[d.och] == w;
            refused[w] = !placed && zeltest::ichsOf(*e, w).empty();
            if (refused[w]) {
                shows[w] = zeltest::WindowShows::kUnjudged;
                kind[w] = dbd > 1 ? "dot-by-dot " + std::to_string(dbd) : input >= kHdmi3 ? "V-by-One pair" : "single";
            } else {
                ichUsed += ichs[w], ochUsed += ochs[w];
            }
        }
        // A window may be refused only when its channels are not left beside the windows shown.
        for (int w = 0; w < kWinCount; ++w) {
            if (refused[w])
                found.insert(ichUsed + ichs[w] > 8   ? "refused (input channels short): " + kind[w]
                             : ochUsed + ochs[w] > 8 ? "refused (output channels short): " + kind[w]
                                                     : "a window refused though its channels are free: " + kind[w]);
        }
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
        const std::vector<std::string> fresh = zeltest::freshStartPicture(*freshChip, chip, e, true);
        if (running != fresh)
            found.insert("differs from a fresh start: " + freshDifference(running, fresh));
        for (size_t i = 0; i < running.size() || i < fresh.size(); ++i)
            details += (i < running.size() ? running[i] : "") + "   |   " + (i < fresh.size() ? fresh[i] : "") + "\n";
        details += sim::describeMemory(chip);
    }

    // Where a fresh start's picture first differs: the section, or the field of a channel's line.
    static std::string freshDifference(const std::vector<std::string>& a, const std::vector<std::string>& b)
    {
        size_t i = 0;
        std::string section;
        for (; i < a.size() && i < b.size() && a[i] == b[i]; ++i)
            section = a[i][0] == '[' ? a[i] : section;
        if (section != "[channels]" || i == a.size() || i == b.size())
            return section == "[channels]" ? "channels on" : section;
        if (a[i].rfind("och ", 0) == 0 || b[i].rfind("och ", 0) == 0)
            return a[i][0] == b[i][0] ? "where a piece reads" : "channels on";
        const char* fields[] = {": ", " port ", " zoom ", " cut ", " shrink ", " mixer "};
        const char* names[] = {"channels on", "placement", "port", "zoom", "input cut", "shrink", "mixer"};
        for (size_t f = 0; f <= std::size(fields); ++f) {
            const auto upTo = [&](const std::string& s) { return f < std::size(fields) ? s.substr(0, s.find(fields[f])) : s; };
            if (upTo(a[i]) != upTo(b[i]))
                return names[f];
        }
        return "?";
    }

    void sweep(const char* profile, bool any, int fallback)
    {
        const char* only = std::getenv("ZEL_SWEEP_PROFILE");
        if (only && *only && std::strcmp(only, profile) != 0)
            GTEST_SKIP() << "ZEL_SWEEP_PROFILE=" << only;
        const int count = envInt("ZEL_SWEEP_CONFIGS", kSanitized ? fallback / 10 : fallback);
        const uint32_t first = uint32_t(envInt("ZEL_SWEEP_SEED", 1));
        freshChip = &sim::attachVideoChip();
        if (auto* bus = dynamic_cast<platform::SimSpiBus*>(&platform::spi()))
            bus->attach("/dev/spidev32766.0", &chip);
        std::map<std::string, Finding> kinds;
        int failing = 0;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) {
            const uint32_t seed = first + uint32_t(i);
            const std::vector<Op> ops = Maker(seed * 2 + any, any).make();
            bool fault = false;
            for (const std::string& k : runOne(ops)) {
                fault |= k.rfind("refused (", 0) != 0;
                Finding& f = kinds[k];
                if (f.configs++ == 0) {
                    f.seed = seed;
                    for (const Op& o : ops)
                        f.repro += "  " + describe(o) + "\n";
                }
            }
            failing += fault;
            if (count == 1)   // one configuration: what the judges saw, beside a fresh start
                std::printf("%s", details.c_str());
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::ostringstream out;
        out << profile << ": " << count << " configurations from seed " << first << " in " << s << " s, "
            << failing << " with findings\n";
        for (const auto& [k, f] : kinds)
            out << "  " << f.configs << "  " << k << " (first seed " << f.seed << ")\n";
        int shown = 0;
        for (const auto& [k, f] : kinds)
            if (shown++ < 16)
                out << k << ": ZEL_SWEEP_PROFILE=" << profile << " ZEL_SWEEP_SEED=" << f.seed
                    << " ZEL_SWEEP_CONFIGS=1, from power-up with the factory image:\n" << f.repro;
        std::printf("%s", out.str().c_str());
        if (!report) {
            EXPECT_EQ(failing, 0) << out.str();
        }
    }

    bool report = false;
    Format fed[6] = {};
    std::string details;
    std::unique_ptr<sim::VideoChipModel> pristine;
    sim::VideoChipModel* freshChip = nullptr;
};

}  // namespace

TEST_F(SweepTest, RealisticConfigurations) { sweep("realistic", false, 1500); }

TEST_F(SweepTest, ConfigurationsOfAnySize) { sweep("any", true, 500); }
