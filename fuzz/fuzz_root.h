// The private root directory a fuzz target's simulated board lives in, removed at exit.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "core/global.h"

namespace fuzzroot {

inline std::string& root()
{
    static std::string path;
    return path;
}

inline void removeRoot()
{
    std::error_code ec;
    std::filesystem::remove_all(root(), ec);
}

// A new root below `folder` named after `prefix`, the simulated board selected, diagnostics off.
inline void makeRoot(const std::filesystem::path& folder, const char* prefix)
{
    std::string path = (folder / (std::string(prefix) + "-XXXXXX")).string();
    if (!mkdtemp(path.data()))
        abort();
    root() = path;
    std::atexit(removeRoot);
    setenv("ZEL_BOARD", "sim", 1);
    setenv("ZEL_ROOT", path.c_str(), 1);
    g_debugSwitch = 0;
}

}  // namespace fuzzroot
