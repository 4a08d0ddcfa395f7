// Character-set conversion through iconv, and the small number/text helpers.
#include "core/utils.h"

#include "core/global.h"

#include <cctype>
#include <cstdio>
#include <iconv.h>
#include <vector>

int Utils::ChangeCode(const char* from, const char* to, const char* in, size_t* inLeft, char* out,
                      size_t* outLeft)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        ZEL_DEBUG("iconv_open ======failed \n");
        return -1;
    }
    char* src = const_cast<char*>(in);
    size_t result = iconv(cd, &src, inLeft, &out, outLeft);
    iconv_close(cd);
    return static_cast<int>(result);
}

namespace {

// Converts text in place; it keeps exactly the bytes produced (those before an invalid
// sequence on error, none when the converter cannot be opened). Three output bytes per input
// byte are enough for every pair of character sets used here.
int convertInPlace(const char* from, const char* to, std::string& text)
{
    const std::string input = text;
    std::vector<char> output(input.size() * 3 + 1, 0);
    size_t inLeft = input.size();
    size_t outLeft = output.size();
    int result = Utils::ChangeCode(from, to, input.data(), &inLeft, output.data(), &outLeft);
    text.assign(output.data(), output.size() - outLeft);
    return result;
}

}  // namespace

int Utils::GB2312ToUTF8(std::string& text) { return convertInPlace("gb2312", "UTF-8", text); }
int Utils::GB2312ToUnicode(std::string& text) { return convertInPlace("gb2312", "UCS-2LE", text); }
int Utils::UTF8ToUnicode(std::string& text) { return convertInPlace("UTF-8", "UCS-2LE", text); }
int Utils::UnicodeToUTF8(std::string& text) { return convertInPlace("UCS-2LE", "UTF-8", text); }
int Utils::UTF8ToGB2312(std::string& text) { return convertInPlace("UTF-8", "GB2312", text); }
int Utils::UnicodeToGB2312(std::string& text) { return convertInPlace("UCS-2LE", "GB2312", text); }

int Utils::stringToInt(const std::string& text)
{
    // Unsigned arithmetic: long inputs wrap instead of overflowing.
    unsigned int value = 0;
    if (text.compare(0, 2, "0x") == 0) {
        if (text.size() < 3)
            return 0;
        for (size_t i = 2; i < text.size(); ++i) {
            int c = std::toupper(static_cast<unsigned char>(text[i]));
            uint8_t digit = static_cast<uint8_t>((c >= 'A' && c <= 'Z') ? c - 55 : c - 48);
            value = (value << 4) + digit;
        }
        return static_cast<int>(value);
    }
    for (unsigned char ch : text) {
        int c = std::toupper(ch);
        uint8_t digit = (c >= 'A' && c <= 'Z') ? 0 : static_cast<uint8_t>(c - 48);
        value = value * 10u + digit;
    }
    return static_cast<int>(value);
}

std::string Utils::upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Utils::intToString(int value)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", value);
    return buf;
}
