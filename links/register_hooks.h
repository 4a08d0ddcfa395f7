// The calls of the command processor into the video engine, the FPGA manager and the pages, in
// one place. Each returns false (or does nothing) while the service it calls is not there.
#pragma once

#include <cstdint>
#include <vector>

namespace linkhooks {

// ---- video engine ----------------------------------------------------------------------------
// Prints the engine's state (register 161).
void enginePrint();
// The engine reloads the OSD menu on its next pass (called under the commit point).
void requestOsdReload();
// The engine reloads the OSD font into the chip; false when it could not copy them all (a stop
// cut the copy short, or it failed).
bool reloadFont();
// The video chip's serial flash (device 4): its size (0 while unavailable), erase of `count`
// units of type `mode` from 4 KB block `first`, write and read.
uint32_t videoFlashSize();
bool videoFlashErase(uint32_t first, uint32_t count, int mode);
bool videoFlashWrite(uint32_t address, const uint8_t* data, uint32_t length);
bool videoFlashRead(uint32_t address, uint8_t* out, uint32_t length);

// ---- FPGA manager ----------------------------------------------------------------------------
// Masked write of FPGA register `reg` through the manager's shadow; false when refused.
bool fpgaWriteRegister(unsigned reg, uint8_t mask, uint8_t value, int fpga);
// A copy of the command record as it stands in the command RAM (empty while no manager runs),
// and running such a copy as a write of register 2 with bit 2 runs the command RAM's (false when
// its work was refused or cut short). The copy is taken in the order of the connection's commands:
// the manager orders a brightness record after the user's words committed before it and before
// those committed after it.
std::vector<uint8_t> fpgaCommandRecord();
bool fpgaRunCommandRecord(const uint8_t* record);
// Reads `count` registers from `reg` into `out` (refreshing the shadow); false when refused.
bool fpgaReadRegisters(unsigned reg, unsigned count, int fpga, uint8_t* out);
// Block write and read of FPGA RAM `ramId`.
bool fpgaWriteRam(const uint8_t* data, uint32_t offset, uint32_t length, int ramId, int fpga);
bool fpgaReadRam(uint8_t* out, uint32_t offset, uint32_t length, int ramId, int fpga);
// Stores `length` bytes at `offset` of the FPGA's parameter block and hands the block to the
// ports; false (nothing stored) when the manager cannot.
bool fpgaStoreNetPara(int fpga, uint32_t offset, const uint8_t* data, uint32_t length);

// ---- clock and pages -------------------------------------------------------------------------
// The box's clock was set: the run-time recorder and the on/off schedule take the new clock.
void recordTiming();
// A recovery record was written or deleted; a scan file was written or deleted.
void recoveryFilesChanged(bool deleted);
void scanFilesChanged();

}  // namespace linkhooks
