#include "video/c331_manage.h"

c331_manage* c331_manage::p_c331_manage = nullptr;
pthread_mutex_t c331_manage::mutex = PTHREAD_MUTEX_INITIALIZER;
std::atomic<u8> c331_manage::para_update_flag{0};
std::atomic<u8> g_osd_update{0};
