// A model's text file that may be edited while the program runs: written
// with its default text when missing, read again only once it changed.
#pragma once

#include <string>
#include <sys/types.h>

namespace board::sim
{

class WatchedFile
{
  public:
    WatchedFile(std::string path, const char* defaultText);
    const std::string& path() const { return path_; }
    // True when the file differs from what the last call saw (replaced,
    // resized, touched, appeared or vanished).
    bool changed();
    // The whole text; false when the file cannot be read.
    bool read(std::string* text) const;

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
};

} // namespace board::sim
