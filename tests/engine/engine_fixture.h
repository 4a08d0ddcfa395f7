// A video engine on a fresh simulated board with the simulated video chip, driven step by step
// (no worker thread, sleeps return at once).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/ram_layout.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "links/message_deal.h"
#include "sim/video_chip.h"
#include "support/test_root.h"
#include "support/video_engine.h"

// Bank of channel ch's register block, whose channel 0 lies in bank `base`.
constexpr uint8_t bank(uint8_t base, int ch) { return static_cast<uint8_t>(base + 16 * ch); }

class EngineTest : public ::testing::Test {
protected:
    zeltest::TempRoot root;
    sim::VideoChipModel& chip = sim::attachVideoChip();
    ZelRamPara* model = ZelRamPara::pInstance();
    c331_manage* e = nullptr;

    void SetUp() override
    {
        e = zeltest::newEngine();
        e->usleepFn = [this](unsigned us) { sleeps.push_back(us); };
        ASSERT_EQ(e->initialize(false), 0);
    }

    // Runs worker rounds until the bring-up is done (bounded).
    void bringUp()
    {
        ASSERT_TRUE(zeltest::bringUpEngine(e));
        model->refresh_shadow();
    }

    uint16_t imageWord(unsigned addr) const { return ram_get_u16(model->ram_para, addr); }
    void setWord(unsigned addr, uint16_t v) { ram_set_u16(model->ram_para, addr, v); }

    // Crop table entry k of the image: valid, of `input`, the rectangle x, y, w x h.
    void writeCropEntry(unsigned k, uint8_t input, uint16_t x, uint16_t y, uint16_t w, uint16_t h)
    {
        const unsigned a = ramaddr::cropEntry(k);
        model->ram_para[a] = static_cast<uint8_t>(ramaddr::kCropValid | input);
        setWord(a + 2, x);
        setWord(a + 4, y);
        setWord(a + 6, w);
        setWord(a + 8, h);
    }

    // Commits what the test wrote into the image and runs one pass.
    void commitAndPass(uint8_t flag = 1)
    {
        e->para_chg_flag = flag;
        e->stepOnce();
    }

    uint8_t& imageRegStatusByte(int i) { return model->reg_status[i]; }

    std::vector<unsigned> sleeps;
};

// Runs one command body of the links' protocol through the command processor as a PC would send
// it; the reply, cut to the length the processor reported.
inline std::vector<uint8_t> linkReply(uint8_t group, const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> b = {0x00, 0xF0, 0x10, 0xF0, 0x10, 0x67, 0x00, 0x00, 0x00, group};
    b.insert(b.end(), payload.begin(), payload.end());
    uint8_t x = 0;
    for (uint8_t v : b)
        x ^= v;
    b.push_back(x);
    std::vector<uint8_t> reply(message_deal::kMaxReplyBody);
    const unsigned n =
        message_deal::message_group_deal(b.data(), unsigned(b.size()), reply.data(), unsigned(reply.size()));
    reply.resize(std::min<size_t>(n, reply.size()));
    return reply;
}
