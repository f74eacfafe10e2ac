// The FPGA worker on the simulated board: CPU use while idle (FPGA up, no
// job, no host traffic) and how soon a pass answers a change of host state.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include <QTemporaryDir>

#include "board/sim/sim_board.h"
#include "board/sim/sim_fpga.h"
#include "chips/tarvosource.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"

namespace
{

double cpuSeconds()
{
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

std::atomic<unsigned> g_tickUs{100};

void tickThread()
{
    for (;;) {
        std::this_thread::sleep_for(std::chrono::microseconds(g_tickUs.load()));
        ++G_timeTicks;
    }
}

} // namespace

int main()
{
    QTemporaryDir dir;
    auto b = std::make_unique<board::sim::SimBoard>(dir.path().toStdString());
    board::sim::SimBoard* sim = b.get();
    board::install(std::move(b));
    board::sim::attachFpga(*sim);
    g_debugSwitch = 0;
    ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kLedWidth, 1920);
    ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kLedHeight, 1080);
    tarvosource::p_tarvo_source = new tarvosource();
    tarvosource::p_tarvo_source->source_state = 2;
    g_source_online = 2;

    fpga_manage* m = fpga_manage::pInstance();
    // Fast ticks bring the FPGA up without the 18 s wait.
    std::thread(tickThread).detach();
    const auto t0 = std::chrono::steady_clock::now();
    if (m->initialize_start() != 0) {
        std::printf("worker did not start\n");
        return 1;
    }
    while (!m->get_fpga_status()) {
        if (std::chrono::steady_clock::now() - t0 > std::chrono::seconds(60)) {
            std::printf("FPGA did not come up\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::printf("FPGA up after %u ticks (%.1f s of board time)\n", G_timeTicks.load(), G_timeTicks.load() / 100.0);

    // Idle: the GUI tick at its real 10 ms, nothing else to do.
    g_tickUs = 10000;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double idleSeconds = 5.0;
    const double c0 = cpuSeconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
    const double used = cpuSeconds() - c0;
    std::printf("idle CPU: %.2f %% of one core (%.3f s over %.1f s; includes the 10 ms tick thread)\n",
                100.0 * used / idleSeconds, used, idleSeconds);

    // Response: host traffic that has ended is noticed by the next pass.
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> gap(0, 2000);
    std::vector<double> lat;
    for (int i = 0; i < 500; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(gap(rng)));
        pc_cmd_time = G_timeTicks.load() - 100;
        const auto s = std::chrono::steady_clock::now();
        pc_cmd_valid = 1;
        wake_fpga_worker();
        while (pc_cmd_valid.load() != 0)
            std::this_thread::sleep_for(std::chrono::microseconds(10));
        lat.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - s).count());
    }
    std::sort(lat.begin(), lat.end());
    double sum = 0;
    for (double v : lat)
        sum += v;
    std::printf("pass response over %zu samples: mean %.0f us, median %.0f us, p99 %.0f us, max %.0f us\n", lat.size(),
                sum / double(lat.size()), lat[lat.size() / 2], lat[lat.size() * 99 / 100], lat.back());
    return 0;
}
