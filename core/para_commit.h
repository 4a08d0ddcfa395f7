// Committing a change of the parameter image to the video engine.
//
//     {
//         ParaCommit commit;            // locks the engine's para_mutex
//         ... write fields of ram_para ...
//         commit.set(1);                // para_chg_flag = 1 (2: also sync the user-mode files)
//     }                                 // unlocks
//
// Before the video engine exists there is nothing to lock and nothing to flag: the writes go
// straight into the image, and the engine's bring-up reads the whole image anyway.
#pragma once

#include <cstdint>

class c331_manage;

class ParaCommit {
public:
    ParaCommit();
    ~ParaCommit();
    // Sets the engine's change flag (while the lock is held).
    void set(uint8_t flag = 1);
    // True when the engine's commit point exists and is held.
    bool held() const { return engine_ != nullptr; }

    ParaCommit(const ParaCommit&) = delete;
    ParaCommit& operator=(const ParaCommit&) = delete;

private:
    c331_manage* engine_;
    bool flagged_ = false;
};
