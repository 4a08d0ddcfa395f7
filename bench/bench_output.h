// Output of a benchmark program: its results on stdout and a progress line on stderr after each
// benchmark, with the box's own diagnostic lines (which it prints on stdout) silenced. Set
// ZEL_BENCH_DIAGNOSTICS=1 to see them among the results.
//
//   int main(int argc, char** argv)
//   {
//       BenchOutput output(argc, argv);   // first: what the setup prints is silenced too
//       ...setup...
//       return output.run();
//   }
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "tests/support/silenced_stdout.h"

class BenchOutput {
public:
    BenchOutput(int& argc, char** argv)
    {
        benchmark::Initialize(&argc, argv);
        if (!diagnosticsWanted())
            silenced_.emplace();
    }
    BenchOutput(const BenchOutput&) = delete;
    BenchOutput& operator=(const BenchOutput&) = delete;

    // ZEL_BENCH_DIAGNOSTICS=1: the box's diagnostics are wanted (its debug switch on, too).
    static bool diagnosticsWanted() { return zeltest::diagnosticsWanted("ZEL_BENCH_DIAGNOSTICS"); }
    // The box's debug switch for the run: on (254) when the diagnostics are wanted, else off.
    static uint8_t debugSwitch() { return diagnosticsWanted() ? 254 : 0; }

    // Runs the benchmarks the command line selects; 0 when at least one ran.
    int run()
    {
        const int fd = silenced_ ? silenced_->real() : STDOUT_FILENO;
        FdBuf buf(fd);
        std::ostream out(&buf);
        ProgressReporter reporter(isatty(fd) ? benchmark::ConsoleReporter::OO_ColorTabular
                                             : benchmark::ConsoleReporter::OO_Tabular);
        reporter.SetOutputStream(&out);
        reporter.SetErrorStream(&std::cerr);
        std::fflush(stdout);   // what the setup printed comes first
        const size_t ran = benchmark::RunSpecifiedBenchmarks(&reporter);
        benchmark::Shutdown();
        out.flush();
        return ran > 0 ? 0 : 1;
    }

private:
    // Writes straight to a file descriptor: the saved stdout, which stdio no longer reaches.
    class FdBuf : public std::streambuf {
    public:
        explicit FdBuf(int fd) : fd_(fd) {}

    protected:
        int_type overflow(int_type c) override
        {
            if (traits_type::eq_int_type(c, traits_type::eof()))
                return traits_type::not_eof(c);
            const char ch = traits_type::to_char_type(c);
            return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
        }
        std::streamsize xsputn(const char* s, std::streamsize n) override
        {
            std::streamsize done = 0;
            while (done < n) {
                const ssize_t w = ::write(fd_, s + done, static_cast<size_t>(n - done));
                if (w <= 0)
                    break;
                done += w;
            }
            return done;
        }

    private:
        int fd_;
    };

    // The console's table, and after each benchmark a line on stderr that it is done.
    class ProgressReporter : public benchmark::ConsoleReporter {
    public:
        using ConsoleReporter::ConsoleReporter;
        void ReportRuns(const std::vector<Run>& reports) override
        {
            ConsoleReporter::ReportRuns(reports);
            GetOutputStream().flush();
            ++done_;
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
            const std::string name = reports.empty() ? std::string() : reports.front().benchmark_name();
            std::fprintf(stderr, "progress: %d benchmark(s) done, last %s, %.1f s\n", done_, name.c_str(),
                         seconds);
        }

    private:
        int done_ = 0;
        std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    };

    std::optional<zeltest::SilencedStdout> silenced_;
};
