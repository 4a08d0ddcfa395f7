// Sending receiving-card packets through the FPGAs' output ports, reading the cards' replies and
// passing PC frames for the cards through to them.
#include <QMutexLocker>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "core/global.h"
#include "core/utils.h"
#include "ledout/eth_param.h"
#include "ledout/fpga_manage.h"
#include "ledout/job_block.h"
#include "ledout/fpga_ports.h"
#include "ledout/rcv_card_cmd.h"
#include "links/reply_queue.h"

using namespace fpga_ports;
using rcv_card::rd16;

namespace {

constexpr unsigned kMinPacket = rcv_card::kHeaderLen + 1;
constexpr unsigned kVmfFirst = 10;         // reply bytes kept for the multifunction card
constexpr unsigned kVmfBytes = 129;
constexpr uint8_t kSourcePortBits = 0x30;  // source bits 12-13 in byte 3
constexpr uint8_t kPortAll = 255;
constexpr unsigned kPcPortsPerFpga = 16;
constexpr unsigned kPcLastPort = 48;       // byte 7 up to this still selects FPGA 1
constexpr uint32_t kEveryPort = 0xFFFFFFFFu;

bool fpgaRunning(const fpga_manage& m, int fpga)
{
    return m.shadow(fpga_manage::kRegState, fpga) == fpga_manage::kStateRunning;
}

// A PC frame the cards' send RAMs can take.
bool sendable(const unsigned char* frame, unsigned length)
{
    return frame != nullptr && length >= kMinPacket && length < kMaxTransfer;
}

// Handling byte 6 of a frame that is sent to the cards by byte 7 (all ports, a named one, or the
// one of its source bits).
bool sendsToCards(unsigned char handling) { return handling == 1 || handling == 3 || handling == 0xFF; }

}  // namespace

// ---- sending -----------------------------------------------------------------------------------

unsigned char fpga_manage::wait_fpga_send_ready(unsigned char port, unsigned char fpga)
{
    if (port >= kPortsPerFpga || fpga > 1)
        return 0;
    const Pair& p = kPair[port / 2];
    const unsigned int start = G_timeTicks;
    for (unsigned polls = 0; polls < kSendReadyMaxPolls; ++polls) {
        read_from_register(p.flagsReg, fpga);
        if ((shadow(p.flagsReg, fpga) & (1u << p.busyBit)) == 0)
            return 1;
        if (Utils::getTimeSpace(start) > kSendReadyTicks)
            return 0;
    }
    return 0;
}

int fpga_manage::Send_to_port(const unsigned char* packet, unsigned short length, unsigned short port,
                              unsigned char fpga)
{
    if (port >= kPortsPerFpga || fpga > 1 || packet == nullptr || length == 0 || length > kMaxTransfer)
        return 255;
    // One packet at a time per send RAM, whichever thread sends.
    std::lock_guard<std::recursive_mutex> lock(passby_mutex);
    const Pair& p = kPair[port / 2];
    wait_fpga_send_ready(static_cast<unsigned char>(port), fpga);
    write_to_register(p.selectReg, 0xFF, static_cast<uint8_t>(1u << (port % 8)), fpga);
    write_fpga_ram(packet, 0, length, p.sendRam, fpga);
    const unsigned n = length - 1u;
    write_to_register(p.sendLenLow, 0xFF, static_cast<uint8_t>(n), fpga);
    write_to_register(p.sendLenHigh, static_cast<uint8_t>(3u << p.lenShift),
                      static_cast<uint8_t>(((n >> 8) & 3u) << p.lenShift), fpga);
    write_to_register(p.startReg, 0xF0, static_cast<uint8_t>(1u << p.startBit), fpga);
    return 0;
}

void fpga_manage::multi_port_send(unsigned char* packet, unsigned short length)
{
    const uint32_t links[2] = {linkMask(0), linkMask(1)};
    for (int k = 0; k < kPairs; ++k) {
        for (int f = 0; f < 2; ++f) {
            if (!fpgaRunning(*this, f))
                continue;
            for (int port = 2 * k; port <= 2 * k + 1; ++port) {
                if ((links[f] & (1u << port)) == 0 ||
                    get_port_card_num(static_cast<unsigned char>(port + kPortsPerFpga * f)) == 0)
                    continue;
                rcv_card::readdress(packet, length, static_cast<unsigned>(port));
                Send_to_port(packet, length, static_cast<unsigned short>(port), static_cast<unsigned char>(f));
            }
        }
    }
    multi_send_state = 1;
    multi_send_time = G_timeTicks;
}

int fpga_manage::check_multi_port_send(unsigned int, unsigned char*) { return 0; }

// ---- pass-through of PC frames -------------------------------------------------------------------

int fpga_manage::Dealwith1_PC_to_eth(unsigned int length, unsigned char* frame)
{
    if (!sendable(frame, length))
        return 1;
    std::lock_guard<std::recursive_mutex> lock(passby_mutex);
    passby_multi = 0;
    for (int f = 0; f < 2; ++f) {
        write_to_register(kRegAckClearHigh, 0x0F, 0, f);
        write_to_register(kRegAckClearLow, 0x0F, 0, f);
    }
    const unsigned char handling = frame[rcv_card::kOffHandling];
    const unsigned char portByte = frame[rcv_card::kOffPort];
    const uint16_t len16 = static_cast<uint16_t>(length);

    // The port a byte 7 of 1-48 names (FPGA 1 from 17; only 17-32 reach a port).
    auto sendToNamedPort = [&](unsigned char b7) {
        const unsigned fpga = b7 > kPcPortsPerFpga ? 1 : 0;
        const unsigned port = b7 - 1u - kPcPortsPerFpga * fpga;
        rcv_card::orPortBits(frame, length, port);
        Send_to_port(frame, len16, static_cast<unsigned short>(port), static_cast<unsigned char>(fpga));
    };

    if (sendsToCards(handling)) {
        if (portByte == kPortAll) {
            passby_multi = 1;
            passby_addr_fffe = rd16(frame) == rcv_card::kAllCardsAlt ? 1 : 0;
            passby_ack_mask = 0;
            multi_send_state = 0;
            passby_tag = frame[rcv_card::kOffTag];
            multi_port_send(frame, len16);
        } else if (portByte >= 1 && portByte <= kPcLastPort) {
            sendToNamedPort(portByte);
        } else if (portByte == 0) {
            const unsigned port = (rd16(frame) >> 12) & 3u;
            rcv_card::orPortBits(frame, length, port);
            Send_to_port(frame, len16, static_cast<unsigned short>(port), 0);
        }
        // any other byte 7 names no port
    } else if (handling == 0) {
        if (portByte >= 1 && portByte <= 2 * kPcPortsPerFpga) {
            sendToNamedPort(portByte);
        } else if (portByte == 0) {
            Send_to_port(frame, len16, 0, 0);
            Send_to_port(frame, len16, 0, 1);
        }
    }
    return 1;
}

uint32_t fpga_manage::passby_target_ports(const unsigned char* frame)
{
    const unsigned char handling = frame[rcv_card::kOffHandling];
    const unsigned char portByte = frame[rcv_card::kOffPort];
    const bool sends = sendsToCards(handling);
    if (sends && portByte == kPortAll)
        return kEveryPort;
    if ((sends || handling == 0) && portByte >= 1 && portByte <= 2 * kPcPortsPerFpga)
        return 1u << (portByte - 1u);
    if (sends && portByte == 0)
        return 1u << ((rd16(frame) >> 12) & 3u);
    if (handling == 0 && portByte == 0)
        return 1u | 1u << kPortsPerFpga;   // port 0 of both FPGAs
    return 0;
}

uint32_t fpga_manage::ports_with_cards()
{
    uint32_t mask = 0;
    for (unsigned pg = 0; pg < 2u * kPortsPerFpga; ++pg)
        if (get_port_card_num(static_cast<unsigned char>(pg)) != 0)
            mask |= 1u << pg;
    return mask;
}

int fpga_manage::passby_deliver(unsigned int length, unsigned char* frame)
{
    std::lock_guard<std::recursive_mutex> lock(passby_mutex);
    passby_reply_ready = 0;
    // An FPGA in its reset pulse now takes nothing: as if reset after the hand-over.
    passby_resets = uint8_t((resetPending_[0] ? 1u : 0u) | (resetPending_[1] ? 2u : 0u));
    // Frames the cards cannot take are not sent.
    const bool sent = sendable(frame, length);
    passby_waiting = sent ? 1 : 0;
    passby_wait_tag = sent ? frame[rcv_card::kOffTag] : 0;
    passby_wait_ports = sent ? passby_target_ports(frame) : 0;
    Dealwith1_PC_to_eth(length, frame);
    // Ports whose answer can come: for all ports, those with link and cards (read by the send
    // just made); a search of one port is waited for even where the count is 0, as it is how
    // new cards are counted.
    uint32_t answering;
    if (passby_wait_ports == kEveryPort)
        answering = passby_expected_mask();
    else if (sent && frame[rcv_card::kOffCommand] == rcv_card::kCmdSearch)
        answering = kEveryPort;
    else
        answering = ports_with_cards();
    if (sent && (passby_wait_ports & answering) != 0)
        return 1;
    passby_give_up();
    return 0;
}

int fpga_manage::passby_poll()
{
    std::lock_guard<std::recursive_mutex> lock(passby_mutex);
    reg_IRQ_Dealwith(0, 0);
    reg_IRQ_Dealwith(1, 0);
    if (!passby_reply_ready) {
        // Ports 0-15 belong to FPGA 0, 16-31 to FPGA 1.
        const uint8_t fpgas =
            uint8_t(((passby_wait_ports & 0xFFFFu) ? 1u : 0u) | ((passby_wait_ports >> 16) ? 2u : 0u));
        return passby_waiting && (passby_resets.load() & fpgas) != 0 ? kPassbyCutOff : 0;
    }
    passby_reply_ready = 0;
    return 1;
}

void fpga_manage::passby_give_up()
{
    std::lock_guard<std::recursive_mutex> lock(passby_mutex);
    g_passby_trans_port = kPassbyNone;
    passby_reply_ready = 0;
    passby_waiting = 0;
    passby_multi = 0;
    passby_ack_mask = 0;
    passby_addr_fffe = 0;
    QMutexLocker system(&Utils::_system_mutex);
    multi_send_state = 0;
}

// ---- replies -------------------------------------------------------------------------------------

void fpga_manage::refresh_reply_registers(int fpga)
{
    read_from_register(kRegFlagsLow, fpga);
    read_from_register(kRegReplyLenHighLow, fpga);
    read_from_register(kRegFlagsHigh, fpga);
    read_from_register(kRegReplyLenHighHigh, fpga);
}

int fpga_manage::first_ready_pair(int fpga) const
{
    for (int k = 0; k < kPairs; ++k)
        if (shadow(kPair[k].flagsReg, fpga) & (1u << kPair[k].readyBit))
            return k;
    return -1;
}

unsigned fpga_manage::read_reply(int fpga, int pair, unsigned char* buf)
{
    const Pair& p = kPair[pair];
    read_from_register(p.replyLenLow, fpga);
    const unsigned high = (shadow(p.replyLenHigh, fpga) >> p.lenShift) & 3u;
    const unsigned len = (high << 8 | shadow(p.replyLenLow, fpga)) + 1u;
    std::memset(buf, 0, kMaxTransfer);
    read_fpga_ram(buf, 0, len, p.replyRam, fpga);
    return len;
}

void fpga_manage::acknowledge_pair(int fpga, int pair)
{
    const Pair& p = kPair[pair];
    write_to_register(p.startReg, static_cast<uint8_t>(1u << p.ackBit), static_cast<uint8_t>(1u << p.ackBit), fpga);
    write_to_register(p.ackClearReg, static_cast<uint8_t>(1u << p.ackBit), 0, fpga);
}

uint32_t fpga_manage::passby_expected_mask()
{
    uint32_t links = 0;
    for (int f = 0; f < 2; ++f)
        links |= static_cast<uint32_t>(shadow(kRegLinkHigh, f) << 8 | shadow(kRegLinkLow, f)) << (kPortsPerFpga * f);
    return links & ports_with_cards();
}

void fpga_manage::Rcv_data_from_eth(int fpga)
{
    if (fpga != 0 && fpga != 1)
        return;
    // Nobody else empties a reply RAM while this one is read.
    std::lock_guard<std::recursive_mutex> lock(passby_mutex);
    deal_with_search_concurrent(fpga);
    refresh_reply_registers(fpga);
    const int pair = first_ready_pair(fpga);
    if (pair < 0)
        return;
    unsigned char reply[kMaxTransfer];
    const unsigned len = read_reply(fpga, pair, reply);
    const bool good = len >= kMinPacket && rcv_card::checkByteOk(reply, len);
    const uint16_t dest = rd16(reply + rcv_card::kOffDest);
    const uint16_t src = rd16(reply + rcv_card::kOffSrc);
    const unsigned char cmd = reply[rcv_card::kOffCommand];
    const unsigned char tag = reply[rcv_card::kOffTag];

    if (len >= kMinPacket && cmd == rcv_card::kCmdSearch && dest == rcv_card::kSrcController) {
        // A search reply for the card search: that reader takes and acknowledges it.
        deal_with_search_concurrent(fpga);
        if (src < rcv_card::kSrcController && tag == rcv_card::kTagJob)
            g_send_para[jobblock::kAck] = 1;
        return;
    }
    acknowledge_pair(fpga, pair);
    if (len < kMinPacket)
        return;   // too short to be a card packet

    const unsigned portInFpga = 4u * static_cast<unsigned>(pair / 2) + ((src >> 12) & 3u) + 1u;
    const unsigned portGlobal = portInFpga + kPortsPerFpga * static_cast<unsigned>(fpga);

    if (good) {
        if (cmd == rcv_card::kCmdSearch && dest == rcv_card::kSrcPc && reply[10] == 0) {
            const unsigned b7 = reply[rcv_card::kOffPort];
            const unsigned index = b7 != 0 ? b7 - 1u - (b7 > kPcPortsPerFpga ? kPcPortsPerFpga : 0u)
                                           : portInFpga - 1u;
            if (len >= 15)   // count and status bytes 11-13 are there
                update_eth_rcv_num(reply, static_cast<unsigned char>(index), fpga);
        }
        if (reply[rcv_card::kOffPort] == kPortAll ||
            (cmd != rcv_card::kCmdSearch && passby_multi && dest == rcv_card::kSrcPc)) {
            if (tag != passby_tag)
                return;   // an answer to something else
            passby_ack_mask |= 1u << (portGlobal - 1u);
        }
    }

    if (dest >= rcv_card::kSrcController && dest <= rcv_card::kSrcController + 15 &&
        src < rcv_card::kSrcController && tag == rcv_card::kTagJob) {
        g_send_para[jobblock::kAck] = 1;
        return;
    }
    if (dest == rcv_card::kSrcController && (cmd == rcv_card::kCmdWriteReg || cmd == rcv_card::kCmdReadRam)) {
        std::memset(vmf_reply, 0, sizeof(vmf_reply));
        const unsigned n = len > kVmfFirst ? std::min(len - kVmfFirst, kVmfBytes) : 0u;
        std::memcpy(vmf_reply, reply + kVmfFirst, n);
        vmf_reply_len = static_cast<uint16_t>(len);
        vmf_reply_cmd = cmd;
        vmf_reply_ready = 1;
        return;
    }
    forward_reply(reply, len, portGlobal);
}

void fpga_manage::forward_reply(unsigned char* reply, unsigned len, unsigned portGlobal)
{
    const unsigned char b7 = reply[rcv_card::kOffPort];
    if (!passby_multi && b7 >= 1 && b7 <= 254) {
        rcv_card::replaceByte(reply, len, 3, static_cast<unsigned char>(reply[3] & ~kSourcePortBits));
    } else if (!passby_multi && b7 == 0) {
        rcv_card::replaceByte(reply, len, rcv_card::kOffPort, static_cast<unsigned char>(portGlobal));
        rcv_card::replaceByte(reply, len, 3, static_cast<unsigned char>(reply[3] & ~kSourcePortBits));
    } else {
        // One answer for all ports, once every port with link and cards has answered.
        if (passby_ack_mask != passby_expected_mask())
            return;
        const uint16_t src = passby_addr_fffe ? rcv_card::kAllCardsAlt : rcv_card::kAllCards;
        passby_addr_fffe = 0;
        rcv_card::replaceByte(reply, len, 2, static_cast<unsigned char>(src));
        rcv_card::replaceByte(reply, len, 3, static_cast<unsigned char>(src >> 8));
        rcv_card::replaceByte(reply, len, rcv_card::kOffPort, kPortAll);
        if (multi_send_state == 1) {
            passby_ack_mask = 0;
            QMutexLocker system(&Utils::_system_mutex);
            multi_send_state = 0;
        }
    }
    const uint8_t link = g_passby_trans_port;
    if (link != kPassbyUart && link != kPassbyTcp && link != kPassbyUdp)
        return;
    // Cards return the tag of the frame they answer: a reply with another tag, or from a port the
    // frame did not go to, belongs to a frame its link gave up on and must not answer the frame
    // the link waits on now.
    if (!passby_waiting || reply[rcv_card::kOffTag] != passby_wait_tag ||
        (passby_wait_ports & (1u << (portGlobal - 1u))) == 0)
        return;
    g_passby_trans_port = kPassbyNone;
    passby_waiting = 0;
    if (queueCardReply(link, reply, len))
        passby_reply_ready = 1;
}
