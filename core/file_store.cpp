#include "core/file_store.h"

#include "core/utils.h"
#include "platform/file_sync.h"
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace filestore {

std::function<bool(const std::string&)> before_rename;

namespace {

constexpr const char kTempSuffix[] = ".tmp";
constexpr const char kDataDir[] = "/data";
constexpr const char kProbeFile[] = "/data/.write_probe";

// The folders the system writes its files into.
constexpr const char* kDataFolders[] = {
    "/data", "/data/modes", "/data/configs", "/data/rcvrecovery", "/data/smartmapping", "/data/app",
};

bool write_all(int fd, const unsigned char* data, size_t length)
{
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// Makes the missing folders above real path `path`, each synced into its parent so that a power
// cut keeps it (and what is written into it); false when one cannot be made or synced.
bool make_folders(const std::string& path)
{
    const std::string dir = platform::files::parentOf(path);
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    if (!make_folders(dir))
        return false;
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    return platform::files::syncDir(platform::files::parentOf(dir));
}

}  // namespace

std::string temp_path(const std::string& path)
{
    const std::string::size_type slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + "." + name + kTempSuffix;
}

bool is_temp_name(const std::string& name)
{
    const size_t n = sizeof kTempSuffix - 1;
    return name.size() > n + 1 && name[0] == '.' && name.compare(name.size() - n, n, kTempSuffix) == 0;
}

int write_atomic(const std::string& systemPath, const unsigned char* data, size_t length, mode_t mode)
{
    const std::string path = platform::rootPath(systemPath);
    if (!make_folders(path))
        return 255;
    const std::string temp = temp_path(path);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return 255;
    bool ok = write_all(fd, data, length) && platform::files::syncFile(fd, temp);
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        ::unlink(temp.c_str());
        return 255;
    }
    if (before_rename && !before_rename(temp))
        return 255;
    if (!platform::files::rename(temp, path)) {
        ::unlink(temp.c_str());
        return 255;
    }
    // Until the folder is synced the rename itself may be lost.
    return platform::files::syncDir(platform::files::parentOf(path)) ? 0 : 255;
}

int remove_stale_temps()
{
    int removed = 0;
    for (const char* folder : kDataFolders) {
        const std::string dir = platform::rootPath(folder);
        DIR* d = ::opendir(dir.c_str());
        if (!d)
            continue;
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (is_temp_name(name) && ::unlink((dir + "/" + name).c_str()) == 0)
                ++removed;
        }
        ::closedir(d);
    }
    return removed;
}

bool data_writable()
{
    static const unsigned char probe[] = {'o', 'k'};
    if (write_atomic(kProbeFile, probe, sizeof probe) != 0)
        return false;
    ::unlink(platform::rootPath(kProbeFile).c_str());
    platform::files::syncDir(platform::rootPath(kDataDir));
    return true;
}

long read_file(const std::string& systemPath, unsigned char* out, size_t capacity)
{
    FILE* f = std::fopen(platform::rootPath(systemPath).c_str(), "rb");
    if (!f)
        return -1;
    size_t n = std::fread(out, 1, capacity, f);
    std::fclose(f);
    return static_cast<long>(n);
}

void settle_us(unsigned int usec)
{
    if (!platform::isSim())
        ::usleep(usec);
}

void sync_and_settle(unsigned int usec)
{
    Utils::system_mutex(QStringLiteral("sync"));
    settle_us(usec);
}

}  // namespace filestore
