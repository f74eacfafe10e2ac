#include "board/sim/watched_file.h"
#include "board/file_read.h"
#include "board/log.h"

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace board::sim
{

namespace
{

// One inotify descriptor for every watched file of the process, and the
// thread that reads it. It lives as long as the process: files of static
// objects are still let go at exit.
class FolderWatch
{
  public:
    static FolderWatch& instance()
    {
        static FolderWatch* watch = made_ = new FolderWatch();
        return *watch;
    }
    // The watch when one was made: nothing to catch up on otherwise, and a
    // process that watches nothing (a test starting the program) is left
    // without the watch's thread.
    static FolderWatch* made() { return made_.load(); }

    // Marks *report CHANGED whenever name in folder changes, and UNWATCHED
    // when the folder goes, then runs *onReport when it is set; false when
    // the folder cannot be watched.
    bool add(const std::string& folder, const std::string& name, std::atomic<int>* report,
             const std::function<void()>* onReport)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fd_ < 0 || failed_)
            return false;
        const int wd = inotify_add_watch(fd_, folder.c_str(), kEvents);
        if (wd < 0) {
            zevlog::warnErrno(lcBoard(), "sim: watch model folder");
            return false;
        }
        entries_.push_back({wd, name, report, onReport});
        return true;
    }

    void remove(std::atomic<int>* report)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        int wd = -1;
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->report == report) {
                wd = it->wd;
                entries_.erase(it);
                break;
            }
        }
        for (const Entry& e : entries_)
            if (e.wd == wd)
                return;
        // A folder that went away took its watch with it.
        if (wd >= 0 && inotify_rm_watch(fd_, wd) != 0 && errno != EINVAL)
            zevlog::warnErrno(lcBoard(), "sim: unwatch model folder");
    }

    void catchUp()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        readEvents();
    }

  private:
    static constexpr uint32_t kEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                        IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
    struct Entry {
        int wd;
        std::string name;
        std::atomic<int>* report;
        const std::function<void()>* onReport;
        void tell(int state) const
        {
            report->store(state);
            if (*onReport)
                (*onReport)();
        }
    };

    FolderWatch()
    {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0) {
            zevlog::warnErrno(lcBoard(), "sim: model file watch");
            return;
        }
        std::thread(&FolderWatch::run, this).detach();
    }

    // Sleeps until the kernel reports something.
    void run()
    {
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, -1) < 0 && errno != EINTR) {
                zevlog::warnErrno(lcBoard(), "sim: model file watch");
                // Every file is looked at on every question from now on.
                std::lock_guard<std::mutex> lock(mutex_);
                failed_ = true;
                for (Entry& e : entries_)
                    e.tell(WatchedFile::UNWATCHED);
                return;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            readEvents();
        }
    }

    // Caller holds mutex_.
    void readEvents()
    {
        alignas(inotify_event) char buf[4096];
        for (;;) {
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0)
                return;
            for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
                at += ssize_t(sizeof(inotify_event) + e->len);
                for (Entry& entry : entries_) {
                    if (e->wd == entry.wd && (e->mask & IN_IGNORED)) {
                        // The folder went: the file is looked at every time.
                        entry.wd = -1;
                        entry.tell(WatchedFile::UNWATCHED);
                        continue;
                    }
                    // A lost queue, or the folder itself: every file may have
                    // changed.
                    const bool all = (e->mask & IN_Q_OVERFLOW) || (e->wd == entry.wd && e->len == 0);
                    if (!all && (e->wd != entry.wd || entry.name != e->name))
                        continue;
                    int quiet = WatchedFile::QUIET;
                    entry.report->compare_exchange_strong(quiet, WatchedFile::CHANGED);
                    if (*entry.onReport)
                        (*entry.onReport)();
                }
            }
        }
    }

    int fd_ = -1;
    bool failed_ = false;
    std::mutex mutex_;
    static inline std::atomic<FolderWatch*> made_{nullptr};
    std::vector<Entry> entries_;
};

} // namespace

WatchedFile::WatchedFile(std::string path, const char* defaultText, std::function<void()> onReport)
    : path_(std::move(path)), onReport_(std::move(onReport))
{
    QString p = QString::fromStdString(path_);
    QFileInfo info(p);
    if (!info.exists()) {
        QDir().mkpath(info.absolutePath());
        QFile f(p);
        if (f.open(QIODevice::WriteOnly))
            f.write(defaultText);
    }
    watched_ = FolderWatch::instance().add(info.absolutePath().toStdString(), info.fileName().toStdString(), &report_,
                                           &onReport_);
    if (!watched_)
        report_ = UNWATCHED;
}

WatchedFile::~WatchedFile()
{
    if (watched_)
        FolderWatch::instance().remove(&report_);
}

bool WatchedFile::changed()
{
    int seen = report_.load();
    if (seen == QUIET)
        return false;
    // A report that comes while the file is looked at stays for the next
    // question.
    if (seen == CHANGED)
        report_.compare_exchange_strong(seen, QUIET);
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
    QByteArray bytes;
    if (read_whole(path_, kMaxBytes, &bytes) != FileRead::whole)
        return false;
    *text = bytes.toStdString();
    return true;
}

void catchUpFileChanges()
{
    if (FolderWatch* watch = FolderWatch::made())
        watch->catchUp();
}

} // namespace board::sim
