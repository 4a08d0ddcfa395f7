// A simulated board with both FPGAs and their flash, and the FPGA manager on it, driven pass by
// pass on the tick counter.
#pragma once

#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

#include "core/global.h"
#include "core/zelrampara.h"
#include "ledout/fpga_manage.h"
#include "ledout/fpga_para.h"
#include "sim/card_port_engine.h"
#include "sim/fpga_model.h"
#include "sim/sim_config.h"
#include "support/fpga_board.h"
#include "support/test_root.h"

namespace fpgatest {

using zeltest::plugCards;

struct Rig {
    zeltest::TempRoot root;
    sim::FpgaBoard& board;
    fpga_manage* m;
    std::vector<int> codes;

    Rig() : board(sim::attachFpgas()), m(fpga_manage::pInstance())
    {
        ZelRamPara::pInstance();
        m->softinit();
        ledpara::setSignalSpy([this](int code) { codes.push_back(code); });
    }
    ~Rig() { ledpara::setSignalSpy(nullptr); }

    sim::SimFpga& fpga(int i) { return *board.fpga[i]; }
    sim::SimSerialFlash& flash(int device) { return *board.flash[device == 2 ? 0 : 1]; }

    // One tick, one pass.
    void pass(int n = 1)
    {
        for (int k = 0; k < n; ++k) {
            G_timeTicks += 1;
            m->fpga_manage_deal(m);
        }
    }
    // Passes (one per tick) until the condition holds; false after `limit` ticks.
    bool passUntil(const std::function<bool()>& done, int limit = 5000)
    {
        for (int k = 0; k < limit; ++k) {
            if (done())
                return true;
            pass();
        }
        return done();
    }
    bool bringUp() { return passUntil([this] { return m->get_fpga_status() == 1; }); }
    int count(int code) const
    {
        int n = 0;
        for (int c : codes)
            n += c == code;
        return n;
    }
};

}  // namespace fpgatest
