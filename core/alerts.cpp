#include "core/alerts.h"

#include <cstdio>
#include <mutex>

namespace alerts {

namespace {

struct State {
    bool on = false;
    int arg = 0;
    std::string detail;
};

std::mutex g_mutex;
State g_state[kKindCount];

void print(const std::string& line)
{
    std::fprintf(stderr, "zelT71N: %s\n", line.c_str());
    std::fflush(stderr);
}

bool valid(Kind kind) { return kind >= 0 && kind < kKindCount; }

}  // namespace

void raise(Kind kind, const std::string& detail, int arg)
{
    if (!valid(kind))
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    State& s = g_state[kind];
    const bool news = !s.on || s.detail != detail;
    s.on = true;
    s.arg = arg;
    s.detail = detail;
    if (news)
        print(detail);
}

void clear(Kind kind, const std::string& ended)
{
    if (!valid(kind))
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    State& s = g_state[kind];
    if (!s.on)
        return;
    s = State();
    print(ended);
}

bool active(Kind kind)
{
    if (!valid(kind))
        return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_state[kind].on;
}

std::vector<Active> inForce()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<Active> out;
    for (int k = 0; k < kKindCount; ++k)
        if (g_state[k].on)
            out.push_back({Kind(k), g_state[k].arg});
    return out;
}

void reset()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    for (State& s : g_state)
        s = State();
}

}  // namespace alerts
