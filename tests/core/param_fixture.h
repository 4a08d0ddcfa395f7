// A fresh root and a parameter model started from it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/global.h"
#include "core/zelrampara.h"
#include "support/test_root.h"

inline uint16_t u16(const unsigned char* buf, unsigned addr) { return static_cast<uint16_t>(buf[addr] | buf[addr + 1] << 8); }
inline void set16(unsigned char* buf, unsigned addr, uint16_t v)
{
    buf[addr] = static_cast<unsigned char>(v);
    buf[addr + 1] = static_cast<unsigned char>(v >> 8);
}

// A parameter file: marker AA AA and `image` 0x300-0xFFF, 4096 bytes in all.
inline std::vector<uint8_t> parameterFileOf(const unsigned char* image)
{
    std::vector<uint8_t> file(4096, 0);
    file[0] = file[1] = 0xAA;
    for (unsigned a = 0x300; a < 0x1000; ++a)
        file[2 + a - 0x300] = image[a];
    return file;
}

class ParamModelTest : public ::testing::Test {
protected:
    void SetUp() override { g_lcd_lang_valid = 0x1001F; }
    ZelRamPara* start() { return ZelRamPara::pInstance(); }
    // Image address of a byte of the parameter file.
    static unsigned fileOffset(unsigned imageAddr) { return 2 + imageAddr - 0x300; }

    zeltest::TempRoot root;
};

#include "engine/c331_manage.h"

// The engine's commit point without the engine running: its worker is never started here.
inline c331_manage* makeCommitPoint()
{
    if (!c331_manage::p_c331_manage)
        c331_manage::p_c331_manage = new c331_manage();
    return c331_manage::p_c331_manage;
}
