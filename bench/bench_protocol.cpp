// Throughput of the PC frame codec and rate of command dispatch, each beside
// a plain memory copy of the same bytes in the same run.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "core/utils.h"
#include "link/message_deal.h"
#include "link/protocol_phy.h"

namespace
{
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

volatile u8 g_sink;

// Runs f until at least 0.3 s have passed; returns the rate of bytes per second.
template <typename F> double rate(size_t bytesPerRun, F&& f)
{
    size_t runs = 0;
    auto t0 = Clock::now();
    double s = 0;
    do {
        for (int i = 0; i < 16; ++i)
            f();
        runs += 16;
        s = seconds_since(t0);
    } while (s < 0.3);
    return double(bytesPerRun) * double(runs) / s;
}

void codec(const char* name, const std::vector<u8>& body)
{
    const int n = int(body.size());
    std::vector<u8> wire(size_t(protocol_phy::escaped_capacity(n)));
    std::vector<u8> back(wire.size());
    std::vector<u8> copy(wire.size());
    int w = protocol_phy::data_re_transf_meaning(wire.data(), body.data(), n, nullptr, int(wire.size()));
    double esc = rate(body.size(), [&] {
        protocol_phy::data_re_transf_meaning(wire.data(), body.data(), n, nullptr, int(wire.size()));
        g_sink = wire[size_t(w) - 2];
    });
    u8 end = 0;
    double unesc = rate(body.size(), [&] {
        protocol_phy::data_transf_meaning(wire.data(), back.data(), w, &end, int(back.size()));
        g_sink = back[size_t(n) - 1];
    });
    double cp = rate(body.size(), [&] {
        std::memcpy(copy.data(), body.data(), body.size());
        g_sink = copy[size_t(n) - 1];
    });
    std::printf("%-28s body %6d B, wire %6d B: escape %8.1f MB/s (%4.1f %%), un-escape %8.1f MB/s (%4.1f %%), "
                "memcpy floor %9.1f MB/s\n",
                name, n, w, esc / 1e6, 100 * esc / cp, unesc / 1e6, 100 * unesc / cp, cp / 1e6);
}

void dispatch(const char* name, const std::vector<u8>& body)
{
    message_deal md;
    std::vector<u8> wire(size_t(protocol_phy::escaped_capacity(int(body.size()))));
    int w = protocol_phy::data_re_transf_meaning(wire.data(), body.data(), int(body.size()), nullptr, int(wire.size()));
    std::vector<u8> work(pc::kWorkSize);
    std::vector<u8> out(pc::kWireSize);
    std::vector<u8> copy(pc::kWorkSize);
    size_t frames = 0;
    // As a link does: only what the last frame and reply wrote is cleared.
    int dirty = int(work.size());
    auto t0 = Clock::now();
    double s = 0;
    do {
        for (int i = 0; i < 64; ++i) {
            int len = protocol_phy::accept_frame(wire.data(), w, work.data(), int(work.size()), &dirty);
            int r = md.message_group_deal(work.data(), len, 5);
            int o = protocol_phy::build_reply(work.data(), int(work.size()), r, out.data(), int(out.size()), &dirty);
            g_sink = out[size_t(o) - 1];
        }
        frames += 64;
        s = seconds_since(t0);
    } while (s < 0.3);
    // The link work every frame costs at least: its buffers copied once.
    double cp = rate(size_t(pc::kWorkSize), [&] {
        std::memcpy(copy.data(), work.data(), work.size());
        g_sink = copy[1];
    });
    std::printf("%-28s %9.0f frames/s; memcpy of the %d-byte work buffer %9.0f /s\n", name, double(frames) / s,
                pc::kWorkSize, cp / double(pc::kWorkSize));
}

std::vector<u8> with_bcc(std::vector<u8> b)
{
    b.push_back(Utils::BCC(b.data(), unsigned(b.size())));
    return b;
}
} // namespace

int main()
{
    std::mt19937 rng(1);
    std::vector<u8> random(65547);
    for (u8& b : random)
        b = u8(rng());
    std::vector<u8> worst(65547, 0xA5);
    std::vector<u8> small(64);
    for (u8& b : small)
        b = u8(rng());
    // Image-like: smooth pixel rows, where the special bytes are rare.
    std::vector<u8> image(65547);
    for (size_t i = 0; i < image.size(); ++i) {
        u8 v = u8((i % 1920) * 160 / 1920 + (i / 1920) % 64);
        if (v == 0xA5 || v == 0xA6 || v == 0x5A || v == 0x5B)
            v = (i % 512 == 0) ? v : u8(v + 2);
        image[i] = v;
    }
    codec("random bytes", random);
    codec("image-like (few special)", image);
    codec("all 0xA5 (worst case)", worst);
    codec("64-byte frame", small);

    const std::vector<u8> head = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0};
    std::vector<u8> regRead = head;
    regRead.insert(regRead.end(), {0xA1, 6, 0x11, 0, 0});
    dispatch("register read", with_bcc(regRead));
    std::vector<u8> ramRead = head;
    ramRead.insert(ramRead.end(), {0x61, 0x00, 0x03, 0x00, 0x00, 0x00, 0x04, 0, 0});
    dispatch("1024-byte image read", with_bcc(ramRead));
    std::vector<u8> unknown = head;
    unknown.insert(unknown.end(), {0x99, 0});
    dispatch("unknown group", with_bcc(unknown));
    return 0;
}
