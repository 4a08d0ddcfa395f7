#include "platform/command_runner.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

int ShellCommandRunner::run(const std::string& command)
{
    return std::system(command.c_str());
}

std::string ShellCommandRunner::capture(const std::string& command, bool* ok)
{
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (ok)
        *ok = pipe != nullptr;
    if (!pipe)
        return out;
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        out.append(buf, n);
    ::pclose(pipe);
    return out;
}

}  // namespace platform
