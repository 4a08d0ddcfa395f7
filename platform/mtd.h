// MTD flash character devices: MEMGETINFO, MEMUNLOCK, MEMERASE and positioned writes.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

struct MtdInfo {
    uint32_t size = 0;
    uint32_t erasesize = 0;
    uint32_t writesize = 0;
};

class MtdBus {
public:
    virtual ~MtdBus() = default;
    virtual int open(const std::string& devicePath) = 0;  // read-write, synchronous; -1 on failure
    virtual int close(int fd) = 0;
    virtual int getInfo(int fd, MtdInfo& info) = 0;                // 0 or -1
    virtual int unlock(int fd, uint32_t start, uint32_t length) = 0;  // 0 or -1
    virtual int erase(int fd, uint32_t start, uint32_t length) = 0;   // 0 or -1
    virtual long pwrite(int fd, const void* buf, size_t len, uint32_t offset) = 0;
    virtual long pread(int fd, void* buf, size_t len, uint32_t offset) = 0;
};

class LinuxMtdBus : public MtdBus {
public:
    int open(const std::string& devicePath) override;
    int close(int fd) override;
    int getInfo(int fd, MtdInfo& info) override;
    int unlock(int fd, uint32_t start, uint32_t length) override;
    int erase(int fd, uint32_t start, uint32_t length) override;
    long pwrite(int fd, const void* buf, size_t len, uint32_t offset) override;
    long pread(int fd, void* buf, size_t len, uint32_t offset) override;
};

// File-backed flash under the root: erase sets 0xFF, a write can only clear bits (so a missing
// erase shows in the contents). Devices are declared with their geometry; an undeclared path
// does not open.
class SimMtdBus : public MtdBus {
public:
    SimMtdBus();
    ~SimMtdBus() override;
    void declare(const std::string& devicePath, MtdInfo geometry);
    // Fault injection for tests.
    void setFailGetInfo(bool fail) { failGetInfo_ = fail; }
    void setFailErase(bool fail) { failErase_ = fail; }
    std::vector<std::pair<uint32_t, uint32_t>> eraseLog(const std::string& devicePath) const;
    std::vector<uint8_t> contents(const std::string& devicePath) const;
    int openCount() const;

    int open(const std::string& devicePath) override;
    int close(int fd) override;
    int getInfo(int fd, MtdInfo& info) override;
    int unlock(int fd, uint32_t start, uint32_t length) override;
    int erase(int fd, uint32_t start, uint32_t length) override;
    long pwrite(int fd, const void* buf, size_t len, uint32_t offset) override;
    long pread(int fd, void* buf, size_t len, uint32_t offset) override;

private:
    struct Device {
        MtdInfo info;
        std::string file;  // backing file under the root
        std::vector<std::pair<uint32_t, uint32_t>> erases;
        std::vector<uint8_t> data;  // cached contents; the file is written on close
        bool loaded = false;
        bool dirty = false;
    };
    Device* deviceFor(int fd);
    std::vector<uint8_t>& bytes(Device& d) const;
    void flush(Device& d) const;

    mutable std::mutex m_;
    std::map<std::string, Device> devices_;
    std::map<int, std::string> open_;
    int next_ = 3000;
    bool failGetInfo_ = false;
    bool failErase_ = false;
};

}  // namespace platform
