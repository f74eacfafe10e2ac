// What the VNC screen does with each message a viewer sends before the
// library sees it.
#include <QtTest>

#include <vector>

#include "board/sim/vnc_filter.h"

using board::sim::checkViewerMessage;
using board::sim::kViewerHeadBytes;
using board::sim::ViewerMessage;
using Bytes = std::vector<uint8_t>;

Q_DECLARE_METATYPE(Bytes)

class TestVncFilter : public QObject
{
    Q_OBJECT
  private slots:
    void verdicts_data()
    {
        QTest::addColumn<Bytes>("message");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<quint64>("length");
        const int pass = ViewerMessage::Pass, drop = ViewerMessage::Drop, close = ViewerMessage::Close,
                  wait = ViewerMessage::Incomplete;
        QTest::newRow("whole screen") << Bytes{3, 1, 0, 0, 0, 0, 1, 64, 0, 240} << pass << quint64(10);
        QTest::newRow("past the screen's edge") << Bytes{3, 0, 1, 44, 0, 0, 0, 100, 0, 240} << pass << quint64(10);
        QTest::newRow("width 0") << Bytes{3, 0, 0, 10, 0, 0, 0, 0, 0, 240} << drop << quint64(10);
        QTest::newRow("height 0") << Bytes{3, 0, 0, 0, 0, 10, 1, 64, 0, 0} << drop << quint64(10);
        QTest::newRow("left of it off the screen") << Bytes{3, 0, 1, 64, 0, 0, 0, 1, 0, 1} << drop << quint64(10);
        QTest::newRow("top of it off the screen") << Bytes{3, 0, 0, 0, 0, 240, 0, 1, 0, 1} << drop << quint64(10);
        QTest::newRow("request cut short") << Bytes{3, 0, 0, 0, 0, 0, 0} << wait << quint64(10);
        QTest::newRow("rgb565") << Bytes{0, 0, 0, 0, 16, 16, 0, 1, 0, 31, 0, 63, 0, 31, 11, 5, 0, 0, 0, 0} << pass
                                << quint64(20);
        QTest::newRow("colour map") << Bytes{0, 0, 0, 0, 8, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0} << pass
                                    << quint64(20);
        QTest::newRow("24 bits a pixel") << Bytes{0, 0, 0, 0, 24, 24, 0, 1, 0, 255, 0, 255, 0, 255, 16, 8, 0, 0, 0, 0}
                                         << close << quint64(20);
        QTest::newRow("red past the pixel")
            << Bytes{0, 0, 0, 0, 16, 16, 0, 1, 0, 63, 0, 63, 0, 31, 11, 5, 0, 0, 0, 0} << close << quint64(20);
        QTest::newRow("shift past the pixel")
            << Bytes{0, 0, 0, 0, 8, 8, 0, 1, 0, 1, 0, 1, 0, 1, 200, 0, 1, 0, 0, 0} << close << quint64(20);
        QTest::newRow("two encodings") << Bytes{2, 0, 0, 2, 0, 0, 0, 5, 0, 0, 0, 0} << pass << quint64(12);
        QTest::newRow("encodings cut short") << Bytes{2, 0, 0, 2, 0, 0, 0, 5} << wait << quint64(12);
        QTest::newRow("key") << Bytes{4, 1, 0, 0, 0, 0, 0, 'q'} << pass << quint64(8);
        QTest::newRow("pointer") << Bytes{5, 1, 0xFF, 0xFF, 0xFF, 0xFF} << pass << quint64(6);
        QTest::newRow("cut text") << Bytes{6, 0, 0, 0, 0, 0, 1, 0} << drop << quint64(264);
        QTest::newRow("extended cut text") << Bytes{6, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xF0} << drop << quint64(24);
        QTest::newRow("desktop size") << Bytes{251, 0, 1, 64, 0, 240, 1, 0} << wait << quint64(24);
        QTest::newRow("file transfer") << Bytes{7, 0, 0, 0} << close << quint64(1);
        QTest::newRow("scale") << Bytes{8, 1, 0, 0} << close << quint64(1);
    }
    void verdicts()
    {
        QFETCH(Bytes, message);
        QFETCH(int, verdict);
        QFETCH(quint64, length);
        const ViewerMessage m =
            checkViewerMessage(message.data(), std::min(message.size(), kViewerHeadBytes), message.size(), 320, 240);
        QCOMPARE(int(m.verdict), verdict);
        QCOMPARE(quint64(m.length), length);
    }
};

QTEST_APPLESS_MAIN(TestVncFilter)
#include "test_vnc_filter.moc"
