#include "core/utils.h"

#include "core/global.h"
#include "platform/command_runner.h"
#include "platform/platform.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
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

// ---- shell ------------------------------------------------------------------------------------

int Utils::system_mutex(const QString& command, int* status)
{
    QMutexLocker lock(&_system_mutex);
    int raw = platform::commands().run(command.toLatin1().toStdString());
    if (status)
        *status = raw;
    return raw == 0 ? 0 : 255;
}

std::string Utils::shell_exec(const std::string& command, int size)
{
    // The runner reads the pipe to its end in pieces of its own, so a caller's piece size (even
    // one too small to hold a character) never decides how much arrives.
    (void)size;
    bool ok = false;
    std::string out = platform::commands().capture(command, &ok);
    return ok ? out : std::string();
}

// ---- time ---------------------------------------------------------------------------------------

unsigned int Utils::getTimeSpace(unsigned int start)
{
    unsigned int now = G_timeTicks.load();
    if (now >= start)
        return now - start;
    return 0xFFFFFFFFu - start + now;
}

bool Utils::isClockTime(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                        unsigned second)
{
    return second <= 59 && minute <= 59 && hour <= 23 && year >= 2000 && year <= 2099 &&
           QDate::isValid(int(year), int(month), int(day));
}

int Utils::usleep_mutex(unsigned int usec)
{
    QMutexLocker lock(&_usleep_mutex);
    return ::usleep(usec) == 0 ? 0 : 255;
}

int Utils::msleep_mutex(unsigned int msec) { return usleep_mutex(msec * 1000u); }

// ---- files --------------------------------------------------------------------------------------

bool Utils::isFileExists(const std::string& path, bool regularFile)
{
    std::string full = platform::rootPath(path);
    if (::access(full.c_str(), F_OK) != 0)
        return false;
    if (!regularFile)
        return true;
    struct stat st {};
    return ::stat(full.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG;
}

bool Utils::isDirExists(const std::string& path)
{
    struct stat st {};
    return ::stat(platform::rootPath(path).c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
}

void Utils::get_file_list_smartpath(QStringList& list, const QString& dir, const QString& suffix)
{
    QDir folder(platform::rootPath(dir));
    const QFileInfoList entries = folder.entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted);
    QString systemDir = dir.endsWith('/') ? dir : dir + '/';
    for (const QFileInfo& info : entries) {
        if (!info.isFile() || info.suffix() != suffix)
            continue;
        // The list holds system paths, like every other path the system passes around.
        QString path = systemDir + info.fileName();
        list.append(path);
        ZEL_DEBUG("%s\n", path.toLocal8Bit().constData());
    }
}

namespace {

// A path that may be put into shell text as it stands: absolute, no characters the shell
// would read as anything but a file name.
bool isPlainPath(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return false;
    for (unsigned char c : path) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '/' || c == '.' || c == '_' || c == '-' || c == '+' || c >= 0x80;
        if (!ok)
            return false;
    }
    return true;
}

}  // namespace

int Utils::change_file_formt(const std::string& path)
{
    if (!isFileExists(path, false) || !isPlainPath(path))
        return -1;
    platform::CommandRunner& shell = platform::commands();
    shell.run("dos2unix " + path);
    shell.run("sync");
    shell.run("sed -i 's/\xEF\xBB\xBF//g' " + path);
    shell.run("sync");
    return 0;
}
