#include "core/para_commit.h"

#include "engine/c331_manage.h"

ParaCommit::ParaCommit() : engine_(c331_manage::p_c331_manage)
{
    if (engine_)
        pthread_mutex_lock(&engine_->para_mutex);
}

ParaCommit::~ParaCommit()
{
    if (!engine_)
        return;
    pthread_mutex_unlock(&engine_->para_mutex);
    // After the unlock, so the woken worker finds the image free.
    if (flagged_)
        engine_->pace.wake();
}

void ParaCommit::set(uint8_t flag)
{
    if (!engine_)
        return;
    engine_->para_chg_flag = flag;
    flagged_ = flag != 0;
}
