// A slot's file against a PC save, a PC empty or a factory reset landing at
// any moment of the rewrite of the modes, the user's delete or a save's file
// write. The thread storing the file is stopped at each of its steps, one
// stop per run: each time it takes or gives back the apply mutex and each
// time it puts a file in place. The other request runs then on a thread of its own, to its
// end or until it waits for a lock the storing thread holds. Whatever the moment: an empty is never undone, a save is
// never lost (its OSD-menu flag included) and reaches its file, and a
// factory reset answered 0 leaves no mode file.
#include <QtTest>

#include <atomic>
#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <functional>
#include <pthread.h>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#include <QDir>

#include "core/para_apply.h"
#include "core/zevrampara.h"
#include "link/pc_frames.h"
#include "support/sim_fixture.h"
#include "ui/shell/pages.h"
#include "ui/shell/syncupdate.h"

namespace
{
using LockFn = int (*)(pthread_mutex_t*);
using RenameFn = int (*)(const char*, const char*);

// The stop: the storing thread's at-th step (a take or a release of the
// apply mutex, a file put in place) runs land there.
struct Stop {
    std::atomic<bool> armed{false};
    pthread_t thread{};
    int count = 0;
    int at = INT_MAX;
    std::function<void()> land;
} g_stop;

// ThreadSanitizer keeps the mutex functions to itself: there the test does
// not run.
#ifndef __SANITIZE_THREAD__
void step()
{
    if (g_stop.armed.load() && pthread_equal(pthread_self(), g_stop.thread) && ++g_stop.count == g_stop.at) {
        g_stop.armed = false;
        g_stop.land();
    }
}

template <typename F> F next_definition(std::atomic<F>& cache, const char* name)
{
    F f = cache.load();
    if (!f) {
        f = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
        cache = f;
    }
    return f;
}
std::atomic<LockFn> g_real_lock{nullptr};
std::atomic<LockFn> g_real_unlock{nullptr};
std::atomic<RenameFn> g_real_rename{nullptr};
#endif
} // namespace

// The program's own definitions come before the C library's: every lock and
// unlock of the apply mutex and every file the writer of stored files puts
// in place pass here.
#ifndef __SANITIZE_THREAD__
extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex)
{
    if (mutex == &g_para_apply_mutex)
        step();
    return next_definition(g_real_lock, "pthread_mutex_lock")(mutex);
}

extern "C" int pthread_mutex_unlock(pthread_mutex_t* mutex)
{
    const int r = next_definition(g_real_unlock, "pthread_mutex_unlock")(mutex);
    if (mutex == &g_para_apply_mutex)
        step();
    return r;
}

extern "C" int rename(const char* from, const char* to)
{
    step();
    return next_definition(g_real_rename, "rename")(from, to);
}
#endif

namespace
{
constexpr int kSlot = 5;
constexpr int kMenuFlag = 2 + Img::kOsdMenuFlag - Img::kModeStart;
constexpr int kBrightness = 2 + Img::kBrightness - Img::kModeStart;

// Whether the thread waits in the kernel for a lock (a futex).
bool waits_for_a_lock(pid_t tid)
{
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
    std::string call;
    return bool(in >> call) && call == std::to_string(SYS_futex);
}

const Bytes kFactoryReset = request(kBox, 0xA0, {16, 0x01, 0, 0x01});

u8 status_of(message_deal& md, const Bytes& req)
{
    const Reply r = send(md, req);
    return r.sent ? r.status() : 0xEE;
}

// The PC's save of kSlot with the screen's brightness at value and the OSD
// menu on.
bool pc_save(message_deal& md, u8 value)
{
    const Bytes apply = request(kBox, 0xA0, {11, 0x02, 0, 0x02});
    return status_of(md, request(kBox, 0x60, ram_rest(Img::kBrightness, 2, {value, 0}))) == 0 &&
           status_of(md, request(kBox, 0x60, ram_rest(Img::kOsdMenuFlag, 2, {1, 0}))) == 0 &&
           status_of(md, request(kBox, 0x60, ram_rest(Img::kModeToSave, 2, {kSlot + 1, 0}))) == 0 &&
           status_of(md, apply) == 0;
}
} // namespace

class TestModeFileRaces : public QObject
{
    Q_OBJECT
    SimFixture* sim = nullptr;
    message_deal md;

    QString file(int s) { return sim->hostQ(ZevRamPara::modeFilePath(s)); }
    QStringList mode_files() { return QDir(sim->hostQ("/data/modes")).entryList(QDir::Files | QDir::Hidden); }

    // No mode anywhere: every slot empty, no file, nothing waits.
    void fresh()
    {
        for (int s = 0; s < kUserModeCount; ++s) {
            C331Lock lock;
            ZevRamPara::empty_mode_slot(s);
        }
        for (int s = 0; s < kUserModeCount; ++s)
            SyncUpdate::pInstance()->store_mode(s);
        QDir(sim->hostQ("/data/modes")).removeRecursively();
        QVERIFY(QDir().mkpath(sim->hostQ("/data/modes")));
    }
    // The start of a row: the slot saved with brightness 40 and on its
    // file, then as the row asks.
    void prepare(const QString& start)
    {
        fresh();
        QVERIFY(pc_save(md, 40));
        if (start != "save asked")
            QCOMPARE(ZevRamPara::store_saved_mode(kSlot), 1);
        C331Lock lock;
        if (start == "deleted")
            ZevRamPara::empty_mode_slot(kSlot);
        // A rewrite leaves a file that holds its slot alone: the PC's
        // upload of the slot's markers puts its file behind.
        if (start == "saved")
            QCOMPARE(ZevRamPara::ZevModeUserRamParaDeal(std::vector<u8>{0xAA, 0xAA}.data(), 2, (kSlot + 1) << 12), 0);
        // The image as stored: every run takes the same steps.
        std::memcpy(ZevRamPara::p_zevrampara_shadow, ZevRamPara::p_zevrampara_config, Img::kSize);
    }
    void job(const QString& what)
    {
        if (what == "save file")
            SyncUpdate::pInstance()->para_sync(1);
        else
            SyncUpdate::pInstance()->store_mode(kSlot);
    }

    // The number of steps job takes when nothing lands.
    int steps_of(const std::function<void()>& job)
    {
        bool landed = false;
        land_at(INT_MAX, job, {}, &landed);
        return g_stop.count;
    }
    // Runs job, stopped at its at-th step while request runs on a thread of
    // its own, to its end or until it waits for a lock the job holds; the
    // request's answer. ended runs at the stop when the request ended there.
    u8 land_at(int at, const std::function<void()>& job, const std::function<u8(message_deal&)>& request, bool* landed,
               const std::function<void()>& ended = {})
    {
        std::atomic<bool> done{false};
        std::atomic<pid_t> tid{0};
        u8 answer = 0xEE;
        std::thread other;
        g_stop.land = [&] {
            other = std::thread([&] {
                tid = pid_t(syscall(SYS_gettid));
                message_deal link;
                answer = request(link);
                done = true;
            });
            for (int i = 0; i < 10000 && !done; ++i) {
                if (tid && waits_for_a_lock(tid))
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (done && ended)
                ended();
            *landed = true;
        };
        g_stop.count = 0;
        g_stop.at = at;
        g_stop.thread = pthread_self();
        g_stop.armed = true;
        job();
        g_stop.armed = false;
        if (other.joinable())
            other.join();
        return answer;
    }

  private slots:
    void initTestCase()
    {
#ifdef __SANITIZE_THREAD__
        QSKIP("ThreadSanitizer keeps the mutex functions to itself: no thread can be stopped in them");
#endif
        sim = new SimFixture();
        ZevRamPara::pInstance();
        g_page_focus = PageId::Count;
        QVERIFY(writeHostFile(sim->hostQ("/data/configs/omenu.json"), "{\"menu\": 1}"));
    }
    void cleanupTestCase()
    {
        delete sim;
    }

    void aRequestLandingAnywhere_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("job");
        QTest::addColumn<QString>("landing");
        QTest::newRow("rewrite of a saved slot, PC empty") << "saved"
                                                           << "rewrite"
                                                           << "empty";
        QTest::newRow("rewrite of a saved slot, PC save") << "saved"
                                                          << "rewrite"
                                                          << "save";
        QTest::newRow("rewrite of a saved slot, factory reset") << "saved"
                                                                << "rewrite"
                                                                << "reset";
        QTest::newRow("user's delete, PC save") << "deleted"
                                                << "rewrite"
                                                << "save";
        QTest::newRow("user's delete, factory reset") << "deleted"
                                                      << "rewrite"
                                                      << "reset";
        QTest::newRow("save's file, PC empty") << "save asked"
                                               << "save file"
                                               << "empty";
        QTest::newRow("save's file, PC save") << "save asked"
                                              << "save file"
                                              << "save";
        QTest::newRow("save's file, factory reset") << "save asked"
                                                    << "save file"
                                                    << "reset";
    }
    void aRequestLandingAnywhere()
    {
        QFETCH(QString, start);
        QFETCH(QString, job);
        QFETCH(QString, landing);
        // The job's steps when nothing lands.
        prepare(start);
        const int takes = steps_of([&] { this->job(job); });
        QVERIFY(takes > 0);

        for (int at = 1; at <= takes; ++at) {
            const QString where = QString("landing at step %1 of %2").arg(at).arg(takes);
            prepare(start);
            bool landed = false;
            const u8 answer = land_at(
                at, [&] { this->job(job); },
                [&](message_deal& link) -> u8 {
                    if (landing == "empty")
                        return status_of(link, request(kBox, 0x60, ram_rest((kSlot + 1) << 12, 2, {0xFF, 0xFF})));
                    if (landing == "save")
                        return pc_save(link, 77) ? 0 : 1;
                    return status_of(link, kFactoryReset);
                },
                &landed);
            QVERIFY2(landed, qPrintable(where));
            QVERIFY2(answer == 0, qPrintable(where + ": the request's answer"));

            bool saved;
            u8 brightness, menu;
            {
                C331Lock lock;
                saved = ZevRamPara::ZevUserModeSaved(kSlot);
                brightness = ZevRamPara::user_mode[kSlot][kBrightness];
                menu = ZevRamPara::user_mode[kSlot][kMenuFlag];
            }
            if (landing == "reset") {
                QVERIFY2(!saved, qPrintable(where + ": the slot after the reset"));
                QVERIFY2(mode_files().isEmpty(), qPrintable(where + ": files left: " + mode_files().join(' ')));
                continue;
            }
            if (landing == "empty") {
                QVERIFY2(!saved, qPrintable(where + ": the emptied slot is saved again"));
                // The PC's empty loses its file at the rewrite of the modes.
                SyncUpdate::pInstance()->store_mode(kSlot);
                QVERIFY2(!QFileInfo::exists(file(kSlot)), qPrintable(where + ": the emptied slot's file"));
                continue;
            }
            QVERIFY2(saved && brightness == 77 && menu == 1, qPrintable(where + ": the save in its slot"));
            // The save's file, with its menu, is written by the next refresh.
            SyncUpdate::pInstance()->para_sync(1);
            QCOMPARE(ZevRamPara::mode_saves_asked(), u32(0));
            const QByteArray stored = readHostFile(file(kSlot));
            QVERIFY2(stored.size() == kUserModeFileSize && u8(stored[kBrightness]) == 77 && u8(stored[kMenuFlag]) == 1,
                     qPrintable(where + ": the save's file"));
            QVERIFY2(QFileInfo::exists(sim->hostQ(ZevRamPara::modeMenuPath(kSlot))),
                     qPrintable(where + ": the save's menu file"));
        }
    }

    // The image's file against a factory reset landing at any step of its
    // write: from the reset's answer on, the file never again holds the
    // image from before the reset.
    void theImageFileNeverGoesBack()
    {
        const int kFileBrightness = 2 + Img::kBrightness - Img::kPersistStart;
        auto prepareImage = [&] {
            fresh();
            QVERIFY(status_of(md, kFactoryReset) == 0);
            SyncUpdate::pInstance()->para_sync(1);
            QVERIFY(status_of(md, request(kBox, 0x60, ram_rest(Img::kBrightness, 2, {40, 0}))) == 0);
        };
        auto fileBrightness = [&] {
            const QByteArray f = readHostFile(sim->hostQ(ZevRamPara::kDeviceInfoFile));
            return f.size() > kFileBrightness ? int(u8(f[kFileBrightness])) : -1;
        };
        auto job = [] { SyncUpdate::pInstance()->para_sync(1); };
        prepareImage();
        const int takes = steps_of(job);
        QVERIFY(takes > 0);
        for (int at = 1; at <= takes; ++at) {
            const QString where = QString("reset landing at step %1 of %2").arg(at).arg(takes);
            prepareImage();
            bool landed = false;
            int atAnswer = -1;
            const u8 answer = land_at(
                at, job, [](message_deal& link) { return status_of(link, kFactoryReset); }, &landed,
                [&] { atAnswer = fileBrightness(); });
            QVERIFY2(landed && answer == 0, qPrintable(where));
            QVERIFY2(atAnswer == -1 || atAnswer == 100,
                     qPrintable(where + QString(": %1 at the answer").arg(atAnswer)));
            QVERIFY2(fileBrightness() == 100, qPrintable(where + QString(": %1 after").arg(fileBrightness())));
        }
    }
};

QTEST_MAIN(TestModeFileRaces)
#include "test_mode_file_races.moc"
