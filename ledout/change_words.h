// Words of the manager's shared state block g_change kept by the brightness control, the
// multifunction-card access and the interrupt service.
#pragma once

namespace changeword {

constexpr int kBriTaskOn = 14;      // the brightness task runs
constexpr int kBriReload = 17;      // reload the brightness record on the next extension step
constexpr int kBriValue = 18;       // current level or value
constexpr int kBriRepeat = 19;      // how often the current value was applied
constexpr int kBriTick = 20;        // tick of the last task pass
constexpr int kVmfDest = 21;        // destination of the multifunction card (0 none)
constexpr int kVmfGroup = 22;       // its group of four ports, 1-8 (0 none)
constexpr int kVmfExpectCmd = 23;
constexpr int kVmfResult = 24;      // 1 once a good reply was taken
constexpr int kVmfGotData = 25;     // a good reply since the filter last looked
constexpr int kVmfFailCount = 26;   // requests without a good reply
// + FPGA i: replies wait in FPGA i. Written by whichever thread serves the interrupt (a link's
// too) and read by the worker's pacing, always under passby_mutex.
constexpr int kReplyWait = 36;

}  // namespace changeword
