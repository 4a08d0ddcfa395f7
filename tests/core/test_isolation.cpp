// What a test leaves behind is undone before the next test of the same process.
#include <gtest/gtest.h>

#include <QPointer>
#include <QWidget>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

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

// Whether the process comes to `n` threads within 5 s (an ended thread leaves the list a moment
// after its join).
bool threadsComeTo(size_t n)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (threadCount() != n && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return threadCount() == n;
}

TEST(Isolation, ADeletedFpgaManagerTakesItsWorkerWithIt)
{
    zeltest::TempRoot root;
    // A sanitizer adds a thread of its own with the process's first thread: a thread started and
    // ended first leaves the count that the worker is added to.
    std::promise<void> release;
    std::thread first([done = release.get_future()]() mutable { done.wait(); });
    const size_t before = threadCount() - 1;
    release.set_value();
    first.join();
    ASSERT_TRUE(threadsComeTo(before));
    EXPECT_EQ(fpga_manage::pInstance()->initialize_start(), 0);
    EXPECT_TRUE(threadsComeTo(before + 1));
    zeltest::resetSystemState();
    EXPECT_TRUE(threadsComeTo(before)) << "the worker outlived its manager";
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
