// What every link answers PC frames with: the codec over the link's own work
// buffer, its own dispatcher, and the buffer its replies are built in.
#pragma once

#include <vector>

#include "link/message_deal.h"
#include "link/protocol_phy.h"

class pc_answerer
{
  public:
    pc_answerer();

    // Un-escapes and checks a cut frame (start to end byte) into the work
    // buffer: the body's length without its BCC, or -1 when it is dropped.
    int accept(const u8* frame, int length);
    // The accepted body, its BCC at [length].
    u8* body() { return work_.data(); }
    // Runs the accepted body through the dispatcher and builds the reply in
    // reply(): its wire length, 0 for none. With always, a handler without
    // a reply still gets the header and check byte; a reply longer than
    // limit (0: no limit) is refused with status 1 and no data. peer names
    // the client of the link that sent the frame.
    int answer(int length, bool always = false, int limit = 0, uint64_t peer = 0);
    const u8* reply() const { return out_.data(); }
    // The replies built so far have gone out.
    static void replied() { message_deal::replied(); }

  private:
    protocol_phy phy_;
    message_deal deal_;
    std::vector<u8> work_;
    int work_dirty_ = pc::kWorkSize;
    std::vector<u8> out_;
};
