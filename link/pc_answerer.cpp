#include "link/pc_answerer.h"

#include <algorithm>

pc_answerer::pc_answerer() : work_(pc::kWorkSize), out_(pc::kWireSize) {}

int pc_answerer::accept(const u8* frame, int length)
{
    return phy_.accept_frame(frame, length, work_.data(), int(work_.size()), &work_dirty_);
}

int pc_answerer::answer(int length, bool always, int limit, uint64_t peer)
{
    const int n = deal_.message_group_deal(work_.data(), length, 5, peer);
    if (n <= 0 && !always)
        return 0;
    int w = protocol_phy::build_reply(work_.data(), int(work_.size()), std::max(n, 0), out_.data(), int(out_.size()),
                                      &work_dirty_);
    if (limit && w > limit)
        w = protocol_phy::build_refusal(work_.data(), int(work_.size()), out_.data(), int(out_.size()), &work_dirty_);
    return w;
}
