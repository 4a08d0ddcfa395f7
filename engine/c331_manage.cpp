#include "engine/c331_manage.h"

c331_manage* c331_manage::p_c331_manage = nullptr;

c331_manage::c331_manage()
{
    pthread_mutex_init(&para_mutex, nullptr);
}

c331_manage::~c331_manage() {}
