#include "platform/file_sync.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>

#include "platform/platform.h"

namespace platform::files {

namespace {

using Content = std::string;

struct PowerCutModel {
    bool watching = false;
    bool failDirSync = false;
    DiskFull full;                            // faults still to come
    std::string top;                          // the real root folder
    std::map<std::string, Content> durable;   // real path -> content a power cut keeps
    std::map<std::string, Content> synced;    // data synced, name not yet durable
    std::set<std::string> dirs;               // folders whose names are durable (real paths)
};

std::mutex g_mutex;
PowerCutModel g_model;

Content readAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Content(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Regular files and folders under `dir`, recursively or not (real paths).
void list(const std::string& dir, bool recursive, std::set<std::string>& files, std::set<std::string>& folders)
{
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = dir + "/" + name;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0)
            continue;
        if (S_ISREG(st.st_mode)) {
            files.insert(path);
        } else if (S_ISDIR(st.st_mode)) {
            folders.insert(path);
            if (recursive)
                list(path, true, files, folders);
        }
    }
    ::closedir(d);
}

void listFiles(const std::string& dir, bool recursive, std::set<std::string>& out)
{
    std::set<std::string> folders;
    list(dir, recursive, out, folders);
}

const std::string& key(const std::string& s) { return s; }
template <class V>
const std::string& key(const std::pair<const std::string, V>& p) { return p.first; }

bool inside(const std::string& path, const std::string& folder)
{
    return path.compare(0, folder.size() + 1, folder + "/") == 0;
}

template <class Container>
void eraseInside(Container& c, const std::string& folder)
{
    for (auto it = c.lower_bound(folder + "/"); it != c.end() && inside(key(*it), folder);)
        it = c.erase(it);
}

void snapshot(PowerCutModel& m)
{
    m.durable.clear();
    m.synced.clear();
    m.dirs.clear();
    std::set<std::string> files;
    list(m.top, true, files, m.dirs);
    for (const std::string& f : files)
        m.durable[f] = readAll(f);
}

// Removes the folders whose names never became durable, with all they hold, and brings back the
// durable ones that were removed.
void cutFolders(PowerCutModel& m)
{
    std::set<std::string> files, folders;
    list(m.top, true, files, folders);
    for (const std::string& f : folders) {
        if (m.dirs.count(f))
            continue;
        std::error_code ec;
        std::filesystem::remove_all(f, ec);   // the folders listed inside it are gone with it
        eraseInside(m.dirs, f);
        eraseInside(m.durable, f);
    }
    for (const std::string& f : m.dirs) {
        std::error_code ec;
        std::filesystem::create_directories(f, ec);
    }
}

// What a power cut leaves of durable file `path` whose durable content is `content`.
Content afterCut(const PowerCutModel& m, const std::string& path, const Content& content, InPlace inPlace)
{
    if (inPlace == InPlace::RollBack || ::access(path.c_str(), F_OK) != 0)
        return content;
    const Content now = readAll(path);
    auto s = m.synced.find(path);
    const bool renamedInPlace = s != m.synced.end() && s->second == now;
    if (now == content || renamedInPlace)
        return content;
    return now.substr(0, now.size() / 2);
}

bool underTop(const PowerCutModel& m, const std::string& path)
{
    return m.watching && path.compare(0, m.top.size() + 1, m.top + "/") == 0;
}

}  // namespace

std::string parentOf(const std::string& path)
{
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

namespace {

// Takes one fault of `count` to come: true when this step fails as on a full disk.
bool takeFault(int DiskFull::*count)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_model.full.*count <= 0)
        return false;
    --(g_model.full.*count);
    errno = ENOSPC;
    return true;
}

}  // namespace

bool writeAll(int fd, const void* data, size_t length)
{
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            if (g_model.full.bytes > 0) {
                g_model.full.bytes -= std::min(g_model.full.bytes, length);
                errno = ENOSPC;
                return false;
            }
        }
        const ssize_t n = ::write(fd, p, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        p += n;
        length -= size_t(n);
    }
    return true;
}

bool closeWritten(int fd)
{
    const bool closed = ::close(fd) == 0;
    return !takeFault(&DiskFull::flushes) && closed;
}

bool syncFile(int fd, const std::string& path)
{
    if (takeFault(&DiskFull::syncs) || ::fsync(fd) != 0)
        return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (underTop(g_model, path)) {
        Content now = readAll(path);
        g_model.synced[path] = now;
        auto it = g_model.durable.find(path);
        if (it != g_model.durable.end())
            it->second = now;   // the name was durable already: the new data is too
    }
    return true;
}

bool rename(const std::string& from, const std::string& to)
{
    if (takeFault(&DiskFull::renames) || ::rename(from.c_str(), to.c_str()) != 0)
        return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (underTop(g_model, to)) {
        auto it = g_model.synced.find(from);
        if (it != g_model.synced.end()) {
            g_model.synced[to] = it->second;
            g_model.synced.erase(from);
        } else {
            g_model.synced.erase(to);
        }
    }
    return true;
}

bool syncDir(const std::string& dir)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_model.failDirSync)
            return false;
    }
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    if (!ok)
        return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    PowerCutModel& m = g_model;
    if (!m.watching || (dir != m.top && !underTop(m, dir)))
        return true;
    std::set<std::string> names, folders;
    list(dir, false, names, folders);
    for (auto it = m.durable.begin(); it != m.durable.end();)
        it = (parentOf(it->first) == dir && !names.count(it->first)) ? m.durable.erase(it) : std::next(it);
    for (auto it = m.dirs.begin(); it != m.dirs.end();)
        it = (parentOf(*it) == dir && !folders.count(*it)) ? m.dirs.erase(it) : std::next(it);
    m.dirs.insert(folders.begin(), folders.end());
    for (const std::string& f : names) {
        auto s = m.synced.find(f);
        if (s != m.synced.end())
            m.durable[f] = s->second;
        else if (!m.durable.count(f))
            m.durable[f] = Content();   // the name made it, its data did not
    }
    return true;
}

void failDirSyncs(bool fail)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_model.failDirSync = fail;
}

void failAsFull(const DiskFull& full)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_model.full = full;
}

bool watchPowerCuts()
{
    if (!board().simulated() || root().empty())
        return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_model.watching = true;
    g_model.top = root();
    snapshot(g_model);
    return true;
}

void cutPower(InPlace inPlace)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    PowerCutModel& m = g_model;
    if (!m.watching)
        return;
    cutFolders(m);
    std::set<std::string> files;
    listFiles(m.top, true, files);
    for (const std::string& f : files)
        if (!m.durable.count(f))
            ::unlink(f.c_str());
    for (auto& [path, content] : m.durable) {
        content = afterCut(m, path, content, inPlace);
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(content.data(), std::streamsize(content.size()));
    }
    m.synced.clear();
}

void stopWatching()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_model = PowerCutModel();
}

}  // namespace platform::files
