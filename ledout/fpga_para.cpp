#include "ledout/fpga_para.h"

#include <mutex>

#include "core/global.h"
#include "core/para_commit.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"

namespace ledpara {

namespace {
std::mutex g_spyMutex;
std::function<void(int)> g_spy;

ZelRamPara* model() { return ZelRamPara::p_zelrampara_config; }
}  // namespace

uint16_t word(uint32_t address)
{
    ZelRamPara* m = model();
    if (!m || address + 1 >= ramaddr::kRamSize)
        return 0;
    return ram_get_u16(m->ram_para, address);
}

void setWord(uint32_t address, uint16_t value)
{
    ZelRamPara* m = model();
    if (!m || address + 1 >= ramaddr::kRamSize)
        return;
    // The change dispatcher copies the image for the parameter file under the model's mutex.
    pthread_mutex_lock(&m->mutex);
    ram_set_u16(m->ram_para, address, value);
    pthread_mutex_unlock(&m->mutex);
}

bool reportWord(uint32_t address, uint16_t value, const std::atomic<uint8_t>& request)
{
    // Not during an LED-size change: the outputs are about to be set up again, and the engine's
    // pass may hold the commit lock while it waits for this thread's hand-over.
    if (!model() || g_set_led_para.load() != 0)
        return false;
    // The commit lock orders this against the engine's pass, which raises `request` under it.
    ParaCommit lock;
    if (request.load() != 0)
        return false;
    if (c331_manage* engine = c331_manage::p_c331_manage)
        return engine->adoptWord(address, value);
    setWord(address, value);
    return true;
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
