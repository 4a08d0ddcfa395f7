// The change application pass of the video engine: what changed between the parameter image and
// its shadow is applied to the chip, handed to the LED output and the input-source manager, and
// reported to the GUI thread.
#include <QMutexLocker>

#include <cstdio>
#include <cstring>

#include "chips/tarvosource.h"
#include "core/global.h"
#include "core/omenu.h"
#include "core/ram_layout.h"
#include "core/utils.h"
#include "core/worker_stop.h"
#include "core/zelrampara.h"
#include "core/status_bytes.h"
#include "engine/c331_image.h"
#include "engine/c331_manage.h"
#include "ledout/fpga_manage.h"

namespace {

using namespace ramaddr;

constexpr unsigned kWinScanFirst = kWindows;                                  // 0x8E0
constexpr unsigned kWinScanLast = kWindows + kWindowSize * kUsedWindows - 2;  // 0x97A
constexpr unsigned kFadeWords = 2 * kUsedWindows;
constexpr unsigned kEdidWordsPerInput = 3;
constexpr unsigned kEdidStride = 6;
constexpr int kInputs = 6;
constexpr unsigned kCropEntryX = 2, kCropEntryY = 4, kCropEntryW = 6, kCropEntryH = 8;

// Debug requests in the parameter model's register area.
constexpr unsigned kDbgAction = 162, kDbgParamDump = 163, kDbgRegGroup = 164, kDbgSyncTest = 165;

// The LED-size hand-over wait: 10 us steps, at most about 3 s of ticks (or of steps when the
// tick does not run).
constexpr unsigned kLedWaitStepUs = 10;
constexpr unsigned kLedWaitTicks = 300;
constexpr unsigned kLedWaitSteps = 300000;

bool changed(const ImageView& img, const ImageView& shd, unsigned addr)
{
    return img.word(addr) != shd.word(addr);
}

// Any of the words the panel is set up from.
bool panelChanged(const ImageView& img, const ImageView& shd)
{
    static constexpr unsigned kPanelWords[] = {kSpliceMode, kLedWidth, kLedHeight, kOutputArea + 4,
                                               kOutputArea + 6};
    for (unsigned a : kPanelWords)
        if (changed(img, shd, a))
            return true;
    return false;
}

tarvosource* inputs() { return tarvosource::pInstance(); }

}  // namespace

void c331_manage::c331managerdeal(void*)
{
    if (para_chg_flag != 0) {
        pthread_mutex_lock(&para_mutex);
        // What changed since the last pass, not since the last save: the dispatcher refreshes
        // the shadow from the GUI thread, and a value changed and changed back before it did so
        // would otherwise look unchanged while the chip still shows the one in between.
        takeImage(passImage_);
        // Taken with the image: a commit made while the LED-size hand-over runs without the lock
        // (passPanel) raises the flag again, and the next pass applies it.
        const uint8_t flag = para_chg_flag.exchange(0);
        // The operations the pass calls read this copy too: a word written while the LED-size
        // hand-over runs without the lock waits in the image for its own commit.
        const ImagePin pin(passImage_);
        const ImageView img(passImage_);
        const ImageView shd(applied_);
        const bool panelSetUp = passPanel(img, shd);
        if (!panelSetUp)
            keepPanelWords(img);
        passPicture(img, shd);
        passPriorities(img, shd);
        // Windows laid out for the old panel would keep the old channels' places: a new panel
        // takes every window again, as the bring-up does after its panel set-up.
        if (panelSetUp)
            relayoutWindows(img, shd, 0);
        else if (passWindows(img, shd))
            passCrops(img, shd);
        passFades(img, shd);
        if (img.byte(kTestPattern) != shd.byte(kTestPattern))
            c331_SetPattern(img.byte(kTestPattern));
        passEdid(img, shd);
        passVolume(img, shd);
        if (changed(img, shd, kScreenClosed))
            requestScreen();
        if (changed(img, shd, kOsdOn)) {
            const int on = img.word(kOsdOn);
            zelApi_OsdSet(0, on);
            if (on)
                g_osd_update = 1;
        }
        ZelRamPara::p_zelrampara_config->test_signal(flag);
        if (g_osd_update == 1) {
            g_osd_update = 0;
            reloadOsdMenu();
        }
        passDebug();
        std::memcpy(applied_, passImage_, sizeof applied_);
        pthread_mutex_unlock(&para_mutex);
    }
    passInputs();
}

void c331_manage::takeImage(uint8_t* to)
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (!model)
        model = ZelRamPara::pInstance();
    pthread_mutex_lock(&model->mutex);
    std::memcpy(to, model->ram_para, kRamSize);
    pthread_mutex_unlock(&model->mutex);
}

bool c331_manage::adoptWord(unsigned addr, uint16_t value)
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (!model || addr + 1 >= kRamSize)
        return false;
    pthread_mutex_lock(&model->mutex);
    // Before the bring-up took the image nothing of it was applied: the bring-up takes this too.
    // A change a restarted bring-up took but has not served yet is on its way as well: adopted
    // over, it would look served, and the LED output would never be asked for it.
    const bool waiting =
        appliedTaken_ && (ram_get_u16(model->ram_para, addr) != ram_get_u16(applied_, addr) || takenNotServed(addr));
    if (!waiting) {
        ram_set_u16(model->ram_para, addr, value);
        ram_set_u16(applied_, addr, value);
        // What the LED output reports it has already: a restart has nothing to serve of it.
        if (restarted_)
            ram_set_u16(served_, addr, value);
    }
    pthread_mutex_unlock(&model->mutex);
    return !waiting;
}

bool c331_manage::takenNotServed(unsigned addr) const
{
    return restarted_ && ram_get_u16(applied_, addr) != ram_get_u16(served_, addr);
}

bool c331_manage::wordNotPassedOn(unsigned addr)
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (!model || !appliedTaken_ || addr + 1 >= kRamSize)
        return false;
    pthread_mutex_lock(&para_mutex);
    pthread_mutex_lock(&model->mutex);
    const uint16_t now = ram_get_u16(model->ram_para, addr);
    pthread_mutex_unlock(&model->mutex);
    const bool pending = (para_chg_flag.load() != 0 && now != ram_get_u16(applied_, addr)) || takenNotServed(addr);
    pthread_mutex_unlock(&para_mutex);
    return pending;
}

// Called with para_mutex held. The LED output blanks its outputs in steps of the GUI's tick: the
// wait runs without the lock, or a page commit on the GUI thread would stop that tick while it
// waits for the lock, and every link write would wait out the whole hand-over. A stop ends it at
// once: the tick it counts ends with the event loop, and the LED output is stopped after us.
bool c331_manage::waitLedHandover()
{
    usleepFn(kLedWaitStepUs);
    if (g_set_led_para != 1)
        return false;
    handingOver_ = true;
    pthread_mutex_unlock(&para_mutex);
    const unsigned start = G_timeTicks;
    unsigned steps = 1;
    do {
        usleepFn(kLedWaitStepUs);
        ++steps;
    } while (g_set_led_para == 1 && Utils::getTimeSpace(start) < kLedWaitTicks && steps < kLedWaitSteps &&
             !stopping());
    pthread_mutex_lock(&para_mutex);
    handingOver_ = false;
    const bool gaveUp = g_set_led_para == 1;
    if (gaveUp)
        ZEL_DEBUG("[c331managerdeal] LED output did not hand over, panel set up anyway\n");
    return gaveUp;
}

bool c331_manage::passPanel(const ImageView& img, const ImageView& shd)
{
    if (!panelChanged(img, shd)) {
        handBackUnchangedPanel();
        return false;
    }
    const bool gaveUp = waitLedHandover();
    zelApi_PnlInit2(img.word(kLedWidth), img.word(kLedHeight), img.word(kOutputArea + 4),
                    img.word(kOutputArea + 6), img.word(kSpliceMode));
    handBackPanel(img, gaveUp);
    if (img.word(kOsdOn) != 0)
        g_osd_update = 1;
    return true;
}

// The LED output resets its FPGAs for the panel just set up, and lights the outputs again. Not
// while another size change follows: one asked for since the LED output let the wait go (its
// commit is on its way), or one committed during the wait. Its own pass sets the panel up with
// the outputs still off and hands them back then. A request still standing after the wait ran
// out is the one this pass waited for.
void c331_manage::handBackPanel(const ImageView& img, bool gaveUp)
{
    const bool behind = !gaveUp && panelCommittedBehind(img);
    QMutexLocker lock(&Utils::_led_para_init_mutex);
    if (behind || (!gaveUp && g_set_led_para == 1))
        return;
    g_set_led_para = 2;
}

// Panel words committed into the image since `img` was taken (called with para_mutex held).
bool c331_manage::panelCommittedBehind(const ImageView& img)
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (para_chg_flag == 0 || !model)
        return false;
    pthread_mutex_lock(&model->mutex);
    const bool behind = panelChanged(ImageView(model->ram_para), img);
    pthread_mutex_unlock(&model->mutex);
    return behind;
}

// An LED-size change was asked for (the LED output blanks its outputs for it) with a commit that
// leaves the panel as it is: the outputs are handed back as after a panel set-up, or they would
// stay off. The requester raises the request before its commit, so this pass carries it; when
// the pass comes after the blanking (behind a bring-up restart), the LED output has let the wait
// go and keeps the outputs off until it is handed them back.
void c331_manage::handBackUnchangedPanel()
{
    QMutexLocker lock(&Utils::_led_para_init_mutex);
    if (g_set_led_para == 1 || (g_set_led_para == 0 && g_led_para_released != 0))
        g_set_led_para = 2;
}

void c331_manage::passPicture(const ImageView& img, const ImageView& shd)
{
    if (changed(img, shd, kBrightness)) {
        // The chip stays at its neutral brightness; the LED output applies the user's value.
        c331_SetBrightness(50);
        requestBrightness();
    }
    if (changed(img, shd, kContrast))
        c331_SetContrast(img.word(kContrast));
    if (changed(img, shd, kSharpness))
        c331_SetSharpness(img.word(kSharpness));
    if (changed(img, shd, kSaturation))
        c331_SetSaturation(img.word(kSaturation));
    if (changed(img, shd, kColorTempMode) || changed(img, shd, kRedGain) || changed(img, shd, kGreenGain) ||
        changed(img, shd, kBlueGain))
        c331_SetColorTemp(img.colorTemp());
}

void c331_manage::requestBrightness()
{
    QMutexLocker lock(&Utils::_bri_set_mutex);
    fpga_manage::pInstance()->set_bri_flag = 1;
    fpga_manage::pInstance()->wake();
}

void c331_manage::requestScreen()
{
    fpga_manage::pInstance()->set_output_flag = 1;
    fpga_manage::pInstance()->wake();
}

void c331_manage::serveAfterRestart(const ImageView& img, const ImageView& before)
{
    if (changed(img, before, kBrightness))
        requestBrightness();
    passEdid(img, before);
    // The audio source is sent again whatever changed: the request only rewrites the switch.
    inputs()->volume_request = 1;
    if (changed(img, before, kScreenClosed))
        requestScreen();
    // The bring-up has set the chip up for a new panel: the LED output, which may have blanked its
    // outputs for it meanwhile, is handed them back as after a pass's panel set-up.
    if (panelChanged(img, before)) {
        const bool gaveUp = waitLedHandover();
        handBackPanel(img, gaveUp);
    } else {
        handBackUnchangedPanel();
    }
}

void c331_manage::keepPanelWords(const ImageView& img)
{
    for (const PanelWord& w : panelWords_)
        if (w.addr != 0 && img.word(w.addr) != w.value)
            imageWriteWord(w.addr, w.value);
}

void c331_manage::passPriorities(const ImageView& img, const ImageView& shd)
{
    for (int w = 0; w < kWinCount; ++w) {
        const unsigned a = kPriority + 2 * w;
        if (!changed(img, shd, a))
            continue;
        ZEL_DEBUG("DIFF REG CUSTOM_INFO_IMAGE%d_PRIORITY %04x==>%04x\r\n", w + 1, shd.word(a), img.word(a));
        c331_SetWinPriority(w, img.word(a));
        c331_SetWinPriority1(c331_fd);
    }
}

bool c331_manage::passWindows(const ImageView& img, const ImageView& shd)
{
    // A source, mirror or crop change alone can decide whether the image's windows can be shown
    // at all (an input beyond the six, a rotation): the layout is then taken again, into the
    // default one or back out of it, as a box started from this image lays it out.
    if (imageNeedsDefaultLayout(img, false) != default_layout) {
        relayoutWindows(img, shd, 0);
        return false;
    }
    bool newPorts = false;   // a shown window over other ports than before
    for (unsigned a = kWinScanFirst; a <= kWinScanLast; a += 2) {
        if (!changed(img, shd, a))
            continue;
        const int w = static_cast<int>((a - kWindows) / kWindowSize);
        const unsigned f = (a - kWindows) % kWindowSize;
        ZEL_DEBUG("DIFF REG win[%#x] reg:%x %04x==>%04x\r\n", w, a - 0x880, shd.word(a), img.word(a));
        const int dbdWas = PM_WIN_DBD_MODE[w];
        switch (f) {
        case kWinState: case kWinX: case kWinY: case kWinWidth: case kWinHeight:
            // Fields before this one in the scan have been applied already.
            relayoutWindows(img, shd, a + 1);
            return false;
        case kWinMirror:
            // The default layout shows its windows unmirrored, as a box started from this image.
            if (!default_layout)
                c331_SetWinAttr(w, img.word(a));
            break;
        case kWinSource:
            passSourceChange(w, img, shd);
            break;
        case kWinFlags:
            c331_SetWinOutput(c331_fd, w, img.word(a));
            break;
        case kWinDbdMode:
            c331_SetWinDbdMode(c331_fd, w, img.word(a));
            break;
        default:
            break;
        }
        newPorts = newPorts || (PM_WIN_DBD_MODE[w] != dbdWas && zelApi_IsWinShown(w));
    }
    // The passes measure no input while a pattern is on. Where it draws over no window, a window
    // changed in place onto ports not measured since would show them unmeasured: they are
    // measured and the window set up now, as a start shows it.
    if (newPorts && zelApi_IsPatternGen() && !patternCovers(0))
        takeInputsOnce();
    return true;
}

void c331_manage::passCrops(const ImageView& img, const ImageView& shd)
{
    for (unsigned k = 0; k < kCropEntries; ++k) {
        const unsigned e = cropEntry(k);
        bool edited = false;
        for (unsigned f = 0; f <= kCropEntryH && !edited; f += 2)
            edited = changed(img, shd, e + f);
        if (!edited)
            continue;
        for (int w = 0; w < kWinCount; ++w) {
            const unsigned a = window(unsigned(w)) + kWinSource;
            const uint16_t s = img.word(a);
            // A window whose source word changed too took the entry with it.
            if ((s & kWinSourceCrop) && (s & 0xFF) == k && !changed(img, shd, a) && zelApi_IsWinShown(w))
                passSourceChange(w, img, shd);
        }
    }
}

// Full re-layout: every window is taken from the image again, so the attribute, flag,
// dot-by-dot and audio changes of this commit at or after image address `from` are applied with it.
void c331_manage::relayoutWindows(const ImageView& img, const ImageView& shd, unsigned from)
{
    zelApi_initEnvC331();
    zelApi_MultiWinChAlloc(1);
    zelApi_MultiWinChInit();
    auto pending = [&](unsigned field) { return field >= from && changed(img, shd, field); };
    for (int v = 0; v < kWinCount; ++v) {
        const unsigned rec = window(v);
        if (pending(rec + kWinMirror) && !default_layout)
            c331_SetWinAttr(v, img.word(rec + kWinMirror));
        if (pending(rec + kWinFlags))
            c331_SetWinOutput(c331_fd, v, img.word(rec + kWinFlags));
        if (pending(rec + kWinDbdMode))
            c331_SetWinDbdMode(c331_fd, v, img.word(rec + kWinDbdMode));
    }
    const unsigned audio = img.word(kAudioWindow);
    if (audio < kUsedWindows && pending(window(audio) + kWinSource))
        inputs()->volume_request = 1;
    followPatternLayout(img.byte(kTestPattern));
    set_output(c331_fd);
}

void c331_manage::passSourceChange(int w, const ImageView& img, const ImageView& shd)
{
    const uint16_t s = img.word(window(w) + kWinSource);
    const uint16_t old = shd.word(window(w) + kWinSource);
    int port;
    if (s & kWinSourceCrop) {
        const unsigned k = s & 0xFF;
        if (k >= kCropEntries) {
            // No such crop entry: the window shows nothing, as a box started from this image.
            ZEL_DEBUG("[c331managerdeal] win%d crop %u OOR\n", w, k);
            if (!zelApi_IsWinShown(w))
                return;
            win_info[w].crop = kNoCrop;
            ST_RECT none{0, 0, 0, 0};
            c331_SetCrop(static_cast<char>(w), 0, &none);
            setNoInput(w);
            return;
        }
        const unsigned e = cropEntry(k);
        ST_RECT rect{img.word(e + kCropEntryX), img.word(e + kCropEntryY), img.word(e + kCropEntryW),
                     img.word(e + kCropEntryH)};
        c331_SetInputsourceCrop(w, s);
        c331_SetCrop(static_cast<char>(w), 1, &rect);
        port = img.cropInput(k);
    } else if (old & kWinSourceCrop) {
        const unsigned r0 = window(0);
        ST_RECT rect{img.word(r0 + kWinX), img.word(r0 + kWinY), img.word(r0 + kWinWidth),
                     img.word(r0 + kWinHeight)};
        c331_SetCrop(static_cast<char>(w), 0, &rect);
        port = s;
    } else {
        port = s;
    }
    // A source beyond the six inputs is no input (a box started from this image shows none).
    if (port >= 0 && port < kInputs)
        c331_SetInputsource(w, port);
    else
        setNoInput(w);
    if (static_cast<unsigned>(w) == img.word(kAudioWindow))
        inputs()->volume_request = 1;
}

void c331_manage::setNoInput(int w)
{
    if (!zelApi_IsWinShown(w))
        return;
    win_info[w].port = kNoInput;
    win_port[w] = kNoPort;
    g_chg_input[w] = 1;
    set_output(c331_fd);
}

void c331_manage::passFades(const ImageView& img, const ImageView& shd)
{
    for (unsigned i = 0; i < kFadeWords; ++i) {
        const unsigned a = kFadeIn + 2 * i;
        if (!changed(img, shd, a))
            continue;
        const int w = static_cast<int>(i / 2);
        if (i % 2 == 0)
            PM_WIN_FADE_IN[w] = img.word(a);
        else
            PM_WIN_FADE_OUT[w] = img.word(a);
        ZEL_DEBUG("DIFF REG win[%#x] reg:%x(%04x) %04x==>%04x\r\n", w, a - kFadeIn, 2816, shd.word(a), img.word(a));
    }
}

void c331_manage::passEdid(const ImageView& img, const ImageView& shd)
{
    // Every input whose requested timing changed (a user mode changes several at once), and
    // every input whose custom EDID waits, gets its request.
    tarvosource* src = inputs();
    for (int i = 0; i < kInputs; ++i) {
        bool request = edid_ram_table_from[i] != 0;
        for (unsigned k = 0; k < kEdidWordsPerInput && !request; ++k)
            request = changed(img, shd, kEdidTiming + kEdidStride * i + 2 * k);
        if (!request)
            continue;
        src->edid_done[i] = 0;
        src->edid_request[i] = 1;
    }
}

void c331_manage::passVolume(const ImageView& img, const ImageView& shd)
{
    for (unsigned w = 0; w < kUsedWindows; ++w) {
        if (changed(img, shd, window(w) + kWinVolume)) {
            inputs()->volume_request = 1;
            return;
        }
    }
}

void c331_manage::passDebug()
{
    // The links write these bytes at any time: each request is taken (and cleared) in one step.
    uint8_t* reg = imageRegStatus();
    if (uint8_t action = statusbyte::take(&reg[kDbgAction])) {
        if (action & 0x01) input_slidebar(c331_fd);
        else if (action & 0x02) output_slidebar(c331_fd);
        else if (action & 0x04) disable_slidebar(c331_fd);
        else if (action & 0x08) vbyone_rx_ch1_seq(c331_fd);
        else if (action & 0x10) vbyone_rx_ch2_seq(c331_fd);
        else if (action & 0x20) read_c331_b174bug(c331_fd);
        else if (action & 0x40) c331_setup_state = 0;
        else if (action & 0x80) write_read_c331_b80_iacthstch5(c331_fd);
    }
    if (uint8_t dump = statusbyte::take(&reg[kDbgParamDump]))
        zelDbg_c331_param(dump - 1);
    if (uint8_t group = statusbyte::take(&reg[kDbgRegGroup])) {
        if (group & 0x01)
            zelDbg_c331_print_regGrp(0);
    }
    if (uint8_t test = statusbyte::take(&reg[kDbgSyncTest])) {
        if (test & 0x01)
            sync_c331_device_test_input(c331_fd);
        else if (test & 0x02)
            sync_c331_device_test_frame_lock(c331_fd);
    }
}

void c331_manage::passInputs()
{
    if (zelApi_IsPatternGen())
        return;
    load_hdmi();
    check_port_valid(c331_fd);
    if (osd_redraw_request) {
        update_osd(c331_fd);
        osd_redraw_request = 0;
    } else if (osd_setup_request) {
        set_osd(c331_fd, 1);
        set_scroll(c331_fd);
        osd_setup_request = 0;
    }
    check_input_port(c331_fd);
    setUpUpdatedPorts();
}

void c331_manage::takeInputsOnce()
{
    load_hdmi();
    check_port_valid(c331_fd);
    check_input_port(c331_fd);
    setUpUpdatedPorts();
}

void c331_manage::setUpUpdatedPorts()
{
    for (int p = 0; p < kPorts; ++p) {
        for (int w = 0; w < kWinCount; ++w) {
            if (!winListsPort(w, p) || (!PI_UPDATE[p] && !g_chg_hdmi[p]))
                continue;
            printf("\n [c331_main]PI_UPDATE[%d]=%d   g_chg_hdmi[%d]=%d   PI_ACT  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n",
                   p, PI_UPDATE[p], p, g_chg_hdmi[p], PI_ACT[p][0], PI_ACT[p][1], PI_ACT[p][2], PI_ACT[p][3]);
            g_chg_input[w] = 3;
            set_output(c331_fd);
            g_c331_source_online = 1;
        }
        PI_UPDATE[p] = 0;
        g_chg_hdmi[p] = 0;
    }
}

void c331_manage::reloadOsdMenu()
{
    get_json_omenu_para(kOmenuFile, &g_osd_list);
    set_OSD_para(&g_osd_list.item[0]);
}
