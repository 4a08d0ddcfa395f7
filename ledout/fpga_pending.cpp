// Operations of the FPGA manager whose work is still to come (USB upgrade).
// Each does nothing yet; the pass already calls it in its place.
#include "ledout/fpga_manage.h"

void fpga_manage::usb_upgrade_deal() {}
