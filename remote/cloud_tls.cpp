#include "remote/cloud_tls.h"

#include <QMutexLocker>
#include <QSslConfiguration>
#include <QSslSocket>

#include "board/board.h"
#include "board/file_read.h"
#include "core/logMsg.h"
#include "core/logging.h"
#include "core/utils.h"

const char* cloud_tls_socket::kCaFile = "/data/configs/cloud_cafile";

namespace
{
// The file's head. Stored with the overwrite flag, a certificate may hold as
// much as a transfer stages.
constexpr int kCaHead = 7;
} // namespace

cloud_tls_socket::cloud_tls_socket() = default;
cloud_tls_socket::~cloud_tls_socket() = default;

bool cloud_tls_socket::certificates(QList<QSslCertificate>& out)
{
    out.clear();
    QByteArray file;
    board::FileRead read;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        read = board::read_whole(board::path(std::string(kCaFile)), kFileBufSize + kCaHead, &file);
    }
    // A file that cannot be read holds no certificate: the link stays down
    // rather than open in the clear.
    if (read == board::FileRead::missing)
        return false;
    if (read == board::FileRead::unreadable) {
        zevlog::stored_file(lcRemote(), kCaFile,
                            "cannot be read: the cloud link stays down, the file is kept as it is");
        return true;
    }
    const auto unusable = [] {
        zevlog::stored_file(lcRemote(), kCaFile,
                            "holds no usable certificate: the cloud link stays down, the file is kept as it is");
        return true;
    };
    if (file.size() < kCaHead || u8(file[0]) != 0xAA)
        return unusable();
    const u32 size = u32(u8(file[3])) | u32(u8(file[4])) << 8 | u32(u8(file[5])) << 16 | u32(u8(file[6])) << 24;
    if (size > u32(file.size() - kCaHead))
        return unusable();
    const QByteArray data = file.mid(kCaHead, int(size));
    out = QSslCertificate::fromData(data, QSsl::Pem);
    if (out.isEmpty())
        out = QSslCertificate::fromData(data, QSsl::Der);
    return out.isEmpty() ? unusable() : true;
}

bool cloud_tls_socket::open(const std::string& ip, int port, const QList<QSslCertificate>& authorities, int ms)
{
    close();
    if (authorities.isEmpty() || !QSslSocket::supportsSsl()) {
        writeLogMsg(LOG_ERROR, "cloud: no TLS for the certificate file");
        return false;
    }
    socket_ = std::make_unique<QSslSocket>();
    QSslConfiguration c = socket_->sslConfiguration();
    c.setCaCertificates(authorities);
    c.setPeerVerifyMode(QSslSocket::VerifyPeer);
    socket_->setSslConfiguration(c);
    socket_->connectToHostEncrypted(QString::fromStdString(ip), quint16(port));
    if (!socket_->waitForEncrypted(ms)) {
        std::string why = socket_->errorString().toStdString();
        for (const QSslError& e : socket_->sslHandshakeErrors())
            why += "; " + e.errorString().toStdString();
        writeLogMsg(LOG_ERROR, "cloud: TLS link refused: " + why);
        close();
        return false;
    }
    return true;
}

bool cloud_tls_socket::is_open() const
{
    return socket_ && socket_->state() == QAbstractSocket::ConnectedState;
}

bool cloud_tls_socket::send(const u8* data, size_t length, int ms)
{
    if (!is_open() || socket_->write(reinterpret_cast<const char*>(data), qint64(length)) != qint64(length)) {
        close();
        return false;
    }
    while (socket_->bytesToWrite() > 0) {
        if (!socket_->waitForBytesWritten(ms)) {
            close();
            return false;
        }
    }
    return true;
}

bool cloud_tls_socket::receive(std::vector<u8>& out, size_t max, int ms)
{
    if (!is_open())
        return false;
    if (socket_->bytesAvailable() == 0 && !socket_->waitForReadyRead(ms))
        return is_open();
    const QByteArray got = socket_->read(qint64(max));
    out.insert(out.end(), got.constData(), got.constData() + got.size());
    return true;
}

void cloud_tls_socket::close()
{
    if (socket_)
        socket_->abort();
    socket_.reset();
}
