#include "core/alerts.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <utility>

namespace alerts {

namespace {

struct State {
    int arg = 0;
    std::string detail;
};

// The conditions in force, by kind and subject ("" for none).
using Key = std::pair<int, std::string>;
std::mutex g_mutex;
std::map<Key, State> g_state;

void print(const std::string& line)
{
    std::fprintf(stderr, "zelT71N: %s\n", line.c_str());
    std::fflush(stderr);
}

bool valid(Kind kind) { return kind >= 0 && kind < kKindCount; }

void put(Kind kind, const std::string& subject, const std::string& detail, int arg, bool always)
{
    if (!valid(kind))
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    auto [it, fresh] = g_state.try_emplace(Key(kind, subject));
    const bool news = always || fresh || it->second.detail != detail;
    it->second = State{arg, detail};
    if (news)
        print(detail);
}

}  // namespace

void raise_for(Kind kind, const std::string& subject, const std::string& detail, int arg)
{
    put(kind, subject, detail, arg, false);
}

void event_for(Kind kind, const std::string& subject, const std::string& detail, int arg)
{
    put(kind, subject, detail, arg, true);
}

void clear_for(Kind kind, const std::string& subject, const std::string& ended)
{
    if (!valid(kind))
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_state.erase(Key(kind, subject)))
        print(ended);
}

void raise(Kind kind, const std::string& detail, int arg) { raise_for(kind, std::string(), detail, arg); }

void clear(Kind kind, const std::string& ended) { clear_for(kind, std::string(), ended); }

bool active_for(Kind kind, const std::string& subject)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_state.count(Key(kind, subject)) != 0;
}

bool active(Kind kind)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_state.lower_bound(Key(kind, std::string()));
    return it != g_state.end() && it->first.first == kind;
}

std::vector<Active> inForce()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<Active> out;
    for (const auto& [key, s] : g_state)
        out.push_back({Kind(key.first), s.arg, key.second});
    return out;
}

void reset()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.clear();
}

}  // namespace alerts
