// Things that may sit in the place of a file the box reads and that it cannot use, and a deadline
// for a reader that must not wait on them.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>

#include "core/alerts.h"
#include "platform/platform.h"

namespace unusable {

enum class Kind { Folder, Fifo, LinkLoop };
constexpr Kind kKinds[] = {Kind::Folder, Kind::Fifo, Kind::LinkLoop};

inline const char* name(Kind k) { return k == Kind::Folder ? "a folder" : k == Kind::Fifo ? "a FIFO" : "a link to itself"; }

// Puts one in place of a system path under the current root (replacing what was there).
inline void make(Kind k, const std::string& systemPath)
{
    const std::filesystem::path p = platform::rootPath(systemPath);
    std::filesystem::create_directories(p.parent_path());
    std::filesystem::remove_all(p);
    if (k == Kind::Folder) {
        std::filesystem::create_directory(p);
        std::ofstream(p / "inside") << "x";
    } else if (k == Kind::Fifo) {
        ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0);
    } else {
        std::filesystem::create_symlink(p.filename(), p);
    }
}

// Removes the copies earlier set-asides kept of a system path ("<name>.bad", "<name>.bad.<n>"), so
// that the next one is the first again.
inline void forgetCopies(const std::string& systemPath)
{
    const std::filesystem::path p = platform::rootPath(systemPath);
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(p.parent_path(), ec))
        if (e.path().filename().string().rfind(p.filename().string() + ".bad", 0) == 0)
            std::filesystem::remove_all(e.path(), ec);
}

// True when what sits at a system path is of that kind.
inline bool is(Kind k, const std::string& systemPath)
{
    const auto s = std::filesystem::symlink_status(platform::rootPath(systemPath));
    return k == Kind::Folder ? std::filesystem::is_directory(s)
                             : k == Kind::Fifo ? std::filesystem::is_fifo(s) : std::filesystem::is_symlink(s);
}

// Runs `read`; false when it has not returned within 10 seconds (a FIFO at `systemPath` it waits
// on is then given a writer that closes at once, so the test goes on).
inline bool returnsInTime(const std::function<void()>& read, const std::string& systemPath)
{
    auto done = std::async(std::launch::async, read);
    if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready)
        return true;
    const int fd = ::open(platform::rootPath(systemPath).c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0)
        ::close(fd);
    done.wait();
    return false;
}

// The line a reader prints for an unusable file: one, naming the file where the user finds it.
inline void expectOneLineFor(const std::string& err, const std::string& systemPath, const std::string& row)
{
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << row << ": " << err;
    EXPECT_NE(err.find(platform::rootPath(systemPath) + " "), std::string::npos) << row << ": " << err;
    EXPECT_NE(err.find(platform::rootPath(systemPath) + ".bad"), std::string::npos) << row << ": " << err;
    EXPECT_TRUE(alerts::active_for(alerts::kFileReplaced, systemPath)) << row;
}

}  // namespace unusable
