#include "chips/tarvosource.h"

#include <unistd.h>

#include <cstring>

#include "core/global.h"
#include "core/utils.h"

tarvosource* tarvosource::p_tarvo_source = nullptr;

namespace {
constexpr unsigned kPauseAfterInputUs = 10000;  // 10 ms after each input
}

struct tarvosource::Impl {
};

tarvosource* tarvosource::pInstance()
{
    if (p_tarvo_source == nullptr)
        p_tarvo_source = new tarvosource();
    return p_tarvo_source;
}

tarvosource::tarvosource() : d(new Impl)
{
    writeLogMsg(LOG_BANNER, "====tarvosource::tarvosource()=====");
    std::memset(hdminfo, 0, sizeof(hdminfo));
    for (int i = 0; i < kInputs; ++i) {
        hdminfo[i].nosignal = 1;
        edid_request[i] = 0;
        edid_done[i] = 0;
    }
    volume_request = 1;
    for (int p = 0; p < kOutputPaths; ++p)
        clock_chip_step[p] = 0;
}

tarvosource::~tarvosource()
{
    if (thread_.joinable())
        thread_.detach();
}

int tarvosource::initialize()
{
    if (started_.exchange(true))
        return 0;
    thread_ = std::thread([this] {
        for (;;) {
            for (int i = 0; i < kInputs; ++i) {
                poll_input(i);
                usleep(kPauseAfterInputUs);
            }
        }
    });
    return 0;
}

void tarvosource::poll_pass()
{
    for (int i = 0; i < kInputs; ++i)
        poll_input(i);
}

void tarvosource::poll_input(int)
{
}
