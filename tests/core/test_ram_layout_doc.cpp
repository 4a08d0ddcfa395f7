// docs/parameter-memory.md, the parameter memory as PC software sees it, names every constant of
// core/ram_layout.h with its value: a constant changed, added or dropped there without the page
// following fails here.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "core/ram_layout.h"

namespace {

std::string readSource(const std::string& relative)
{
    std::ifstream in(std::string(ZEL_SOURCE_DIR) + "/" + relative);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// "0x8E0", "26", "+18": the number a cell starts with.
unsigned long leadingNumber(const std::string& cell)
{
    static const std::regex number(R"(^\s*\+?\s*(0x[0-9A-Fa-f]+|[0-9]+))");
    std::smatch m;
    if (!std::regex_search(cell, m, number))
        return ~0UL;
    return std::stoul(m[1].str(), nullptr, 0);
}

// Constants of namespace ramaddr that are given as a number: name to value.
std::map<std::string, unsigned long> headerConstants()
{
    const std::string text = readSource("core/ram_layout.h");
    const size_t begin = text.find("namespace ramaddr {");
    const size_t end = text.find("}  // namespace ramaddr");
    std::map<std::string, unsigned long> out;
    if (begin == std::string::npos || end == std::string::npos)
        return out;
    const std::string body = text.substr(begin, end - begin);
    static const std::regex constant(R"(constexpr\s+\w+\s+(k\w+)\s*=\s*(0x[0-9A-Fa-f]+|[0-9]+)\s*;)");
    for (std::sregex_iterator it(body.begin(), body.end(), constant), last; it != last; ++it)
        out[(*it)[1].str()] = std::stoul((*it)[2].str(), nullptr, 0);
    return out;
}

// Table rows of the page whose second cell is a constant: name to the row's first cell.
std::map<std::string, std::string> documentedConstants()
{
    std::istringstream text(readSource("docs/parameter-memory.md"));
    static const std::regex row(R"(^\|([^|]*)\|\s*`(k\w+)`\s*\|)");
    std::map<std::string, std::string> out;
    std::smatch m;
    for (std::string line; std::getline(text, line);)
        if (std::regex_search(line, m, row))
            out[m[2].str()] = m[1].str();
    return out;
}

}  // namespace

TEST(RamLayoutDoc, TheHeaderIsReadAsTheProgramSeesIt)
{
    const auto header = headerConstants();
    ASSERT_GT(header.size(), 60u);
    EXPECT_EQ(header.at("kBrightness"), ramaddr::kBrightness);
    EXPECT_EQ(header.at("kWindows"), ramaddr::kWindows);
    EXPECT_EQ(header.at("kWinFlags"), ramaddr::kWinFlags);
    EXPECT_EQ(header.at("kRamSize"), ramaddr::kRamSize);
}

TEST(RamLayoutDoc, EveryConstantIsDocumentedWithItsValue)
{
    const auto documented = documentedConstants();
    for (const auto& [name, value] : headerConstants()) {
        const auto row = documented.find(name);
        if (row == documented.end()) {
            ADD_FAILURE() << name << " is missing from docs/parameter-memory.md";
            continue;
        }
        EXPECT_EQ(leadingNumber(row->second), value) << name << ": the page says \"" << row->second << "\"";
    }
}

TEST(RamLayoutDoc, EveryDocumentedConstantExists)
{
    const auto header = headerConstants();
    for (const auto& [name, cell] : documentedConstants())
        EXPECT_EQ(header.count(name), 1u) << name << " (" << cell << ") is not a constant of core/ram_layout.h";
}
