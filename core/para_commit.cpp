#include "core/para_commit.h"

#include "engine/c331_manage.h"

ParaCommit::ParaCommit() : engine_(c331_manage::p_c331_manage)
{
    if (engine_)
        pthread_mutex_lock(&engine_->para_mutex);
}

ParaCommit::~ParaCommit()
{
    if (engine_)
        pthread_mutex_unlock(&engine_->para_mutex);
}

void ParaCommit::set(uint8_t flag)
{
    if (engine_)
        engine_->para_chg_flag = flag;
}
