// Time the settings store takes to start on a settings file of many keys that Qt reads as lists
// ("k1=a,b"), against the same file without the commas: the start reads the file once and finds
// the user's text of the box's own list values, so both grow with the file's size alike. The
// file's 18 settings are all present (nothing is added) and the barcode is itself a list.
#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <string>

#include "bench/bench_output.h"
#include "bench/bench_root.h"
#include "core/config_engine.h"
#include "core/file_store.h"
#include "core/global.h"
#include "platform/platform.h"

namespace {

constexpr const char* kSettings =
    "[config]\nTcpPort=5005\nUdpPort=5008\nIPAddress=192.168.1.199\nSubNetMask=255.255.255.0\n"
    "GateWay=192.168.1.1\nMAC=FF:FF:FF:FF:FF:FF\nBarcode=SN-42,B\nWifiIPAddress=192.168.22.101\n"
    "EDIDCheck=Once\nSourceCheck=255\nImageLayoutPassword=No\niVorcloudserverip=x\niVorcloudserverport=80\n"
    "iVorclouduserip=x\niVorcloudcontrollername=Hall A, left wall\nZelMaxPixel_UINT=20971520\n"
    "usbupgradedir=ZEL-T71\nZelLCDLang=65567\n";

std::string settingsFile(int keys, bool lists)
{
    std::string text = kSettings;
    for (int k = 0; k < keys; ++k)
        text += "k" + std::to_string(k) + (lists ? "=a,b\n" : "=a b\n");
    return text;
}

void start(benchmark::State& state, bool lists)
{
    const std::string text = settingsFile(int(state.range(0)), lists);
    for (auto _ : state) {
        state.PauseTiming();
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        filestore::write_atomic(ConfigEngine::kConfigFile, reinterpret_cast<const unsigned char*>(text.data()),
                                text.size());
        state.ResumeTiming();
        benchmark::DoNotOptimize(ConfigEngine::pInstance());
    }
    state.counters["file_bytes"] = double(text.size());
}

void BM_StartOnListKeys(benchmark::State& state) { start(state, true); }
BENCHMARK(BM_StartOnListKeys)->Arg(10000)->Arg(30000)->Unit(benchmark::kMillisecond);

void BM_StartOnTextKeys(benchmark::State& state) { start(state, false); }
BENCHMARK(BM_StartOnTextKeys)->Arg(10000)->Arg(30000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    BenchOutput output(argc, argv);
    BenchRoot root;
    if (!root.ok())
        return 1;
    QCoreApplication app(argc, argv);
    g_debugSwitch = BenchOutput::debugSwitch();
    platform::setBoard(platform::makeSimBoard());
    return output.run();
}
