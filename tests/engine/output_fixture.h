// Windows committed through the parameter image on a brought-up engine with 1080p60 on HDMI1
// and HDMI2: the helpers the output-side tests share.
#pragma once

#include <algorithm>
#include <vector>

#include "engine_fixture.h"
#include "sim/video_chip_decode.h"
#include "support/video_input.h"

inline constexpr int kHdmi1 = 2, kHdmi2 = 3, kHdmi3 = 4;   // inputs
inline constexpr int kPortHdmi1 = 1;

class OutputTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        feed(kHdmi1);
        feed(kHdmi2);
        bringUp();
        settle();
        chip.clearLog();
    }

    void feed(int input) { zeltest::feedVideo(input, 1920, 1080, 60); }

    void setWindow(int w, int x, int y, int width, int height, int source, int state = 1)
    {
        const unsigned r = ramaddr::window(unsigned(w));
        setWord(r + ramaddr::kWinState, uint16_t(state));
        setWord(r + ramaddr::kWinX, uint16_t(x));
        setWord(r + ramaddr::kWinY, uint16_t(y));
        setWord(r + ramaddr::kWinWidth, uint16_t(width));
        setWord(r + ramaddr::kWinHeight, uint16_t(height));
        setWord(r + ramaddr::kWinSource, uint16_t(source));
    }

    void panel(int width, int height, int splice)
    {
        setWord(ramaddr::kLedWidth, uint16_t(width));
        setWord(ramaddr::kLedHeight, uint16_t(height));
        setWord(ramaddr::kOutputArea + 4, uint16_t(width));
        setWord(ramaddr::kOutputArea + 6, uint16_t(height));
        setWord(ramaddr::kSpliceMode, uint16_t(splice));
    }

    // Commits, then lets the input tracking of the following passes settle.
    void settle()
    {
        commitAndPass();
        model->refresh_shadow();
        e->stepOnce();
        e->stepOnce();
    }

    std::vector<int> gridOf(int w) const
    {
        int och[8];
        e->get_och(w, och);
        std::vector<int> out;
        for (int k = 0; k < e->win_info[w].columns * e->win_info[w].rows; ++k)
            out.push_back(och[k]);
        return out;
    }
    uint32_t ochReg(int c, uint8_t addr, int n = 2) const { return chip.regValue(bank(0x08, c), addr, n); }
    size_t countWrites(uint8_t b, uint8_t a, uint8_t v) const
    {
        const auto all = chip.writesTo(b, a);
        return size_t(std::count(all.begin(), all.end(), v));
    }
    size_t freezeWrites() const
    {
        size_t n = 0;
        for (int i = 0; i < 8; ++i)
            n += countWrites(bank(0x10, i), 0x09, 2);
        return n;
    }
    size_t fadeSteps() const { return countWrites(0x00, 0x22, 169); }
    sim::DecodedChannel decoded(int och) const { return sim::decodeOutputs(chip).at(size_t(och)); }
};

