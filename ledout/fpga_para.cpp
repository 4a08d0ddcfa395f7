#include "ledout/fpga_para.h"

#include <mutex>

#include "core/zelrampara.h"

namespace ledpara {

namespace {
std::mutex g_spyMutex;
std::function<void(int)> g_spy;

unsigned char* image()
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    return model ? model->ram_para : nullptr;
}
}  // namespace

uint16_t word(uint32_t address)
{
    unsigned char* b = image();
    if (!b || address + 1 >= ramaddr::kRamSize)
        return 0;
    return ram_get_u16(b, address);
}

void setWord(uint32_t address, uint16_t value)
{
    unsigned char* b = image();
    if (!b || address + 1 >= ramaddr::kRamSize)
        return;
    ram_set_u16(b, address, value);
}

void test_signal(int code)
{
    std::function<void(int)> spy;
    {
        std::lock_guard<std::mutex> lock(g_spyMutex);
        spy = g_spy;
    }
    if (spy)
        spy(code);
    if (ZelRamPara* model = ZelRamPara::p_zelrampara_config)
        model->test_signal(code);
}

void setSignalSpy(std::function<void(int)> spy)
{
    std::lock_guard<std::mutex> lock(g_spyMutex);
    g_spy = std::move(spy);
}

}  // namespace ledpara
