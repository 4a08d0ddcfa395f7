// The simulated chip's frame memory and output channels as the engine's windows use them, judged
// from the chip's side: the findings of one look, and what a box started afresh would show.
#pragma once

#include <algorithm>
#include <array>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/c331_manage.h"
#include "platform/platform.h"
#include "platform/spi.h"
#include "sim/video_chip.h"
#include "sim/video_chip_decode.h"
#include "sim/video_chip_memory.h"
#include "sim/video_chip_picture.h"
#include "support/video_engine.h"

namespace zeltest {

struct MemoryFinding {
    std::string kind;     // what is wrong, without numbers: findings of one kind count together
    std::string detail;   // which channels
};

// What a window is expected to show: its picture, nothing at all, or either (not judged).
enum class WindowShows { kPicture, kNothing, kUnjudged };

inline std::set<int> ichsOf(const c331_manage& e, int w)
{
    std::set<int> s;
    for (int c : e.win_ich[w])
        if (c >= 0)
            s.insert(c);
    return s;
}

// Whether the read's channel shows its background over it, so that nothing it reads is seen, for
// a memory model that tells.
template <typename Read>
auto readCovered(const Read& r, int) -> decltype(bool(r.covered))
{
    return r.covered;
}
template <typename Read>
bool readCovered(const Read&, long)
{
    return false;
}

// The output channels of each window in grid order (the first names the input channel) and the
// input channels it writes with.
struct WindowChannels {
    std::vector<int> ochs;
    std::set<int> ichs;
};
using Channels = std::array<WindowChannels, kWinCount>;

// The channels the engine's records give each window.
inline Channels channelsOf(const c331_manage& e)
{
    Channels out;
    for (int w = 0; w < kWinCount; ++w) {
        int och[8];
        e.get_och(w, och);
        std::vector<int>& list = out[size_t(w)].ochs;
        for (int k = 0; k < e.win_info[w].columns * e.win_info[w].rows && k < 8; ++k)
            if (och[k] >= 0 && och[k] < 8)
                list.push_back(och[k]);
        for (int c = 0; c < 8; ++c)
            if (e.och_owner[c] == w && std::find(list.begin(), list.end(), c) == list.end())
                list.push_back(c);
        out[size_t(w)].ichs = ichsOf(e, w);
    }
    return out;
}

// No writers overlap or leave their regions; every window showing its picture reads only its own
// channels, wholly written, in the mode they were written with, each the part of the picture its
// place asks for; a window showing nothing has no output channel on and no input channel.
inline std::vector<MemoryFinding> judgeMemory(const sim::VideoChipStill& chip, const Channels& channels,
                                              const WindowShows (&shows)[kWinCount])
{
    std::vector<MemoryFinding> out;
    auto add = [&](const char* kind, const std::string& detail) { out.push_back({kind, detail}); };
    const sim::MemoryMap m = sim::decodeMemory(chip);
    for (const auto& [a, b] : m.overlaps)
        add("two input channels write the same memory", "ich " + std::to_string(a) + "/ich " + std::to_string(b));
    const size_t sound = out.size();
    for (const sim::MemoryWriter& w : m.writers) {
        const std::string ich = "ich " + std::to_string(w.ich);
        if (w.leak.any())
            add("a writer leaves its frame buffer", ich);
        if (w.slotLeak.any())
            add("a writer leaves its slot", ich);
        if (w.dualApart)
            add("a pair's halves are stored apart", ich);
        if (w.mode == sim::kUnknownMode)
            add("an unknown write mode", ich);
    }
    for (const sim::FieldStore& f : m.fields) {
        const std::string ich = "ich " + std::to_string(f.ich);
        if (f.leak.any() || f.slotLeak.any())
            add("a field store leaves its buffer or slot", ich);
        if (f.strayRead)
            add("field buffers read where nobody writes them", ich);
    }
    if (!m.writersSound() && out.size() == sound)
        add("writers the memory model calls unsound", "");
    const std::vector<sim::DecodedChannel> decoded = sim::decodeOutputs(chip);
    for (int w = 0; w < kWinCount; ++w) {
        const std::string win = "window " + std::to_string(w);
        if (shows[w] == WindowShows::kNothing) {
            for (int c : channels[size_t(w)].ochs)
                if (decoded[size_t(c)].on)
                    add("a window that shows nothing has an output channel on", win + " och " + std::to_string(c));
            if (!channels[size_t(w)].ichs.empty())
                add("a window that shows nothing holds input channels", win);
            continue;
        }
        if (shows[w] != WindowShows::kPicture)
            continue;
        const std::vector<int>& och = channels[size_t(w)].ochs;
        const auto reads = m.readsOf(och.empty() ? -1 : och[0]);
        if (reads.empty())
            add("a shown window reads no memory", win);
        const std::set<int>& own = channels[size_t(w)].ichs;
        for (const sim::MemoryRead* r : reads) {
            // Its background, or the channel's pattern generator, shows over what it reads.
            if (readCovered(*r, 0) || chip.reg(sim::channelBank(0x08, r->och), 0x57) != 0)
                continue;
            const std::string at = win + " och " + std::to_string(r->och);
            for (int i : r->ichs)
                if (!own.count(i))
                    add("a window reads another's input channel", at + " ich " + std::to_string(i));
            if (r->clean())
                continue;
            const size_t before = out.size();
            if (r->ichs.empty())
                add("a read hits no writer", at);
            if (r->unwritten)
                add("a read covers unwritten memory", at);
            if (r->mismatch)
                add("a read in another mode than written", at);
            if (r->wrongPart)
                add("a piece shows the wrong part of the picture", at);
            if (r->leak.any())
                add("a read leaves its frame buffer", at);
            if (r->mode == sim::kUnknownMode)
                add("an unknown read mode", at);
            if (out.size() == before)
                add("a read the memory model calls unsound", at);
        }
    }
    return out;
}

// The writer whose stored picture a read starts in, and the row and column (stored pixels) it
// starts at; null when it starts in no writer's lines.
inline const sim::MemoryWriter* readOrigin(const sim::MemoryMap& m, const sim::MemoryRead& r, int* row, int* column)
{
    for (const sim::MemoryWriter& w : m.writers) {
        const uint32_t at = r.start - w.base[0], pitch = std::max<uint32_t>(1, w.pitch);
        if (r.start >= w.base[0] && at / pitch < uint32_t(w.lines) && at % pitch < w.bytes) {
            *row = int(at / pitch);
            *column = int(sim::memoryLinePixels(at % pitch, w.mode));
            return &w;
        }
    }
    return nullptr;
}

// What the output channels show: their pattern generators, and per channel that places a
// picture its place, port and scale; with `full` also the backgrounds, what the input channel
// cuts from its port, the shrink and the mixer place.
inline std::vector<std::string> shownPicture(const sim::VideoChipStill& c, bool full = false)
{
    const std::string picture = sim::describeOutputPicture(c);
    std::vector<std::string> out;
    if (full) {   // line by line, so that a difference shows where it lies
        std::istringstream head(picture.substr(0, picture.find("[picture]")));
        for (std::string line; std::getline(head, line);)
            out.push_back(line);
        out.push_back("[channels]");
    } else {
        out.push_back(picture.substr(0, picture.find("[background]")));
    }
    for (const sim::DecodedChannel& d : sim::decodeOutputs(c)) {
        if (!d.on)
            continue;
        std::string s = std::to_string(d.och) + ": " + std::to_string(d.x) + "," + std::to_string(d.y) + " " +
                        std::to_string(d.width) + "x" + std::to_string(d.height) + " port " + std::to_string(d.port) +
                        " zoom " + std::to_string(d.hzoom) + "/" + std::to_string(d.vzoom);
        if (full)
            s += " cut " + std::to_string(d.inX) + "," + std::to_string(d.inY) + " " + std::to_string(d.inWidth) + "x" +
                 std::to_string(d.inHeight) + " shrink " + std::to_string(d.hshrink) + "/" +
                 std::to_string(d.vshrink) + " mixer " + std::to_string(d.mixer) + "." + std::to_string(d.layer) +
                 (d.frozen ? " frozen" : "");
        out.push_back(s);
    }
    if (!full)
        return out;
    // Where each piece reads in the picture its writer stored: the row and column it starts at.
    const sim::MemoryMap m = sim::decodeMemory(c);
    for (const sim::MemoryRead& r : m.reads) {
        std::string s = "och " + std::to_string(r.och) + " piece " + std::to_string(r.piece) + ": ";
        int row = 0, column = 0;
        // Under its channel's background nothing the piece reads is seen (a window on an input
        // without signal): where it reads does not show on the wall, and a running box and a
        // fresh one may leave it at different places.
        if (readCovered(r, 0)) {
            s += "covered by the background";
        } else if (readOrigin(m, r, &row, &column)) {
            s += "row " + std::to_string(row) + " column " + std::to_string(column);
        } else {
            s += "outside what is written";
        }
        out.push_back(s + ", " + std::to_string(r.pixels) + " x " + std::to_string(r.lines) +
                      (r.mirrored ? " mirrored" : ""));
    }
    // What the input channels store, whichever channels they are: a writer no window reads
    // shows nowhere, yet a fresh start has none.
    out.push_back("[writers]");
    std::vector<std::string> writers;
    for (const sim::MemoryWriter& w : m.writers)
        writers.push_back("port " + std::to_string(w.port) + ": " + std::to_string(w.pixels) + " x " +
                          std::to_string(w.lines) + " mode " + std::to_string(w.mode) +
                          (w.dualWith >= 0 ? " dual" : "") + (w.frozen ? " frozen" : ""));
    std::sort(writers.begin(), writers.end());
    out.insert(out.end(), writers.begin(), writers.end());
    return out;
}

// A box started afresh on `fresh` from the image as it is now: what it shows (shownPicture). The
// engine `running` on `chip` is the current one again afterwards.
inline std::vector<std::string> freshStartPicture(sim::VideoChipModel& fresh, sim::VideoChipModel& chip,
                                                  c331_manage* running, bool full = false, int passes = 4)
{
    auto* bus = dynamic_cast<platform::SimSpiBus*>(&platform::spi());
    if (bus)
        bus->attach("/dev/spidev32766.0", &fresh);
    std::vector<std::string> shown;
    {
        // A second engine beside the running one, which newEngine() would delete.
        auto owned = std::make_unique<c331_manage>();
        c331_manage* f = owned.get();
        c331_manage::p_c331_manage = f;
        f->usleepFn = [](unsigned) {};
        if (f->initialize(false) == 0 && bringUpEngine(f)) {
            for (int i = 0; i < passes; ++i)
                f->stepOnce();
            shown = shownPicture(fresh, full);
        }
    }
    c331_manage::p_c331_manage = running;
    if (bus)
        bus->attach("/dev/spidev32766.0", &chip);
    return shown;
}

}  // namespace zeltest
