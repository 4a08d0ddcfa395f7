// What the shell's pages read of the FPGA manager, in one place.
#pragma once

#include <cstdint>

namespace shell {

// Link bits of the 32 output ports (FPGA 0 bits 0-15, FPGA 1 bits 16-31); 0 without a manager.
uint32_t port_links();
// 1 when both FPGAs are fully up.
int fpga_status();
// True when FPGA `fpga` (0, 1) has come up (shadow register 80 is 3).
bool fpga_running(int fpga);
// Hands the FPGA manager's worker a request a page just set.
void fpga_wake();
// Reads register `reg` of FPGA `fpga` fresh from the FPGA; its value.
uint8_t fpga_register(int reg, int fpga);

}  // namespace shell
