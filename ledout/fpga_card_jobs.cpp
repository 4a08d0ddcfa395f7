// The two broadcast jobs of the smart-mapping page: parameter save (job 3) makes the cards of
// every port store their parameters, mapping enable (job 4) switches their mapping on or off.
// Both walk ports 0-31, one broadcast per port with cards, and wait for one acknowledgement.
#include "core/global.h"
#include "core/utils.h"
#include "ledout/card_job_report.h"
#include "ledout/fpga_manage.h"
#include "ledout/job_block.h"

using namespace jobblock;

namespace {

enum BroadcastState : uint8_t {
    BC_START = 0,
    BC_NEXT_PORT = 1,
    BC_SEND = 2,
    BC_WAIT = 3,
    BC_DONE = 4,
    BC_CLOSING = kStateClosing,
};

constexpr uint32_t kSaveTicksPerCard = 100;   // a save takes longer the more cards it reaches
constexpr int kProgressPorts = 33;
constexpr int kProgressDone = 95;
constexpr int kPage = static_cast<int>(cardjobs::Page::SmartMapping);

}  // namespace

void fpga_manage::save_para_deal() { portBroadcastStep(true); }

void fpga_manage::mapping_enable_deal() { portBroadcastStep(false); }

void fpga_manage::portBroadcastStep(bool save)
{
    if (jobWaitsForLinks())
        return;
    const unsigned port = u8(kPort);
    switch (state()) {
    case BC_START:
        set8(kPort, 0);
        setState(BC_NEXT_PORT);
        break;
    case BC_NEXT_PORT:
        if (port >= kPorts) {
            setState(BC_DONE);
            break;
        }
        set16(kCardCount, get_port_card_num(static_cast<unsigned char>(port)));
        if (u16(kCardCount) != 0)
            setState(BC_SEND);
        else
            set8(kPort, static_cast<uint8_t>(port + 1));
        break;
    case BC_SEND: {
        unsigned char packet[rcv_card::kMaxPacket];
        const auto p = static_cast<unsigned char>(port % 16);
        if (save)
            save_para_cmd_create(packet, p);
        else
            mapping_enable_cmd_create(p, packet);
        jobSend(packet, u16(kPacketLen), port);
        cardjobs::progress(cardjobs::Page::SmartMapping, static_cast<int>(port) * 100 / kProgressPorts);
        set8(kPort, static_cast<uint8_t>(port + 1));
        setState(BC_WAIT);
        jobPacketSent();
        break;
    }
    case BC_WAIT:
        jobAwaitAck(save ? kSaveTicksPerCard * u16(kCardCount) + kAckTicks : kAckTicks, BC_NEXT_PORT, kPage);
        break;
    case BC_DONE: jobStartClosing(kPage, kProgressDone); break;
    case BC_CLOSING: jobClosing(kPage); break;
    default:
        break;
    }
}
