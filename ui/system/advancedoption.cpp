// The frame of the advanced settings page: tabs, LCD tab, planning tab, languages, texts and the
// dispatcher's refresh. The other tabs live in advancedoption_*.cpp.
#include "ui/system/advancedoption.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>

#include <initializer_list>
#include <utility>

#include "core/global.h"
#include "core/para_commit.h"
#include "core/ram_layout.h"
#include "core/zelrampara.h"
#include "ledout/card_job_report.h"
#include "ledout/fpga_manage.h"
#include "ledout/job_block.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/shell_widgets.h"
#include "ui/system/system_widgets.h"

AdvancedOption* g_advancedoption = nullptr;

using namespace ramaddr;

namespace {

constexpr int kBackTimeMin = 3000;
constexpr int kBackTimeMax = 18000;
constexpr unsigned kLock5Min = 30000;
constexpr unsigned kLock10Min = 60000;
constexpr unsigned kLockNever = 120000;
constexpr unsigned kLockTimes[3] = {kLock5Min, kLock10Min, kLockNever};

constexpr const char* kSubChosen = "color:#4777FF;";
constexpr const char* kSubOther = "color:#FFFFFF;";
constexpr const char* kRule = "background-color: rgb(133, 129, 153);";
constexpr const char* kUnderline = "background-color: rgb(71, 119, 255);";

// Every text of the frame and of the other settings and reset tabs, set by language_changed.
constexpr sys::NamedText kTexts[] = {
    {"label_title", {"高级设置", "Advanced Settings", "Доп.опции", "Cài đặt nâng cao", "高級設置"}},
    {"label_backmainwindow",
     {"返回主界面时长", "To main interface", "Возврат к главному", "Quay lại màn hình chính", "返回主界麵時長"}},
    {"label_autolock", {"自动锁屏", "Auto-screen lock", "Автоблокировка", "Tự đọng khoá màn hình", "自動鎖屏"}},
    {"label_5min", {"5分钟", "5min", "5 мин", "5 phút", "5分鐘"}},
    {"label_10min", {"10分钟", "10min", "10 мин", "10 phút", "10分鐘"}},
    {"label_never", {"从不", "Never", "Отключить", "Không bao giờ khoá", "從不"}},
    {"Button_plan", {"计划任务", "Planning Tasks", "Расписание задач", "Nhiệm vụ theo lịch trình", "計劃任務"}},
    {"Button_switch", {"定时切换", "Timer switch", "Расписание задач", "Kế hoạch thời gian", "定時切換"}},
    {"label_name_volume", {"音量", "Volume", "Звук", "âm thanh", "音量"}},
    {"label_name_switch", {"切换特效", "Switch mode", "Эффект", "Hiệu ứng", "切換特效"}},
    {"label_name_mode", {"投屏设备", "Projection", "Радиоприбор", "Cài đặt Thiết bị", "投屏設備"}},
    {"modeButton", {"点击切换", "Click OK", "Нажмите ОК", "Đồng ý", "點擊切換"}},
    {"label_wifi", {"WIFI状态", "Wifi state", "WiFi статус", "Trạng thái wifi", "WIFI狀態"}},
    {"label_seamless", {"无缝快切", "Seamless", "Быстро", "Chuyển đổi ngay", "無縫快切"}},
    {"label_fade", {"淡入淡出", "Fade", "Плавно", "và ngoài", "淡入淡出"}},
    {"label_name_DBD", {"点对点", "DBD", "Пиксель к пикселю", "Điểm tới điểm", "點對點"}},
    {"label_DBD_open", {"开启", "ON", "Вкл", "Mở", "開啟"}},
    {"label_DBD_open_2", {"关闭", "OFF", "Откл", "Đóng", "關閉"}},
    {"Button_language", {"语言", "language", "Язык", "Ngôn ngữ", "語言"}},
    {"Button_reset", {"工厂复位", "Factory reset", "Сброс настроек", "Khôi phục cài đặt gốc", "工廠複位"}},
    {"label_language", {"语言", "language", "Язык", "Ngôn ngữ", "語言"}},
    {"Button_LCDshow", {"液晶显示", "LCD display", "ЖК дисплей", "Màn hình LCD", "液晶顯示"}},
    {"Button_timeplan", {"计划任务", "Planning Tasks", "Расписание задач", "Nhiệm vụ theo lịch trình", "計劃任務"}},
    {"Button_other", {"其它设置", "Other Settings", "Другие\nнастройки", "Cài đặt khác", "其它設置"}},
    {"Button_factory", {"工厂设置", "Factory setup", "Системные\nнастройки", "Khôi phục\ncàiđăt gốc", "工廠設置"}},
    {"Button_factory_age", {"工厂老化", "Aging", "Сброс\nнастроек", "Lão hóa\nnhà máy", "工廠老化"}},
    {"Button_reset1", {"保持IP不变", "Keep IP", "Сохранить IP", "Giữ nguyên IP", "保持IP不變"}},
    {"Button_reset2", {"IP和EDID保持不变", "Keep IP, EDID", "Сохранить IP и EDID", "IP và EDID vẫn giữ nguyên",
                       "IP和EDID保持不變"}},
    {"Button_reset3", {"全部恢复出厂设置", "Reset ALL", "Сбросить все", "Khôi phục cài đặt gốc tất cả",
                       "全部恢複出廠設置"}},
    {"label_32CN", {"32高中文", "32 CN", "32 CN", "32 CN", "32高中文"}},
    {"label_32EN", {"32高英文", "32 EN", "32 EN", "32 EN", "32高英文"}},
    {"label_64CN", {"64高中文", "64 CN", "64 CN", "64 CN", "64高中文"}},
    {"label_64EN", {"64高英文", "64 EN", "64 EN", "64 EN", "64高英文"}},
    {"label_128CN", {"128高中文", "128 CN", "128 CN", "128 CN", "128高中文"}},
    {"label_128EN", {"128高英文", "128 EN", "128 EN", "128 EN", "128高英文"}},
    // Self-recovery tab.
    {"Button_rcv_recovery",
     {"接收卡自恢复", "Rcv\nself-recovery", "Самовосст\nановление", "Thẻ nhận tự\nphục hồi", "接收卡自恢複"}},
    {"label_rcv_update",
     {"接收卡更新", "Receiving card update", "Получить обновление карты", "Nhận thông tin cập nhập về thẻ",
      "接收卡更新"}},
    {"Button_check", {"查询", "Check", "Считать", "Tìm hiểu", "查詢"}},
    {"Button_self_recovery", {"恢复", "Recover", "Восстановить", "Phục hồi", "恢複"}},
};

// The language buttons and their fixed labels, by language number.
struct LanguageRow {
    const char* button;
    const char* label;
    const char* text;
    int x, y;
};
constexpr LanguageRow kLanguageRows[AdvancedOption::kLanguages] = {
    {"Button_chinese", "label_cn", "中文", 299, 22},
    {"Button_english", "label_en", "English", 459, 22},
    {"Button_ru", "label_ru", "Русский", 140, 90},
    {"Button_vn", "label_vn", "Tiếng việt", 299, 90},
    {"Button_tn", "label_tn", "繁体中文", 459, 90},
};

}  // namespace

AdvancedOption::AdvancedOption(QWidget* parent)
    : shell::PageBase("AdvancedOption", kFocus, shell::kSettingsFocus, parent)
{
    keepPointer(g_advancedoption);
    QFont f = font();
    f.setPointSize(15);
    setFont(f);
    titleLabel()->setGeometry(285, 15, 230, 42);

    stack_ = sys::makeFramedStack(this, {"page", "page_2", "page_3", "page_4", "page_5", "page_8_osd"});
    QWidget* tabPages[6];
    for (int i = 0; i < 6; ++i)
        tabPages[i] = stack_->widget(i);
    build_tabs();
    build_lcd_tab(tabPages[kTabLcd]);
    build_recovery_tab(tabPages[kTabRecovery]);
    build_plan_tab(tabPages[kTabPlan]);
    build_other_tab(tabPages[kTabOther]);
    build_factory_tab(tabPages[kTabFactory]);
    build_aging_tab(tabPages[kTabAging]);

    stack_->setCurrentIndex(kTabLcd);
    factoryStack_->setCurrentIndex(0);
    button_select(tabs_[kTabLcd]);
    timeLabel_->setText(back_time_text(static_cast<int>(g_back_to_mainwindow_time)));
    slider_->setValue(static_cast<int>(g_back_to_mainwindow_time));
    mark_lock(lockButtons_[0]);
    for (int k = 0; k < 3; ++k)
        if (g_auto_lock_time == kLockTimes[k])
            mark_lock(lockButtons_[k]);
    tabs_[kTabPlan]->hide();

    // Job progress reaches this page from the LED output's thread through the GUI thread.
    cardjobs::attach(cardjobs::Page::AdvancedOption, this);
    para_init();
    lcd_language_deal();
    language_changed();
    aging_flag = 0;
    log_page = 0;
    rcv_start_block = 0;
}

AdvancedOption::~AdvancedOption() = default;

void AdvancedOption::build_tabs()
{
    QWidget* column = sys::makeArea(this, "frame_tabs", 0, 72, 165, 408);
    const char* names[6] = {"Button_LCDshow",  "Button_rcv_recovery", "Button_timeplan",
                            "Button_other",    "Button_factory",      "Button_factory_age"};
    void (AdvancedOption::*handlers[6])() = {
        &AdvancedOption::on_Button_LCDshow_clicked, &AdvancedOption::on_Button_rcv_recovery_clicked,
        &AdvancedOption::on_Button_timeplan_clicked, &AdvancedOption::on_Button_other_clicked,
        &AdvancedOption::on_Button_factory_clicked, &AdvancedOption::on_Button_factory_age_clicked};
    for (int i = 0; i < 6; ++i) {
        tabs_[i] = sys::makeButton(column, names[i], 20, 8 + 60 * i, 140, 60);
        shell::markSelected(tabs_[i], false);
        connect(tabs_[i], &QPushButton::clicked, this, handlers[i]);
    }
}

void AdvancedOption::build_lcd_tab(QWidget* page)
{
    backCaption_ = sys::makeText(page, "label_backmainwindow", 20, 42, 230, 32);
    slider_ = new QSlider(Qt::Horizontal, page);
    slider_->setObjectName("horizontalSlider");
    slider_->setGeometry(255, 42, 290, 32);
    slider_->setRange(kBackTimeMin, kBackTimeMax);
    slider_->setFocusPolicy(Qt::NoFocus);
    slider_->setStyleSheet("QSlider::groove:horizontal{height:6px;background:#3A3F5C;border-radius:3px;}"
                           "QSlider::sub-page:horizontal{background:#4777FF;border-radius:3px;}"
                           "QSlider::handle:horizontal{background:#FFFFFF;width:22px;margin:-8px 0;border-radius:11px;}");
    connect(slider_, &QSlider::valueChanged, this, &AdvancedOption::on_horizontalSlider_valueChanged);
    connect(slider_, &QSlider::sliderReleased, this, &AdvancedOption::on_horizontalSlider_sliderReleased);
    timeLabel_ = sys::makeText(page, "label_time", 552, 42, 54, 32);
    lockCaption_ = sys::makeText(page, "label_autolock", 20, 122, 230, 32);
    const char* buttons[3] = {"Button_5min", "Button_10min", "Button_never"};
    const char* labels[3] = {"label_5min", "label_10min", "label_never"};
    void (AdvancedOption::*handlers[3])() = {&AdvancedOption::on_Button_5min_clicked,
                                             &AdvancedOption::on_Button_10min_clicked,
                                             &AdvancedOption::on_Button_never_clicked};
    for (int k = 0; k < 3; ++k) {
        lockButtons_[k] = shell::makeFlatButton(page, buttons[k], 30 + 190 * k, 175, 50, 50);
        lockLabels_[k] = sys::makeText(page, labels[k], 84 + 190 * k, 175, 130, 50);
        lockLabels_[k]->setWordWrap(true);
        connect(lockButtons_[k], &QPushButton::clicked, this, handlers[k]);
    }
}

namespace {

// Below a pair of sub-tabs: the rule across the tab and the underline of the chosen sub-tab, at
// first the left one; the underline.
QFrame* makeSubTabLines(QWidget* page, const char* ruleName, const char* underlineName)
{
    auto* rule = new QFrame(page);
    rule->setObjectName(ruleName);
    rule->setGeometry(0, 60, 610, 1);
    rule->setStyleSheet(kRule);
    auto* underline = new QFrame(page);
    underline->setObjectName(underlineName);
    underline->setGeometry(0, 57, 305, 4);
    underline->setStyleSheet(kUnderline);
    return underline;
}

// The sub-pages below the lines: a stack holding one page per name, in order.
QStackedWidget* makeSubStack(QWidget* page, const char* objectName, std::initializer_list<const char*> pageNames)
{
    auto* stack = new QStackedWidget(page);
    stack->setObjectName(objectName);
    stack->setGeometry(0, 61, 610, 337);
    for (const char* name : pageNames) {
        auto* p = new QWidget(stack);
        p->setObjectName(name);
        stack->addWidget(p);
    }
    return stack;
}

}  // namespace

void AdvancedOption::build_plan_tab(QWidget* page)
{
    plan_ = sys::makeButton(page, "Button_plan", 68, 9, 170, 43);
    switch_ = sys::makeButton(page, "Button_switch", 386, 9, 144, 43);
    for (QPushButton* b : {plan_, switch_})
        b->setStyleSheet(kSubOther);
    connect(plan_, &QPushButton::clicked, this, &AdvancedOption::on_Button_plan_clicked);
    connect(switch_, &QPushButton::clicked, this, &AdvancedOption::on_Button_switch_clicked);
    planUnderline_ = makeSubTabLines(page, "line_2", "line_choose_2");
    planStack_ = makeSubStack(page, "stackedWidget_3", {"page_8", "page_9"});
}

void AdvancedOption::build_factory_tab(QWidget* page)
{
    languageTab_ = sys::makeButton(page, "Button_language", 78, 9, 150, 43);
    resetTab_ = sys::makeButton(page, "Button_reset", 350, 9, 222, 43);
    for (QPushButton* b : {languageTab_, resetTab_})
        b->setStyleSheet(kSubOther);
    connect(languageTab_, &QPushButton::clicked, this, &AdvancedOption::on_Button_language_clicked);
    connect(resetTab_, &QPushButton::clicked, this, &AdvancedOption::on_Button_reset_clicked);
    factoryUnderline_ = makeSubTabLines(page, "line", "line_choose");
    languageTab_->setStyleSheet(kSubChosen);

    factoryStack_ = makeSubStack(page, "stackedWidget_2", {"page_6", "page_7"});
    QWidget* languages = factoryStack_->widget(0);
    QWidget* resets = factoryStack_->widget(1);

    languageCaption_ = sys::makeText(languages, "label_language", 20, 30, 110, 36);
    void (AdvancedOption::*handlers[kLanguages])() = {
        &AdvancedOption::on_Button_chinese_clicked, &AdvancedOption::on_Button_english_clicked,
        &AdvancedOption::on_Button_ru_clicked, &AdvancedOption::on_Button_vn_clicked,
        &AdvancedOption::on_Button_tn_clicked};
    for (int n = 0; n < kLanguages; ++n) {
        const LanguageRow& r = kLanguageRows[n];
        languageButtons_[n] = shell::makeFlatButton(languages, r.button, r.x, r.y, 50, 50);
        languageLabels_[n] = sys::makeText(languages, r.label, r.x + 52, r.y, 100, 50);
        languageLabels_[n]->setText(QString::fromUtf8(r.text));
        connect(languageButtons_[n], &QPushButton::clicked, this, handlers[n]);
    }
    // Font presence: captions with their pictures, two rows of three.
    const char* captions[6] = {"label_32CN", "label_64CN", "label_128CN", "label_32EN", "label_64EN", "label_128EN"};
    for (int i = 0; i < 6; ++i) {
        const int x = 30 + 190 * (i % 3);
        const int y = 175 + 60 * (i / 3);
        fontCaptions_[i] = sys::makeText(languages, captions[i], x, y, 110, 40);
        fontPictures_[i] = sys::makeText(languages, QStringLiteral("%1S").arg(captions[i]), x + 116, y + 8, 24, 24);
    }

    for (int k = 0; k < 3; ++k) {
        resets_[k] = sys::makeButton(resets, QStringLiteral("Button_reset%1").arg(k + 1), 164, 30 + 90 * k, 280, 60);
        resets_[k]->setStyleSheet("color: rgb(255, 255, 255);\nborder:1px solid rgb(255, 255, 255);");
    }
    connect(resets_[0], &QPushButton::clicked, this, &AdvancedOption::on_Button_reset1_clicked);
    connect(resets_[1], &QPushButton::clicked, this, &AdvancedOption::on_Button_reset2_clicked);
    connect(resets_[2], &QPushButton::clicked, this, &AdvancedOption::on_Button_reset3_clicked);
}

// ---- tabs -----------------------------------------------------------------------------------------

int AdvancedOption::currentTab() const { return stack_->currentIndex(); }

void AdvancedOption::button_select(QPushButton* button)
{
    if (tab_select && tab_select != button)
        shell::markSelected(tab_select, false);
    tab_select = button;
    shell::markSelected(button, true);
}

// A tab changes only while no receiving-card job shows its progress ring.
bool AdvancedOption::show_tab(QPushButton* button, int index)
{
    if (g_qround_bar)
        return false;
    aging_flag = 0;
    stack_->setCurrentIndex(index);
    button_select(button);
    return true;
}

void AdvancedOption::on_Button_LCDshow_clicked() { show_tab(tabs_[kTabLcd], kTabLcd); }
void AdvancedOption::on_Button_timeplan_clicked() { show_tab(tabs_[kTabPlan], kTabPlan); }

void AdvancedOption::on_Button_other_clicked()
{
    if (!show_tab(tabs_[kTabOther], kTabOther))
        return;
    seamless_->setIconSize(sys::kMarkSize);
    fade_->setIconSize(sys::kMarkSize);
    volumeState_->setIconSize(sys::kToggleSize);
    wifiState_->setIconSize(sys::kToggleSize);
}

void AdvancedOption::on_Button_back_clicked()
{
    cardjobs::attach(cardjobs::Page::AdvancedOption, nullptr);
    shell::PageBase::on_Button_back_clicked();
}

// ---- LCD tab --------------------------------------------------------------------------------------

QString AdvancedOption::back_time_text(int v)
{
    if (v < 6000)
        return QStringLiteral("%1s").arg(v / 100);
    if (v > 17999)
        return QStringLiteral("%1m").arg(3);
    if (v % 6000 != 0)
        return QString::asprintf("%.1fm", v / 6000.0);
    return QStringLiteral("%1m").arg(v / 6000);
}

void AdvancedOption::on_horizontalSlider_valueChanged(int value) { timeLabel_->setText(back_time_text(value)); }

void AdvancedOption::on_horizontalSlider_sliderReleased()
{
    g_back_to_mainwindow_time = static_cast<unsigned>(slider_->value());
}

void AdvancedOption::mark_lock(QPushButton* chosen)
{
    for (QPushButton* b : lockButtons_)
        sys::setIcon(b, b == chosen ? sys::kChecked : sys::kUnchecked);
}

void AdvancedOption::on_Button_5min_clicked()
{
    g_auto_lock_time = kLock5Min;
    mark_lock(lockButtons_[0]);
}

void AdvancedOption::on_Button_10min_clicked()
{
    g_auto_lock_time = kLock10Min;
    mark_lock(lockButtons_[1]);
}

void AdvancedOption::on_Button_never_clicked()
{
    g_auto_lock_time = kLockNever;
    mark_lock(lockButtons_[2]);
}

// ---- planning and factory sub-tabs --------------------------------------------------------------

void AdvancedOption::choose_sub_tab(QPushButton* chosen, QPushButton* other, QFrame* underline, bool left)
{
    chosen->setStyleSheet(kSubChosen);
    other->setStyleSheet(kSubOther);
    underline->setGeometry(left ? 0 : 305, 57, 305, 4);
}

void AdvancedOption::on_Button_plan_clicked()
{
    choose_sub_tab(plan_, switch_, planUnderline_, true);
    planStack_->setCurrentIndex(0);
}

void AdvancedOption::on_Button_switch_clicked()
{
    choose_sub_tab(switch_, plan_, planUnderline_, false);
    planStack_->setCurrentIndex(1);
}

void AdvancedOption::on_Button_language_clicked()
{
    choose_sub_tab(languageTab_, resetTab_, factoryUnderline_, true);
    factoryStack_->setCurrentIndex(0);
}

void AdvancedOption::on_Button_reset_clicked()
{
    choose_sub_tab(resetTab_, languageTab_, factoryUnderline_, false);
    factoryStack_->setCurrentIndex(1);
}

// ---- languages and texts --------------------------------------------------------------------------

void AdvancedOption::lcd_language_deal()
{
    const int current = g_language.load();
    for (int n = 0; n < kLanguages; ++n) {
        const bool offered = (g_lcd_lang_valid >> n) & 1u;
        languageButtons_[n]->setVisible(offered);
        languageLabels_[n]->setVisible(offered);
        if (offered && current >= 0 && current < kLanguages)
            sys::setIcon(languageButtons_[n], n == current ? sys::kChecked : sys::kUnchecked);
    }
}

void AdvancedOption::choose_language(int language)
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (!model || model->ram_para[kLanguage] == language || g_usb_grade.load() != 0)
        return;
    for (int n = 0; n < kLanguages; ++n)
        sys::setIcon(languageButtons_[n], n == language ? sys::kChecked : sys::kUnchecked);
    g_language = language;
    {
        ParaCommit commit;
        model->ram_para[kLanguage] = static_cast<unsigned char>(language);
        commit.set(1);
    }
    language_changed();
}

void AdvancedOption::language_changed()
{
    count_recovery_files();
    sys::setTexts(this, kTexts);
    style_recovery_tab();
    languageRedrawn_ = true;
}

// ---- refresh --------------------------------------------------------------------------------------

void AdvancedOption::syncUpdate(int code) { refreshNow(code); }

// The audio window's word can be written over the links: only windows 0-5 are compared; any
// other value counts as a change, which para_init repairs.
bool AdvancedOption::refresh_needs_para_init(int audioWindow) const
{
    const ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    const unsigned char* image = model->ram_para;
    const unsigned char* shadow = model->ram_para_shadow;
    auto differs = [&](unsigned addr) { return ram_get_u16(image, addr) != ram_get_u16(shadow, addr); };
    if (audioWindow < 0 || audioWindow >= kAudioWindows)
        return true;
    if (differs(ramaddr::window(static_cast<unsigned>(audioWindow)) + kWinVolume) || differs(kSwitchEffect) ||
        differs(kAudioWindow))
        return true;
    for (unsigned w = 0; w < kUsedWindows; ++w)
        if (differs(ramaddr::window(w) + kWinState))
            return true;
    return false;
}

void AdvancedOption::pageRefresh(int code)
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    if (!model)
        return;
    const bool languageChanged = std::exchange(languageRedrawn_, false);
    if (languageChanged)
        lcd_language_deal();
    const int audioWindow = static_cast<int16_t>(ram_get_u16(model->ram_para, kAudioWindow));
    if (languageChanged || refresh_needs_para_init(audioWindow))
        para_init();
    const uint16_t report = jobblock::u16(jobblock::kCheckResult);
    if (rcv_self_recovery_ornot() && (code == 99 || (report != 255 && report != 65535)))
        rcv_self_recovery_file_list();
}
