// A serial cable of the simulated board: two pseudo-terminals joined by a
// relay thread. The program opens one end through its device path (a link
// such as "dev/ttyS2" under the data root), a PC tool the other (a link in
// the model folder such as "sim/pc-serial"); bytes written on one end are
// read on the other. The relay keeps both ends open itself, so either side
// may come and go. A slow reader gets every byte (the relay holds up to
// kBacklog bytes for it, then stops reading the writer); when an end takes
// nothing for a second while that much waits, nobody listens there and the
// bytes are dropped, as on a cable with no one at the far end.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace board::sim
{

class SerialLink
{
  public:
    static constexpr size_t kBacklog = 256 * 1024;

    // Makes both ends and the links to them (replacing what was at those
    // paths); null with the reason in error when a step fails.
    static std::unique_ptr<SerialLink> create(const std::string& boardLink, const std::string& pcLink,
                                              std::string* error);
    // Stops the relay, closes both ends and removes the links.
    ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

  private:
    struct End {
        int master = -1;
        int slave = -1; // held open so the master never sees a hang-up
        std::string link;
    };
    SerialLink() = default;
    static bool openEnd(const std::string& link, End* end, std::string* error);
    void relay();

    End board_, pc_;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace board::sim
