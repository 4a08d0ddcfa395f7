// The SoC's chip-identity words, read through "/dev/mem".
#pragma once

#include <cstdint>

namespace platform {

class SocIdentity {
public:
    virtual ~SocIdentity() = default;
    // Reads the three 16-bit identity words (offsets 0x4058, 0x405C, 0x4060 of the window at
    // 0x1F000000). False when "/dev/mem" cannot be opened or mapped.
    virtual bool read(uint16_t words[3]) = 0;
};

class DevMemSocIdentity : public SocIdentity {
public:
    bool read(uint16_t words[3]) override;
};

class SimSocIdentity : public SocIdentity {
public:
    bool read(uint16_t words[3]) override;
    void set(uint16_t u, uint16_t v, uint16_t w) { w_[0] = u; w_[1] = v; w_[2] = w; available_ = true; }
    void setUnavailable() { available_ = false; }

private:
    uint16_t w_[3] = {0x1234, 0x5678, 0x9abc};
    bool available_ = true;
};

}  // namespace platform
