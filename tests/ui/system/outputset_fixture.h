// The output settings page opened from the settings menu on a stored layout.
#pragma once

#include <QComboBox>

#include "core/ram_layout.h"
#include "system_fixture.h"
#include "ui/system/outputset.h"

// Image 0x560 splice mode, 0x562 and 0x564 the LED screen width and height.
class OutputSetTest : public SystemPageTest {
protected:
    OutputSet* open(uint16_t mode, int16_t width, int16_t height)
    {
        ram_set_u16(model->ram_para, 0x560, mode);
        ram_set_u16(model->ram_para, 0x562, static_cast<uint16_t>(width));
        ram_set_u16(model->ram_para, 0x564, static_cast<uint16_t>(height));
        model->refresh_shadow();
        click(g_option, "output_set");
        EXPECT_EQ(g_page_focus.load(), OutputSet::kFocus);
        return g_outputset;
    }

    void choose(int index)
    {
        auto* combo = child<QComboBox>(g_outputset, "comboBox");
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    QString field(const char* name) { return text(g_outputset, name); }
};

