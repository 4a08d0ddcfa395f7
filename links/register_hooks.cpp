#include "links/register_hooks.h"

#include "core/global.h"

namespace linkhooks {

void enginePrint() {}

void requestOsdReload() {}

void reloadFont() {}

bool fpgaWriteRegister(unsigned, uint8_t, uint8_t, int) { return false; }

bool fpgaReadRegisters(unsigned, unsigned, int, uint8_t*) { return false; }

}  // namespace linkhooks
