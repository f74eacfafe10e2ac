// Video processor and source check on the simulated board: time from an
// apply request to sig_update_para, and the CPU both threads use while idle.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "board/sim/sim_board.h"
#include "board/sim/sim_models.h"
#include "chips/tarvosource.h"
#include "core/zevrampara.h"
#include "video/c331_manage.h"

namespace
{

using Clock = std::chrono::steady_clock;

// CPU seconds of the process's thread with this name, from /proc.
double threadCpu(const char* name)
{
    QDir tasks("/proc/self/task");
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + "/comm"));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name)
            continue;
        QFile stat(tasks.filePath(tid + "/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        QByteArray line = stat.readAll();
        // Fields after the ")" of the name: utime and stime are 12th and 13th.
        QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (f.size() < 13)
            return 0;
        return double(f[11].toLongLong() + f[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
    }
    return 0;
}

double cpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    auto simBoard = std::make_unique<board::sim::SimBoard>(dir.path().toStdString());
    board::sim::SimBoard* sim = simBoard.get();
    board::install(std::move(simBoard));
    board::sim::attachModels(*sim);
    ZevRamPara::pInstance();

    std::atomic<int> received{-1};
    Clock::time_point receivedAt;
    QObject::connect(
        ZevRamPara::p_zevrampara, &ZevRamPara::sig_update_para, ZevRamPara::p_zevrampara,
        [&](int code) {
            receivedAt = Clock::now();
            received = code;
        },
        Qt::DirectConnection);

    tarvosource::pInstance()->initialize();
    c331_manage::pInstance();

    // Wait (bounded) for the chip and the inputs to come up.
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while ((!c331_manage::p_c331_manage->chip_up || tarvosource::p_tarvo_source->source_state != 2) &&
           Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!c331_manage::p_c331_manage->chip_up || tarvosource::p_tarvo_source->source_state != 2) {
        std::printf("bench_video: the simulated chips did not come up\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // first input copy

    const int rounds = 200;
    std::vector<double> ms;
    std::minstd_rand rng(331);
    for (int i = 0; i < rounds; ++i) {
        // Requests come at any point of the thread's sleep.
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 12000));
        received = -1;
        auto t0 = Clock::now();
        c331_apply(1, [i] { ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kContrast, u16(i % 100)); });
        auto limit = t0 + std::chrono::seconds(2);
        while (received < 0 && Clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        if (received != 1) {
            std::printf("bench_video: no sig_update_para within 2 s\n");
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(receivedAt - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms)
        sum += v;
    std::printf(
        "apply request -> sig_update_para over %d rounds: mean %.2f ms, median %.2f ms, p99 %.2f ms, max %.2f ms\n",
        rounds, sum / rounds, ms[rounds / 2], ms[rounds * 99 / 100], ms.back());

    const double idleSeconds = 5.0;
    double c0 = cpuSeconds(), v0 = threadCpu("c331manage"), s0 = threadCpu("checksource");
    auto w0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
    double cpu = cpuSeconds() - c0;
    double video = threadCpu("c331manage") - v0, source = threadCpu("checksource") - s0;
    double wall = std::chrono::duration<double>(Clock::now() - w0).count();
    std::printf("idle for %.1f s: whole process %.3f s CPU (%.2f %% of one core); video-processor thread %.2f s, "
                "source-check thread %.2f s (10 ms resolution)\n",
                wall, cpu, 100.0 * cpu / wall, video, source);
    std::fflush(stdout);
    std::_Exit(0); // the worker threads run for the life of the process
}
