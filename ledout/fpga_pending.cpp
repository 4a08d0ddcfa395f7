// Operations of the FPGA manager whose work is still to come (USB upgrade, run-time recorder,
// brightness and schedules).
// Each does nothing yet; the pass and the bring-up already call them in their places.
#include "ledout/fpga_manage.h"

void fpga_manage::usb_upgrade_deal() {}
void fpga_manage::IT8563WE_Get(TimeRealType*) {}
void fpga_manage::run_clock_record() {}

void fpga_manage::Brightness_hand_dealwith(int) {}
void fpga_manage::record_bright_change() {}
void fpga_manage::Brightness_task() {}
void fpga_manage::Dealwith_mcu_ram() {}
void fpga_manage::record_onoff_time(int) {}
void fpga_manage::dealwith_onoff() {}
