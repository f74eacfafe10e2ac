// The PC pass-through on the simulated board: a frame for the cards handed
// to the FPGA by a link, the card's answer read by the interrupt service and
// queued on the link, for one port and for all ports (merged answer).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <QTemporaryDir>

#include "board/sim/sim_board.h"
#include "board/sim/sim_cards.h"
#include "board/sim/sim_fpga.h"
#include "core/utils.h"
#include "ledout/fpga_manage.h"
#include "link/uart_config.h"

namespace
{
using Clock = std::chrono::steady_clock;

std::vector<u8> frame(u16 dest, u8 route, u8 portByte, u8 group, std::vector<u8> data)
{
    std::vector<u8> b = {u8(dest), u8(dest >> 8), 0x10, 0xF0, 0x04, 0x55, route, portByte, 0x00, group};
    b.insert(b.end(), data.begin(), data.end());
    b.push_back(Utils::BCC(b.data(), unsigned(b.size())));
    return b;
}

// Runs n round trips of the frame; prints the round-trip times.
bool run(const char* name, passby_link& link, link_send_list& list, const std::vector<u8>& f, int n)
{
    std::vector<double> us;
    us.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        std::vector<u8> body = f;
        pc_cmd_valid = 1;
        pc_cmd_time = G_timeTicks.load();
        const auto t0 = Clock::now();
        if (link.start(body.data(), int(body.size()), link_reply()) != passby_link::outcome::waiting)
            return false;
        int turns = 0;
        while (link.turn())
            if (++turns > 100000)
                return false;
        link_reply r;
        if (!list.pop(r))
            return false;
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double v : us)
        sum += v;
    std::printf("%-28s %6d round trips: mean %7.1f us, median %7.1f us, p99 %7.1f us\n", name, n, sum / n,
                us[us.size() / 2], us[us.size() * 99 / 100]);
    return true;
}
} // namespace

int main()
{
    QTemporaryDir dir;
    auto b = std::make_unique<board::sim::SimBoard>(dir.path().toStdString());
    board::sim::SimBoard* sim = b.get();
    board::install(std::move(b));
    board::sim::attachFpga(*sim);
    board::sim::attachCards(*sim, [] { return G_timeTicks.load(); });
    g_debugSwitch = 0;
    G_timeTicks = 1000;
    board::sim::SimCards* cards = board::sim::simCards();
    cards->setAnswerDelay(0);

    fpga_manage* m = fpga_manage::pInstance();
    // The FPGA as after its start-up, with the cards' counts known.
    fpga_manage::MCU_REG_func[0][FpgaReg::kState] = 3;
    const auto chains = cards->layout();
    u8* page = fpga_manage::MCU_RAM_PARA_func[0];
    for (unsigned p = 0; p < FpgaCards::kPorts; ++p) {
        page[FpgaCards::kCountAt[p]] = u8(chains.ports[p].cards);
        page[FpgaCards::kCountAt[p] + 1] = u8(chains.ports[p].cards >> 8);
    }
    {
        FpgaServiceLock lock(m);
        m->reg_IRQ_Dealwith(0, 1); // installs the card side
    }
    link_send_list list;
    passby_link link(PASSBY_SERIAL, list);

    const int n = 20000;
    if (!run("read 64 bytes, one port", link, list, frame(0x0001, 1, 1, 0x61, {0, 0, 0, 0, 64, 0, 0, 0}), n) ||
        !run("write 256 bytes, one port", link, list,
             frame(0x0001, 1, 2, 0x60,
                   [] {
                       std::vector<u8> d = {0, 1, 0, 0, 0, 1, 0, 0};
                       d.resize(8 + 256, 0x5A);
                       return d;
                   }()),
             n) ||
        !run("save, all ports (merged)", link, list, frame(0x0FFF, 1, 255, 0x81, {0xFF, 0x00}), n)) {
        std::printf("a round trip failed\n");
        return 1;
    }
    return 0;
}
