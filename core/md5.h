// MD5 digest (RFC 1321) over Qt's implementation.
#pragma once

#include <QCryptographicHash>

class MD5
{
  public:
    MD5();
    void reset();
    void update(void const* data, unsigned int length);
    // Finishes the digest; the 16 bytes stay valid until the next reset.
    const unsigned char* digest();

  private:
    QCryptographicHash hash_;
    QByteArray result_;
    bool finished_ = false;
};
