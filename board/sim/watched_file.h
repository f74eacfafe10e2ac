// A model's text file that may be edited while the program runs: written
// with its default text when missing, read again only once it changed.
//
// The kernel reports changes in the file's folder (inotify) to one thread
// that sleeps until it does; the file is looked at only after such a report,
// so asking whether it changed costs nothing while nobody edits it. Where the
// kernel cannot watch the folder, the file is looked at on every question.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <sys/types.h>

namespace board::sim
{

class WatchedFile
{
  public:
    // onReport, when given, runs on the watching thread after each report,
    // for a reader that sleeps until the file changes; it must not ask for
    // another file to be watched or let go.
    WatchedFile(std::string path, const char* defaultText, std::function<void()> onReport = {});
    ~WatchedFile();
    WatchedFile(const WatchedFile&) = delete;
    WatchedFile& operator=(const WatchedFile&) = delete;

    const std::string& path() const { return path_; }
    // True when the file differs from what the last call saw (replaced,
    // resized, touched, appeared or vanished).
    bool changed();
    // The whole text; false when the file cannot be read whole within
    // kMaxBytes (a model's file holds a few lines).
    bool read(std::string* text) const;
    static constexpr size_t kMaxBytes = 1024 * 1024;
    // False while the kernel does not watch the file: a reader that sleeps
    // until a report must look at it now and then instead.
    bool watched() const { return report_.load() != UNWATCHED; }

    // What the kernel said of the file since the last look.
    enum Report { QUIET, CHANGED, UNWATCHED };

  private:
    struct Stamp {
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = -1;
        long sec = 0, nsec = 0;
        bool operator==(const Stamp& o) const
        {
            return dev == o.dev && ino == o.ino && size == o.size && sec == o.sec && nsec == o.nsec;
        }
    };
    std::string path_;
    Stamp stamp_;
    std::atomic<int> report_{CHANGED};
    std::function<void()> onReport_;
    bool watched_ = false;
};

// Takes in what the kernel has reported so far: for a writer in this process
// that must have its change seen by the very next question.
void catchUpFileChanges();

} // namespace board::sim
