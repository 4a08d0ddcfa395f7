// A window of the video engine laid over output channels, as the output layout leaves it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <iterator>

#include "engine/c331_manage.h"

namespace zeltest {

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
