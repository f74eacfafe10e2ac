// Frames as the PC tool builds them, and the road a link gives them: cut,
// un-escaped and checked, dispatched, answered.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include <poll.h>
#include <unistd.h>

#include "core/md5.h"
#include "core/utils.h"
#include "link/message_deal.h"
#include "link/protocol_phy.h"
#include "support/net_helpers.h"

using Bytes = std::vector<u8>;

constexpr u16 kBox = 0xF100;
constexpr u16 kPc = 0xF010;
constexpr u16 kFpga = 0xF200;

// Body without its BCC: addresses, header bytes 4..8 (route at 6, port at 7),
// group, then the rest.
inline Bytes request(u16 dest, u8 group, const Bytes& rest, u8 route = 0, u8 port = 0, u16 src = kPc)
{
    Bytes b;
    b.reserve(10 + rest.size());
    const u8 head[] = {u8(dest), u8(dest >> 8), u8(src), u8(src >> 8), 0x04, 0x05, route, port, 0x08, group};
    for (u8 x : head)
        b.push_back(x);
    for (u8 x : rest)
        b.push_back(x);
    return b;
}

inline Bytes with_bcc(Bytes body)
{
    u8 x = Utils::BCC(body.data(), unsigned(body.size()));
    body.push_back(x);
    return body;
}

inline Bytes wire(const Bytes& bodyWithBcc)
{
    Bytes out(size_t(protocol_phy::escaped_capacity(int(bodyWithBcc.size()))));
    int n = protocol_phy::data_re_transf_meaning(out.data(), bodyWithBcc.data(), int(bodyWithBcc.size()), nullptr,
                                                 int(out.size()));
    out.resize(size_t(n));
    return out;
}

inline Bytes le32(u32 v)
{
    return {u8(v), u8(v >> 8), u8(v >> 16), u8(v >> 24)};
}

// Group 0x60/0x61 request rest: address, length, two carried bytes, data.
inline Bytes ram_rest(u32 address, u16 length, const Bytes& data = {})
{
    Bytes r = le32(address);
    r.push_back(u8(length));
    r.push_back(u8(length >> 8));
    r.push_back(0);
    r.push_back(0);
    for (u8 x : data)
        r.push_back(x);
    return r;
}

// Register 14 bit 1: the PC's reboot of the box.
inline const Bytes kReboot = request(kBox, 0xA0, {14, 0x02, 0, 0x02});

struct Reply {
    bool sent = false;
    Bytes body; // un-escaped, BCC included
    u8 status() const { return body.at(10); }
    Bytes data() const { return Bytes(body.begin() + 11, body.end() - 1); }
};

// Runs the wire bytes of one frame through the codec and the dispatcher as a
// link does; no reply when the frame is dropped or the handler returns 0.
inline Reply pc_exchange(message_deal& md, const Bytes& frameWire)
{
    static std::vector<u8> work(pc::kWorkSize, 0xEE);
    static std::vector<u8> out(pc::kWireSize);
    // Leftovers of an earlier frame must not reach the handler.
    std::fill(work.begin(), work.end(), 0xEE);
    Reply r;
    int len = protocol_phy::accept_frame(frameWire.data(), int(frameWire.size()), work.data(), int(work.size()));
    if (len < 0)
        return r;
    int n = md.message_group_deal(work.data(), len, 5);
    if (n <= 0)
        return r;
    int w = protocol_phy::build_reply(work.data(), int(work.size()), n, out.data(), int(out.size()));
    if (w <= 0)
        return r;
    Bytes body(static_cast<size_t>(w));
    u8 end = 0;
    int b = protocol_phy::data_transf_meaning(out.data(), body.data(), w, &end, int(body.size()));
    body.resize(size_t(b));
    r.sent = end == 1;
    r.body = body;
    return r;
}

inline Reply send(message_deal& md, const Bytes& body)
{
    return pc_exchange(md, wire(with_bcc(body)));
}

// The reply expected for a request: its header with the addresses swapped,
// the given bytes from offset 10, the BCC.
inline Bytes expected_reply(const Bytes& req, const Bytes& fromStatus)
{
    Bytes b(req.begin(), req.begin() + 10);
    protocol_phy::swap_phy_head(b.data());
    for (u8 x : fromStatus)
        b.push_back(x);
    return with_bcc(b);
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// File transfers (group 0xC0): a start by tag, a start or read by name
// (sub-command 7 or 8), a block, the end with the file's digest.
inline Bytes tag_bytes(const char* tag)
{
    return Bytes(tag, tag + 4);
}
inline Bytes start_req(const char* tag, u8 kind, u32 size)
{
    return request(kBox, 0xC0, cat({{1, 0, 0}, tag_bytes(tag), {kind}, le32(size)}));
}
inline Bytes defined_req(u8 sub, const std::string& name, u8 kind, u32 size)
{
    Bytes n(name.begin(), name.end());
    Bytes rest = cat({{sub, 0, 0, u8(n.size()), u8(n.size() >> 8)}, n, {kind}});
    if (sub == 7)
        rest = cat({rest, le32(size)});
    return request(kBox, 0xC0, rest);
}
inline Bytes block_req(u32 address, const Bytes& data, u32 length)
{
    return request(kBox, 0xC0, cat({{2, 0, 0, 0, 0}, le32(address), le32(length), data}));
}
inline Bytes end_req(const Bytes& digest)
{
    return request(kBox, 0xC0, cat({{3, 0, 0, 0, 0}, digest}));
}
// A read transfer: the start by tag, a block, the end.
inline Bytes read_start_req(const char* tag)
{
    return request(kBox, 0xC0, cat({{4, 0, 0}, tag_bytes(tag)}));
}
inline Bytes read_block_req(u32 address, u32 length)
{
    return request(kBox, 0xC0, cat({{5, 0, 0, 0, 0}, le32(address), le32(length)}));
}
inline Bytes read_end_req()
{
    return request(kBox, 0xC0, {6});
}
inline Bytes digest_of(const Bytes& data)
{
    MD5 md5;
    md5.update(data.data(), unsigned(data.size()));
    const u8* d = md5.digest();
    return Bytes(d, d + 16);
}

// Module files (groups 0xCC, 0xC5 to 0xCB): a send start by file id, a send
// block, an end or cancel of either direction by transfer id.
inline Bytes module_start_req(const char* name, u32 size, u8 overwrite)
{
    return request(kBox, 0xCC, cat({tag_bytes(name), le32(size), {overwrite}}));
}
inline Bytes module_block_req(u16 tid, u32 offset, const Bytes& data)
{
    return request(kBox, 0xC5,
                   cat({{u8(tid), u8(tid >> 8)}, le32(offset), {u8(data.size()), u8(data.size() >> 8)}, data}));
}
inline Bytes module_end_req(u8 group, u16 tid, u32 total)
{
    return request(kBox, group, cat({{u8(tid), u8(tid >> 8)}, le32(total)}));
}

// Register 6 of the box answers with the request's mask byte: a tag that
// tells which request a reply belongs to.
inline Bytes tagged(u8 tag)
{
    return wire(with_bcc(request(kBox, 0xA1, {6, tag, 0, 0})));
}
inline u8 tag_of(const Bytes& reply)
{
    return reply.size() > 11 ? reply[11] : 0xEE;
}

// Un-escaped replies cut from a byte stream.
struct ReplyReader {
    frame_assembler a{0x40000};
    std::vector<Bytes> bodies;
    void feed(const u8* d, size_t n)
    {
        a.feed(d, n, [this](const u8* f, int len) {
            Bytes body(static_cast<size_t>(len));
            u8 end = 0;
            int b = protocol_phy::data_transf_meaning(f, body.data(), len, &end, len);
            body.resize(size_t(b));
            bodies.push_back(body);
        });
    }
    // Feeds what fd has ready now, without waiting.
    void drain(int fd)
    {
        u8 buf[65536];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN))
                return;
            ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0)
                return;
            feed(buf, size_t(n));
        }
    }
};

// Replies read from fd (stream or datagrams) until count arrived or ms
// passed without one.
inline std::vector<Bytes> replies(int fd, size_t count, int ms)
{
    ReplyReader r;
    std::vector<u8> buf(70000);
    while (r.bodies.size() < count) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0)
            break;
        ssize_t n = read(fd, buf.data(), buf.size());
        if (n <= 0)
            break;
        r.feed(buf.data(), size_t(n));
    }
    return r.bodies;
}

// One request on a stream: the reply's bytes from the status on, without the
// BCC; empty when none came within 5 s.
inline Bytes ask(int fd, const Bytes& body)
{
    put(fd, wire(with_bcc(body)));
    std::vector<Bytes> r = replies(fd, 1, 5000);
    return r.empty() || r[0].size() < 11 ? Bytes() : Bytes(r[0].begin() + 10, r[0].end() - 1);
}
