#include "platform/mtd.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace platform {

namespace {
std::string backingFile(const std::string& devicePath)
{
    std::string name = devicePath.substr(devicePath.find_last_of('/') + 1);
    return "/var/sim/mtd/" + name + ".bin";
}
}  // namespace

SimMtdBus::SimMtdBus()
{
    // The two firmware partitions that file transfers write.
    declare("/dev/mtd8", MtdInfo{0x60000, 0x10000, 1});
    declare("/dev/mtd10", MtdInfo{0x500000, 0x10000, 1});
}

void SimMtdBus::declare(const std::string& devicePath, MtdInfo geometry)
{
    std::lock_guard<std::mutex> lock(m_);
    Device& d = devices_[devicePath];
    d = Device{};
    d.info = geometry;
    d.file = backingFile(devicePath);
}

SimMtdBus::~SimMtdBus()
{
    for (auto& d : devices_)
        flush(d.second);
}

std::vector<uint8_t>& SimMtdBus::bytes(Device& d) const
{
    if (!d.loaded) {
        d.data.assign(d.info.size, 0xFF);
        std::ifstream f(rootPath(d.file), std::ios::binary);
        if (f)
            f.read(reinterpret_cast<char*>(d.data.data()), static_cast<std::streamsize>(d.data.size()));
        d.loaded = true;
    }
    return d.data;
}

void SimMtdBus::flush(Device& d) const
{
    if (!d.dirty)
        return;
    makeParentDirs(d.file);
    std::ofstream f(rootPath(d.file), std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(d.data.data()), static_cast<std::streamsize>(d.data.size()));
    d.dirty = false;
}

SimMtdBus::Device* SimMtdBus::deviceFor(int fd)
{
    auto it = open_.find(fd);
    if (it == open_.end())
        return nullptr;
    auto d = devices_.find(it->second);
    return d == devices_.end() ? nullptr : &d->second;
}

int SimMtdBus::open(const std::string& devicePath)
{
    std::lock_guard<std::mutex> lock(m_);
    if (!devices_.count(devicePath))
        return -1;
    int fd = next_++;
    open_[fd] = devicePath;
    return fd;
}

int SimMtdBus::close(int fd)
{
    std::lock_guard<std::mutex> lock(m_);
    Device* d = deviceFor(fd);
    if (!d)
        return -1;
    flush(*d);
    open_.erase(fd);
    return 0;
}

int SimMtdBus::openCount() const
{
    std::lock_guard<std::mutex> lock(m_);
    return static_cast<int>(open_.size());
}

int SimMtdBus::getInfo(int fd, MtdInfo& info)
{
    std::lock_guard<std::mutex> lock(m_);
    Device* d = deviceFor(fd);
    if (!d || failGetInfo_)
        return -1;
    info = d->info;
    return 0;
}

int SimMtdBus::unlock(int fd, uint32_t, uint32_t)
{
    std::lock_guard<std::mutex> lock(m_);
    return deviceFor(fd) ? 0 : -1;
}

int SimMtdBus::erase(int fd, uint32_t start, uint32_t length)
{
    std::lock_guard<std::mutex> lock(m_);
    Device* d = deviceFor(fd);
    if (!d || failErase_ || d->info.erasesize == 0)
        return -1;
    // Like the kernel: whole, aligned erase blocks inside the device only.
    if (start % d->info.erasesize || length % d->info.erasesize ||
        static_cast<uint64_t>(start) + length > d->info.size)
        return -1;
    std::vector<uint8_t>& data = bytes(*d);
    std::fill(data.begin() + start, data.begin() + start + length, 0xFF);
    d->dirty = true;
    d->erases.emplace_back(start, length);
    return 0;
}

long SimMtdBus::pwrite(int fd, const void* buf, size_t len, uint32_t offset)
{
    std::lock_guard<std::mutex> lock(m_);
    Device* d = deviceFor(fd);
    if (!d || offset >= d->info.size)
        return -1;
    size_t n = std::min<size_t>(len, d->info.size - offset);
    std::vector<uint8_t>& data = bytes(*d);
    const auto* src = static_cast<const uint8_t*>(buf);
    for (size_t i = 0; i < n; ++i)
        data[offset + i] &= src[i];  // programming only clears bits
    d->dirty = true;
    return static_cast<long>(n);
}

long SimMtdBus::pread(int fd, void* buf, size_t len, uint32_t offset)
{
    std::lock_guard<std::mutex> lock(m_);
    Device* d = deviceFor(fd);
    if (!d || offset >= d->info.size)
        return d ? 0 : -1;
    size_t n = std::min<size_t>(len, d->info.size - offset);
    std::memcpy(buf, bytes(*d).data() + offset, n);
    return static_cast<long>(n);
}

std::vector<std::pair<uint32_t, uint32_t>> SimMtdBus::eraseLog(const std::string& devicePath) const
{
    std::lock_guard<std::mutex> lock(m_);
    auto it = devices_.find(devicePath);
    return it == devices_.end() ? std::vector<std::pair<uint32_t, uint32_t>>{} : it->second.erases;
}

std::vector<uint8_t> SimMtdBus::contents(const std::string& devicePath) const
{
    std::lock_guard<std::mutex> lock(m_);
    auto it = devices_.find(devicePath);
    return it == devices_.end() ? std::vector<uint8_t>{} : bytes(const_cast<Device&>(it->second));
}

}  // namespace platform
