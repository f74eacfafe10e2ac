// Which client a transfer of the PC tool belongs to (file writes and reads,
// module sends and reads): the client whose start was taken. While it is
// open and its client was heard from lately, another client's start is
// refused; another client's blocks and end are refused until a start of its
// own is taken. A client that went silent for 30 s no longer holds the
// others back. Not locked: the command lock guards it with the transfer.
#pragma once

#include <cstdint>

#include "core/global.h"

class message_deal;

// A client: the link's handler and the connection or address on that link.
struct Sender {
    const message_deal* link = nullptr;
    uint64_t peer = 0;
    bool operator==(const Sender& o) const { return link == o.link && peer == o.peer; }
};

class TransferOwner
{
  public:
    // Another client's transfer is open and was heard from lately.
    bool busy_for(const Sender& s) const;
    // Another client's transfer: s's blocks and end are not for it.
    bool foreign(const Sender& s) const;
    // s's start was taken: the transfer is open, s heard from now.
    void take(const Sender& s);
    void heard();
    // Ended: others may start; until one does, the owner's requests count.
    void close();
    // Nobody's (a refused start, a transfer given up).
    void drop();

  private:
    bool owned_ = false;
    bool open_ = false;
    Sender owner_;
    u32 heard_ = 0;
};
