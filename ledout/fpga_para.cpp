#include "ledout/fpga_para.h"

#include <cstring>
#include <mutex>

namespace ledpara {

namespace {

// Stand-in for the parameter model's image until that model is linked in: the defaults of the
// fields read here.
struct Image {
    uint8_t bytes[4096];
    Image()
    {
        std::memset(bytes, 0, sizeof bytes);
        put(kLedWidth, 1920);
        put(kLedHeight, 1080);
        put(kBrightness, 100);
    }
    void put(uint32_t a, uint16_t v)
    {
        bytes[a] = uint8_t(v);
        bytes[a + 1] = uint8_t(v >> 8);
    }
};

Image& image()
{
    static Image img;
    return img;
}

std::mutex g_spyMutex;
std::function<void(int)> g_spy;

}  // namespace

uint16_t word(uint32_t address)
{
    if (address + 1 >= sizeof(Image::bytes))
        return 0;
    const uint8_t* b = image().bytes;
    return uint16_t(b[address] | b[address + 1] << 8);
}

void setWord(uint32_t address, uint16_t value)
{
    if (address + 1 >= sizeof(Image::bytes))
        return;
    image().put(address, value);
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
}

void setSignalSpy(std::function<void(int)> spy)
{
    std::lock_guard<std::mutex> lock(g_spyMutex);
    g_spy = std::move(spy);
}

}  // namespace ledpara
