// The background receiving-card search: one search packet per port pair every 80 ticks while the
// links are quiet, card counts from the replies into the parameter blocks.
#include <mutex>

#include "core/global.h"
#include "core/utils.h"
#include "ledout/eth_param.h"
#include "ledout/fpga_manage.h"
#include "ledout/job_block.h"
#include "ledout/fpga_ports.h"
#include "ledout/rcv_card_cmd.h"

using namespace fpga_ports;

namespace {

// Words of g_change kept by the search.
constexpr int kWordSearchActive = 1;
constexpr int kWordSearchTimer = 2;    // also the jobs' progress stamp
constexpr int kWordPassStarted = 5;
constexpr int kWordPassCounter = 8;
constexpr int kWordSearchEnable = 34;
constexpr uint32_t kSearchEnabled = 15;

constexpr uint32_t kSearchPeriod = 80;   // ticks between passes, and of link quiet
constexpr int kRegScreen = 0;
constexpr uint8_t kScreenFault = 0x08;   // no search while either FPGA reports a fault
constexpr unsigned kMinCountReply = 15;  // bytes 11-13 and the check byte
constexpr unsigned kMinCheckReply = 24;  // bytes 18-22 and the check byte
constexpr uint32_t kOddPassBits = 0xC0000000u;
constexpr uint32_t kEvenPassClear = 0xFFFF4000u;   // bit 14 and bits 16-31

}  // namespace

// ---- idle pass -----------------------------------------------------------------------------------

void fpga_manage::Check_search_card()
{
    const bool up = get_fpga_status() == 1;
    const bool linkQuiet = pc_cmd_valid == 0;
    if (linkQuiet && up) {
        check_vbo_status(0);
        check_vbo_status(1);
        Search_Card_Cmd();
    }
    // The schedules keep their time whatever the links do: monitoring software that polls more
    // often than the link's quiet period would hold them off all day. The search waits.
    if (up)
        Extension_function();
    if (linkQuiet && up)
        check_wlanonline_state();
    else
        releaseQuietLink();
}

void fpga_manage::releaseQuietLink()
{
    if (Utils::getTimeSpace(pc_cmd_time) > kSearchPeriod) {
        pc_cmd_valid = 0;
        search_sent_mask = 0;
    }
}

uint32_t fpga_manage::searchDue() const
{
    return g_change[kWordSearchTimer] + kSearchPeriod;
}

void fpga_manage::Search_Card_Cmd()
{
    // A link polling for a pass-through reply collects search replies into the same masks and
    // counts: the whole pass excludes it.
    std::lock_guard<std::recursive_mutex> lock(passby_mutex);
    if ((shadow(kRegScreen, 0) & kScreenFault) || (shadow(kRegScreen, 1) & kScreenFault)) {
        g_change[kWordSearchTimer] = G_timeTicks;
        return;
    }
    uint16_t masks[2] = {0, 0};
    if (Utils::getTimeSpace(g_change[kWordSearchTimer]) >= kSearchPeriod) {
        for (int f = 0; f < 2; ++f) {
            const uint32_t links = linkMask(f);
            if (shadow(kRegState, f) == kStateRunning)
                masks[f] = static_cast<uint16_t>(links);
        }
        if (g_change[kWordSearchEnable] != kSearchEnabled || (masks[0] == 0 && masks[1] == 0)) {
            g_change[kWordSearchActive] = 0;
            g_change[kWordSearchTimer] = G_timeTicks;
            return;
        }
        g_change[kWordSearchActive] = 1;
        g_change[kWordPassStarted] = 0;
    } else {
        if (g_change[kWordSearchActive] != 1)
            return;
        for (int f = 0; f < 2; ++f)
            masks[f] = static_cast<uint16_t>(shadow(kRegLinkHigh, f) << 8 | shadow(kRegLinkLow, f));
    }

    const uint32_t pass = g_change[kWordPassCounter]++;
    const bool oddPass = (pass & 1u) != 0;
    CHECK_search_cmd_status();

    for (int k = 0; k < kPairs; ++k) {
        for (int f = 0; f < 2; ++f) {
            const unsigned even = 2u * static_cast<unsigned>(k), odd = even + 1u;
            const bool evenUp = masks[f] & (1u << even), oddUp = masks[f] & (1u << odd);
            int port = -1;
            if (oddPass)
                port = oddUp ? static_cast<int>(odd) : evenUp ? static_cast<int>(even) : -1;
            else
                port = evenUp ? static_cast<int>(even) : oddUp ? static_cast<int>(odd) : -1;
            if (port < 0)
                continue;
            write_to_register(k < 4 ? kRegAckClearLow : kRegAckClearHigh, static_cast<uint8_t>(1u << (k % 4)), 0, f);
            check_error_rcv_search_card_cmd(static_cast<unsigned>(port), static_cast<unsigned char>(f), 0, 0, 0);
            search_sent_mask |= 1u << (port + kPortsPerFpga * f);
            if (oddPass)
                search_reply_mask |= kOddPassBits;
            else
                search_reply_mask &= ~kEvenPassClear;
        }
    }
    g_change[kWordSearchActive] = 0;
    g_change[kWordSearchTimer] = G_timeTicks;
}

void fpga_manage::CHECK_search_cmd_status()
{
    if (search_reply_mask & (1u << 31)) {
        for (int f = 0; f < 2; ++f) {
            for (int k = 0; k < kPairs; ++k) {
                if (search_reply_mask & (1u << (8 * f + k)))
                    continue;
                const int odd = 2 * k + 1, even = 2 * k;
                int port = -1;
                if (search_sent_mask & (1u << (odd + kPortsPerFpga * f)))
                    port = odd;
                else if (search_sent_mask & (1u << (even + kPortsPerFpga * f)))
                    port = even;
                if (port < 0)
                    continue;
                uint8_t* block = MCU_RAM_PARA_func[f];
                const unsigned n = eth_param::kCardCount[port], s = eth_param::kCardStatus[port];
                block[n] = 0;
                block[n + 1] = 0;
                block[s] = 0;
                write_fpga_ram(block + n, n, eth_param::countSpan(static_cast<unsigned>(port)), eth_param::kParamRam, f);
            }
        }
    }
    search_sent_mask = 0;
    search_reply_mask = 0;
    rcv_card_total = static_cast<uint16_t>(check_netport_card(0) + check_netport_card(1));
}

void fpga_manage::check_error_rcv_search_card_cmd(unsigned int port, unsigned char fpga, unsigned int config_id,
                                                  unsigned int device_id, unsigned char enable)
{
    if (fpga > 1)
        return;
    const int reg = (port % 16) < 8 ? kRegAckClearLow : kRegAckClearHigh;
    write_to_register(reg, static_cast<uint8_t>(1u << ((port % 8) / 2)), 0, fpga);
    unsigned char packet[rcv_card::kSearchPacketLen];
    rcv_card::searchPacket(packet, port, config_id, device_id, enable);
    Send_to_port(packet, rcv_card::kSearchPacketLen, static_cast<unsigned short>(port), fpga);
}

// ---- replies -------------------------------------------------------------------------------------

int fpga_manage::deal_with_search_concurrent(int fpga)
{
    if (fpga != 0 && fpga != 1)
        return 0;
    std::lock_guard<std::recursive_mutex> lock(passby_mutex);
    refresh_reply_registers(fpga);
    int taken = 0;
    unsigned char reply[kMaxTransfer];
    for (int k = 0; k < kPairs; ++k) {
        const Pair& p = kPair[k];
        if ((shadow(p.flagsReg, fpga) & (1u << p.readyBit)) == 0)
            continue;
        const unsigned len = read_reply(fpga, k, reply);
        if (len < rcv_card::kHeaderLen + 1 || rcv_card::rd16(reply) != rcv_card::kSrcController ||
            reply[rcv_card::kOffCommand] != rcv_card::kCmdSearch)
            continue;   // left for the reply reader
        if (rcv_card::checkByteOk(reply, len)) {
            search_reply_mask |= 1u << (8 * fpga + k);
            if (reply[10] == 0)
                Search_concurrent_back_result(reply, static_cast<unsigned char>(k / 2), fpga, len);
            taken = 1;
            read_from_register(p.flagsReg, fpga);
        }
        acknowledge_pair(fpga, k);
    }
    return taken;
}

void fpga_manage::Search_concurrent_back_result(unsigned char* reply, unsigned char group, int fpga,
                                                unsigned int length)
{
    if (reply == nullptr || length < kMinCountReply || (fpga != 0 && fpga != 1))
        return;
    if (reply[rcv_card::kOffPort] == 0)
        reply[rcv_card::kOffPort] =
            static_cast<unsigned char>(4u * group + ((rcv_card::rd16(reply + rcv_card::kOffSrc) >> 12) & 3u) + 1u);
    const unsigned port = reply[rcv_card::kOffPort] - 1u;
    if (port >= eth_param::kPorts)
        return;
    if (length >= kMinCheckReply && rcv_card::rd32(reply + 18) == check_config_id)
        rcv_card::wr16(g_send_para + jobblock::kCheckResult, reply[22]);
    update_eth_rcv_num(reply, static_cast<unsigned char>(port), fpga);
}

void fpga_manage::update_eth_rcv_num(const unsigned char* reply, unsigned char port, int fpga)
{
    if (reply == nullptr || port >= eth_param::kPorts || (fpga != 0 && fpga != 1))
        return;
    uint8_t* block = MCU_RAM_PARA_func[fpga];
    const unsigned n = eth_param::kCardCount[port], s = eth_param::kCardStatus[port];
    block[n] = reply[11];
    block[n + 1] = reply[12];
    block[s] = reply[13];
    write_fpga_ram(block + n, n, eth_param::countSpan(port), eth_param::kParamRam, fpga);
}

// ---- counts --------------------------------------------------------------------------------------

unsigned short fpga_manage::get_port_card_num(unsigned char port)
{
    if (port >= 2 * kPortsPerFpga)
        return 0;
    const int fpga = port / kPortsPerFpga;
    return rcv_card::rd16(MCU_RAM_PARA_func[fpga] + eth_param::kCardCount[port % kPortsPerFpga]);
}

unsigned short fpga_manage::check_netport_card(int fpga)
{
    if (fpga != 0 && fpga != 1)
        return 0;
    unsigned sum = 0;
    for (unsigned p = 0; p < eth_param::kPorts; ++p)
        sum += rcv_card::rd16(MCU_RAM_PARA_func[fpga] + eth_param::kCardCount[p]);
    return static_cast<unsigned short>(sum);
}

void fpga_manage::Search_Card_task_run()
{
    std::lock_guard<std::recursive_mutex> lock(passby_mutex);
    reg_IRQ_Dealwith(0, 0);
}
