// Committing a change of the parameter image to the video engine.
//
//     {
//         ParaCommit commit;            // locks the engine's para_mutex
//         ... write fields of ram_para ...
//         commit.set(1);                // para_chg_flag = 1 (2: also sync the user-mode files)
//     }                                 // unlocks
//
// The same lock guards every reader that must not see a half-written field (the change
// dispatcher, the Wi-Fi switch) and the links' RAM writes. Before the video engine exists a
// process-wide stand-in lock takes its place (there is no flag to set then: the engine's bring-up
// reads the whole image anyway).
//
// A RAM write of the protocol copies into the image without committing: it marks the image as
// holding an uncommitted change (ZelRamPara::mark_uncommitted), and the next commit of any writer
// clears the mark, because the engine's pass then compares the whole image with what it applied
// last. A user-mode save request written before a commit is taken by it
// (ZelRamPara::take_save_request): the commit's acknowledgement is the save's.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <mutex>

class c331_manage;

class ParaCommit {
public:
    ParaCommit();
    // Only tries the lock (the GUI thread must never wait for the engine's pass): see owns().
    explicit ParaCommit(std::try_to_lock_t);
    ~ParaCommit();
    // Sets the engine's change flag (while the lock is held), never below what it already asks.
    void set(uint8_t flag = 1);
    // True when the video engine exists (its commit point is what is held).
    bool held() const { return engine_ != nullptr; }
    // False only when a try did not get the lock.
    bool owns() const { return mutex_ != nullptr; }
    // The engine's change flag (0 when there is no engine).
    uint8_t flag() const;

    ParaCommit(const ParaCommit&) = delete;
    ParaCommit& operator=(const ParaCommit&) = delete;

private:
    c331_manage* engine_;
    pthread_mutex_t* mutex_ = nullptr;
    bool flagged_ = false;
};
