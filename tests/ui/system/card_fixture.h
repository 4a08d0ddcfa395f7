// The settings menu's fixture with both simulated FPGAs up and receiving cards on chosen ports,
// the FPGA manager driven pass by pass on the tick counter, and the GUI thread taking the jobs'
// reports as they come.
#pragma once

#include <QCoreApplication>

#include <initializer_list>
#include <thread>
#include <utility>

#include "ledout/fpga_manage.h"
#include "sim/card_chain.h"
#include "sim/card_port_engine.h"
#include "sim/sim_clock.h"
#include "sim/sim_config.h"
#include "system_fixture.h"

class CardPageTest : public SystemPageTest {
protected:
    void TearDown() override
    {
        sim::setTickSource(nullptr);
        SystemPageTest::TearDown();
    }

    // Cards on ports (port, count); both FPGAs up and every port's cards counted.
    void withCards(std::initializer_list<std::pair<int, int>> cards)
    {
        sim::setTickSource([] { return G_timeTicks.load(); });
        fpga = zeltest::bringUpFpgas();
        zeltest::plugCards(cards);
        passes(3 * 81);   // the background search counts every port's cards
    }

    void passes(int n)
    {
        for (int k = 0; k < n; ++k) {
            G_timeTicks += 1;
            fpga->fpga_manage_deal(fpga);
        }
    }

    static bool jobRunning() { return (fpga_manage::job_word() & 0xFF) != 0; }

    // Runs the job to its end, with the GUI thread taking the reports as they come.
    bool runJob(int limit = 20000)
    {
        for (int k = 0; k < limit && jobRunning(); ++k) {
            passes(1);
            QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
        return !jobRunning();
    }

    // A report made on another thread (the LED output's or a link's), taken by the GUI thread.
    template <class F>
    static void fromOtherThread(F f)
    {
        std::thread t(f);
        t.join();
        QCoreApplication::processEvents();
    }

    fpga_manage* fpga = nullptr;
};
