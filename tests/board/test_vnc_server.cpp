// The VNC screen's server: it listens only where it is asked to, every pixel
// format shows the same colours, viewers come and go with or without the
// cursor shape or a pixel format, one that stops reading holds up no one
// handing over a picture, and keys and the pointer come out in order.
#include <QtTest>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "board/sim/listen_address.h"
#include "board/sim/vnc_server.h"
#include "support/net_helpers.h"
#include "support/vnc_viewer.h"

using board::sim::VncInput;
using board::sim::VncServer;

namespace
{
constexpr int kWidth = 320;
constexpr int kHeight = 240;
// The picture's quarters, each a colour whose parts differ.
const QRgb kQuarters[4] = {qRgb(255, 128, 0), qRgb(0, 64, 255), qRgb(40, 200, 90), qRgb(255, 255, 255)};

// The quarters turned round by turn.
std::vector<uint32_t> picture(int turn = 0)
{
    std::vector<uint32_t> p(size_t(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            p[size_t(y) * kWidth + size_t(x)] =
                kQuarters[((y >= kHeight / 2) * 2 + (x >= kWidth / 2) + turn) % 4] & 0xFFFFFF;
    return p;
}

// True when the viewer's picture is picture(turn).
bool shows(const RawViewer& v, int turn)
{
    for (int q = 0; q < 4; ++q)
        if (!same_colour(v.at(q % 2 * kWidth / 2 + 10, q / 2 * kHeight / 2 + 10), kQuarters[(q + turn) % 4], v.format))
            return false;
    return true;
}

// A viewer that has its first picture, in raw encoding and the server's
// format unless another is given.
bool firstPicture(RawViewer& v, int port, const VncFormat* format = nullptr)
{
    return v.connect("127.0.0.1", port) && (!format || v.setFormat(*format)) && v.setEncodings({0}) &&
           v.request(false) && v.update();
}
} // namespace

class TestVncServer : public QObject
{
    Q_OBJECT

  private slots:
    void listensOnlyWhereAsked_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("served");
        QTest::addColumn<QString>("other");
        QTest::addColumn<bool>("otherServed");
        QTest::newRow("loopback") << "127.0.0.1"
                                  << "127.0.0.1"
                                  << "127.0.0.2" << false;
        QTest::newRow("every IPv4 address") << "0.0.0.0"
                                            << "127.0.0.1"
                                            << "127.0.0.2" << true;
        QTest::newRow("IPv6 loopback") << "::1"
                                       << "::1"
                                       << "127.0.0.1" << false;
        QTest::newRow("every IPv6 address") << "::"
                                            << "::1"
                                            << "127.0.0.1" << false;
    }
    void listensOnlyWhereAsked()
    {
        QFETCH(QString, address);
        QFETCH(QString, served);
        QFETCH(QString, other);
        QFETCH(bool, otherServed);
        if (address.contains(':') && !board::sim::isOwnAddress("::1"))
            QSKIP("no IPv6 loopback here");
        VncServer server(kWidth, kHeight);
        QCOMPARE(server.start(address.toStdString(), 0, {}), std::string());
        RawViewer v, o;
        QVERIFY(v.connect(served.toStdString(), server.port()));
        QCOMPARE(o.connect(other.toStdString(), server.port()), otherServed);
    }

    void refusedWhereItCannotListen_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("reason");
        // A documentation address no machine has.
        QTest::newRow("not this machine's") << "192.0.2.1"
                                            << "bind: Cannot assign requested address";
        QTest::newRow("a name") << "localhost"
                                << "no IPv4 or IPv6 address";
        QTest::newRow("empty") << ""
                               << "no IPv4 or IPv6 address";
    }
    void refusedWhereItCannotListen()
    {
        QFETCH(QString, address);
        QFETCH(QString, reason);
        VncServer server(kWidth, kHeight);
        QCOMPARE(QString::fromStdString(server.start(address.toStdString(), 0, {})), reason);
        QCOMPARE(board::sim::isListenAddress(address.toStdString()), !address.isEmpty() && address[0].isDigit());
        QVERIFY(!board::sim::isOwnAddress(address.toStdString()));
    }

    void everyFormatShowsTheSameColours_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("none asked") << -1;
        for (size_t i = 0; i < vnc_formats().size(); ++i)
            QTest::newRow(vnc_formats()[i].name) << int(i);
    }
    void everyFormatShowsTheSameColours()
    {
        QFETCH(int, format);
        VncServer server(kWidth, kHeight);
        QCOMPARE(server.start("127.0.0.1", 0, {}), std::string());
        server.setFrame(picture().data(), kWidth);
        RawViewer v;
        QVERIFY(firstPicture(v, server.port(), format < 0 ? nullptr : &vnc_formats()[size_t(format)].format));
        QVERIFY(shows(v, 0));
    }

    void viewersComeAndGoWithTheCursorShape()
    {
        VncServer server(kWidth, kHeight);
        QCOMPARE(server.start("127.0.0.1", 0, {}), std::string());
        RawViewer stays;
        QVERIFY(stays.connect("127.0.0.1", server.port()));
        QVERIFY(stays.setEncodings({0, -239, -240}));
        for (int i = 0; i < 40; ++i) {
            RawViewer v;
            QVERIFY(v.connect("127.0.0.1", server.port()));
            // Half of them never ask for a pixel format.
            if (i % 2)
                QVERIFY(v.setFormat(vnc_formats()[size_t(i) % vnc_formats().size()].format));
            QVERIFY(v.setEncodings(i % 3 ? std::vector<int32_t>{0, -239} : std::vector<int32_t>{5, 0, -240, -232}));
            QVERIFY(v.request(i % 4 == 0));
            if (i % 3 && i % 4 == 0)
                QVERIFY(v.update());
            v.close(i % 3 == 0);
            server.setFrame(picture(i % 4).data(), kWidth);
        }
        // The last picture reaches the viewer that stayed, and a new one.
        QVERIFY(stays.request(false) && stays.update());
        for (int i = 0; i < 10 && !shows(stays, 3); ++i)
            QVERIFY(stays.request(true) && stays.update());
        QVERIFY(shows(stays, 3));
        RawViewer late;
        QVERIFY(firstPicture(late, server.port()));
        QVERIFY(shows(late, 3));
    }

    void aViewerThatStopsReadingHoldsUpNoOneHandingOverAPicture()
    {
        VncServer server(kWidth, kHeight);
        QCOMPARE(server.start("127.0.0.1", 0, {}), std::string());
        server.setFrame(picture().data(), kWidth);
        RawViewer stuck;
        QVERIFY(stuck.connect("127.0.0.1", server.port()) && stuck.setEncodings({0}));
        // About 20 MB of pictures it never reads: more than the sockets hold.
        for (int i = 0; i < 64; ++i)
            QVERIFY(stuck.request(false));
        for (int i = 0; i < 100; ++i)
            server.setFrame(picture(i % 4).data(), kWidth);
        stuck.close(true);
        RawViewer v;
        QVERIFY(firstPicture(v, server.port()));
        QVERIFY(shows(v, 3));
    }

    void keysAndThePointerComeOutInOrder()
    {
        VncServer server(kWidth, kHeight);
        std::mutex m;
        std::condition_variable cv;
        bool waiting = false;
        QCOMPARE(server.start("127.0.0.1", 0,
                              [&] {
                                  std::lock_guard<std::mutex> lock(m);
                                  waiting = true;
                                  cv.notify_one();
                              }),
                 std::string());
        RawViewer v;
        QVERIFY(v.connect("127.0.0.1", server.port()));
        QVERIFY(v.key(0x71) && v.pointer(1, 10, 10) && v.pointer(1, 20, 20) && v.pointer(1, 30, 30) &&
                v.pointer(0, 30, 30) && v.pointer(0, 5000, 5000));
        // Moves may be merged while none are taken: a run of them counts
        // as its last.
        QStringList got;
        bool lastMove = false;
        int buttons = 0;
        while (got.isEmpty() || !got.last().endsWith("319,239")) {
            std::unique_lock<std::mutex> lock(m);
            QVERIFY(cv.wait_for(lock, std::chrono::seconds(5), [&] { return waiting; }));
            waiting = false;
            lock.unlock();
            for (const VncInput& in : server.takeInput()) {
                const bool move = in.kind == VncInput::Pointer && in.buttons == buttons;
                const QString seen = in.kind == VncInput::Key
                                         ? QString("key %1 %2").arg(in.keysym, 0, 16).arg(in.down ? "down" : "up")
                                         : QString("buttons %1 at %2,%3").arg(in.buttons).arg(in.x).arg(in.y);
                if (move && lastMove)
                    got.last() = seen;
                else
                    got << seen;
                lastMove = move;
                buttons = in.kind == VncInput::Pointer ? in.buttons : buttons;
            }
        }
        QCOMPARE(got, QStringList({"key 71 down", "key 71 up", "buttons 1 at 10,10", "buttons 1 at 30,30",
                                   "buttons 0 at 30,30", "buttons 0 at 319,239"}));
    }
};

int main(int argc, char** argv)
{
    // Before any thread exists; the host's loopback serves as well.
    own_network();
    QCoreApplication app(argc, argv);
    TestVncServer t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_vnc_server.moc"
