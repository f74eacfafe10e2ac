#include "core/leftovers.h"

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QMutexLocker>

#include "board/board.h"
#include "board/file_read.h"
#include "core/logging.h"
#include "core/utils.h"

namespace leftovers
{
namespace
{
// Every folder the box writes a stored file into through the writer.
const char* const kFolders[] = {"/data",       "/data/configs",     "/data/modes",        "/data/edidramtable",
                                "/data/app",   "/data/rcvrecovery", "/data/smartmapping", "/etc",
                                "/etc/network"};

// The earlier writers' names: "<file>.tmp" of the files they wrote, the
// settings' scratch copies with their locks, QSettings' locks beside the
// settings files.
const char* const kEarlier[] = {
    "ram_device_info.tmp", "custom_mode*.tmp",        "MO*.json.tmp",    "tcpip.ini.tmp", "led_load_config.ini.tmp",
    "cloud_barcode.tmp",   "rtl_hostapd_2G.conf.tmp", "udhcpd.conf.tmp", "zevQ64N2.tmp",  ".zev-ini-*",
    "tcpip.ini.lock",      "led_load_config.ini.lock"};
} // namespace

bool leftover(const std::string& name)
{
    if (board::temporary_name(name))
        return true;
    for (const char* pattern : kEarlier)
        if (::fnmatch(pattern, name.c_str(), 0) == 0)
            return true;
    return false;
}

void sweep()
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    for (const char* folder : kFolders) {
        const std::string host = board::path(folder);
        DIR* dir = ::opendir(host.c_str());
        if (!dir)
            continue;
        while (const dirent* e = ::readdir(dir)) {
            const std::string file = host + "/" + e->d_name;
            struct stat st;
            if (!leftover(e->d_name) || ::lstat(file.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
                continue;
            if (::unlink(file.c_str()) != 0)
                zevlog::warning(lcCore(), "%s is left from a cut write and cannot be removed: %s",
                                board::shownPath(std::string(folder) + "/" + e->d_name).c_str(), std::strerror(errno));
        }
        if (::closedir(dir) != 0)
            zevlog::warnErrno(lcCore(), host.c_str());
    }
}
} // namespace leftovers
