#include <gtest/gtest.h>

#include <string>

#include "core/utils.h"

namespace {
const std::string kChineseUtf8 = "\xe4\xb8\xad\xe6\x96\x87 LED \xe6\x98\xbe\xe7\xa4\xba";  // "中文 LED 显示"
const std::string kChineseGb2312 = "\xd6\xd0\xce\xc4 LED \xcf\xd4\xca\xbe";
const std::string kChineseUcs2 = std::string("\x2d\x4e\x87\x65 \0L\0E\0D\0 \0\x3e\x66\x3a\x79", 18);
}  // namespace

TEST(TextConversion, ChineseRoundTrips)
{
    std::string s = kChineseUtf8;
    EXPECT_EQ(Utils::UTF8ToGB2312(s), 0);
    EXPECT_EQ(s, kChineseGb2312);
    EXPECT_EQ(Utils::GB2312ToUTF8(s), 0);
    EXPECT_EQ(s, kChineseUtf8);

    EXPECT_EQ(Utils::UTF8ToUnicode(s), 0);
    EXPECT_EQ(s, kChineseUcs2);
    EXPECT_EQ(Utils::UnicodeToGB2312(s), 0);
    EXPECT_EQ(s, kChineseGb2312);
    EXPECT_EQ(Utils::GB2312ToUnicode(s), 0);
    EXPECT_EQ(s, kChineseUcs2);
    EXPECT_EQ(Utils::UnicodeToUTF8(s), 0);
    EXPECT_EQ(s, kChineseUtf8);
}

TEST(TextConversion, EmptyText)
{
    std::string s;
    EXPECT_EQ(Utils::UTF8ToUnicode(s), 0);
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(Utils::GB2312ToUTF8(s), 0);
    EXPECT_TRUE(s.empty());
}

TEST(TextConversion, InvalidByteKeepsWhatCameBefore)
{
    std::string s = "ab\xff" "cd";
    EXPECT_EQ(Utils::UTF8ToUnicode(s), -1);
    EXPECT_EQ(s, std::string("a\0b\0", 4));
}

TEST(TextConversion, UnknownCharacterSet)
{
    char out[8];
    size_t inLeft = 3, outLeft = sizeof out;
    EXPECT_EQ(Utils::ChangeCode("no-such-charset", "UTF-8", "abc", &inLeft, out, &outLeft), -1);
    EXPECT_EQ(inLeft, 3u);
    EXPECT_EQ(outLeft, sizeof out);
}

TEST(TextHelpers, StringToInt)
{
    EXPECT_EQ(Utils::stringToInt("0x"), 0);
    EXPECT_EQ(Utils::stringToInt("0x1"), 1);     // three characters: the first read as hex
    EXPECT_EQ(Utils::stringToInt("0x1F"), 31);
    EXPECT_EQ(Utils::stringToInt("0xA"), 10);    // letters A to Z count from 10 ...
    EXPECT_EQ(Utils::stringToInt("0xZ"), 35);
    EXPECT_EQ(Utils::stringToInt("0x@"), 16);    // ... the rest from '0'
    EXPECT_EQ(Utils::stringToInt("1Z2"), 102);   // a letter in decimal text adds 0
    EXPECT_EQ(Utils::stringToInt("0x1f"), 31);
    EXPECT_EQ(Utils::stringToInt("0X1F"), 10);  // not hex: each letter counts as the digit 0
    EXPECT_EQ(Utils::stringToInt("12"), 12);
    EXPECT_EQ(Utils::stringToInt(""), 0);
    EXPECT_EQ(Utils::stringToInt("0xFFFFFFFF"), -1);
    // Long input wraps rather than overflowing.
    (void)Utils::stringToInt("99999999999999999999999");
}

TEST(TextHelpers, UpperAndIntToString)
{
    EXPECT_EQ(Utils::upper("ab-Cd9\xe4"), "AB-CD9\xe4");
    EXPECT_EQ(Utils::intToString(-42), "-42");
    EXPECT_EQ(Utils::intToString(0), "0");
    EXPECT_EQ(Utils::intToString(2147483647), "2147483647");
}
