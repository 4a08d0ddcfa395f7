// The FPGA manager: the two output FPGAs and the flash behind them, their GPIO lines, the
// register shadows and RAM images, the worker thread that brings the FPGAs up and runs the
// receiving-card jobs, and the LED screen switches.
//
// Other subsystems use the GPIO lines through setLine()/getLine(); they are safe to call in any
// state (before or after a failed initialize they act on a scratch window).
#pragma once

#include <QMutex>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "ledout/fpga_drv.h"
#include "ledout/fpga_lines.h"

// ---- globals of the manager ------------------------------------------------------------------
constexpr int kChangeWords = 49;
extern uint32_t g_change[kChangeWords];
constexpr int kSendParaSize = 36;
extern uint8_t g_send_para[kSendParaSize];
extern uint32_t readtime_ticks;

// Requests of the output FPGAs' screen switches (SCREEN_fpgactrl_status).
enum SCREEN_status : uint8_t {
    SCREEN_BLANK = 0,
    SCREEN_SHOW = 1,
    SCREEN_REG0_BIT1_SET = 2,
    SCREEN_REG0_BIT1_CLEAR = 3,
    SCREEN_OUTPUT_ENABLE = 4,
    SCREEN_OUTPUT_DISABLE = 5,
    SCREEN_NOTHING = 6,
    SCREEN_GATE_CLEAR = 7,
    SCREEN_GATE_SET = 8,
    SCREEN_READ_STATUS = 9,
    SCREEN_REG23_BIT3_SET = 10,
    SCREEN_REG23_BIT3_CLEAR = 11,
};

class fpga_manage {
public:
    static constexpr int kRegisters = 171;        // register numbers 0-170
    static constexpr int kRamImageSize = 1024;
    static constexpr int kEthParaSize = 136;
    static constexpr uint8_t kRunning = 3;        // shadow register 80 once brought up
    static constexpr int kRegState = 80;

    // Creates the manager on the first call (and maps its lines); never destroyed.
    static fpga_manage* pInstance();
    static fpga_manage* p_fpga_manage;

    // ---- GPIO lines (16 high, 0 low; inputs in bit 0) ------------------------------------------
    void setLine(GpioLine line, uint16_t level) { lines_.set(line, level); }
    uint16_t getLine(GpioLine line) const { return lines_.get(line); }
    bool linesMapped() const { return lines_.mapped(); }

    // ---- start-up ------------------------------------------------------------------------------
    int initialize();
    void softinit();
    int initialize_start();
    static void* fpgamanageThread(void* arg);
    void fpga_manage_deal(void* arg);
    void usb_upgrade_manage_deal(void* arg);

    // ---- requests from the video engine ----------------------------------------------------------
    std::atomic<uint8_t> set_output_flag{0};
    std::atomic<uint8_t> set_bri_flag{0};   // set and cleared under Utils::_bri_set_mutex

    // ---- register shadows and RAM images -----------------------------------------------------
    uint8_t* MCU_REG_func[2];
    uint8_t* MCU_RAM_PARA_func[2];
    uint8_t* MCU_RAM_RX_func[2];
    uint8_t* MCU_RAM_TX_func[2];
    uint8_t* MCU_RAM_ETH_PARA_func[2];
    uint8_t* MCU_RAM_ETH_BACK_PARA_func[2];
    uint8_t MCU_RAM_CMD[kRamImageSize] = {};
    uint8_t MCU_RAM_EXTEND[kRamImageSize] = {};
    uint8_t MCU_RAM_ZOOM[kRamImageSize] = {};
    std::atomic<uint8_t> ScreenState{1};

    // ---- status ----------------------------------------------------------------------------------
    int get_fpga_status();

    fpga_drv& drv() { return drv_; }

private:
    fpga_manage();
    fpga_manage(const fpga_manage&) = delete;
    fpga_manage& operator=(const fpga_manage&) = delete;

    FpgaLines lines_;
    fpga_drv drv_;

    uint8_t regShadow_[2][kRegisters] = {};
    uint8_t ramPara_[2][kRamImageSize] = {};
    uint8_t ramRx_[2][kRamImageSize] = {};
    uint8_t ramTx_[2][kRamImageSize] = {};
    uint8_t ramEthPara_[2][kEthParaSize] = {};
    uint8_t ramEthBackPara_[2][kEthParaSize] = {};
};
