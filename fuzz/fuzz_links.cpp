// Random bytes into a link's frame receiver; every frame it accepts goes through the link's frame
// handling into the command processor, on a simulated board in a private root directory.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "links/link_core.h"
#include "links/protocol_phy.h"

namespace {

class NullEndpoint : public LinkEndpoint {
public:
    void sendEncoded(const uint8_t* data, unsigned length) override
    {
        // Every reply must be a well-formed frame.
        protocol_phy rx;
        unsigned frames = 0;
        for (unsigned i = 0; i < length; ++i)
            frames += rx.receive(data[i]) == protocol_phy::kFrame;
        if (frames != 1)
            abort();
    }
    bool sendQueuedReply() override { return false; }
    void clearQueuedReplies() override {}
};

std::string g_root;

void removeRoot()
{
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
}

void setUp()
{
    std::string root = (std::filesystem::temp_directory_path() / "zel-fuzz-XXXXXX").string();
    if (!mkdtemp(root.data()))
        abort();
    g_root = root;
    std::atexit(removeRoot);
    setenv("ZEL_BOARD", "sim", 1);
    setenv("ZEL_ROOT", root.c_str(), 1);
    g_debugSwitch = 0;
    ConfigEngine::pInstance();
    ZelRamPara::pInstance();
    c331_manage::p_c331_manage = new c331_manage();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool ready = (setUp(), true);
    (void)ready;
    static protocol_phy rx;
    static LinkCore core(kPassbyTcp);
    static NullEndpoint endpoint;
    rx.resetReceiver();
    // Half of the input byte by byte, the rest in bulk: both receive paths are fed.
    size_t half = size / 2;
    for (size_t i = 0; i < half; ++i) {
        if (rx.receive(data[i]) == protocol_phy::kFrame)
            core.handleBody(rx.body(), rx.bodyLength(), endpoint);
    }
    core.receive(rx, data + half, unsigned(size - half), endpoint);
    return 0;
}
