// Random bytes into a link's frame receiver; every frame it accepts goes through the link's frame
// handling into the command processor, or to the receiving cards, on a simulated board in a
// private root directory: both FPGAs with their flash and card chains run behind the FPGA
// manager, so the FPGA register, RAM and flash commands and the pass-through reach devices.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "fuzz/fuzz_root.h"
#include "ledout/fpga_manage.h"
#include "links/link_core.h"
#include "links/protocol_phy.h"
#include "links/reply_queue.h"
#include "sim/card_port_engine.h"
#include "sim/fpga_model.h"

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
    bool sendQueuedReply() override
    {
        std::unique_ptr<TcpReplyRecord> r = tcpReplyQueue().takeFirst();
        if (r)
            sendEncoded(r->frame, r->length);
        return r != nullptr;
    }
    void clearQueuedReplies() override { tcpReplyQueue().clear(); }
    // Time moves only while a link waits (for its turn or for the cards): a frame nobody answers
    // is given up after a few polls instead of never.
    bool running() const override
    {
        G_timeTicks += kTicksPerPoll;
        return true;
    }

private:
    static constexpr unsigned kTicksPerPoll = 50;
};

constexpr int kBringUpPasses = 5000;

void setUp()
{
    fuzzroot::makeRoot(std::filesystem::temp_directory_path(), "zel-fuzz");
    ConfigEngine::pInstance();
    ZelRamPara::pInstance();
    c331_manage::p_c331_manage = new c331_manage();
    sim::attachFpgas();
    fpga_manage* fpga = fpga_manage::pInstance();
    fpga->softinit();
    sim::attachCardChains();
    // Bring both FPGAs up (and let the card search count the cards) the way the worker would.
    for (int pass = 0; pass < kBringUpPasses && fpga->get_fpga_status() != 1; ++pass) {
        G_timeTicks += 1;
        fpga->fpga_manage_deal(fpga);
    }
    tcpReplyQueue().attach(
        [](unsigned char* out, const unsigned char* in, unsigned int n) {
            return protocol_phy::data_re_transf_meaning(out, in, n, nullptr);
        },
        nullptr);
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
    // Half of the input byte by byte, the rest in bulk: both receive paths are fed. A client held
    // back (its long commands past its share) has the rest kept for later, as a link does.
    size_t half = size / 2, i = 0;
    for (; i < half && !core.holding(0); ++i) {
        if (rx.receive(data[i]) == protocol_phy::kFrame)
            core.handleBody(rx.body(), rx.bodyLength(), endpoint);
    }
    core.receive(rx, data + i, unsigned(size - i), endpoint);
    // The link's thread would go on serving its card frames and held bytes: until they are
    // answered or given up.
    while (core.busy()) {
        core.service(endpoint);
        core.resumeHeld([](LinkClient client, const std::vector<uint8_t>& rest) {
            core.receive(rx, rest.data(), unsigned(rest.size()), endpoint, client);
        });
    }
    return 0;
}
