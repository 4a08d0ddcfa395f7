// The TCP command port under load: clients that do not read, stay idle or come in crowds, and a
// process out of descriptors. No client may hold up the others.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "core/global.h"
#include "core/para_commit.h"
#include "core/zelrampara.h"
#include "link_client.h"
#include "links/networkmanage.h"
#include "links/tcpserver.h"
#include "support/test_root.h"

using namespace linktest;

namespace {

constexpr uint32_t kMarker = 0x7F0;   // an image byte the tests write last to see a batch handled

class TcpLoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("ZEL_TCP_PORT", "0", 1);
        model = ZelRamPara::pInstance();
        link = networkManage::pInstance();
    }
    uint8_t imageByte(uint32_t address)
    {
        ParaCommit lock;
        return model->ram_para[address];
    }

    zeltest::TempRoot root;
    ZelRamPara* model = nullptr;
    networkManage* link = nullptr;
};

// `count` reads of `length` image bytes, then a write of the marker byte, in one burst.
Bytes readBurst(unsigned count, uint16_t length)
{
    Bytes wire;
    Bytes one = encode(body(0x61, ramRead(0, length)));
    for (unsigned i = 0; i < count; ++i)
        wire.insert(wire.end(), one.begin(), one.end());
    Bytes mark = encode(body(0x60, ramWrite(kMarker, {1})));
    wire.insert(wire.end(), mark.begin(), mark.end());
    return wire;
}

long cpuMicroseconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000L + u.ru_utime.tv_usec + u.ru_stime.tv_usec;
}

}  // namespace

TEST_F(TcpLoad, ClientWithAThousandUnreadRepliesDoesNotHoldUpAnother)
{
    TcpClient stuck(link->port(), 4096);
    TcpClient other(link->port());
    ASSERT_TRUE(stuck.connected() && other.connected());
    stuck.sendRaw(readBurst(1000, 200));   // about 215 KB of replies it never reads
    ASSERT_TRUE(waitFor([&] { return imageByte(kMarker) == 1; }));

    // Answered within the call's deadline while the stuck client's replies still wait unread: a
    // server that waited for the stuck reader would never answer.
    Bytes r = other.call(body(0x61, ramRead(kMarker, 1)));
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(replyData(r), Bytes{1});
    // The stuck client is still connected: its replies wait for it, in order.
    EXPECT_EQ(link->clientCount(), 2u);
    Bytes first = stuck.receiveFrame(2000);
    ASSERT_TRUE(isReply(first));
    EXPECT_EQ(first[9], 0x61);
    EXPECT_EQ(replyData(first).size(), 200u);
}

TEST_F(TcpLoad, ClientWhoseRepliesPileUpIsDroppedAndTheOthersStayServed)
{
    TcpClient stuck(link->port(), 4096);
    TcpClient other(link->port());
    ASSERT_TRUE(waitFor([&] { return link->clientCount() == 2; }));
    stuck.sendRaw(readBurst(1000, 4096));   // 4 MB: more than one client may leave unread
    EXPECT_TRUE(waitFor([&] { return link->clientCount() == 1; }, 5000));
    EXPECT_TRUE(stuck.closedByPeer(3000));
    Bytes r = other.call(body(0x82, {}));
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(status(r), 0);
}

TEST_F(TcpLoad, IdleClientIsDroppedAfterItsTimeOut)
{
    TcpClient idle(link->port());
    ASSERT_TRUE(waitFor([&] { return link->clientCount() == 1; }));
    G_timeTicks += TcpServer::kIdleTicks - 10;
    Bytes r = idle.call(body(0x82, {}));   // traffic starts the count again
    ASSERT_FALSE(r.empty());
    G_timeTicks += TcpServer::kIdleTicks - 10;
    EXPECT_FALSE(idle.closedByPeer(50));
    G_timeTicks += 20;
    EXPECT_TRUE(idle.closedByPeer(3000));
    EXPECT_TRUE(waitFor([&] { return link->clientCount() == 0; }));
}

namespace {

constexpr uint32_t kLoopback2 = 0x7F000002;   // 127.0.0.2; the next ones follow

// Connects `count` clients, one tick apart, 8 from each loopback address from 127.0.0.2 on; each
// sends a frame when `talk` says so.
std::vector<std::unique_ptr<TcpClient>> connectClients(networkManage* link, unsigned count, bool talk)
{
    std::vector<std::unique_ptr<TcpClient>> clients;
    const size_t before = link->clientCount();
    for (unsigned i = 0; i < count; ++i) {
        G_timeTicks += 1;
        clients.push_back(std::make_unique<TcpClient>(link->port(), 0, kLoopback2 + i / 8));
        if (talk)
            EXPECT_TRUE(isReply(clients.back()->call(body(0x82, {}))));
        else
            EXPECT_TRUE(waitFor([&] { return link->clientCount() == before + i + 1; }));
    }
    return clients;
}

}  // namespace

TEST_F(TcpLoad, SilentConnectionsMakeRoomForANewcomerBeforeAClientThatTalked)
{
    ASSERT_TRUE(waitFor([&] { return link->clientCount() == 0; }));   // earlier clients are gone
    TcpClient talker(link->port());
    ASSERT_TRUE(isReply(talker.call(body(0x82, {}))));   // quiet longest, but it has talked
    auto silent = connectClients(link, TcpServer::kMaxClients - 1, false);
    ASSERT_EQ(link->clientCount(), TcpServer::kMaxClients);

    TcpClient newcomer(link->port());
    Bytes r = newcomer.call(body(0x82, {}));
    ASSERT_TRUE(isReply(r));
    EXPECT_EQ(status(r), 0);
    EXPECT_TRUE(silent.front()->closedByPeer(3000)) << "the first silent connection made room";
    EXPECT_FALSE(silent[1]->closedByPeer(50));
    EXPECT_TRUE(isReply(talker.call(body(0x82, {}))));
    EXPECT_EQ(link->clientCount(), TcpServer::kMaxClients);
}

TEST_F(TcpLoad, WhenEveryClientHasTalkedTheOneQuietLongestMakesRoom)
{
    ASSERT_TRUE(waitFor([&] { return link->clientCount() == 0; }));
    auto clients = connectClients(link, TcpServer::kMaxClients, true);
    G_timeTicks += 1;
    ASSERT_TRUE(isReply(clients.front()->call(body(0x82, {}))));   // the first is the freshest now
    clients[1]->sendRaw(Bytes{0x00});   // a stray byte is no frame: the second stays quiet longest
    TcpClient newcomer(link->port());
    ASSERT_TRUE(isReply(newcomer.call(body(0x82, {}))));
    EXPECT_TRUE(clients[1]->closedByPeer(3000));
    EXPECT_TRUE(isReply(clients.front()->call(body(0x82, {}))));
    EXPECT_TRUE(isReply(clients[2]->call(body(0x82, {}))));
}

TEST_F(TcpLoad, ANinthConnectionFromOneAddressTakesThePlaceOfASilentOneOfThatAddress)
{
    ASSERT_TRUE(waitFor([&] { return link->clientCount() == 0; }));
    TcpClient elsewhere(link->port());   // 127.0.0.1, silent and connected first
    TcpClient pc(link->port(), 0, kLoopback2);
    ASSERT_TRUE(isReply(pc.call(body(0x82, {}))));
    auto silent = connectClients(link, 7, false);   // with the PC, 8 from 127.0.0.2
    ASSERT_EQ(link->clientCount(), 9u);

    TcpClient ninth(link->port(), 0, kLoopback2);
    EXPECT_TRUE(silent.front()->closedByPeer(3000)) << "the silent one of that address connected first";
    EXPECT_TRUE(isReply(ninth.call(body(0x82, {}))));
    EXPECT_TRUE(isReply(pc.call(body(0x82, {}))));
    EXPECT_FALSE(elsewhere.closedByPeer(50));
    EXPECT_FALSE(silent[1]->closedByPeer(50));
    EXPECT_EQ(link->clientCount(), 9u);
}

TEST_F(TcpLoad, RunningOutOfDescriptorsRestsInsteadOfSpinning)
{
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    // 300 clients' sockets first, then every descriptor below a low limit taken: the box cannot
    // accept any of them.
    std::vector<int> clients;
    for (int i = 0; i < 300; ++i)
        clients.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    ASSERT_GE(clients.back(), 0);
    rlimit low = saved;
    low.rlim_cur = rlim_t(clients.back() + 8);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> fillers;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        fillers.push_back(fd);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(link->port()));
    for (int fd : clients)
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);

    ASSERT_TRUE(waitFor([&] { return link->acceptFailures() > 0; }));
    const unsigned failures = link->acceptFailures();
    const long cpu = cpuMicroseconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // A spinning thread would fail thousands of accepts and burn the whole half second; the box
    // stays under 5 % of one core.
    EXPECT_LE(link->acceptFailures() - failures, 10u);
    EXPECT_LT(cpuMicroseconds() - cpu, 25000L);
    EXPECT_EQ(link->clientCount(), 0u);

    for (int fd : fillers)
        ::close(fd);
    for (int fd : clients)
        ::close(fd);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    TcpClient later(link->port());
    Bytes r = later.call(body(0x82, {}), 5000);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(status(r), 0);
}
