// The shell fixture with a video engine on the simulated chip, stepped by hand: engineStep() is
// one pass of the engine's worker, which applies a committed change and reports it to the change
// dispatcher (page refresh, notice, parameter file).
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "sim/video_chip.h"
#include "support/video_engine.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/shell_fixture.h"

class VideoPageTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        engine = zeltest::newEngine();
        ASSERT_EQ(engine->initialize(false), 0);
        ASSERT_TRUE(zeltest::bringUpEngine(engine));
        model->refresh_shadow();
    }

    // One pass of the engine: applies a committed change and reports it.
    void engineStep() { engine->stepOnce(); }
    int flag() const { return engine->para_chg_flag.load(); }
    void clearFlag() { engine->para_chg_flag = 0; }

    uint16_t imageWord(unsigned addr) const { return ram_get_u16(model->ram_para, addr); }
    void setWord(unsigned addr, uint16_t v) { ram_set_u16(model->ram_para, addr, v); }
    // Writes image and shadow alike, as a box that started with that value.
    void setStored(unsigned addr, uint16_t v)
    {
        ram_set_u16(model->ram_para, addr, v);
        ram_set_u16(model->ram_para_shadow, addr, v);
    }
    uint16_t windowWord(int w, unsigned offset) const { return imageWord(ramaddr::window(w) + offset); }

    // The saved parameter file's (marker, then image 0x300-0xFFF) 16-bit field at an image address.
    uint16_t fileWord(unsigned addr) const
    {
        const std::vector<uint8_t> file = zeltest::readFile(kParameterFile);
        const unsigned at = addr - ramaddr::kPersistStart + ramaddr::kSlotMarkerLen;   // after the marker
        return file.size() > at + 1 ? static_cast<uint16_t>(file[at] | (file[at + 1] << 8)) : 0xFFFF;
    }

    // Touches a keypad field, types the digits on the keypad and confirms.
    void typeInto(QObject* page, const QString& field, const QString& digits)
    {
        auto* edit = child<My_lineEdit>(page, field);
        if (!edit)
            return;
        QTest::mouseClick(edit, Qt::LeftButton);
        ASSERT_TRUE(g_numberkeyboard->isVisible()) << qPrintable(field);
        click(g_numberkeyboard, "Button_clear");
        keyIn(digits);
    }
    // Confirms a text the keypad cannot type (a sign), as a confirmation arriving for the field.
    void confirmRaw(QObject* page, const QString& field, const QString& text)
    {
        auto* edit = child<My_lineEdit>(page, field);
        if (!edit)
            return;
        QTest::mouseClick(edit, Qt::LeftButton);
        g_numberkeyboard->hide();
        emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit(text);
    }

    static QString text(QObject* parent, const QString& name)
    {
        auto* l = child<QLabel>(parent, name);
        return l ? l->text() : QString();
    }

    // Whether a widget's text (each line of it) fits the widget's width, in the font it draws with.
    static bool fitsWidth(QWidget* w, const QString& text)
    {
        w->ensurePolished();
        const QFontMetrics fm(w->font());
        for (const QString& line : text.split('\n'))
            if (fm.horizontalAdvance(line) > w->width())
                return false;
        return true;
    }
    static bool fits(QLabel* l) { return l && fitsWidth(l, l->text()); }
    static bool fits(QAbstractButton* b) { return b && fitsWidth(b, b->text()); }

    // The contrast ratio of two colours (1 to 21; text wants 4.5 or more).
    static double contrast(const QColor& a, const QColor& b)
    {
        auto luminance = [](const QColor& c) {
            auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
            return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
        };
        const double la = luminance(a), lb = luminance(b);
        return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
    }
    // The background colour a style sheet names ("background-color: #RRGGBB").
    static QColor sheetBackground(const QWidget* w)
    {
        const auto m = QRegularExpression("background-color:\\s*(#[0-9A-Fa-f]{6})").match(w->styleSheet());
        return m.hasMatch() ? QColor(m.captured(1)) : QColor();
    }

    static bool sameImage(const QIcon& icon, const char* resource, QSize size)
    {
        return icon.pixmap(size).toImage() == QIcon(QString::fromLatin1(resource)).pixmap(size).toImage();
    }

    c331_manage* engine = nullptr;
    sim::VideoChipModel& chip = sim::attachVideoChip();
};
