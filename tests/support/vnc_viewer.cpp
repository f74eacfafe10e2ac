#include "vnc_viewer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace
{
// Once a message has begun, its rest follows within this.
constexpr int kMessageMs = 5000;

void put16(std::vector<uint8_t>& b, unsigned v)
{
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}
void put32(std::vector<uint8_t>& b, uint32_t v)
{
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}
unsigned get16(const uint8_t* p)
{
    return unsigned(p[0]) << 8 | p[1];
}
uint32_t get32(const uint8_t* p)
{
    return uint32_t(get16(p)) << 16 | get16(p + 2);
}
} // namespace

const std::vector<NamedVncFormat>& vnc_formats()
{
    static const std::vector<NamedVncFormat> formats = {
        {"rgb32", {32, 24, false, 255, 255, 255, 16, 8, 0}},
        {"bgr32", {32, 24, false, 255, 255, 255, 0, 8, 16}},
        {"rgb24 in high bytes of 32", {32, 24, false, 255, 255, 255, 24, 16, 8}},
        {"rgb32 big-endian", {32, 24, true, 255, 255, 255, 16, 8, 0}},
        {"bgr32 big-endian", {32, 24, true, 255, 255, 255, 0, 8, 16}},
        {"rgb565", {16, 16, false, 31, 63, 31, 11, 5, 0}},
        {"bgr565 big-endian", {16, 16, true, 31, 63, 31, 0, 5, 11}},
        {"rgb555", {16, 15, false, 31, 31, 31, 10, 5, 0}},
        {"bgr233", {8, 8, false, 7, 7, 3, 0, 3, 6}},
    };
    return formats;
}

bool same_colour(QRgb a, QRgb b, const VncFormat& f)
{
    auto near = [](int x, int y, int max) { return std::abs(x - y) <= 255 / max + 1; };
    return near(qRed(a), qRed(b), f.redMax) && near(qGreen(a), qGreen(b), f.greenMax) &&
           near(qBlue(a), qBlue(b), f.blueMax);
}

bool RawViewer::connect(const std::string& address, int port, int ms)
{
    close();
    sockaddr_storage to{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&to);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&to);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(uint16_t(port));
        length = sizeof *v4;
    } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(uint16_t(port));
        length = sizeof *v6;
    } else {
        return false;
    }
    fd_ = socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&to), length) != 0) {
        close();
        return false;
    }
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    char version[13] = {};
    if (!read(version, 12, ms) || std::memcmp(version, "RFB 003.", 8) != 0) {
        close();
        return false;
    }
    // The server's version up to 3.8: 3.3 names the security type, later
    // ones offer a list, 3.8 then tells the result.
    const int minor = std::min(std::atoi(version + 8), 8);
    const std::string answer = minor >= 8 ? "RFB 003.008\n" : minor == 7 ? "RFB 003.007\n" : "RFB 003.003\n";
    uint8_t count = 0, types[255], word[4], init[24];
    const uint8_t none = 1, shared = 1;
    bool ok = send(std::vector<uint8_t>(answer.begin(), answer.end()));
    if (minor < 7)
        ok = ok && read(word, 4, ms) && get32(word) == none;
    else
        ok = ok && read(&count, 1, ms) && count > 0 && read(types, count, ms) && send({none}) &&
             (minor < 8 || (read(word, 4, ms) && get32(word) == 0));
    if (!ok || !send({shared}) || !read(init, 24, ms)) {
        close();
        return false;
    }
    width = int(get16(init));
    height = int(get16(init + 2));
    format = {init[4],
              init[5],
              init[6] != 0,
              uint16_t(get16(init + 8)),
              uint16_t(get16(init + 10)),
              uint16_t(get16(init + 12)),
              init[14],
              init[15],
              init[16]};
    std::vector<char> name(get32(init + 20));
    if (name.size() > 4096 || !read(name.data(), name.size(), ms)) {
        close();
        return false;
    }
    picture_.assign(size_t(width) * size_t(height), 0);
    return true;
}

bool RawViewer::setFormat(const VncFormat& f)
{
    std::vector<uint8_t> b{0, 0, 0, 0, f.bitsPerPixel, f.depth, uint8_t(f.bigEndian), 1};
    put16(b, f.redMax);
    put16(b, f.greenMax);
    put16(b, f.blueMax);
    b.insert(b.end(), {f.redShift, f.greenShift, f.blueShift, 0, 0, 0});
    format = f;
    return send(b);
}

bool RawViewer::setEncodings(const std::vector<int32_t>& encodings)
{
    std::vector<uint8_t> b{2, 0};
    put16(b, unsigned(encodings.size()));
    for (int32_t e : encodings)
        put32(b, uint32_t(e));
    return send(b);
}

bool RawViewer::request(bool incremental)
{
    std::vector<uint8_t> b{3, uint8_t(incremental), 0, 0, 0, 0};
    put16(b, unsigned(width));
    put16(b, unsigned(height));
    return send(b);
}

bool RawViewer::key(uint32_t keysym)
{
    std::vector<uint8_t> b;
    for (unsigned down : {1, 0}) {
        put16(b, 4 << 8 | down);
        put16(b, 0);
        put32(b, keysym);
    }
    return send(b);
}

bool RawViewer::pointer(int buttons, int x, int y)
{
    std::vector<uint8_t> b{5, uint8_t(buttons)};
    put16(b, unsigned(x));
    put16(b, unsigned(y));
    return send(b);
}

bool RawViewer::update(int ms)
{
    uint8_t type = 0;
    const size_t bytes = format.bitsPerPixel / 8;
    while (read(&type, 1, ms)) {
        uint8_t head[7];
        if (type == 2)
            continue;
        if (type == 3) {
            std::vector<char> text;
            if (!read(head, 7, kMessageMs))
                return false;
            text.resize(get32(head + 3));
            if (text.size() > 1 << 20 || !read(text.data(), text.size(), kMessageMs))
                return false;
            continue;
        }
        if (type != 0 || !read(head, 3, kMessageMs))
            return false;
        for (unsigned r = get16(head + 1); r > 0; --r) {
            uint8_t rect[12];
            if (!read(rect, 12, kMessageMs))
                return false;
            const int x = int(get16(rect)), y = int(get16(rect + 2)), w = int(get16(rect + 4)),
                      h = int(get16(rect + 6));
            const int32_t encoding = int32_t(get32(rect + 8));
            std::vector<uint8_t> data;
            if (encoding == 0 && x + w <= width && y + h <= height)
                data.resize(size_t(w) * size_t(h) * bytes);
            else if (encoding == -239)
                data.resize(size_t(w) * size_t(h) * bytes + size_t((w + 7) / 8) * size_t(h));
            else if (encoding == -240)
                data.resize(w * h != 0 ? 6 + 2 * size_t((w + 7) / 8) * size_t(h) : 0);
            else if (encoding != -232)
                return false;
            if (!read(data.data(), data.size(), kMessageMs))
                return false;
            if (encoding != 0)
                continue;
            for (int i = 0; i < w * h; ++i) {
                uint32_t v = 0;
                for (size_t k = 0; k < bytes; ++k) {
                    const uint8_t byte = data[size_t(i) * bytes + k];
                    v |= uint32_t(byte) << (8 * (format.bigEndian ? bytes - 1 - k : k));
                }
                auto part = [v](unsigned shift, unsigned max) { return int(((v >> shift) & max) * 255 / max); };
                picture_[size_t(y + i / w) * size_t(width) + size_t(x + i % w)] =
                    qRgb(part(format.redShift, format.redMax), part(format.greenShift, format.greenMax),
                         part(format.blueShift, format.blueMax));
            }
        }
        return true;
    }
    return false;
}

QRgb RawViewer::at(int x, int y) const
{
    return picture_.at(size_t(y) * size_t(width) + size_t(x));
}

void RawViewer::close(bool reset)
{
    if (fd_ < 0)
        return;
    if (reset) {
        const linger now{1, 0};
        setsockopt(fd_, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    }
    ::close(fd_);
    fd_ = -1;
}

bool RawViewer::send(const std::vector<uint8_t>& bytes)
{
    return fd_ >= 0 && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

bool RawViewer::read(void* to, size_t n, int ms)
{
    auto* p = static_cast<uint8_t*>(to);
    while (n > 0) {
        pollfd q{fd_, POLLIN, 0};
        if (fd_ < 0 || poll(&q, 1, ms) <= 0)
            return false;
        const ssize_t got = recv(fd_, p, n, 0);
        if (got <= 0)
            return false;
        p += got;
        n -= size_t(got);
    }
    return true;
}
