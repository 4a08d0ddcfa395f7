#include "upgrade_package.h"

#include "test_root.h"

namespace zeltest {

namespace {

void put16(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        b[at + k] = uint8_t(v >> (8 * k));
}

}  // namespace

std::vector<uint8_t> upgradePackage(const std::vector<UpgradeChild>& children, uint8_t publishType,
                                    uint16_t controllerType)
{
    const size_t heads = 49 + 21 * children.size();
    std::vector<uint8_t> out(heads, 0);
    out[0] = 1;
    out[1] = 1;
    out[2] = publishType;
    put16(out, 18, controllerType);
    put16(out, 47, uint32_t(children.size()));
    for (size_t n = 0; n < children.size(); ++n) {
        const size_t h = 49 + 21 * n;
        out[h] = children[n].type;
        put32(out, h + 1, uint32_t(children[n].data.size()));
        put32(out, h + 5, uint32_t(out.size()));
        for (int k = 0; k < 6; ++k)
            out[h + 9 + k] = children[n].version[k];
        out.insert(out.end(), children[n].data.begin(), children[n].data.end());
    }
    return out;
}

std::vector<uint8_t> upgradeProgram(uint32_t length, uint8_t seed)
{
    std::vector<uint8_t> p(64 + length, 0);
    p[16] = 1;
    put32(p, 31, length);
    for (uint32_t i = 0; i < length; ++i)
        p[64 + i] = uint8_t(i * 31 + seed);
    return p;
}

std::vector<uint8_t> upgradeFont(uint8_t encoding, uint8_t size, uint32_t glyphBytes, int width)
{
    std::vector<uint8_t> f(35 + glyphBytes, 0);
    f[0] = 'P';
    f[5] = encoding;
    f[17] = uint8_t(width < 0 ? size : width);
    f[18] = size;
    for (uint32_t i = 0; i < glyphBytes; ++i)
        f[35 + i] = uint8_t(i * 7 + size + encoding);
    return f;
}

void writePackage(const std::string& systemPath, const std::vector<uint8_t>& bytes)
{
    writeFile(systemPath, bytes);
}

}  // namespace zeltest
