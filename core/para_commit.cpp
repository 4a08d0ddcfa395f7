#include "core/para_commit.h"

#include "core/zelrampara.h"
#include "engine/c331_manage.h"

namespace {
pthread_mutex_t g_beforeEngine = PTHREAD_MUTEX_INITIALIZER;

pthread_mutex_t* commitMutex(c331_manage* engine) { return engine ? &engine->para_mutex : &g_beforeEngine; }
}  // namespace

ParaCommit::ParaCommit() : engine_(c331_manage::p_c331_manage), mutex_(commitMutex(engine_))
{
    pthread_mutex_lock(mutex_);
}

ParaCommit::ParaCommit(std::try_to_lock_t) : engine_(c331_manage::p_c331_manage)
{
    pthread_mutex_t* m = commitMutex(engine_);
    if (pthread_mutex_trylock(m) == 0)
        mutex_ = m;
}

ParaCommit::~ParaCommit()
{
    if (!mutex_)
        return;
    pthread_mutex_unlock(mutex_);
    // After the unlock, so the woken worker finds the image free.
    if (flagged_ && engine_)
        engine_->pace.wake();
}

void ParaCommit::set(uint8_t flag)
{
    if (!mutex_)
        return;
    if (ZelRamPara* model = ZelRamPara::p_zelrampara_config) {
        model->clear_uncommitted();
        // A save request written before this commit is taken now, with the image it saves.
        model->take_save_request();
    }
    if (!engine_)
        return;
    // A pending request is never lowered: a 1 behind a 2 still has the user-mode files synced.
    if (flag > engine_->para_chg_flag.load())
        engine_->para_chg_flag = flag;
    flagged_ = flag != 0;
}

uint8_t ParaCommit::flag() const { return engine_ ? engine_->para_chg_flag.load() : 0; }
