#include "remote/protocol_phy_cloud_4g.h"

#include <cstring>

#include "core/utils.h"

namespace
{
const u8 kMagic[4] = {'K', 'Q', 'O', 'C'};

u32 get32(const u8* p)
{
    return u32(p[0]) | (u32(p[1]) << 8) | (u32(p[2]) << 16) | (u32(p[3]) << 24);
}
} // namespace

std::vector<u8> protocol_phy_cloud_4g::build(u16 code, const std::string& body)
{
    std::vector<u8> f(size_t(cloud::kHeader) + body.size(), 0);
    std::memcpy(f.data(), kMagic, 4);
    std::memcpy(f.data() + 4, Utils::cloud_property().data() + 25, 12);
    const u32 n = u32(body.size());
    for (int i = 0; i < 4; ++i)
        f[size_t(16 + i)] = u8(n >> (8 * i));
    f[20] = u8(code);
    f[21] = u8(code >> 8);
    const u16 crc = Utils::calcCRC16(reinterpret_cast<const u8*>(body.data()), n);
    f[22] = u8(crc);
    f[23] = u8(crc >> 8);
    f[26] = Utils::BCC(f.data(), 26);
    std::memcpy(f.data() + cloud::kHeader, body.data(), body.size());
    return f;
}

long protocol_phy_cloud_4g::header_body_length(const u8* h)
{
    if (std::memcmp(h, kMagic, 4) != 0 || Utils::BCC(h, 26) != h[26])
        return -1;
    const u32 n = get32(h + 16);
    return n <= cloud::kMaxBody ? long(n) : -1;
}

bool protocol_phy_cloud_4g::body_ok(const u8* h, const u8* body, u32 length)
{
    return Utils::calcCRC16(body, length) == u16(h[22] | (h[23] << 8));
}

void cloud_frame_cutter::feed(const u8* data, size_t length, std::vector<frame>& out)
{
    buffer_.insert(buffer_.end(), data, data + length);
    size_t at = 0;
    while (buffer_.size() - at >= size_t(cloud::kHeader)) {
        const u8* h = buffer_.data() + at;
        const long n = protocol_phy_cloud_4g::header_body_length(h);
        if (n < 0) {
            ++at;
            ++dropped_;
            continue;
        }
        if (buffer_.size() - at < size_t(cloud::kHeader) + size_t(n))
            break;
        const u8* b = h + cloud::kHeader;
        if (protocol_phy_cloud_4g::body_ok(h, b, u32(n))) {
            frame f;
            f.code = protocol_phy_cloud_4g::code(h);
            f.body.assign(reinterpret_cast<const char*>(b), size_t(n));
            out.push_back(std::move(f));
        } else {
            ++dropped_;
        }
        at += size_t(cloud::kHeader) + size_t(n);
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + long(at));
}
