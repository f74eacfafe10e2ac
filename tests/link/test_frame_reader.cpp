// The checked reader of frame fields: reads inside the body succeed, any read
// that reaches past it (huge counts included) fails without touching memory.
#include <QtTest>

#include "link/frame_reader.h"

class TestFrameReader : public QObject
{
    Q_OBJECT

  private slots:
    void fieldsInsideAndOutside()
    {
        const u8 body[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        frame_reader r(body, 6);
        QCOMPARE(r.u8_at(5), u8(6));
        QCOMPARE(r.u16_at(4), u16(0x0605));
        QCOMPARE(r.u32_at(2), u32(0x06050403));
        QVERIFY(r.bytes(6, 0) != nullptr);
        QVERIFY(r.ok());

        struct Case {
            size_t offset, count;
        };
        const Case outside[] = {{6, 1}, {5, 2}, {3, 4}, {1, size_t(-1)}, {size_t(-1), 2}, {0, 7}};
        for (const Case& c : outside) {
            frame_reader f(body, 6);
            QVERIFY(!f.has(c.offset, c.count));
            QVERIFY(f.bytes(c.offset, c.count) == nullptr);
            QVERIFY(!f.ok());
        }
        frame_reader g(body, 6);
        QCOMPARE(g.u32_at(3), u32(0));
        QVERIFY(!g.ok());
        // A failed read stays failed.
        g.u8_at(0);
        QVERIFY(!g.ok());
        frame_reader none(nullptr, 10);
        QCOMPARE(none.u8_at(0), u8(0));
        QVERIFY(!none.ok());
    }
};

QTEST_GUILESS_MAIN(TestFrameReader)
#include "test_frame_reader.moc"
