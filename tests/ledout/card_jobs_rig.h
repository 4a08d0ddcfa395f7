// The FPGA manager on a simulated board with receiving cards, for the receiving-card jobs: the
// cards' time runs on the tick counter, progress is collected, jobs are started as the pages do.
#pragma once

#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "fpga_rig.h"

#include "ledout/card_job_report.h"
#include "sim/card_chain.h"
#include "sim/card_port_engine.h"
#include "sim/sim_clock.h"
#include "sim/sim_config.h"

namespace fpgatest {

struct JobRig : Rig {
    std::vector<int> progress;

    explicit JobRig(std::initializer_list<std::pair<int, int>> cards)
    {
        sim::setTickSource([] { return G_timeTicks.load(); });
        plugCards(cards);
        cardjobs::setProgressSpy([this](cardjobs::Page, int v) { progress.push_back(v); });
    }
    ~JobRig()
    {
        cardjobs::setProgressSpy(nullptr);
        sim::setTickSource(nullptr);
    }

    // Brought up, and every port's cards counted by the background search.
    bool ready()
    {
        if (!bringUp())
            return false;
        pass(3 * 81);
        return true;
    }
    // As a page starts a job: inputs first, then the job word (code, state 0).
    void start(uint8_t job) { fpga_manage::set_job(job, 0); }
    bool running() const { return (fpga_manage::job_word() & 0xFF) != 0; }
    // Passes until the job clears its code; false when it is still running after `limit` ticks.
    bool runJob(int limit = 20000) { return passUntil([this] { return !running(); }, limit); }
    uint8_t state() const { return g_send_para[1]; }
    int last() const { return progress.empty() ? -1 : progress.back(); }

    // Packets a port received with command `cmd` (any when cmd < 0).
    static std::vector<sim::Packet> packets(int port, int cmd = -1)
    {
        std::vector<sim::Packet> out;
        for (auto& p : sim::cardChain().received(port))
            if (cmd < 0 || (p.size() > 9 && p[9] == cmd))
                out.push_back(p);
        return out;
    }
};

}  // namespace fpgatest
