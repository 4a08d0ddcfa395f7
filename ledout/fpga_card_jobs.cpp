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
    BC_CLOSING = 9,
};

constexpr unsigned kPorts = 32;
constexpr uint32_t kAckTicks = 1200;
constexpr uint32_t kSaveTicksPerCard = 100;   // a save takes longer the more cards it reaches
constexpr uint32_t kClosingTicks = 200;
constexpr int kProgressPorts = 33;
constexpr int kProgressDone = 95;
constexpr int kProgressEnd = 100;
constexpr int kPage = static_cast<int>(cardjobs::Page::SmartMapping);

uint32_t now() { return G_timeTicks.load(); }

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
        set8(kAck, 0);
        jobSend(packet, u16(kPacketLen), port);
        cardjobs::progress(cardjobs::Page::SmartMapping, static_cast<int>(port) * 100 / kProgressPorts);
        set8(kPort, static_cast<uint8_t>(port + 1));
        g_change[kWordJobProgress] = 0;
        setState(BC_WAIT);
        g_change[kWordJobTick] = now();
        set32(kTick, now());
        break;
    }
    case BC_WAIT: {
        const uint32_t limit = save ? kSaveTicksPerCard * u16(kCardCount) + kAckTicks : kAckTicks;
        if (u8(kAck) == 1) {
            set8(kAck, 0);
            setState(BC_NEXT_PORT);
        } else if (Utils::getTimeSpace(u32(kTick)) > limit) {
            setState(BC_NEXT_PORT);
        }
        jobProgressTick(kPage);
        break;
    }
    case BC_DONE:
        setState(BC_CLOSING);
        cardjobs::progress(cardjobs::Page::SmartMapping, kProgressDone);
        set32(kTick, now());
        break;
    case BC_CLOSING:
        if (Utils::getTimeSpace(u32(kTick)) > kClosingTicks) {
            cardjobs::progress(cardjobs::Page::SmartMapping, kProgressEnd);
            jobEnd();
        }
        break;
    default:
        break;
    }
}
