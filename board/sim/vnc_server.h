// The simulated board's VNC screen: an RFB server (LibVNCServer) listening on
// one address only, served by a thread of its own. The picture is handed over
// whole from any thread, without a copy; the viewers' messages are checked
// before the library reads them; their keys and pointer come out as input
// for the owner to take. No viewer can hold up the owner: the thread never
// waits on a viewer while it holds anything the owner uses.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace board::sim
{

// One key or pointer event from a viewer.
struct VncInput {
    enum Kind { Key, Pointer };
    Kind kind = Key;
    // Key: its X keysym, pressed or released.
    uint32_t keysym = 0;
    bool down = false;
    // Pointer: the buttons held (bit 0 the left one) and where, inside the
    // screen.
    int buttons = 0;
    int x = 0;
    int y = 0;
};

class VncServer
{
  public:
    VncServer(int width, int height);
    // Stops the thread and closes every connection.
    ~VncServer();
    VncServer(const VncServer&) = delete;
    VncServer& operator=(const VncServer&) = delete;

    // Listens on address and port (0: any free one) and starts serving; on
    // IPv6 only IPv6 is taken. inputWaiting is called on the server's
    // thread when input arrives while none was waiting. Empty on success,
    // else the reason.
    std::string start(const std::string& address, int port, std::function<void()> inputWaiting);
    // The port listened on, 0 before start.
    int port() const;

    // Takes the new picture from pixels, width x height pixels 0x00RRGGBB
    // row after row, and leaves in its place a buffer of the same size to
    // draw the next one on. Any thread; never waits on a viewer. A picture
    // of another size is left where it is.
    void setFrame(std::vector<uint32_t>& pixels);

    // The input received since the last call, oldest first. Bounded: while
    // none is taken, a pointer move right after a move replaces it, and
    // what comes past the bound is dropped.
    std::vector<VncInput> takeInput();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace board::sim
