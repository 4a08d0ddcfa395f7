// A private root for a benchmark program on the simulated board, removed when the program ends.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

class BenchRoot {
public:
    BenchRoot()
    {
        path_ = (std::filesystem::temp_directory_path() / "zel-bench-XXXXXX").string();
        if (!mkdtemp(path_.data())) {
            path_.clear();
            return;
        }
        setenv("ZEL_BOARD", "sim", 1);
        setenv("ZEL_ROOT", path_.c_str(), 1);
    }
    ~BenchRoot()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    bool ok() const { return !path_.empty(); }

    BenchRoot(const BenchRoot&) = delete;
    BenchRoot& operator=(const BenchRoot&) = delete;

private:
    std::string path_;
};
