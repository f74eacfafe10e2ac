#include "board/sim/watched_file.h"

#include <sys/stat.h>
#include <utility>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace board::sim
{

WatchedFile::WatchedFile(std::string path, const char* defaultText) : path_(std::move(path))
{
    QString p = QString::fromStdString(path_);
    if (!QFileInfo::exists(p)) {
        QDir().mkpath(QFileInfo(p).absolutePath());
        QFile f(p);
        if (f.open(QIODevice::WriteOnly))
            f.write(defaultText);
    }
}

bool WatchedFile::changed()
{
    struct stat st;
    Stamp now;
    if (::stat(path_.c_str(), &st) == 0) {
        now.dev = st.st_dev;
        now.ino = st.st_ino;
        now.size = st.st_size;
        now.sec = st.st_mtim.tv_sec;
        now.nsec = st.st_mtim.tv_nsec;
    }
    if (now == stamp_)
        return false;
    stamp_ = now;
    return true;
}

bool WatchedFile::read(std::string* text) const
{
    QFile f(QString::fromStdString(path_));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    *text = f.readAll().toStdString();
    return true;
}

} // namespace board::sim
