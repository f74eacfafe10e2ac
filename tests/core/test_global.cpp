// The tick count: a plain counter until it follows the monotonic clock.
#include <QtTest>

#include "core/global.h"

class TestGlobal : public QObject
{
    Q_OBJECT

  private slots:
    void tickCountFollowsTheClockAndCatchesUp()
    {
        using std::chrono::milliseconds;
        TickCounter t;
        t = 5;
        ++t;
        t += 4;
        QCOMPARE(t.load(), u32(10));
        QVERIFY(!t.following());
        const TickCounter::Clock::time_point start = TickCounter::Clock::now();
        t.follow_clock(start);
        struct Row {
            int atMs; // from the moment it follows the clock
            u32 count;
        } rows[] = {
            {-5, 10},      // before it
            {9, 10},       // within the first period
            {10, 11},      // one whole period
            {35, 13},      // three
            {10000, 1010}, // read 10 s later: nothing was lost
        };
        for (const Row& r : rows)
            QCOMPARE(t.at(start + milliseconds(r.atMs)), r.count);
        // Set while following: it reads the value set, and goes on from it.
        t = 5000;
        const u32 now = t.load();
        QVERIFY(now >= 5000 && now <= 5001);
        const u32 later = t.at(TickCounter::Clock::now() + milliseconds(3000)) - now;
        QVERIFY(later >= 299 && later <= 301);
    }
};

QTEST_APPLESS_MAIN(TestGlobal)
#include "test_global.moc"
