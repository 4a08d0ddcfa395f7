// The input-source manager on the simulated board: EDID programming, audio source, video
// information with its hand-shake, input summary, clock chips, reset lines and the SDI reset.
#include <functional>
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include <QMutexLocker>

#include "chips/edid_builder.h"
#include "chips/tarvosource.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/ram_layout.h"
#include "core/utils.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "ledout/fpga_lines.h"
#include "ledout/fpga_manage.h"
#include "platform/file_sync.h"
#include "platform/gpio.h"
#include "sim/input_chips.h"
#include "sim/sim_config.h"
#include "support/isolation.h"
#include "support/test_root.h"

namespace chips = sim::inputchips;

namespace {

// Board wiring seen by the tests (the GPIO pads of the lines).
constexpr uint32_t kSrcLineA = 0x207940;
constexpr uint32_t kSrcLineB = 0x207944;
constexpr uint32_t kSrcLineC = 0x207948;
constexpr uint32_t kRstSdi = 0x002848;

void put16(unsigned char* p, uint16_t v)
{
    p[0] = v & 0xFF;
    p[1] = v >> 8;
}
uint16_t get16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }

class Source : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::SimConfig c = sim::SimConfig::defaults();
        for (auto& in : c.inputs)
            in = sim::InputSignal{};
        sim::setConfig(c);
        ASSERT_TRUE(sim::attachInputChips());
        model = ZelRamPara::pInstance();
        fpga_manage::pInstance()->initialize();   // this test's board, also for a manager made earlier
        src = tarvosource::pInstance();
        QObject::connect(model, &ZelRamPara::sig_update_para, [this](int code) {
            if (code == 12)
                ++signals12;
        });
    }

    // Passes until the start-up work (reset, clocks, default EDIDs) is over.
    void startUp()
    {
        for (int k = 0; k < 4; ++k)
            src->poll_pass();
    }

    unsigned char* image() { return model->ram_para; }
    // A copy of an input's record, taken under its lock as the engine reads it.
    TARVO_HDMI_INFO record(int input)
    {
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        return src->hdminfo[input];
    }
    unsigned char* window(int w) { return image() + ramaddr::window(w); }

    void requestEdid(int input, uint16_t w, uint16_t h, uint16_t hz)
    {
        unsigned char* t = image() + ramaddr::kEdidTiming + 6 * input;
        put16(t, w);
        put16(t + 2, h);
        put16(t + 4, hz);
        src->edid_done[input] = 0;
        src->edid_request[input] = 1;
    }

    // A request raised while another was served waits, and its timing is written on the next pass.
    void expectWrittenNext(int input, uint16_t w, uint16_t h, uint16_t hz)
    {
        EXPECT_EQ(src->edid_done[input], 0) << "the new request waits";
        src->poll_input(input);
        EXPECT_EQ(src->edid_done[input], 1);
        uint8_t expected[256];
        ASSERT_TRUE(edid_builder::build_edid(w, h, hz, expected));
        EXPECT_EQ(0, std::memcmp(chips::eepromContents(input).data(), expected, 256));
    }

    zeltest::TempRoot root;
    ZelRamPara* model = nullptr;
    tarvosource* src = nullptr;
    int signals12 = 0;
};

bool hasEdidDecode() { return std::system("command -v edid-decode >/dev/null 2>&1") == 0; }

int edidDecodeStatus(const std::vector<uint8_t>& edid, const std::string& dir)
{
    std::string bin = dir + "/eeprom.bin";
    std::ofstream(bin, std::ios::binary).write(reinterpret_cast<const char*>(edid.data()), edid.size());
    return std::system(("edid-decode --check " + bin + " >" + dir + "/out.txt 2>&1").c_str());
}

}  // namespace

TEST_F(Source, EdidRequestProgramsTheEepromWithHotplugLow)
{
    startUp();
    int pagesBefore = chips::eepromPageWrites(4);
    requestEdid(4, 3840, 2160, 30);  // HDMI3
    src->poll_input(4);

    EXPECT_EQ(src->edid_done[4], 1);
    EXPECT_EQ(src->edid_request[4], 1);  // the request byte stays
    std::vector<uint8_t> e = chips::eepromContents(4);
    ASSERT_EQ(e.size(), 256u);
    EXPECT_TRUE(edid_builder::edid_valid(e.data()));
    uint8_t expected[256];
    ASSERT_TRUE(edid_builder::build_edid(3840, 2160, 30, expected));
    EXPECT_EQ(0, std::memcmp(e.data(), expected, 256));
    // Preferred timing: 3840 x 2160 at 30 Hz.
    const uint8_t* dtd = e.data() + 54;
    unsigned hact = dtd[2] | (dtd[4] >> 4) << 8, hbl = dtd[3] | (dtd[4] & 15) << 8;
    unsigned vact = dtd[5] | (dtd[7] >> 4) << 8, vbl = dtd[6] | (dtd[7] & 15) << 8;
    double hz = (dtd[0] | dtd[1] << 8) * 10e3 / ((hact + hbl) * double(vact + vbl));
    EXPECT_EQ(hact, 3840u);
    EXPECT_EQ(vact, 2160u);
    EXPECT_NEAR(hz, 30.0, 0.05);

    // 32 pages, each with the hot-plug line low; high again afterwards.
    EXPECT_EQ(chips::eepromPageWrites(4) - pagesBefore, 32);
    for (uint16_t level : chips::eepromHotplugLevels(4))
        EXPECT_EQ(level, 0);
    EXPECT_EQ(zeltest::simGpio().read(kSrcLineC), 16);
    EXPECT_EQ(chips::switchControl(), 0);  // channel closed again

    if (hasEdidDecode()) {
        EXPECT_EQ(edidDecodeStatus(e, root.path()), 0) << zeltest::readText("/out.txt");
    }

    // The EEPROM keeps its content across a power cycle of the board.
    ASSERT_TRUE(sim::attachInputChips());
    EXPECT_EQ(chips::eepromContents(4), e);
}

TEST_F(Source, PendingCustomTableIsWrittenInstead)
{
    startUp();
    uint8_t custom[256];
    ASSERT_TRUE(edid_builder::build_edid(1280, 1024, 60, custom));
    custom[20] = 0x81;  // anything the builder would not make
    std::memcpy(edid_ram_table[2], custom, 256);
    edid_ram_table_from[2] = 1;
    requestEdid(2, 3840, 2160, 30);
    src->poll_input(2);
    EXPECT_EQ(src->edid_done[2], 1);
    EXPECT_EQ(edid_ram_table_from[2], 0);
    std::vector<uint8_t> e = chips::eepromContents(2);
    EXPECT_EQ(0, std::memcmp(e.data(), custom, 256));
}

TEST_F(Source, FailedEepromWriteIsRetriedAndDoneOnlyAfterReadBack)
{
    startUp();
    uint8_t custom[256];
    for (int k = 0; k < 256; ++k)
        custom[k] = uint8_t(k * 7);
    std::memcpy(edid_ram_table[5], custom, 256);
    edid_ram_table_from[5] = 1;
    requestEdid(5, 1920, 1080, 60);

    chips::failEepromWrites(5, 1);
    src->poll_input(5);
    EXPECT_EQ(src->edid_done[5], 0);
    EXPECT_EQ(zeltest::simGpio().read(kSrcLineC), 16);  // released after a failure too

    chips::corruptNextEepromWrite(5);  // the chip takes the data but stores a wrong byte
    src->poll_input(5);
    EXPECT_EQ(src->edid_done[5], 0);

    src->poll_input(5);
    EXPECT_EQ(src->edid_done[5], 1);
    // The custom table taken on the first attempt is the one finally written.
    EXPECT_EQ(0, std::memcmp(chips::eepromContents(5).data(), custom, 256));
}

TEST_F(Source, RequestForAnIndescribableTimingIsNotReportedDone)
{
    startUp();
    requestEdid(1, 0, 0, 0);
    src->poll_input(1);
    EXPECT_EQ(src->edid_done[1], 0);
}

TEST_F(Source, StartUpProgramsBlankEepromsAndKeepsValidOnes)
{
    uint8_t valid[256];
    ASSERT_TRUE(edid_builder::build_edid(1280, 720, 60, valid));
    chips::setEepromContents(0, std::vector<uint8_t>(valid, valid + 256));
    EXPECT_EQ(model->reg_status[37] & 0x80, 0x80);
    startUp();
    EXPECT_EQ(0, std::memcmp(chips::eepromContents(0).data(), valid, 256));  // left alone
    for (int i = 1; i < 6; ++i) {
        std::vector<uint8_t> e = chips::eepromContents(i);
        EXPECT_TRUE(edid_builder::edid_valid(e.data())) << i;
    }
    uint8_t dflt[256];
    ASSERT_TRUE(edid_builder::build_edid(3840, 2160, 60, dflt));  // image default of input 4
    EXPECT_EQ(0, std::memcmp(chips::eepromContents(4).data(), dflt, 256));
    EXPECT_EQ(model->reg_status[37] & 0x80, 0);
    EXPECT_EQ(model->reg_status[38] & 0x5F, 0);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(src->edid_done[i], 0);  // nothing was requested
}

TEST_F(Source, EdidCheckOnceProgramsEveryInputOnceAndRecordsIt)
{
    ConfigEngine::pInstance();
    ASSERT_EQ(g_check_edid, QString("Once"));
    uint8_t valid[256];
    ASSERT_TRUE(edid_builder::build_edid(1280, 720, 60, valid));
    chips::setEepromContents(0, std::vector<uint8_t>(valid, valid + 256));
    startUp();
    uint8_t dflt[256];
    ASSERT_TRUE(edid_builder::build_edid(1920, 1080, 60, dflt));
    EXPECT_EQ(0, std::memcmp(chips::eepromContents(0).data(), dflt, 256));
    EXPECT_NE(ConfigEngine::p_config->read_config_variant(ConfigItem::EDIDCheck).toString(), QString("Once"));
}

// A start on a data partition that takes nothing runs on the settings file as Qt reads it: an
// input's custom EDID is written over only when the file asks for it, never for the default of a
// key the file lacks, and the network file is written from the file's address.
TEST_F(Source, AStartThatCannotWriteProgramsOnlyWhatTheSettingsFileAsks)
{
    uint8_t custom[256];
    ASSERT_TRUE(edid_builder::build_edid(1280, 720, 60, custom));
    const std::pair<const char*, bool> rows[] = {{"EDIDCheck=Done\n", false}, {"", false}, {"EDIDCheck=Once\n", true}};
    for (const auto& [line, programmed] : rows) {
        zeltest::resetSystemState();
        SetUp();
        zeltest::writeText("/data/configs/tcpip.ini",
                           std::string("[config]\nIPAddress=10.20.30.40\nGateWay=10.20.30.1\nBarcode=SN-42,B\n") + line);
        chips::setEepromContents(2, std::vector<uint8_t>(custom, custom + 256));
        platform::files::failAsFull({SIZE_MAX, INT_MAX, INT_MAX, INT_MAX});
        ConfigEngine::pInstance();
        startUp();
        platform::files::failAsFull({});
        EXPECT_EQ(std::memcmp(chips::eepromContents(2).data(), custom, 256) != 0, programmed) << line;
        EXPECT_EQ(g_str_ip, "10.20.30.40") << line;
        EXPECT_EQ(g_str_barcode, "SN-42,B") << line;
        ASSERT_EQ(Utils::write_network_interfaces("02:00:00:00:00:01"), 0) << line;
        EXPECT_NE(zeltest::readText("/etc/network/interfaces").find("address 10.20.30.40\n"), std::string::npos) << line;
    }
}

// ---- audio ------------------------------------------------------------------------------------

TEST_F(Source, AudioByteIsOneHotPerInput)
{
    startUp();
    const uint8_t expected[6] = {128, 64, 32, 16, 4, 8};
    put16(image() + ramaddr::kAudioWindow, 2);
    window(2)[ramaddr::kWinSound] |= 0x80;
    for (int input = 0; input < 6; ++input) {
        put16(window(2) + ramaddr::kWinSource, uint16_t(input));
        src->volume_request = 1;
        src->poll_input(0);
        EXPECT_EQ(chips::audioOutput(), expected[input]) << input;
        EXPECT_EQ(src->volume_request, 0);
    }
    // Through a crop entry: the entry's input.
    image()[ramaddr::kCropTable + 10 * 7] = 3;
    put16(window(2) + ramaddr::kWinSource, 0x8000 | 7);
    src->volume_request = 1;
    src->poll_input(0);
    EXPECT_EQ(chips::audioOutput(), 16);
    // Sound bit clear: no sound.
    window(2)[ramaddr::kWinSound] &= 0x7F;
    src->volume_request = 1;
    src->poll_input(0);
    EXPECT_EQ(chips::audioOutput(), 0);
}

TEST_F(Source, OutOfRangeAudioWordsMeanNoSound)
{
    startUp();
    for (int w = 0; w < 16; ++w)
        window(w)[ramaddr::kWinSound] |= 0x80;
    put16(window(0) + ramaddr::kWinSource, 2);
    auto sent = [&]() {
        src->volume_request = 1;
        src->poll_input(0);
        EXPECT_EQ(src->volume_request, 0);
        return chips::audioOutput();
    };
    put16(image() + ramaddr::kAudioWindow, 0);
    EXPECT_EQ(sent(), 32);
    put16(image() + ramaddr::kAudioWindow, 6);  // window word above 5
    EXPECT_EQ(sent(), 0);
    put16(image() + ramaddr::kAudioWindow, 0);
    put16(window(0) + ramaddr::kWinSource, 0x8000 | 40);  // crop index above 39
    EXPECT_EQ(sent(), 0);
    put16(window(0) + ramaddr::kWinSource, 0x8000 | 5);
    image()[ramaddr::kCropTable + 10 * 5] = 9;  // a crop entry naming no input
    EXPECT_EQ(sent(), 0);
    put16(window(0) + ramaddr::kWinSource, 7);  // input number above 5
    EXPECT_EQ(sent(), 0);
}

TEST_F(Source, VolumeRequestClearedOnlyAfterTheWriteSucceeded)
{
    EXPECT_EQ(src->volume_request, 1);  // 1 at construction
    startUp();
    EXPECT_EQ(src->volume_request, 0);
    int before = chips::audioWrites();
    put16(image() + ramaddr::kAudioWindow, 1);
    window(1)[ramaddr::kWinSound] |= 0x80;
    put16(window(1) + ramaddr::kWinSource, 5);
    chips::failAudioWrites(2);
    src->volume_request = 1;
    src->poll_input(0);
    EXPECT_EQ(src->volume_request, 1);
    src->poll_input(1);
    EXPECT_EQ(src->volume_request, 1);
    src->poll_input(2);
    EXPECT_EQ(src->volume_request, 0);
    EXPECT_EQ(chips::audioOutput(), 8);
    EXPECT_EQ(chips::audioWrites() - before, 1);
    src->poll_pass();  // no request: nothing sent
    EXPECT_EQ(chips::audioWrites() - before, 1);
}

// ---- video information and input summary -------------------------------------------------------

TEST_F(Source, SignalAppearingAndDisappearingUpdatesInfoSummaryAndSignal)
{
    startUp();
    g_c331_source_online = 1;
    src->poll_pass();
    int before = signals12;
    unsigned char* sum = image() + ramaddr::kInputSummary + 6 * 5;

    sim::SimConfig c = sim::config();
    c.inputs[5] = sim::InputSignal{true, 1920, 1080, 60, false};
    sim::setConfig(c);
    src->poll_input(5);
    {
        const TARVO_HDMI_INFO v = record(5);
        EXPECT_EQ(v.stable, 1);
        EXPECT_EQ(v.nosignal, 0);
        EXPECT_EQ(v.Hact, 1920);
        EXPECT_EQ(v.Vact, 1080);
        EXPECT_EQ(v.Htotal, 2200);
        EXPECT_EQ(v.Vtotal, 1125);
        EXPECT_NEAR(v.pfreq, 148.5, 0.01);
        EXPECT_EQ(v.type, 1);
        EXPECT_GT(v.lane, 0);
    }
    EXPECT_EQ(get16(sum), 1920);
    EXPECT_EQ(get16(sum + 2), 1080);
    EXPECT_EQ(sum[4], 60);
    EXPECT_EQ(sum[5], 0);
    EXPECT_GE(signals12 - before, 1);

    before = signals12;
    src->poll_input(5);  // nothing changed: no report
    EXPECT_EQ(signals12, before);

    c.inputs[5].present = false;
    sim::setConfig(c);
    src->poll_input(5);
    {
        const TARVO_HDMI_INFO v = record(5);
        EXPECT_EQ(v.nosignal, 1);
        EXPECT_EQ(v.Hact, 0);
        EXPECT_EQ(v.stable, 1);
    }
    EXPECT_EQ(get16(sum), 0);
    EXPECT_EQ(sum[5], 1);  // no-signal indication of inputs 4 and 5
    EXPECT_GE(signals12 - before, 1);
}

TEST_F(Source, SummaryWaitsForTheVideoEngineAndRoundsRates)
{
    sim::SimConfig c = sim::config();
    c.inputs[1] = sim::InputSignal{true, 1280, 720, 59, false};
    c.inputs[2] = sim::InputSignal{true, 1920, 1080, 50, false};
    sim::setConfig(c);
    startUp();
    EXPECT_EQ(get16(image() + ramaddr::kInputSummary + 6), 0);  // engine not online yet
    g_c331_source_online = 1;
    src->poll_pass();
    EXPECT_EQ(get16(image() + ramaddr::kInputSummary + 6), 1280);
    EXPECT_EQ(image()[ramaddr::kInputSummary + 6 + 4], 60);   // 59 Hz is stored as 60
    EXPECT_EQ(image()[ramaddr::kInputSummary + 12 + 4], 50);
    EXPECT_EQ(image()[ramaddr::kInputSummary + 6 + 5], 0);    // inputs 0-3: flag 0
}

TEST_F(Source, AnInterlacedInputIsMeasuredPerFieldAndSummedUpAsItsFrame)
{
    sim::SimConfig c = sim::config();
    c.inputs[3] = sim::InputSignal{true, 1920, 1080, 60, true};
    c.inputs[2] = sim::InputSignal{true, 1280, 720, 50, false};
    sim::setConfig(c);
    startUp();
    g_c331_source_online = 1;
    src->poll_pass();
    const TARVO_HDMI_INFO v = record(3);
    EXPECT_EQ(v.ip, 1);
    EXPECT_EQ(v.Vact, 540);
    EXPECT_EQ(v.Vback, 15);
    EXPECT_EQ(v.Vtotal, 562);
    EXPECT_NEAR(v.pfreq, 74.25, 0.01);
    EXPECT_EQ(v.datamode, 0);
    EXPECT_EQ(record(2).Vact, 720);   // a progressive input keeps its frame
    const unsigned char* sum = image() + ramaddr::kInputSummary + 6 * 3;
    EXPECT_EQ(get16(sum + 2), 1080);
    EXPECT_EQ(sum[4], 60);
    EXPECT_EQ(get16(image() + ramaddr::kInputSummary + 6 * 2 + 2), 720);
}

TEST_F(Source, SummaryRateOf55OrMoreIsStoredAs60)
{
    sim::SimConfig c = sim::config();
    c.inputs[1] = sim::InputSignal{true, 1280, 720, 54, false};
    c.inputs[2] = sim::InputSignal{true, 1920, 1080, 55, false};
    c.inputs[3] = sim::InputSignal{true, 1920, 1080, 59, false};
    sim::setConfig(c);
    startUp();
    g_c331_source_online = 1;
    src->poll_pass();
    EXPECT_EQ(image()[ramaddr::kInputSummary + 6 * 1 + 4], 54);
    EXPECT_EQ(image()[ramaddr::kInputSummary + 6 * 2 + 4], 60);
    EXPECT_EQ(image()[ramaddr::kInputSummary + 6 * 3 + 4], 60);
}

TEST_F(Source, ReadersNeverSeeAHalfWrittenRecord)
{
    startUp();
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0}, seen{0};
    std::thread reader([&] {
        while (!stop) {
            QMutexLocker lock(&Utils::_source_hdminfo_mutex);
            TARVO_HDMI_INFO v = src->hdminfo[3];
            if (!v.stable)
                continue;
            ++seen;
            bool ok = (v.nosignal == 1 && v.Hact == 0 && v.Htotal == 0) ||
                      (v.nosignal == 0 && v.Hact == 1920 && v.Htotal == 2200 && v.Vact == 1080) ||
                      (v.nosignal == 0 && v.Hact == 1280 && v.Htotal == 1560 && v.Vact == 720);
            if (!ok)
                ++bad;
        }
    });
    sim::SimConfig c = sim::config();
    // At least 300 changes, and on until the reader has looked often enough (bounded).
    for (int k = 0; (k < 300 || seen < 200) && k < 200000; ++k) {
        c.inputs[3] = k % 3 == 0   ? sim::InputSignal{}
                      : k % 3 == 1 ? sim::InputSignal{true, 1920, 1080, 60, false}
                                   : sim::InputSignal{true, 1280, 720, 60, false};
        sim::setConfig(c);
        src->poll_input(3);
    }
    stop = true;
    reader.join();
    EXPECT_EQ(bad, 0);
    EXPECT_GT(seen, 0);
}

// ---- start-up lines and chips ------------------------------------------------------------------

TEST_F(Source, InputChipsLeaveResetAndClockChipsReachStepTwo)
{
    zeltest::simGpio().clearHistory();
    EXPECT_EQ(src->clock_chip_step[0], 0);
    src->poll_input(0);
    EXPECT_EQ(zeltest::simGpio().read(kSrcLineA), 0);
    EXPECT_EQ(zeltest::simGpio().read(kSrcLineB), 0);
    startUp();
    for (uint32_t line : {kSrcLineA, kSrcLineB}) {
        auto h = zeltest::simGpio().history(line);
        ASSERT_EQ(h.size(), 2u);
        EXPECT_EQ(h[0].value, 0);
        EXPECT_EQ(h[1].value, 16);
    }
    EXPECT_EQ(src->clock_chip_step[0], tarvosource::kClockReady);
    EXPECT_EQ(src->clock_chip_step[1], tarvosource::kClockReady);
    EXPECT_NEAR(chips::clockOutputHz(0), 148.5e6, 1);
    EXPECT_NEAR(chips::clockOutputHz(1), 148.5e6, 1);
    EXPECT_EQ(model->reg_status[38] & 0x80, 0x80);
    EXPECT_EQ(model->reg_status[39] & 0x01, 0x01);
    // HDMI receivers identified (inputs 2-5).
    EXPECT_EQ(model->reg_status[37] & 0x1D, 0x1D);
}

TEST_F(Source, AbsentClockChipKeepsItsPathNotReady)
{
    chips::setClockAbsent(1, true);
    startUp();
    EXPECT_EQ(src->clock_chip_step[0], tarvosource::kClockReady);
    EXPECT_EQ(src->clock_chip_step[1], 0);
    EXPECT_EQ(model->reg_status[39] & 0x01, 0);
    chips::setClockAbsent(1, false);
    startUp();
    EXPECT_EQ(src->clock_chip_step[1], tarvosource::kClockReady);
}

TEST_F(Source, RequestBitsOfByte32AreConsumed)
{
    model->reg_status[32] = 0xF5;
    src->poll_input(0);
    EXPECT_EQ(model->reg_status[32], 0x05);
}

TEST_F(Source, Gs2971ResetHoldsTheLineLowFor50ms)
{
    zeltest::simGpio().clearHistory();
    src->sdi_it66121.GS2971_Reset();
    auto h = zeltest::simGpio().history(kRstSdi);
    ASSERT_EQ(h.size(), 2u);
    EXPECT_EQ(h[0].value, 0);
    EXPECT_EQ(h[1].value, 1);
    EXPECT_GE(h[1].when - h[0].when, std::chrono::milliseconds(50));
}

TEST(SourceSingleton, PInstanceCreatesOnceWithoutAThread)
{
    zeltest::TempRoot root;
    EXPECT_EQ(tarvosource::p_tarvo_source, nullptr);
    tarvosource* s = tarvosource::pInstance();
    EXPECT_EQ(tarvosource::p_tarvo_source, s);
    EXPECT_EQ(tarvosource::pInstance(), s);
    EXPECT_EQ(s->volume_request, 1);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(s->edid_request[i], 0);
        EXPECT_EQ(s->edid_done[i], 0);
    }
}

TEST_F(Source, FpgaManagerTreatsBothPathsReadyOnceTheClockChipsAre)
{
    fpga_manage* fpga = fpga_manage::pInstance();
    chips::setClockAbsent(1, true);
    startUp();
    EXPECT_TRUE(fpga->path_ready(0));
    EXPECT_FALSE(fpga->path_ready(1));
    chips::setClockAbsent(1, false);
    startUp();
    EXPECT_TRUE(fpga->path_ready(0));
    EXPECT_TRUE(fpga->path_ready(1));
}

// The engine asks for a new EDID while the previous one is being written: the new timing is
// written next, not dropped with the request that was being served.
TEST_F(Source, AnEdidRequestRaisedDuringTheWriteIsWrittenNext)
{
    startUp();
    requestEdid(4, 3840, 2160, 30);
    bool raised = false;
    const int listener = zeltest::simGpio().addListener([&](uint32_t offset, uint16_t value) {
        if (offset == kSrcLineC && value == 0 && !raised) {
            raised = true;   // the hot-plug line went low: the write has begun
            requestEdid(4, 1920, 1080, 60);
        }
    });
    src->poll_input(4);
    zeltest::simGpio().removeListener(listener);
    ASSERT_TRUE(raised);
    expectWrittenNext(4, 1920, 1080, 60);
}

// A commit between the read of the image's timing and the write: its request is not taken with
// the one being served, and its timing reaches the EEPROM on the next pass.
TEST_F(Source, AnEdidCommittedRightAfterTheTimingWasReadIsWrittenNext)
{
    startUp();
    requestEdid(2, 3840, 2160, 30);
    int raised = 0;
    static std::function<void(int)> built;
    built = [&](int input) {
        if (input == 2 && raised++ == 0)
            requestEdid(2, 1280, 720, 50);
    };
    tarvosource::edid_built_hook = [](int input) { built(input); };
    src->poll_input(2);
    tarvosource::edid_built_hook = nullptr;
    ASSERT_EQ(raised, 1);
    expectWrittenNext(2, 1280, 720, 50);
}

// The audio source changes while the byte of the old one is on its way: the request stays for
// the new source, which is sent on the next pass.
TEST_F(Source, AVolumeRequestIsClearedOnlyForTheSourceItWasSentFor)
{
    startUp();
    put16(image() + ramaddr::kAudioWindow, 3);
    window(3)[ramaddr::kWinSound] |= 0x80;
    put16(window(3) + ramaddr::kWinSource, 1);
    int sent = 0;
    chips::onAudioOutput([&](uint8_t) {
        if (sent++ == 0) {
            put16(window(3) + ramaddr::kWinSource, 4);   // committed; the engine's request is already up
            src->volume_request = 1;
        }
    });
    src->volume_request = 1;
    src->poll_input(0);
    EXPECT_EQ(chips::audioOutput(), 64);
    EXPECT_EQ(src->volume_request, 1);
    src->poll_input(1);
    chips::onAudioOutput(nullptr);
    EXPECT_EQ(chips::audioOutput(), 4);
    EXPECT_EQ(src->volume_request, 0);
    EXPECT_EQ(sent, 2);
}
