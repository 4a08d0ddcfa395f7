#include "links/register_hooks.h"

#include "core/global.h"

namespace linkhooks {

void enginePrint() {}
void requestOsdReload() {}
void reloadFont() {}
uint32_t videoFlashSize() { return 0; }
bool videoFlashErase(uint32_t, uint32_t, int) { return false; }
bool videoFlashWrite(uint32_t, const uint8_t*, uint32_t) { return false; }
bool videoFlashRead(uint32_t, uint8_t*, uint32_t) { return false; }

bool fpgaWriteRegister(unsigned, uint8_t, uint8_t, int) { return false; }
bool fpgaReadRegisters(unsigned, unsigned, int, uint8_t*) { return false; }
bool fpgaWriteRam(const uint8_t*, uint32_t, uint32_t, int, int) { return false; }
bool fpgaReadRam(uint8_t*, uint32_t, uint32_t, int, int) { return false; }
bool fpgaStoreNetPara(int, uint32_t, const uint8_t*, uint32_t) { return false; }

void recordTiming() {}
void recoveryFilesChanged(bool) {}
void scanFilesChanged() {}

}  // namespace linkhooks
