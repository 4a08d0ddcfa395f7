// The shell's fixture plus what the screen and system pages need: the settings menu open beneath
// them, typing on the keypad, the simulated FPGAs brought up, and the engine's commit point.
#pragma once

#include <QLabel>
#include <QLineEdit>

#include "engine/c331_manage.h"
#include "ledout/fpga_manage.h"
#include "sim/fpga_model.h"
#include "sim/video_chip.h"
#include "support/fpga_board.h"
#include "support/video_engine.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_fixture.h"
#include "ui/system/system_widgets.h"

class SystemPageTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        // The engine's commit point only: no chip, no thread; tests read and clear its flag.
        engine = new c331_manage();
        c331_manage::p_c331_manage = engine;
        click(g_mainwindow, "option");
        ASSERT_NE(g_option, nullptr);
    }

    // Touches the field and types `text` on the keypad, then OK.
    static void type(QWidget* field, const QString& text)
    {
        QTest::mouseClick(field, Qt::LeftButton);
        ASSERT_TRUE(g_numberkeyboard->isVisible()) << qPrintable(field->objectName());
        keyIn(text);
    }

    static QString text(QObject* parent, const QString& name)
    {
        if (auto* edit = parent->findChild<QLineEdit*>(name))
            return edit->text();
        auto* label = child<QLabel>(parent, name);
        return label ? label->text() : QString();
    }

    static QString image(QObject* parent, const QString& name) { return sys::imageOf(child<QWidget>(parent, name)); }


    // The engine takes the change: the flag goes back to 0 and the image becomes the shadow.
    void enginePass()
    {
        engine->para_chg_flag = 0;
        model->refresh_shadow();
    }

    // A real video engine on a new simulated chip (sim::videoChip()) in place of the bare commit
    // point, brought up.
    c331_manage* engineOnSimulatedChip()
    {
        sim::attachVideoChip();
        engine = zeltest::newEngine();   // deletes the bare commit point
        if (engine->initialize(false) != 0)
            return nullptr;
        const bool up = zeltest::bringUpEngine(engine);
        model->refresh_shadow();
        return up ? engine : nullptr;
    }

    c331_manage* engine = nullptr;

    uint16_t word(unsigned addr) const { return ram_get_u16(model->ram_para, addr); }
};
