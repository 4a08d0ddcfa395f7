#include "engine/c331_manage.h"

c331_manage* c331_manage::p_c331_manage = nullptr;
std::atomic<int> g_c331_source_online{0};

c331_manage::c331_manage()
{
    pthread_mutex_init(&para_mutex, nullptr);
}

c331_manage::~c331_manage() {}
