#include "core/utils.h"

#include "core/global.h"
#include "platform/command_runner.h"
#include "platform/platform.h"

#include <unistd.h>

QMutex Utils::_system_mutex;
QMutex Utils::_usleep_mutex;
QMutex Utils::_led_para_init_mutex;
QMutex Utils::_bri_set_mutex;
QMutex Utils::_spi_mutex;
QMutex Utils::_fpga_multicast_mutex;
QMutex Utils::_c331_bnk_mutex;
QMutex Utils::_file_deal_mutex;
QMutex Utils::_source_init_mutex;
QMutex Utils::_check_nosig_mutex;
QMutex Utils::_source_hdminfo_mutex;
QMutex Utils::_test_signal_mutex;

void writeLogMsg(_LogType, const std::string&) {}

int Utils::system_mutex(const QString& command, int* status)
{
    QMutexLocker lock(&_system_mutex);
    int raw = platform::commands().run(command.toLatin1().toStdString());
    if (status)
        *status = raw;
    return raw == 0 ? 0 : 255;
}

unsigned int Utils::getTimeSpace(unsigned int start)
{
    unsigned int now = G_timeTicks.load();
    if (now >= start)
        return now - start;
    return 0xFFFFFFFFu - start + now;
}

unsigned int Utils::BCC(const unsigned char* data, unsigned int length)
{
    unsigned char x = 0;
    for (unsigned int i = 0; i < length; ++i)
        x ^= data[i];
    return x;
}
