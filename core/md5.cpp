#include "core/md5.h"

#include <cstring>

const char MD5::HEX[16] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
const unsigned char MD5::PADDING[64] = {0x80};

namespace {

// Per-round shift amounts and the sine-derived constants of RFC 1321.
constexpr uint32_t kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

inline uint32_t rotl(uint32_t x, uint32_t n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

MD5::MD5() { reset(); }

MD5::MD5(const void* data, unsigned int length)
{
    reset();
    update(data, length);
}

void MD5::reset()
{
    finished_ = false;
    count_[0] = count_[1] = 0;
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    std::memset(buffer_, 0, sizeof buffer_);
    std::memset(digest_, 0, sizeof digest_);
}

void MD5::update(const void* data, unsigned int length)
{
    update(static_cast<const unsigned char*>(data), length);
}

void MD5::update(const unsigned char* input, unsigned int length)
{
    finished_ = false;
    uint32_t index = (count_[0] >> 3) & 0x3f;
    if ((count_[0] += (length << 3)) < (length << 3))
        ++count_[1];
    count_[1] += length >> 29;
    uint32_t partLen = 64 - index;
    uint32_t i = 0;
    if (length >= partLen) {
        std::memcpy(&buffer_[index], input, partLen);
        transform(buffer_);
        for (i = partLen; i + 63 < length; i += 64)
            transform(&input[i]);
        index = 0;
    }
    if (length > i)
        std::memcpy(&buffer_[index], &input[i], length - i);
}

const unsigned char* MD5::digest()
{
    if (!finished_) {
        finished_ = true;
        final();
    }
    return digest_;
}

std::string MD5::toString() { return bytesToHexString(digest(), 16); }

std::string MD5::bytesToHexString(const unsigned char* data, unsigned int length)
{
    std::string s;
    s.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        s += HEX[data[i] >> 4];
        s += HEX[data[i] & 0x0f];
    }
    return s;
}

void MD5::final()
{
    // Pad a copy of the context so feeding can continue afterwards.
    uint32_t oldState[4];
    uint32_t oldCount[2];
    unsigned char oldBuffer[64];
    std::memcpy(oldState, state_, sizeof oldState);
    std::memcpy(oldCount, count_, sizeof oldCount);
    std::memcpy(oldBuffer, buffer_, sizeof oldBuffer);

    unsigned char bits[8];
    encode(count_, bits, 8);
    uint32_t index = (count_[0] >> 3) & 0x3f;
    uint32_t padLen = index < 56 ? 56 - index : 120 - index;
    update(PADDING, padLen);
    update(bits, 8);
    encode(state_, digest_, 16);

    std::memcpy(state_, oldState, sizeof oldState);
    std::memcpy(count_, oldCount, sizeof oldCount);
    std::memcpy(buffer_, oldBuffer, sizeof oldBuffer);
    finished_ = true;
}

void MD5::transform(const unsigned char block[64])
{
    uint32_t m[16];
    decode(block, m, 64);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (uint32_t i = 0; i < 64; ++i) {
        uint32_t f, g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        uint32_t tmp = d;
        d = c;
        c = b;
        b = b + rotl(a + f + kSine[i] + m[g], kShift[i]);
        a = tmp;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void MD5::encode(const uint32_t* input, unsigned char* output, unsigned int length)
{
    for (unsigned int i = 0, j = 0; j < length; ++i, j += 4) {
        output[j] = input[i] & 0xff;
        output[j + 1] = (input[i] >> 8) & 0xff;
        output[j + 2] = (input[i] >> 16) & 0xff;
        output[j + 3] = (input[i] >> 24) & 0xff;
    }
}

void MD5::decode(const unsigned char* input, uint32_t* output, unsigned int length)
{
    for (unsigned int i = 0, j = 0; j < length; ++i, j += 4)
        output[i] = uint32_t(input[j]) | (uint32_t(input[j + 1]) << 8) | (uint32_t(input[j + 2]) << 16) |
                    (uint32_t(input[j + 3]) << 24);
}
