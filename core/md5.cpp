#include "core/md5.h"

MD5::MD5() : hash_(QCryptographicHash::Md5) {}

void MD5::reset()
{
    hash_.reset();
    result_.clear();
    finished_ = false;
}

void MD5::update(void const* data, unsigned int length)
{
    if (finished_)
        reset();
    hash_.addData(static_cast<const char*>(data), int(length));
}

const unsigned char* MD5::digest()
{
    if (!finished_) {
        result_ = hash_.result();
        finished_ = true;
    }
    return reinterpret_cast<const unsigned char*>(result_.constData());
}
