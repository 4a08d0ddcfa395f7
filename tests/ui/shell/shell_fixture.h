// A fresh root, the parameter model and the change dispatcher, and the home page with its keypad
// and notice window. Pages and the keypad are shown instead of run modally, so a test drives them
// with clicks and advances time by calling the tick slot.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTest>

#include "core/global.h"
#include "core/ram_layout.h"
#include "core/syncupdate.h"
#include "core/zelrampara.h"
#include "support/test_root.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/page_nav.h"

// Readable texts in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_lcd_lang_valid = 0x1001F;
        g_language = 1;
        G_timeTicks = 0;
        model = ZelRamPara::pInstance();
        // English, as a box set up in English starts.
        ram_set_u16(model->ram_para, ramaddr::kLanguage, 1);
        ram_set_u16(model->ram_para_shadow, ramaddr::kLanguage, 1);
        g_language = 1;
        QObject::connect(model, &ZelRamPara::sig_update_para, SyncUpdate::pInstance(), &SyncUpdate::para_sync,
                         Qt::UniqueConnection);
        shell::setModalRunner([](QDialog* d) {
            d->show();
            return 0;
        });
        g_mainwindow = new MainWindow(nullptr);
        g_mainwindow->show();
        g_page_focus = 1;
    }

    void TearDown() override { shell::setModalRunner(nullptr); }

    static void tick(unsigned n = 1)
    {
        for (unsigned i = 0; i < n; ++i)
            g_mainwindow->slot_update_timer_ticks();
    }

    // Runs the deletes that closing pages left for the event loop.
    static void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    template <class W = QPushButton>
    static W* child(QObject* parent, const QString& name)
    {
        W* w = parent ? parent->findChild<W*>(name) : nullptr;
        EXPECT_NE(w, nullptr) << qPrintable(name);
        return w;
    }

    static void click(QObject* parent, const QString& name)
    {
        auto* b = child<QAbstractButton>(parent, name);
        if (b)
            b->click();
    }

    // Presses the keys of `digits` on the open keypad, then OK.
    static void keyIn(const QString& digits)
    {
        for (QChar c : digits)
            click(g_numberkeyboard, QStringLiteral("Button_%1").arg(c));
        click(g_numberkeyboard, "Button_ok");
    }

    zeltest::TempRoot root;
    ZelRamPara* model = nullptr;
};
