// The simulated kernel hot-plug messages. Tests inject messages or plug and
// pull the stick directly; a user plugs it by writing "in" into the file
// "usb" of the model folder and pulls it with "out". The stick's files are
// the folder mnt/usb1 of the data root; "/proc/scsi/usb-storage" exists
// while it is plugged.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include "board/sim/watched_file.h"
#include "board/uevent.h"

namespace board::sim
{

class SimUevents final : public Uevents
{
  public:
    SimUevents(const std::string& root, const std::string& modelDir);

    int open() override;
    int wait(long timeoutUs) override;
    long receive(char* buffer, size_t length) override;

    // Queues one raw message (NUL-separated fields, as the kernel sends).
    void inject(const std::string& message);
    // The messages of a stick with one partition being plugged or pulled;
    // plugging also makes "/proc/scsi/usb-storage" appear, pulling removes it.
    void plugStick();
    void pullStick();
    // A message as the kernel words it: "action@devpath" and its fields.
    static std::string kernelMessage(const std::string& action, const std::string& devpath,
                                     const std::string& subsystem);
    // Fault for tests: the socket cannot be bound.
    void setOpenFails(bool fails);
    size_t pending() const;

  private:
    void followStickFile();
    void stickMessages(const char* action, bool reverse);
    std::string storagePath() const;

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::string> queue_;
    bool stickNews_ = false; // the kernel reported the stick file
    std::string root_;
    WatchedFile stickFile_;
    int stickIn_ = -1; // unknown until the file is first read, at start
    bool openFails_ = false;
};

} // namespace board::sim
