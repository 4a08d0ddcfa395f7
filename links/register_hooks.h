// The calls of the command processor into the video engine and the FPGA manager, in one place.
#pragma once

#include <cstdint>

namespace linkhooks {

// The engine prints its state (register 161).
void enginePrint();
// The engine reloads the OSD menu on its next pass (set under the commit point).
void requestOsdReload();
// The engine reloads the OSD font into the chip.
void reloadFont();
// Masked write of FPGA register `reg` through the manager's shadow; false when refused.
bool fpgaWriteRegister(unsigned reg, uint8_t mask, uint8_t value, int fpga);
// Reads `count` registers from `reg` into `out` (refreshing the shadow); false when refused.
bool fpgaReadRegisters(unsigned reg, unsigned count, int fpga, uint8_t* out);

}  // namespace linkhooks
