// The whole box in this process: the parameter model and the change dispatcher on this (the GUI)
// thread, the video engine and the LED output on their own worker threads, a GUI tick of its own,
// on the simulated video chip, FPGAs, receiving cards and inputs. Commands arrive as a link hands
// them over, from a thread of their own; pages are clicked on this thread.
//
// What the box shows is read from the devices: the video chip's decoded picture (with the
// channel numbers that carry it left out) and the FPGAs' brightness and screen registers.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class c331_manage;
class fpga_manage;
class QTimer;
class ZelRamPara;

namespace e2e {

using Bytes = std::vector<uint8_t>;

// A command body as PC software sends it (addressed to the box, checksum appended).
Bytes commandBody(uint8_t group, const Bytes& payload);
Bytes writeRamBody(uint32_t address, const Bytes& data);
// The update register: bit 0 commits the image, bit 1 applies the LED size.
Bytes updateBody(uint8_t bits = 0x01);
Bytes word(uint16_t value);

// An LED screen size with its output size and splice mode.
struct Panel {
    uint16_t ledW, ledH, out1W, out1H, splice;
};
// A new LED screen and output size over the links, applied with the LED size (update bit 1).
std::vector<Bytes> panelBodies(const Panel& p);

// What the devices show, as far as the image decides it.
struct Shown {
    std::string picture;   // the chip's decoded picture, channel numbers left out
    uint8_t brightness[2] = {0, 0};
    bool blank[2] = {false, false};
    bool operator==(const Shown& o) const;
};
std::string describe(const Shown& s);

// Fast: the tick from a thread of its own at ten times the board's pace, the engine's sleeps
// returning at once. Board: the tick from this (the GUI) thread's event loop every 10 ms, as the
// home page's timer gives it (a GUI thread that waits stops it), and the engine sleeping.
enum class Pace { Fast, Board };

class RunningBox {
public:
    explicit RunningBox(Pace pace = Pace::Fast);
    ~RunningBox();

    // Starts the box on the current root (keeping its files) and waits until it is up.
    bool start();
    // Stops the worker threads and the tick, and carries out what the box acknowledged and they
    // had not (as the box's own stop does); the devices keep what they hold. `finish` false: the
    // workers just end, as at a power cut.
    void stop(bool finish = true);
    // The box started again from its files, as the next power-on starts it: a new parameter model
    // (the parameter file and the mode files read again) and change dispatcher, then start().
    bool restart(bool finish = true);

    // Runs command bodies one after the other on a link thread, as a link hands them over;
    // returns when the last one is answered. This thread serves no events meanwhile.
    void link(const std::vector<Bytes>& bodies);
    // One command body on the calling thread, as a link thread hands it over; the seconds it
    // took to be answered.
    static double ask(const Bytes& body);
    // Lets this thread serve its events (dispatcher, pages) for `ms` milliseconds.
    static void idle(int ms);
    // Waits until every change is applied and saved and the outputs run; false after `seconds`.
    bool settle(int seconds = 30);

    Shown shown() const;

    c331_manage* engine = nullptr;
    fpga_manage* fpga = nullptr;
    ZelRamPara* model = nullptr;
    // Set before start(): the engine's waits sleep as on the board (the bring-up's pauses among them).
    bool engineSleeps = false;

private:
    void attachDevices();
    Pace pace_;
    std::unique_ptr<QTimer> guiTick_;
    std::thread ticker_;
    std::atomic<bool> tickerStop_{false};
};

// A box started on the same root from what the running box left in its files (the parameter
// file, the mode files, the flash behind the FPGAs), brought up step by step; what it shows once
// it was given, as a user would, the words that a start resets (frozen windows, screen closed,
// test pattern) as `image` holds them.
Shown freshlyStarted(const uint8_t* image);

}  // namespace e2e
