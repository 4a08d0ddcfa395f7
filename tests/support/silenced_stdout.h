// The box prints its diagnostic lines on stdout, some of them whatever its debug switch says. A
// long run (a benchmark, the convergence run) silences them with this, and writes what it reports
// to the descriptor `real()` (the stdout it had) or to stderr.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace zeltest {

// True when the environment variable `name` is "1": the run's user wants the diagnostics.
inline bool diagnosticsWanted(const char* name)
{
    const char* v = std::getenv(name);
    return v && std::strcmp(v, "1") == 0;
}

// From construction to destruction, stdout (descriptor 1) writes to /dev/null.
class SilencedStdout {
public:
    SilencedStdout()
    {
        flush();
        real_ = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (real_ >= 0 && null >= 0)
            dup2(null, STDOUT_FILENO);
        if (null >= 0)
            close(null);
    }
    ~SilencedStdout()
    {
        flush();
        if (real_ >= 0) {
            dup2(real_, STDOUT_FILENO);
            close(real_);
        }
    }
    SilencedStdout(const SilencedStdout&) = delete;
    SilencedStdout& operator=(const SilencedStdout&) = delete;

    // The stdout the program had.
    int real() const { return real_ >= 0 ? real_ : STDOUT_FILENO; }

private:
    static void flush()
    {
        std::cout.flush();
        std::fflush(stdout);
    }

    int real_ = -1;
};

}  // namespace zeltest
