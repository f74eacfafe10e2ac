#include "link/transfer_owner.h"

#include "core/utils.h"

namespace
{
// 30 s in ticks.
constexpr u32 kIdleTicks = 3000;
} // namespace

bool TransferOwner::busy_for(const Sender& s) const
{
    return open_ && !(owner_ == s) && Utils::getTimeSpace(heard_) <= kIdleTicks;
}

bool TransferOwner::foreign(const Sender& s) const
{
    return owned_ && !(owner_ == s);
}

void TransferOwner::take(const Sender& s)
{
    owned_ = true;
    open_ = true;
    owner_ = s;
    heard();
}

void TransferOwner::heard()
{
    heard_ = G_timeTicks.load();
}

void TransferOwner::close()
{
    open_ = false;
}

void TransferOwner::drop()
{
    owned_ = false;
    open_ = false;
}
