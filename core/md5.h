// MD5 message digest (RFC 1321). digest() leaves the running context untouched, so feeding can
// go on after it.
#pragma once

#include <cstdint>
#include <string>

class MD5 {
public:
    MD5();
    MD5(const void* data, unsigned int length);

    void reset();
    void update(const unsigned char* data, unsigned int length);
    void update(const void* data, unsigned int length);
    const unsigned char* digest();
    std::string toString();
    static std::string bytesToHexString(const unsigned char* data, unsigned int length);

    static const char HEX[16];
    static const unsigned char PADDING[64];

private:
    void final();
    void transform(const unsigned char block[64]);
    static void encode(const uint32_t* input, unsigned char* output, unsigned int length);
    static void decode(const unsigned char* input, uint32_t* output, unsigned int length);

    uint32_t state_[4];
    uint32_t count_[2];  // bits fed, low word first
    unsigned char buffer_[64];
    unsigned char digest_[16];
    bool finished_;
};
