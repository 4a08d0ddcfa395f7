// The other settings tab of the advanced settings page: audio window and sound, switch effect,
// projection (SDI receiver) reset, Wi-Fi access point and dot-by-dot display.
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QListView>
#include <QPushButton>

#include "chips/it66121_sys.h"
#include "chips/tarvosource.h"
#include "core/global.h"
#include "core/para_commit.h"
#include "core/ram_layout.h"
#include "core/utils.h"
#include "core/zelrampara.h"
#include "links/t71_wifi_config.h"
#include "ui/shell/shell_widgets.h"
#include "ui/system/advancedoption.h"
#include "ui/system/system_widgets.h"

using namespace ramaddr;

namespace {

constexpr LangText kWindowItem = {"画面%1", "image%1", "Канал%1", "Hình ảnh%1", "畫麵%1"};
constexpr uint8_t kVolumeOn = 255;
constexpr uint8_t kSoundBit = 0x80;
constexpr uint8_t kFadeBit = 0x04;
constexpr uint8_t kFadeValue = 60;
constexpr const char* kKillHostapd = "kill -9 `pidof /usr/bin/hostapd /etc/rtl_hostapd_2G.conf`";
constexpr const char* kKillUdhcpd = "kill -9 `pidof /usr/sbin/udhcpd  /etc/udhcpd.conf`";

bool windowOn(const unsigned char* image, unsigned w) { return ram_get_u16(image, ramaddr::window(w) + kWinState) != 0; }

bool upgradeRunning() { return g_usb_grade.load() != 0; }

}  // namespace

void AdvancedOption::build_other_tab(QWidget* page)
{
    const char* captions[5] = {"label_name_volume", "label_name_switch", "label_name_mode", "label_wifi",
                               "label_name_DBD"};
    const int captionY[5] = {4, 108, 188, 262, 342};
    for (int i = 0; i < 5; ++i)
        otherCaptions_[i] = sys::makeText(page, captions[i], 20, captionY[i], 220, 36);
    otherCaptions_[0]->setGeometry(200, 2, 208, 34);
    otherCaptions_[0]->setAlignment(Qt::AlignCenter);

    volumeList_ = new QComboBox(page);
    volumeList_->setObjectName("ImageVolume");
    volumeList_->setGeometry(30, 40, 160, 40);
    volumeList_->setFocusPolicy(Qt::NoFocus);
    volumeList_->setView(new QListView);
    volumeList_->setStyleSheet("QComboBox{\ncolor:rgb(255,255,255);\n}\nQComboBox QAbstractItemView::item { min-height: 40px;}");
    connect(volumeList_, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &AdvancedOption::on_ImageVolume_currentIndexChanged);
    volumeState_ = shell::makeFlatButton(page, "Button_volume_state", 518, 44, 70, 32);

    seamless_ = shell::makeFlatButton(page, "Button_seamless", 212, 101, 50, 50);
    seamlessLabel_ = sys::makeText(page, "label_seamless", 266, 101, 130, 50);
    fade_ = shell::makeFlatButton(page, "Button_fade", 405, 101, 50, 50);
    fadeLabel_ = sys::makeText(page, "label_fade", 459, 101, 140, 50);

    modeButton_ = sys::makeButton(page, "modeButton", 463, 181, 125, 50);
    modeButton_->setStyleSheet("QPushButton::checked{background-color:#4777FF;}\nQPushButton {color: rgb(255, 255, 255);}");
    wifiState_ = shell::makeFlatButton(page, "Button_wifi_state", 518, 264, 70, 32);

    dbdOpen_ = shell::makeFlatButton(page, "Button_DBD_open", 212, 335, 50, 50);
    dbdOpenLabel_ = sys::makeText(page, "label_DBD_open", 266, 335, 130, 50);
    dbdClose_ = shell::makeFlatButton(page, "Button_DBD_close", 405, 335, 50, 50);
    dbdCloseLabel_ = sys::makeText(page, "label_DBD_open_2", 459, 335, 140, 50);

    // The texts beside the marks take a second line where a language needs it.
    for (QLabel* l : {seamlessLabel_, fadeLabel_, dbdOpenLabel_, dbdCloseLabel_})
        l->setWordWrap(true);
    const int lineY[4] = {88, 166, 244, 320};
    for (int i = 0; i < 4; ++i) {
        auto* line = new QFrame(page);
        line->setObjectName(QStringLiteral("line_%1").arg(i + 3));
        line->setGeometry(0, lineY[i], 608, 1);
        line->setStyleSheet("border:1px solid rgb(133, 129, 153);");
    }

    connect(volumeState_, &QPushButton::clicked, this, &AdvancedOption::on_Button_volume_state_clicked);
    connect(seamless_, &QPushButton::clicked, this, &AdvancedOption::on_Button_seamless_clicked);
    connect(fade_, &QPushButton::clicked, this, &AdvancedOption::on_Button_fade_clicked);
    connect(modeButton_, &QPushButton::clicked, this, &AdvancedOption::on_modeButton_clicked);
    connect(wifiState_, &QPushButton::clicked, this, &AdvancedOption::on_Button_wifi_state_clicked);
    connect(dbdOpen_, &QPushButton::clicked, this, &AdvancedOption::on_Button_DBD_open_clicked);
    connect(dbdClose_, &QPushButton::clicked, this, &AdvancedOption::on_Button_DBD_close_clicked);
    for (QPushButton* b : {dbdOpen_, dbdClose_, seamless_, fade_})
        b->setIconSize(sys::kMarkSize);
}

int AdvancedOption::window_of_position(const unsigned char* image, int position)
{
    if (position < 0 || position >= kAudioWindows)
        return -1;
    int seen = 0;
    for (unsigned w = 0; w < kUsedWindows; ++w)
        if (windowOn(image, w) && seen++ == position)
            return static_cast<int>(w);
    return -1;
}

void AdvancedOption::para_init()
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (!model)
        return;
    unsigned char* image = model->ram_para;
    int audio = static_cast<int16_t>(ram_get_u16(image, kAudioWindow));
    if (audio < 0 || audio >= kAudioWindows || !windowOn(image, static_cast<unsigned>(audio))) {
        // Repaired in place; the engine takes it with the next change.
        ParaCommit commit;
        ram_set_u16(image, kAudioWindow, 0);
        audio = 0;
    }
    volumeList_->clear();
    int selected = -1;
    for (unsigned w = 0; w < kUsedWindows; ++w) {
        if (!windowOn(image, w))
            continue;
        if (static_cast<int>(w) == audio)
            selected = volumeList_->count();
        volumeList_->addItem(langText(kWindowItem).arg(w + 1));
    }
    volumeList_->setCurrentIndex(selected);

    sys::setIcon(wifiState_, image[kWifiOff] != 0 ? sys::kOff : sys::kOn, sys::kToggleSize);
    const bool fade = ram_get_u16(image, kSwitchEffect) != 0;
    sys::setIcon(fade_, fade ? sys::kChecked : sys::kUnchecked);
    sys::setIcon(seamless_, fade ? sys::kUnchecked : sys::kChecked);
    const bool dbd = ram_get_u16(image, kDotByDot) != 0;
    sys::setIcon(dbdOpen_, dbd ? sys::kChecked : sys::kUnchecked);
    sys::setIcon(dbdClose_, dbd ? sys::kUnchecked : sys::kChecked);
}

// With no window on (no current item) there is no window to follow: nothing happens.
void AdvancedOption::on_ImageVolume_currentIndexChanged(int index)
{
    const ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    const int w = model ? window_of_position(model->ram_para, index) : -1;
    if (w < 0)
        return;
    const bool on = model->ram_para[ramaddr::window(static_cast<unsigned>(w)) + kWinSound] & kSoundBit;
    sys::setIcon(volumeState_, on ? sys::kOn : sys::kOff, sys::kToggleSize);
}

void AdvancedOption::on_Button_volume_state_clicked()
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    const int w = model ? window_of_position(model->ram_para, static_cast<int16_t>(volumeList_->currentIndex())) : -1;
    if (w < 0 || upgradeRunning())
        return;
    unsigned char* record = model->ram_para + ramaddr::window(static_cast<unsigned>(w));
    const bool turnOn = !(record[kWinSound] & kSoundBit);
    sys::setIcon(volumeState_, turnOn ? sys::kOn : sys::kOff, sys::kToggleSize);
    ParaCommit commit;
    ram_set_u16(model->ram_para, kAudioWindow, static_cast<uint16_t>(w));
    record[kWinVolume] = turnOn ? kVolumeOn : 0;
    record[kWinSound] = turnOn ? kSoundBit : 0;
    commit.set(1);
}

void AdvancedOption::commit_switch_effect(bool fade)
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (!model || upgradeRunning())
        return;
    sys::setIcon(seamless_, fade ? sys::kUnchecked : sys::kChecked);
    sys::setIcon(fade_, fade ? sys::kChecked : sys::kUnchecked);
    {
        unsigned char* image = model->ram_para;
        ParaCommit commit;
        image[kSwitchEffect] = fade ? 1 : 0;
        for (unsigned i = 0; i < kWindowSlots; ++i) {
            unsigned char& flags = image[ramaddr::window(i) + kWinFlags];
            flags = fade ? (flags | kFadeBit) : (flags & ~kFadeBit);
            if (fade) {
                image[kFadeIn + 4 * i] = kFadeValue;
                image[kFadeOut + 4 * i] = kFadeValue;
            }
        }
        commit.set(1);
    }
    ZelRamPara::ram_para_save();
}

void AdvancedOption::on_Button_seamless_clicked() { commit_switch_effect(false); }
void AdvancedOption::on_Button_fade_clicked() { commit_switch_effect(true); }

void AdvancedOption::commit_dot_by_dot(bool on)
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (!model || upgradeRunning())
        return;
    sys::setIcon(dbdOpen_, on ? sys::kChecked : sys::kUnchecked);
    sys::setIcon(dbdClose_, on ? sys::kUnchecked : sys::kChecked);
    {
        unsigned char* image = model->ram_para;
        ParaCommit commit;
        image[kDotByDot] = on ? 1 : 0;
        // The whole high byte of the flags word: the dot-by-dot bit is its bit 0.
        for (unsigned i = 0; i < kWindowSlots; ++i)
            image[ramaddr::window(i) + kWinFlags + 1] = on ? 1 : 0;
        commit.set(1);
    }
    ZelRamPara::ram_para_save();
}

void AdvancedOption::on_Button_DBD_open_clicked() { commit_dot_by_dot(true); }
void AdvancedOption::on_Button_DBD_close_clicked() { commit_dot_by_dot(false); }

void AdvancedOption::on_modeButton_clicked()
{
    if (tarvosource::p_tarvo_source) {
        tarvosource::p_tarvo_source->sdi_it66121.GS2971_Reset();
        return;
    }
    it66121_sys sdi;
    sdi.GS2971_Reset();
}

void AdvancedOption::on_Button_wifi_state_clicked()
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (!model || upgradeRunning())
        return;
    unsigned char* image = model->ram_para;
    if (image[kWifiOff] != 0) {
        {
            ParaCommit commit;
            image[kWifiOff] = 0;
        }
        if (T71_WIFI_CONFIG* wifi = T71_WIFI_CONFIG::p_wifi)
            wifi->set_wifi_reset_flag();
        sys::setIcon(wifiState_, sys::kOn, sys::kToggleSize);
    } else {
        {
            ParaCommit commit;
            image[kWifiOff] = 1;
        }
        // From here the Wi-Fi thread starts nothing; the running daemons are stopped by name.
        Utils::system_mutex(QString::fromLatin1(kKillHostapd));
        Utils::system_mutex(QString::fromLatin1(kKillUdhcpd));
        sys::setIcon(wifiState_, sys::kOff, sys::kToggleSize);
    }
    ParaCommit commit;
    commit.set(1);
}
