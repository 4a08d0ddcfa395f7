// Operations of the FPGA manager whose work is still to come (USB upgrade, run-time recorder,
// receiving-card jobs, brightness and schedules).
// Each does nothing yet; the pass and the bring-up already call them in their places.
#include "ledout/fpga_manage.h"

void fpga_manage::usb_upgrade_deal() {}
void fpga_manage::IT8563WE_Get(TimeRealType*) {}
void fpga_manage::run_clock_record() {}

void fpga_manage::SmartMapping_deal() {}
// Until the routing patterns land every card sits at the origin of the cabinet grid.
void fpga_manage::get_rcvcard_x_y(int, unsigned short*, unsigned short*) {}
void fpga_manage::save_para_deal() {}
void fpga_manage::mapping_enable_deal() {}
void fpga_manage::rcv_recovery_check_deal(int) {}

void fpga_manage::Brightness_hand_dealwith(int) {}
void fpga_manage::record_bright_change() {}
void fpga_manage::Brightness_task() {}
void fpga_manage::Dealwith_mcu_ram() {}
void fpga_manage::record_onoff_time(int) {}
void fpga_manage::dealwith_onoff() {}
