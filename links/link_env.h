// Where the links listen and where UDP replies go, for the board and the simulated board.
#pragma once

#include <cstdint>

namespace linkenv {

constexpr int kUdpPort = 5008;

// The TCP command port: the setting (g_int_tcp_port), or ZEL_TCP_PORT on the simulated board.
int tcpPort();
// The UDP command port: 5008, or ZEL_UDP_PORT on the simulated board (0 picks a free port).
int udpPort();
// The address UDP replies go to: the limited broadcast on the board, loopback on the simulated
// board (host order).
uint32_t udpReplyAddress();
// The address the command ports listen on: every interface on the board, loopback only on the
// simulated board (host order).
uint32_t listenAddress();

}  // namespace linkenv
