// Every text of the screen and system pages fits its widget in all five languages: each page and
// tab is opened and every plain-text label and button is measured in the font it draws with. The
// English texts carry none of the misspellings the page tables once had.
#include <QAbstractButton>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QTextDocument>
#include <QToolButton>

#include "core/ram_layout.h"
#include "ledout/card_job_report.h"
#include "ledout/job_block.h"
#include "system_fixture.h"
#include "ui/system/advancedoption.h"
#include "ui/system/linkoption.h"
#include "ui/system/outputset.h"
#include "ui/system/smartmapping.h"
#include "ui/system/test_chart.h"

namespace {

// Room a button's border and padding take.
constexpr int kButtonMargin = 8;

bool labelFits(QLabel* label)
{
    const QString text = label->text();
    if (text.isEmpty() || Qt::mightBeRichText(text))
        return true;
    label->ensurePolished();
    const QRect room = label->contentsRect();
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    const QRect need = QFontMetrics(label->font()).boundingRect(room, flags, text);
    return need.width() <= room.width() && need.height() <= room.height();
}

bool buttonFits(QAbstractButton* button)
{
    const QString text = button->text();
    if (text.isEmpty())
        return true;
    button->ensurePolished();
    const QFontMetrics fm(button->font());
    const auto* tool = qobject_cast<QToolButton*>(button);
    const bool under = tool && tool->toolButtonStyle() == Qt::ToolButtonTextUnderIcon;
    const bool icon = !button->icon().isNull();
    const int iconWidth = icon && !under ? button->iconSize().width() + 4 : 0;
    const int iconHeight = icon && under ? button->iconSize().height() : 0;
    for (const QString& line : text.split('\n'))
        if (fm.horizontalAdvance(line) + iconWidth + kButtonMargin > button->width())
            return false;
    return iconHeight + fm.lineSpacing() * text.count('\n') + fm.height() <= button->height();
}

// The names of the visible widgets of `page` whose text does not fit.
QStringList clipped(QWidget* page, const QString& where)
{
    QStringList out;
    for (QLabel* l : page->findChildren<QLabel*>())
        if (l->isVisibleTo(page) && !labelFits(l))
            out << where + "/" + l->objectName() + ": " + l->text();
    for (QAbstractButton* b : page->findChildren<QAbstractButton*>())
        if (b->isVisibleTo(page) && !buttonFits(b))
            out << where + "/" + b->objectName() + ": " + b->text();
    return out;
}

// Words the page tables once carried misspelled.
const QStringList kMisspellings = {"Cancle", "Seeting", "VerticalS", "EDIP", "downing", "Usermode"};

// The misspelled words among the texts `page` shows (labels, buttons, list entries).
QStringList misspelled(QWidget* page, const QString& where)
{
    QStringList texts;
    for (QLabel* l : page->findChildren<QLabel*>())
        if (l->isVisibleTo(page))
            texts << l->text();
    for (QAbstractButton* b : page->findChildren<QAbstractButton*>())
        if (b->isVisibleTo(page))
            texts << b->text();
    for (QComboBox* c : page->findChildren<QComboBox*>())
        for (int i = 0; i < c->count(); ++i)
            texts << c->itemText(i);
    QStringList out;
    for (const QString& t : texts)
        for (const QString& word : kMisspellings)
            if (t.contains(word))
                out << where + ": " + t;
    return out;
}

}  // namespace

class PageTextsTest : public SystemPageTest {};

TEST_F(PageTextsTest, EveryTextFitsItsWidgetInEveryLanguageAndTheEnglishIsSpelledRight)
{
    zeltest::bringUpFpgas();
    zeltest::writeText("/data/rcvrecovery/JYFX_wall", "recovery");
    zeltest::writeText("/data/smartmapping/P3_indoor.jyfile", "scan");
    zeltest::writeText("/mnt/usb1/ZEL-T71/T71N_APP_V1.2.ZEL", "package");
    for (unsigned w = 0; w < 3; ++w)
        ram_set_u16(model->ram_para, ramaddr::window(w) + ramaddr::kWinState, 1);

    QStringList all;
    for (int lang = 0; lang < 5; ++lang) {
        ram_set_u16(model->ram_para, ramaddr::kLanguage, static_cast<uint16_t>(lang));
        model->ram_para_save();
        const QString in = QStringLiteral("lang %1 ").arg(lang);
        auto check = [&](QWidget* page, const QString& where) {
            all << clipped(page, in + where);
            if (lang == kLangEnglish)
                all << misspelled(page, in + where);
        };

        click(g_option, "output_set");
        check(g_outputset, "output");
        click(g_outputset, "Button_lanset");
        check(g_outputset, "ports");
        click(g_outputset, "Button_back");

        click(g_option, "test_chart");
        check(g_test_chart, "test_chart");
        click(g_test_chart, "Button_back");

        click(g_option, "AdvanceButton");
        check(g_advancedoption, "lcd");
        click(g_advancedoption, "Button_other");
        check(g_advancedoption, "other");
        click(g_advancedoption, "Button_factory");
        check(g_advancedoption, "factory");
        click(g_advancedoption, "Button_reset");
        check(g_advancedoption, "reset");
        click(g_advancedoption, "Button_language");
        click(g_advancedoption, "Button_rcv_recovery");
        check(g_advancedoption, "recovery");
        click(g_advancedoption, "Button_back");

        click(g_option, "smart_mapping");
        check(g_smartmapping, "cabinet");
        for (const char* step : {"Button_next", "Button_next_2", "Button_route"}) {
            click(g_smartmapping, step);
            check(g_smartmapping, step);
        }
        click(g_smartmapping, "Button_route5");
        for (const char* flow : {"Button_loadscan", "Button_next_5", "Button_paraweld", "Button_mapping"}) {
            click(g_smartmapping, flow);
            check(g_smartmapping, flow);
        }
        click(g_smartmapping, "Button_back");

        click(g_option, "link_set");
        check(g_linkoption, "serial");
        click(g_linkoption, "Button_wlan");
        check(g_linkoption, "network");
        click(g_linkoption, "Button_usb");
        check(g_linkoption, "usb");
        click(g_linkoption, "Button_back");
        flushDeletes();
    }
    EXPECT_TRUE(all.isEmpty()) << qPrintable(all.join('\n'));
}
