#include "core/file_store.h"

#include "core/utils.h"
#include "platform/platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace filestore {

std::function<bool(const std::string&)> before_rename;

namespace {

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

void sync_parent_dir(const std::string& path)
{
    std::string::size_type slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

int write_atomic(const std::string& systemPath, const unsigned char* data, size_t length)
{
    platform::makeParentDirs(systemPath);
    const std::string path = platform::rootPath(systemPath);
    const std::string temp = path + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return 255;
    bool ok = write_all(fd, data, length) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        ::unlink(temp.c_str());
        return 255;
    }
    if (before_rename && !before_rename(temp))
        return 255;
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return 255;
    }
    sync_parent_dir(path);
    return 0;
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
