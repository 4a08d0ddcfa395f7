// The video engine. Its para_mutex and para_chg_flag are the commit point of the parameter image:
// a writer that wants its change applied locks para_mutex, writes the image, sets para_chg_flag
// (1 apply, 2 apply and have the change dispatcher sync the user-mode files) and unlocks.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

// 1 once a port's windows were set up again; the input-source manager writes the input
// summaries of the parameter image only after that.
extern std::atomic<int> g_c331_source_online;

class c331_manage {
public:
    c331_manage();
    ~c331_manage();

    static c331_manage* p_c331_manage;

    // 0 nothing to apply, 1 apply the image, 2 apply it and rewrite the user-mode files.
    // Written under para_mutex; the engine's pass may test it without the lock.
    std::atomic<uint8_t> para_chg_flag{0};
    // Guards ram_para with its shadow and para_chg_flag.
    pthread_mutex_t para_mutex;

    c331_manage(const c331_manage&) = delete;
    c331_manage& operator=(const c331_manage&) = delete;
};
