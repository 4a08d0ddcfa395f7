// The simulated board's two output FPGAs and their receiving cards, with the FPGA manager driven
// pass by pass on the tick counter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <utility>

#include "core/global.h"
#include "ledout/fpga_manage.h"
#include "sim/card_port_engine.h"
#include "sim/fpga_model.h"
#include "sim/sim_config.h"

namespace zeltest {

// Runs the manager one pass a tick until `done` holds; false when it still does not after `passes`.
template <class Done>
bool runFpgaUntil(fpga_manage* fpga, Done done, int passes = 20000)
{
    for (int k = 0; k < passes; ++k) {
        if (done())
            return true;
        G_timeTicks += 1;
        fpga->fpga_manage_deal(fpga);
    }
    return done();
}

// A manager of its own, with FPGAs not yet brought up, on this test's board: one made earlier in
// the test is stopped and deleted.
inline fpga_manage* freshFpgaManager()
{
    delete fpga_manage::p_fpga_manage;
    fpga_manage::p_fpga_manage = nullptr;
    return fpga_manage::pInstance();
}

// Both simulated FPGAs up, as the manager's thread brings them up.
inline fpga_manage* bringUpFpgas()
{
    sim::attachFpgas();
    fpga_manage* fpga = fpga_manage::pInstance();
    // Its lines from the board of the test's root, even when it was made before that root.
    fpga->initialize();
    fpga->softinit();
    runFpgaUntil(fpga, [fpga] { return fpga->get_fpga_status() == 1; });
    return fpga;
}

// The FPGA's log since it was last cleared holds a write that shows the LED screen: register 0
// with bit 2 in the mask and clear in the value (the command word: byte 0 access and read bit,
// byte 2 register, byte 3 mask).
inline bool screenShown(const sim::SimFpga& fpga)
{
    for (const auto& a : fpga.log())
        if (a.word[0] == 0x04 && a.word[2] == 0 && (a.word[3] & 0x04) && !a.data.empty() && !(a.data[0] & 0x04))
            return true;
    return false;
}

// The board's receiving cards: n cards on each listed (port, n), none on the other ports.
inline void plugCards(std::initializer_list<std::pair<int, int>> cards)
{
    sim::SimConfig c = sim::config();
    c.cardsPerPort = {};
    for (auto& [port, n] : cards)
        c.cardsPerPort[static_cast<size_t>(port)] = static_cast<uint16_t>(n);
    sim::setConfig(c);
    sim::attachCardChains();
}

}  // namespace zeltest
