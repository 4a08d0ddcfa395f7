#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/md5.h"

namespace {

std::string md5Of(const std::string& text)
{
    MD5 m(text.data(), static_cast<unsigned int>(text.size()));
    return m.toString();
}

}  // namespace

// The test suite of RFC 1321, appendix A.5.
TEST(MD5, Rfc1321TestSuite)
{
    EXPECT_EQ(MD5().toString(), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Of(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Of("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Of("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5Of("1234567890123456789012345678901234567890123456789012345678901234567890123456"
                    "7890"),
              "57edf4a22be3c955ac49da2e2107b67a");
    // Around the padding limit: 55 bytes still take the length in their own block, 56 do not.
    EXPECT_EQ(md5Of(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(md5Of(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
}

TEST(MD5, DigestLeavesTheContextRunning)
{
    MD5 m;
    m.update("a", 1);
    EXPECT_EQ(m.toString(), "0cc175b9c0f1b6a831c399e269772661");
    m.update("bc", 2);
    EXPECT_EQ(m.toString(), "900150983cd24fb0d6963f7d28e17f72");

    // Same across block boundaries: digests taken at 55, 56, 63, 64 and 65 bytes must not
    // disturb the digest of the whole 80-byte message.
    const std::string msg = "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
    MD5 fed;
    unsigned int cuts[] = {55, 1, 7, 1, 1, 15};
    unsigned int at = 0;
    for (unsigned int n : cuts) {
        fed.update(msg.data() + at, n);
        at += n;
        EXPECT_EQ(fed.toString(), md5Of(msg.substr(0, at)));
    }
    EXPECT_EQ(at, msg.size());
    EXPECT_EQ(fed.toString(), "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(MD5, RepeatedDigestAndReset)
{
    MD5 m("abc", 3);
    const unsigned char* first = m.digest();
    unsigned char copy[16];
    std::memcpy(copy, first, 16);
    EXPECT_EQ(std::memcmp(m.digest(), copy, 16), 0);
    EXPECT_EQ(MD5::bytesToHexString(copy, 16), "900150983cd24fb0d6963f7d28e17f72");
    m.reset();
    EXPECT_EQ(m.toString(), "d41d8cd98f00b204e9800998ecf8427e");
    const unsigned char bytes[] = {0x00, 0x0f, 0xa5, 0xff};
    EXPECT_EQ(MD5::bytesToHexString(bytes, 4), "000fa5ff");
}
