#include "chips/it66121_sys.h"

void it66121_sys::GS2971_Reset()
{
}
