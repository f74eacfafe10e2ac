// The monotonic clock behind the GUI tick.
#include <QtTest>

#include "core/global.h"

class TestGlobal : public QObject
{
    Q_OBJECT

  private slots:
    void tickClockCountsWholePeriodsAndCatchesUp()
    {
        using std::chrono::milliseconds;
        const TickClock::Clock::time_point start = TickClock::Clock::time_point() + std::chrono::hours(1);
        TickClock clock(start);
        struct Row {
            int atMs; // from the start
            u32 due;
        } rows[] = {
            {-1, 0},      // before the start
            {9, 0},       // within the first period
            {10, 1},      // one whole period
            {35, 2},      // three in all
            {39, 0},      // nothing new
            {10000, 997}, // a callback 10 s late catches up to tick 1000
            {10005, 0},   {10010, 1},
        };
        u32 total = 0;
        for (const Row& r : rows) {
            const u32 due = clock.due(start + milliseconds(r.atMs));
            QCOMPARE(due, r.due);
            total += due;
        }
        QCOMPARE(total, u32(1001));
    }
};

QTEST_APPLESS_MAIN(TestGlobal)
#include "test_global.moc"
