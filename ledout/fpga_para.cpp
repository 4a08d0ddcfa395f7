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
    // Under the model's mutex, as its writers (the links, the engine adopting a shown value) hold it.
    pthread_mutex_lock(&m->mutex);
    const uint16_t value = ram_get_u16(m->ram_para, address);
    pthread_mutex_unlock(&m->mutex);
    return value;
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

Reported reportWord(WordReport& report, const std::atomic<uint8_t>& request)
{
    if (!model() || report.address + 1 >= ramaddr::kRamSize)
        return Reported::Dropped;
    // The commit lock orders this against the engine's pass, which raises `request` under it; the
    // pass does not hold it while it waits for this thread's hand-over.
    ParaCommit lock;
    const uint16_t now = word(report.address);
    if (request.load() != 0 || (report.replaced >= 0 && report.replaced != now))
        return Reported::Dropped;
    // The outputs are being set up again for a new LED size (blanked, or the engine sets its panel
    // up): what they show now is not what they will show.
    c331_manage* engine = c331_manage::p_c331_manage;
    if (g_set_led_para.load() != 0 || (engine && engine->handingOver())) {
        if (report.replaced < 0)
            report.replaced = now;
        return Reported::Kept;
    }
    if (engine)
        return engine->adoptWord(report.address, report.value) ? Reported::Written : Reported::Dropped;
    setWord(report.address, report.value);
    return Reported::Written;
}

bool wordOnItsWay(uint32_t address)
{
    c331_manage* engine = c331_manage::p_c331_manage;
    return engine && engine->wordNotPassedOn(address);
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
