// A link's thread waits long for data, and a stop still ends its wait at once: a fault shows as
// the test program's time-out.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

#include "core/global.h"
#include "core/worker_pace.h"
#include "links/link_thread.h"
#include "links/tcpserver.h"

namespace {

constexpr int kForeverMs = 600000;

TEST(LinkThread, AStopEndsAStepWaitingOnTheStopDescriptor)
{
    LinkThread thread;
    ASSERT_GE(thread.stopFd(), 0);
    thread.start([&] { waitReadable(-1, thread.stopFd(), kForeverMs); });
    thread.stop();
    EXPECT_FALSE(thread.running());
}

TEST(LinkThread, AStopCallsTheInterruptOfAStepThatWaitsOtherwise)
{
    LinkThread thread;
    WorkerPace pace;
    thread.start([&] { pace.waitUntilTick(G_timeTicks.load() + 100000, std::chrono::milliseconds(kForeverMs)); },
                 [&] { pace.wake(); });
    thread.stop();
}

TEST(LinkThread, TcpServerAcceptsWithTheStopDescriptorInItsWaitAndAStopEndsTheWait)
{
    TcpServer server;
    ASSERT_EQ(server.listenOn(0), 0);
    const int stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ASSERT_GE(stop, 0);
    server.setStopFd(stop);

    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(server.port()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    auto ignoreData = [](int, const uint8_t*, unsigned) {};
    auto ignoreClose = [](int) {};
    server.pollOnce(kForeverMs, ignoreData, ignoreClose);
    EXPECT_EQ(server.clientCount(), 1u) << "the newcomer ended the wait and was taken";

    const uint64_t one = 1;
    ASSERT_EQ(::write(stop, &one, sizeof one), ssize_t(sizeof one));
    server.pollOnce(kForeverMs, ignoreData, ignoreClose);
    EXPECT_EQ(server.clientCount(), 1u);
    ::close(client);
    ::close(stop);
}

}  // namespace
