// Operations of the engine that the bring-up and the change pass call and that belong to the
// engine's later areas: window layers and output reprogramming, on-screen display, fonts and
// diagnostics. Until those areas are built they leave the chip as it is.
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


// ---- on-screen display -----------------------------------------------------------------------------------

int c331_manage::zelApi_OsdSet(int, int) { return 0; }
void c331_manage::update_osd(int) {}
void c331_manage::set_osd(int, int) {}
void c331_manage::set_scroll(int) {}
void c331_manage::load_char() {}

// ---- chip serial flash and fonts --------------------------------------------------------------------------

void c331_manage::read_c331_font(int) {}
void c331_manage::update_font(int) {}

// ---- diagnostics -----------------------------------------------------------------------------------------

void c331_manage::input_slidebar(int) {}
void c331_manage::output_slidebar(int) {}
void c331_manage::disable_slidebar(int) {}
void c331_manage::vbyone_rx_ch1_seq(int) {}
void c331_manage::vbyone_rx_ch2_seq(int) {}
void c331_manage::read_c331_b174bug(int) {}
void c331_manage::write_read_c331_b80_iacthstch5(int) {}
void c331_manage::zelDbg_c331_param(int) {}
void c331_manage::zelDbg_c331_print_regGrp(int) {}
void c331_manage::sync_c331_device_test_input(int) {}
void c331_manage::sync_c331_device_test_frame_lock(int) {}
