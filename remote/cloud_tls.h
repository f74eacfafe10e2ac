// The cloud link over TLS. While "/data/configs/cloud_cafile" is present the
// cloud client speaks TLS and takes the server only when its certificate
// chains to the certificates of that file (the system's own authorities are
// not asked) and names the address it was reached at; without the file it
// speaks plain TCP.
//
// The certificate file, as the module file commands write it: byte 0 0xAA,
// u16 LE transfer id (101), u32 LE data size, then the certificates in PEM
// (one or more) or one in DER.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QList>
#include <QSslCertificate>

#include "core/global.h"

class QSslSocket;

class cloud_tls_socket
{
  public:
    cloud_tls_socket();
    ~cloud_tls_socket();
    cloud_tls_socket(const cloud_tls_socket&) = delete;
    cloud_tls_socket& operator=(const cloud_tls_socket&) = delete;

    // The certificates of the certificate file: false when there is no
    // file; true with out empty when the file holds no usable certificate
    // or cannot be read whole.
    static bool certificates(QList<QSslCertificate>& out);
    static const char* kCaFile;

    // Connects to ip:port and completes a verified handshake within ms:
    // true when the link is up.
    bool open(const std::string& ip, int port, const QList<QSslCertificate>& authorities, int ms);
    bool is_open() const;
    // Sends all bytes within ms each step: false (the link closed) when it
    // cannot.
    bool send(const u8* data, size_t length, int ms);
    // Waits at most ms for bytes and appends what came (at most max bytes)
    // to out: false when the link is gone.
    bool receive(std::vector<u8>& out, size_t max, int ms);
    void close();

  private:
    std::unique_ptr<QSslSocket> socket_;
};
