#include "platform/file_sync.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
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
    std::string top;                          // the real root folder
    std::map<std::string, Content> durable;   // real path -> content a power cut keeps
    std::map<std::string, Content> synced;    // data synced, name not yet durable
};

std::mutex g_mutex;
PowerCutModel g_model;

Content readAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Content(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Regular files under `dir`, recursively (real paths).
void listFiles(const std::string& dir, bool recursive, std::set<std::string>& out)
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
        if (S_ISREG(st.st_mode))
            out.insert(path);
        else if (recursive && S_ISDIR(st.st_mode))
            listFiles(path, true, out);
    }
    ::closedir(d);
}

void snapshot(PowerCutModel& m)
{
    m.durable.clear();
    m.synced.clear();
    std::set<std::string> files;
    listFiles(m.top, true, files);
    for (const std::string& f : files)
        m.durable[f] = readAll(f);
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

bool syncFile(int fd, const std::string& path)
{
    if (::fsync(fd) != 0)
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
    if (::rename(from.c_str(), to.c_str()) != 0)
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
    std::set<std::string> names;
    listFiles(dir, false, names);
    for (auto it = m.durable.begin(); it != m.durable.end();)
        it = (parentOf(it->first) == dir && !names.count(it->first)) ? m.durable.erase(it) : std::next(it);
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

void cutPower()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    PowerCutModel& m = g_model;
    if (!m.watching)
        return;
    std::set<std::string> files;
    listFiles(m.top, true, files);
    for (const std::string& f : files)
        if (!m.durable.count(f))
            ::unlink(f.c_str());
    for (const auto& [path, content] : m.durable) {
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
