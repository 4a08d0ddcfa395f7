// The video engine as tests drive it: on the simulated chip attached last, stepped by the test
// (no worker thread), its windows laid over output channels.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <iterator>

#include "engine/c331_manage.h"

namespace zeltest {

// A new engine, made the current one, whose sleeps return at once; the caller initializes it.
inline c331_manage* newEngine()
{
    delete c331_manage::p_c331_manage;   // one made earlier in the test, with its thread stopped
    auto* e = new c331_manage();
    c331_manage::p_c331_manage = e;
    e->usleepFn = [](unsigned) {};
    return e;
}

// Runs worker rounds until the bring-up is done (at most 50); true when it is.
inline bool bringUpEngine(c331_manage* e)
{
    for (int i = 0; i < 50 && e->c331_setup_state < c331_manage::kSetupDone; ++i)
        e->stepOnce();
    return e->c331_setup_state == c331_manage::kSetupDone;
}

// Window `wi` shown in one row over output channels `och`; the other channel slots empty.
inline void spanOutputs(ST_WIN_INFO& wi, std::initializer_list<uint8_t> och)
{
    wi.enable = 1;
    wi.columns = static_cast<uint8_t>(och.size());
    wi.rows = 1;
    std::fill(std::begin(wi.ochLst), std::end(wi.ochLst), 0xFF);
    std::copy(och.begin(), och.end(), wi.ochLst);
}

}  // namespace zeltest
