#include "link/block_digest.h"

void BlockDigest::add_later(const u8* data, size_t n)
{
    pending_.push_back({data, n});
}

void BlockDigest::add_now(const u8* data, size_t n)
{
    settle();
    md5_.update(data, unsigned(n));
}

void BlockDigest::settle()
{
    for (const Span& s : pending_)
        md5_.update(s.data, unsigned(s.size));
    pending_.clear();
}

void BlockDigest::reset()
{
    pending_.clear();
    md5_.reset();
}

const u8* BlockDigest::digest()
{
    settle();
    return md5_.digest();
}
