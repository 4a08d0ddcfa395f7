// The input-source manager: one poll thread that follows the six video inputs.
//
// For each input it publishes the video timing in `hdminfo` (read by the video engine), answers
// the engine's EDID and audio-source requests, and at start-up resets the input chips and sets
// up the clock chips of the two output paths (read by the FPGA manager).
//
// Shared fields and their hand-shakes:
//  - `hdminfo[i]`: written only under Utils::_source_hdminfo_mutex; `stable` is 0 while a
//    record is refilled and 1 once it is complete. Readers take the same mutex and ignore a
//    record whose `stable` is 0.
//  - `edid_request[i]` / `edid_done[i]`: the engine sets request 1 and done 0; the poll thread
//    writes the EDID into the input's EEPROM and sets done 1 once the EEPROM reads back what
//    was written. The request byte stays 1.
//  - `volume_request`: 1 at construction; the engine sets it to 1; the poll thread sends the
//    audio source to the audio switch and clears it (under Utils::_system_mutex) only after
//    the write succeeded.
//  - `clock_chip_step[p]`: set-up step of the clock chip of output path p (0, 1); 2 = ready.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <pthread.h>

#include "chips/it66121_sys.h"

// One input's video information: 17 32-bit fields in this order.
struct TARVO_HDMI_INFO {
    int32_t Hact;
    int32_t Hsync;
    int32_t Hback;
    int32_t Hpol;
    int32_t Htotal;
    int32_t Vact;
    int32_t Vsync;
    int32_t Vback;
    int32_t Vpol;
    int32_t Vtotal;
    float pfreq;       // pixel clock, MHz
    int32_t type;      // 0 DVI, 1 HDMI
    int32_t datamode;  // 1: two pixels per clock on the parallel port
    int32_t lane;      // V-by-One lanes (inputs 4 and 5)
    int32_t ip;        // 1 interlaced
    int32_t nosignal;  // 1 without signal
    int32_t stable;    // 0 while the record is being refilled
};
static_assert(sizeof(TARVO_HDMI_INFO) == 17 * 4, "hdminfo records are 17 32-bit fields");

class tarvo_receiver;
class tarvo_clock_chip;

class tarvosource {
public:
    static constexpr int kInputs = 6;
    static constexpr int kOutputPaths = 2;
    static constexpr uint8_t kClockReady = 2;

    static tarvosource* p_tarvo_source;
    // Creates the singleton on first use; starts no thread.
    static tarvosource* pInstance();
    // Starts the poll thread (once) and returns at once. 0, or 255 when it cannot start.
    int initialize();
    // Ends the poll thread after the input it is polling and waits for it (the destructor does
    // too); initialize() can start it again.
    void stopThread();

    TARVO_HDMI_INFO hdminfo[kInputs];
    std::atomic<uint8_t> edid_request[kInputs];
    std::atomic<uint8_t> edid_done[kInputs];
    std::atomic<uint8_t> volume_request;
    std::atomic<uint8_t> clock_chip_step[kOutputPaths];

    // The SDI path (pages call sdi_it66121.GS2971_Reset()).
    it66121_sys sdi_it66121;

    // ---- one step of the poll thread (tests drive these; the thread loops over them) ----
    // Start-up work still pending (input-chip reset, clock chips, default-EDID start-up,
    // request bits of reg_status byte 32), then input i: its video information, its EDID
    // request, the audio-source request and the input summary.
    void poll_input(int input);
    // poll_input for the six inputs without the pauses.
    void poll_pass();
    // Tests: called once an input's EDID was built from the image, before it is written.
    static void (*edid_built_hook)(int input);

    ~tarvosource();

private:
    tarvosource();
    tarvosource(const tarvosource&) = delete;
    tarvosource& operator=(const tarvosource&) = delete;

    void consume_requests();
    bool reset_input_chips();
    void clock_step();
    void update_vid_info(int input);
    bool edid_for(int input, uint8_t out[256]);
    int program_edid(int input, const uint8_t edid[256]);
    void edid_step(int input);
    void begin_startup_edid();
    bool startup_needs_write(int input);
    void finish_startup_edid(int input);
    uint8_t audio_source_byte();
    void audio_step();
    void summary_step(int input);

    struct Impl;
    std::unique_ptr<Impl> d;
    static void* poll_thread(void* arg);

    pthread_t thread_{};
    std::atomic<bool> started_{false};
    std::atomic<bool> stop_{false};
};
