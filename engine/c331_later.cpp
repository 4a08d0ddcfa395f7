// Operations of the engine that the bring-up and the change pass call and that belong to the
// engine's later areas: window layers and output reprogramming. Until those areas are built
// they leave the chip as it is.
#include "engine/c331_manage.h"

// ---- layers, priority, freeze, fade -----------------------------------------------------------------

void c331_manage::c331_SetWinPriority(int, int) {}
void c331_manage::c331_SetWinPriority1(int) {}
void c331_manage::c331_SetWinAttr(int, int) {}
void c331_manage::c331_SetWinOutput(int, int, int) {}
void c331_manage::c331_SetWinDbdMode(int, int, int) {}

// ---- output channels and window reprogramming --------------------------------------------------------

void c331_manage::set_output(int) {}
void c331_manage::zelApi_forceColorDisable(int) {}
void c331_manage::wait1_povs(int, int) {}
