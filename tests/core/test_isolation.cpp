// What a test leaves behind is undone before the next test of the same process.
#include <gtest/gtest.h>

#include <QPointer>
#include <QWidget>

#include <filesystem>

#include "core/global.h"
#include "core/zelrampara.h"
#include "engine/c331_manage.h"
#include "ledout/fpga_manage.h"
#include "links/reply_queue.h"
#include "platform/platform.h"
#include "sim/fpga_model.h"
#include "sim/sim_config.h"
#include "support/isolation.h"
#include "support/test_root.h"

TEST(Isolation, SingletonsAreDeletedAndWindowsClosed)
{
    ZelRamPara::pInstance();
    fpga_manage::pInstance();
    c331_manage::p_c331_manage = new c331_manage();
    QPointer<QWidget> window = new QWidget();
    window->show();
    zeltest::resetSystemState();
    EXPECT_EQ(ZelRamPara::p_zelrampara_config, nullptr);
    EXPECT_EQ(fpga_manage::p_fpga_manage, nullptr);
    EXPECT_EQ(c331_manage::p_c331_manage, nullptr);
    EXPECT_TRUE(window.isNull());
}

// The threads of this process.
size_t threadCount()
{
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

TEST(Isolation, ADeletedFpgaManagerTakesItsWorkerWithIt)
{
    zeltest::TempRoot root;
    const size_t before = threadCount();
    ASSERT_EQ(fpga_manage::pInstance()->initialize_start(), 0);
    ASSERT_EQ(threadCount(), before + 1);
    zeltest::resetSystemState();
    EXPECT_EQ(threadCount(), before) << "the worker outlived its manager";
}

TEST(Isolation, GlobalsGetTheirStartingValuesBack)
{
    const QString ip = g_str_ip;
    const unsigned languages = g_lcd_lang_valid;
    const uint8_t cardFrom = edid_ram_table_from[3];
    g_str_ip = "10.0.0.9";
    g_lcd_lang_valid = 0;
    edid_ram_table_from[3] = static_cast<uint8_t>(cardFrom + 1);
    G_timeTicks = 12345;
    zeltest::resetSystemState();
    EXPECT_EQ(g_str_ip, ip);
    EXPECT_EQ(g_lcd_lang_valid, languages);
    EXPECT_EQ(edid_ram_table_from[3].load(), cardFrom);
    EXPECT_EQ(G_timeTicks.load(), 0u);
}

TEST(Isolation, SimulatedBoardFileIsReadAgainAndFpgaModelsForgotten)
{
    zeltest::TempRoot root;
    zeltest::writeText("/etc/zel-sim.ini", "[cards]\nport3=4\n");
    sim::reloadConfig();
    sim::attachFpgas();
    zeltest::resetSystemState();
    EXPECT_EQ(sim::fpgaBoard(), nullptr);
    zeltest::TempRoot next;
    EXPECT_EQ(sim::config().cardsPerPort[3], 0);
}

TEST(Isolation, ReplyQueuesNameNoLinkAfterwards)
{
    tcpReplyQueue().attach([](unsigned char*, const unsigned char*, unsigned n) { return n; }, nullptr);
    zeltest::resetSystemState();
    const unsigned char body[1] = {1};
    EXPECT_FALSE(queueCardReply(kPassbyTcp, body, 1));
}
