// The factory set-up tab (font presence, the three factory resets) and the factory aging monitor
// of the advanced settings page.
#include <QDateTime>
#include <QLabel>
#include <QMutexLocker>
#include <QPushButton>
#include <QStackedWidget>

#include <unistd.h>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/para_commit.h"
#include "core/ram_layout.h"
#include "core/utils.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "ledout/fpga_manage.h"
#include "platform/clock.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/my_lineedit.h"
#include "ui/system/advancedoption.h"
#include "ui/system/led_size.h"
#include "ui/system/system_widgets.h"

using namespace ramaddr;

namespace {

// Font presence: the bit of the engine's font-set word behind each picture (32 CN, 64 CN,
// 128 CN, 32 EN, 64 EN, 128 EN).
constexpr int kFontBits[6] = {0, 2, 2, 1, 3, 3};

constexpr const char* kResetPressed = "background-color:#4777FF;color:#FFFFFF;border:1px solid rgb(255, 255, 255);";
constexpr const char* kResetBefore = "background-color:#10101C;color:#FFFFFF;border:1px solid rgb(255, 255, 255);";
constexpr const char* kFactoryIp = "192.168.1.199";
constexpr const char* kFactoryMask = "255.255.255.0";
constexpr const char* kFactoryGateway = "192.168.1.1";
// Image 0x380-0x55F (the requested EDID timings and what follows) is kept by reset 2.
constexpr unsigned kKeepStart = 0x380;
constexpr unsigned kKeepEnd = 0x560;

constexpr const char* kAging = "正在老化中...";
constexpr const char* kBucketLabels[5] = {"<3 ", "<5 ", "<10 ", "<20 ", ">20 "};
constexpr const char* kStatusLabels[5] = {"DDR0", "DDR1", "DE", "HS", "VS"};
constexpr int kLogFields = 8;

QString now_text()
{
    QMutexLocker lock(&Utils::_system_mutex);
    return platform::localNow().toString("MM-dd hh:mm");
}

QString padded(const QString& field) { return QStringLiteral("%1").arg(field.toInt(), 3, 10, QLatin1Char('0')); }

// The five status labels of register 40, green when set, red when clear; "VS" clear runs into
// the next number.
QString status_text(const QString& field)
{
    const int bits = field.toInt();
    QString out;
    for (int b = 0; b < 5; ++b) {
        const bool set = (bits >> b) & 1;
        out += QStringLiteral("<font color = %1 >%2</font>").arg(set ? "#00FF00" : "#FF0000", kStatusLabels[b]);
        if (set || b < 4)
            out += QLatin1Char(' ');
    }
    return out;
}

QString counters_text(const uint32_t (&out1)[5], const uint32_t (&out2)[5], bool emptyLog)
{
    auto part = [emptyLog](const uint32_t (&counts)[5]) {
        QString s;
        for (int k = 0; k < 5; ++k) {
            // The first state of an empty log ends on ">20" without the blank.
            const QString label = emptyLog && k == 4 ? QStringLiteral(">20") : QString::fromLatin1(kBucketLabels[k]);
            s += QString::number(counts[k]) + label;
        }
        return s;
    };
    return QStringLiteral("OUT1:") + part(out1) + QStringLiteral("    OUT2:") + part(out2);
}

}  // namespace

// ---- aging monitor widgets ----------------------------------------------------------------------

void AdvancedOption::build_aging_tab(QWidget* page)
{
    label_log1 = sys::makeText(page, "label_log1", 10, 8, 588, 292, Qt::AlignLeft | Qt::AlignTop);
    label_log1->setTextFormat(Qt::RichText);
    QFont f = label_log1->font();
    f.setPointSize(9);
    label_log1->setFont(f);
    label_log1->setStyleSheet("color:#FFFFFF;");
    label_3 = sys::makeText(page, "label_3", 10, 304, 588, 30);
    page_info = sys::makeText(page, "page_info", 10, 344, 90, 44);
    label_page = sys::makeText(page, "label_page", 110, 344, 110, 44);
    auto* pre = sys::makeButton(page, "pre", 370, 344, 100, 44);
    auto* next = sys::makeButton(page, "next", 486, 344, 100, 44);
    pre->setText("Pre");
    next->setText("Next");
    connect(pre, &QPushButton::clicked, this, &AdvancedOption::on_pre_clicked);
    connect(next, &QPushButton::clicked, this, &AdvancedOption::on_next_clicked);
    // The access code is typed on the keypad into this hidden field of the page.
    agingCode_ = new My_lineEdit(page);
    agingCode_->setObjectName("lineEdit_agecode");
    agingCode_->hide();
}

// ---- factory set-up view ------------------------------------------------------------------------

void AdvancedOption::show_font_presence()
{
    const c331_manage* engine = c331_manage::p_c331_manage;
    const int bits = engine ? engine->font_bits : 0;
    for (int i = 0; i < 6; ++i)
        sys::setPicture(fontPictures_[i], (bits >> kFontBits[i]) & 1 ? ":/png/osd_yes.bmp" : ":/png/osd_no.bmp");
}

void AdvancedOption::on_Button_factory_clicked()
{
    if (!show_tab(tabs_[kTabFactory], kTabFactory))
        return;
    lcd_language_deal();
    show_font_presence();
}

void AdvancedOption::on_Button_factory_age_clicked()
{
    if (g_qround_bar || aging_flag)
        return;
    const QString title = shownLanguage() == kLangRussian ? QString::fromUtf8("Пароль") : QStringLiteral("key");
    agingCode_->setText(QStringLiteral("**********"));
    openKeypad(agingCode_, title);
}

void AdvancedOption::fieldConfirmed(My_lineEdit* field, const QString& text)
{
    if (field != agingCode_ || text != QLatin1String(kAgingCode))
        return;
    stack_->setCurrentIndex(kTabAging);
    button_select(tabs_[kTabAging]);
    ageloginit();
    aging_flag = 1;
}

// ---- factory resets -----------------------------------------------------------------------------

void AdvancedOption::factory_reset(int which)
{
    ZelRamPara* model = ZelRamPara::p_zelrampara_config;
    // Never under an upgrade or a receiving-card job: both read the image and the network.
    if (!model || g_usb_grade.load() != 0 || (fpga_manage::job_word() & 0xFF) != 0)
        return;
    if (reset_select)
        reset_select->setStyleSheet(kResetBefore);
    if (which == 3 && g_str_ip != QLatin1String(kFactoryIp)) {
        ConfigEngine::pInstance()->write_config_variants({{ConfigItem::IPAddress, QString::fromLatin1(kFactoryIp)},
                                                          {ConfigItem::SubNetMask, QString::fromLatin1(kFactoryMask)},
                                                          {ConfigItem::GateWay, QString::fromLatin1(kFactoryGateway)}});
        Utils::system_mutex(QStringLiteral("sync"));
        usleep(100);
        Utils::initIPAddress();
    }
    {
        unsigned char* image = model->ram_para;
        const unsigned char* shadow = model->ram_para_shadow;
        ParaCommit commit;
        for (unsigned a = kPersistStart; a < kRamSize; ++a) {
            if (which == 2 && a >= kKeepStart && a < kKeepEnd)
                continue;
            image[a] = default_para_ramlist[a - kPersistStart + kSlotMarkerLen];
        }
        const bool layoutChanged = ram_get_u16(image, kLedWidth) != ram_get_u16(shadow, kLedWidth) ||
                                   ram_get_u16(image, kLedHeight) != ram_get_u16(shadow, kLedHeight) ||
                                   ram_get_u16(image, kSpliceMode) != ram_get_u16(shadow, kSpliceMode);
        if (layoutChanged) {
            sys::requestLedSizeHandover();
            ram_set_u16(image, kAudioWindow, 0);
        }
        commit.set(1);
    }
    reset_select = resets_[which - 1];
    reset_select->setStyleSheet(kResetPressed);
}

// ---- aging monitor ------------------------------------------------------------------------------

void AdvancedOption::ageloginit()
{
    if (!factoryage_log.empty()) {
        update_agelog();
        return;
    }
    label_log1->setText(now_text() + QStringLiteral("  ") + QString::fromUtf8(kAging));
    const uint32_t zeros[5] = {0, 0, 0, 0, 0};
    label_3->setText(counters_text(zeros, zeros, true));
    page_info->setText("0");
    label_page->setText("0/0");
}

void AdvancedOption::update_agelog()
{
    const int n = static_cast<int>(factoryage_log.size());
    const int pages = (n + kAgingPageEntries - 1) / kAgingPageEntries;
    if (n == 0) {
        ageloginit();
    } else {
        log_page = std::clamp(log_page, 0, pages - 1);
        const int start = kAgingPageEntries * log_page;
        const int end = std::min(n, start + kAgingPageEntries);
        QString text;
        for (int i = start; i < end; ++i) {
            const QStringList f = QString(factoryage_log[static_cast<size_t>(i)]).split(QLatin1Char(' '));
            if (f.size() != kLogFields)
                continue;
            if (i != start)
                text += QStringLiteral("<br>");
            text += f[0] + ' ' + f[1] + ' ' + padded(f[2]) + ' ' + status_text(f[3]) + padded(f[4]) +
                    QStringLiteral("    ,") + padded(f[5]) + ' ' + status_text(f[6]) + padded(f[7]);
        }
        label_log1->setText(text);
    }
    const uint32_t out1[5] = {factoryage_log_diff3, factoryage_log_diff5, factoryage_log_diff10,
                              factoryage_log_diff20, factoryage_log_diffmore};
    const uint32_t out2[5] = {factoryage_log2_diff3, factoryage_log2_diff5, factoryage_log2_diff10,
                              factoryage_log2_diff20, factoryage_log2_diffmore};
    label_3->setText(counters_text(out1, out2, false));
    // An empty log has no page to count: "0/0", also on the tick's refresh.
    label_page->setText(pages == 0 ? QStringLiteral("0/0") : QStringLiteral("%1/%2").arg(log_page + 1).arg(pages));
    page_info->setText(QString::number(n));
}

void AdvancedOption::on_next_clicked()
{
    const int pages = (static_cast<int>(factoryage_log.size()) + kAgingPageEntries - 1) / kAgingPageEntries;
    ++log_page;
    if (log_page >= pages) {
        log_page = 0;
        if (pages == 0)
            return;
    }
    ageloginit();
}

void AdvancedOption::on_pre_clicked()
{
    const int pages = (static_cast<int>(factoryage_log.size()) + kAgingPageEntries - 1) / kAgingPageEntries;
    if (pages == 0)
        return;
    if (--log_page < 0)
        log_page = pages - 1;
    ageloginit();
}
