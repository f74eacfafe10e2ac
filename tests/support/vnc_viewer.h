// A VNC viewer on a raw socket for the VNC screen's tests, reading pictures
// in raw encoding.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <QImage>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "board/sim/listen_address.h"
#include "support/net_helpers.h"

// True colour, up to 8 bits a colour; max and shift: red, green, blue.
struct VncFormat {
    uint8_t bits, depth, bigEndian, max[3], shift[3];
};

class RawViewer
{
  public:
    ~RawViewer()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    // As a 3.8 viewer, no security, shared; false when a step fails or the
    // server is silent for 15 s (it waits up to 5 on a stuck viewer).
    bool connect(const std::string& address, int port)
    {
        sockaddr_storage to;
        socklen_t length;
        const timeval wait{15, 0};
        uint8_t version[12], count = 0, types[255], result[4], init[24];
        require_guard("RawViewer::connect()");
        if (!board::sim::parseAddress(address, port, &to, &length) ||
            (fd_ = socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0)) < 0 ||
            setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0 ||
            ::connect(fd_, reinterpret_cast<sockaddr*>(&to), length) != 0 || !read(version, 12) ||
            std::memcmp(version, "RFB 003.008\n", 12) != 0 || !send({version, version + 12}) || !read(&count, 1) ||
            !read(types, count) || !send({1}) || !read(result, 4) || be32(result) != 0 || !send({1}) || !read(init, 24))
            return false;
        picture = QImage(int(be16(init)), int(be16(init + 2)), QImage::Format_RGB32);
        picture.fill(0);
        format = {init[4], init[5], init[6], {init[9], init[11], init[13]}, {init[14], init[15], init[16]}};
        std::vector<uint8_t> name(be32(init + 20));
        return name.size() <= 4096 && read(name.data(), name.size());
    }
    bool setFormat(const VncFormat& f)
    {
        format = f;
        const uint8_t* m = f.max;
        const uint8_t* s = f.shift;
        return send(
            {0, 0, 0, 0, f.bits, f.depth, f.bigEndian, 1, 0, m[0], 0, m[1], 0, m[2], s[0], s[1], s[2], 0, 0, 0});
    }
    bool setEncodings(const std::vector<int32_t>& encodings)
    {
        std::vector<uint8_t> b{2, 0, 0, uint8_t(encodings.size())};
        for (int32_t e : encodings)
            b.insert(b.end(), {uint8_t(e >> 24), uint8_t(e >> 16), uint8_t(e >> 8), uint8_t(e)});
        return send(b);
    }
    bool request(bool incremental) { return request(incremental, {0, 0, picture.width(), picture.height()}); }
    bool request(bool incremental, const QRect& r)
    {
        const int x = r.x(), y = r.y(), w = r.width(), h = r.height();
        return send({3, incremental, uint8_t(x >> 8), uint8_t(x), uint8_t(y >> 8), uint8_t(y), uint8_t(w >> 8),
                     uint8_t(w), uint8_t(h >> 8), uint8_t(h)});
    }
    // A Latin-1 key pressed and released.
    bool key(uint8_t keysym) { return send({4, 1, 0, 0, 0, 0, 0, keysym, 4, 0, 0, 0, 0, 0, 0, keysym}); }
    // One picture update: raw rectangles drawn, rich cursor shapes skipped;
    // false when none begins within ms or the stream breaks.
    bool update(int ms = 15000)
    {
        pollfd ready{fd_, POLLIN, 0};
        uint8_t head[4], rect[12];
        if (poll(&ready, 1, ms) != 1 || !read(head, 4) || head[0] != 0)
            return false;
        const uint32_t bytes = format.bits / 8u;
        for (uint32_t r = be16(head + 2); r > 0; --r) {
            if (!read(rect, 12))
                return false;
            const uint32_t x = be16(rect), y = be16(rect + 2), w = be16(rect + 4), h = be16(rect + 6);
            const int32_t encoding = int32_t(be32(rect + 8));
            std::vector<uint8_t> data(w * h * bytes + (encoding == -239 ? (w + 7) / 8 * h : 0));
            if ((encoding != 0 && encoding != -239) || !read(data.data(), data.size()))
                return false;
            for (uint32_t i = 0; encoding == 0 && i < w * h; ++i) {
                uint32_t v = 0, c[3];
                for (uint32_t k = 0; k < bytes; ++k)
                    v |= uint32_t(data[i * bytes + k]) << 8 * (format.bigEndian ? bytes - 1 - k : k);
                for (int p = 0; p < 3; ++p)
                    c[p] = (v >> format.shift[p] & format.max[p]) * 255 / format.max[p];
                picture.setPixel(int(x + i % w), int(y + i / w), qRgb(int(c[0]), int(c[1]), int(c[2])));
            }
        }
        return true;
    }
    // The server's until another is asked for.
    VncFormat format{};
    QImage picture;

  private:
    static uint32_t be16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
    static uint32_t be32(const uint8_t* p) { return be16(p) << 16 | be16(p + 2); }
    bool send(const std::vector<uint8_t>& b)
    {
        return fd_ >= 0 && ::send(fd_, b.data(), b.size(), MSG_NOSIGNAL) == ssize_t(b.size());
    }
    bool read(void* to, size_t n) { return n == 0 || recv(fd_, to, n, MSG_WAITALL) == ssize_t(n); }

    int fd_ = -1;
};
