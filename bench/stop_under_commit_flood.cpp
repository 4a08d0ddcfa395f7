// How long the box takes to end after a Ctrl-C that comes at the end of a flood of commits: the
// box (this build's zelT71N, on the simulated board) with sixteen saved user modes, a PC
// committing through the update register 30 times a second for the benchmark's seconds, then
// SIGINT. Each commit asks the change dispatcher to sync the user-mode files on the panel's
// thread; the stop waits for what that thread has queued. Prints the seconds from the signal to
// the exit (`stop_s`) and the box's exit status (`status`, 0 when it ended as it should).
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_frames.h"
#include "bench/bench_output.h"
#include "bench/bench_root.h"
#include "tests/e2e/loopback_port.h"

extern char** environ;

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kCommitsPerSecond = 30;

// The update register, bit 0: commit the image.
Bytes commit() { return bench::commandFrame(0xA0, {0x10, 0x01, 0x00, 0x01}); }
// A read of image 0x562, 2 bytes: answered once the links run.
Bytes readRam() { return bench::commandFrame(0x61, {0x62, 0x05, 0, 0, 2, 0, 0, 0}); }

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Sends `request` and waits up to `ms` for any answer.
bool answered(int fd, int port, const Bytes& request, int ms)
{
    const sockaddr_in to = loopback(port);
    ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0)
        return false;
    uint8_t buf[2048];
    return ::recv(fd, buf, sizeof buf, 0) > 0;
}

void writeSavedModes(const std::string& root)
{
    std::filesystem::create_directories(root + "/data/modes");
    for (int k = 1; k <= 16; ++k) {
        Bytes mode(4096, 0);
        mode[0] = mode[1] = 0xAA;
        for (size_t i = 2; i < mode.size(); ++i)
            mode[i] = uint8_t(i * 7 + k);
        std::ofstream(root + "/data/modes/custom_mode" + std::to_string(k), std::ios::binary)
            .write(reinterpret_cast<const char*>(mode.data()), std::streamsize(mode.size()));
    }
}

pid_t startBox(int tcpPort, int udpPort)
{
    setenv("ZEL_TCP_PORT", std::to_string(tcpPort).c_str(), 1);
    setenv("ZEL_UDP_PORT", std::to_string(udpPort).c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    if (!BenchOutput::diagnosticsWanted()) {
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    char app[] = ZEL_APP_PATH;
    char platform[] = "-platform";
    char offscreen[] = "offscreen";
    char* argv[] = {app, platform, offscreen, nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, app, &files, nullptr, argv, environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

// The exit status of `pid`, or -1 when it had not ended after `seconds` (it is then killed).
int waitExit(pid_t pid, int seconds)
{
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_StopAfterACommitFlood(benchmark::State& state)
{
    const int floodSeconds = int(state.range(0));
    for (auto _ : state) {
        BenchRoot root;
        if (!root.ok()) {
            state.SkipWithError("no root");
            return;
        }
        writeSavedModes(std::getenv("ZEL_ROOT"));
        const int udpPort = e2e::freePort(SOCK_DGRAM);
        const pid_t box = startBox(e2e::freePort(SOCK_STREAM), udpPort);
        if (box < 0) {
            state.SkipWithError("the box did not start");
            return;
        }
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in me = loopback(0);
        ::bind(fd, reinterpret_cast<const sockaddr*>(&me), sizeof me);
        const auto upBy = Clock::now() + std::chrono::seconds(30);
        while (!answered(fd, udpPort, readRam(), 200) && Clock::now() < upBy) {
        }
        if (Clock::now() >= upBy) {
            ::kill(box, SIGKILL);
            ::waitpid(box, nullptr, 0);
            ::close(fd);
            state.SkipWithError("the box did not answer");
            return;
        }
        const Bytes request = commit();
        const sockaddr_in to = loopback(udpPort);
        const auto period = std::chrono::microseconds(1000000 / kCommitsPerSecond);
        auto next = Clock::now();
        for (int i = 0; i < floodSeconds * kCommitsPerSecond; ++i) {
            ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            next += period;
            std::this_thread::sleep_until(next);
        }
        ::close(fd);
        const auto signalled = Clock::now();
        ::kill(box, SIGINT);
        const int status = waitExit(box, 120);
        state.counters["stop_s"] = std::chrono::duration<double>(Clock::now() - signalled).count();
        state.counters["status"] = status;
    }
}
BENCHMARK(BM_StopAfterACommitFlood)->Arg(2)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    BenchOutput output(argc, argv);
    return output.run();
}
