// The running program's VNC screen as viewers meet it: every pixel format
// shows the panel's colours, a viewer that never asks for a pixel format is
// sent the picture, viewers asking for the cursor shape leave before a page
// change, a menu page fills the screen as on the board and the PC's screen
// capture is the viewers' picture, and the screen listens only on the
// address asked for, also where the program cannot list its own
// descriptors; a second program says it cannot serve the screen, and an
// address the machine does not have is refused at start.
#include <QtTest>

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include "board/sim/listen_address.h"
#include "link/pc_frames.h"
#include "support/net_helpers.h"
#include "support/sim_fixture.h"
#include "support/vnc_viewer.h"

namespace
{
constexpr int kVncPort = 5900;
// Inside the home page's window tiles 1, 2, 5 and 6.
const QPoint kTiles[] = {{40, 110}, {200, 110}, {40, 215}, {200, 215}};

const VncFormat& rgb32()
{
    return vnc_formats()[0].format;
}

// A viewer with its first picture, in raw encoding and format (none: the
// server's own).
bool firstPicture(RawViewer& v, const VncFormat* format, const std::string& address = "127.0.0.1", int ms = 5000)
{
    return v.connect(address, kVncPort, ms) && (!format || v.setFormat(*format)) && v.setEncodings({0}) &&
           v.request(false) && v.update(ms);
}

// Waits up to 30 s until the home page shows at address to viewers that
// never ask for a pixel format.
bool panelShows(const std::string& address)
{
    for (int i = 0; i < 300; ++i, usleep(100000)) {
        RawViewer v;
        if (firstPicture(v, nullptr, address, 1000) && v.at(kTiles[0].x(), kTiles[0].y()) != qRgb(0, 0, 0))
            return true;
    }
    return false;
}

std::vector<QRgb> picture(const RawViewer& v)
{
    std::vector<QRgb> p;
    for (int y = 0; y < v.height; ++y)
        for (int x = 0; x < v.width; ++x)
            p.push_back(v.at(x, y));
    return p;
}

// Presses keypad keys; true once the viewer's picture changed and the panel
// is through its changes (no update for half a second).
bool press(RawViewer& v, const QString& root, const QByteArray& keys)
{
    const std::vector<QRgb> before = picture(v);
    QFile keypad(root + "/sim/keypad");
    if (!keypad.open(QIODevice::Append) || keypad.write(keys + "\n") <= 0)
        return false;
    keypad.close();
    for (int i = 0; i < 200; ++i) {
        if (!v.request(true))
            return false;
        if (!v.update(500) && picture(v) != before)
            return true;
    }
    return false;
}

// The PC tool's screen capture: a read at 0x800000 grabs the screen and
// tells the PNG file's length; the file follows from 0x800080, after two
// marker bytes.
QImage pcCapture()
{
    const int fd = tcp_connect(5005);
    if (fd < 0)
        return {};
    auto read = [fd](u32 address, u16 length) {
        put(fd, wire(with_bcc(request(kBox, 0x61, ram_rest(address, length)))));
        const std::vector<Bytes> r = replies(fd, 1, 10000);
        if (r.size() != 1 || r[0].size() != 12 + size_t(length))
            return Bytes();
        return Bytes(r[0].begin() + 11, r[0].end() - 1);
    };
    const Bytes head = read(0x800000, 16);
    QByteArray file;
    const u32 length = head.size() == 16 ? u32(head[12] | head[13] << 8 | head[14] << 16) : 0;
    for (u32 done = 0; done < length + 2;) {
        const Bytes part = read(0x800080 + done, u16(std::min<u32>(length + 2 - done, 0x8000)));
        if (part.empty())
            break;
        file.append(reinterpret_cast<const char*>(part.data()), int(part.size()));
        done += u32(part.size());
    }
    close(fd);
    return QImage::fromData(file.mid(2), "PNG");
}

bool alive(pid_t pid)
{
    return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0;
}

// In the child: the list of its own open descriptors reads empty, as where
// /proc is not mounted.
bool hideOwnDescriptors()
{
    const std::string fds = "/proc/" + std::to_string(getpid()) + "/fd";
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("none", fds.c_str(), "tmpfs", 0, nullptr) == 0;
}
} // namespace

class TestE2eVncPanel : public QObject
{
    Q_OBJECT
    QTemporaryDir root;
    std::string exe;
    pid_t program = -1;

    void start(const QStringList& args, bool hideDescriptors)
    {
        stop_program(program);
        ProgramStart how;
        how.vnc = true;
        for (const QString& a : args)
            how.args.push_back(a.toStdString());
        if (hideDescriptors)
            how.prepare = hideOwnDescriptors;
        program = start_program(exe, root.path().toStdString(), "/dev/null", how);
    }

  private slots:
    void initTestCase()
    {
        exe = qgetenv("ZEV_PROGRAM").toStdString();
        if (exe.empty())
            QSKIP("ZEV_PROGRAM does not name the built program");
        start({}, false);
        QVERIFY(program > 0);
        const int up = tcp_connect_within(5005, 15000);
        QVERIFY(up >= 0);
        close(up);
    }
    void cleanupTestCase() { stop_program(program); }

    // The program's first viewer, as it may meet it early.
    void aViewerThatNeverAsksForAPixelFormat()
    {
        RawViewer first;
        QVERIFY(firstPicture(first, nullptr));
        QVERIFY(panelShows("127.0.0.1"));
        RawViewer v, reference;
        QVERIFY(firstPicture(v, nullptr));
        QVERIFY(firstPicture(reference, &rgb32()));
        for (const QPoint& p : kTiles)
            QVERIFY(same_colour(v.at(p.x(), p.y()), reference.at(p.x(), p.y()), v.format));
        QVERIFY(alive(program));
    }

    void everyFormatShowsTheSameColours_data()
    {
        QTest::addColumn<int>("format");
        for (size_t i = 1; i < vnc_formats().size(); ++i)
            QTest::newRow(vnc_formats()[i].name) << int(i);
    }
    void everyFormatShowsTheSameColours()
    {
        QFETCH(int, format);
        RawViewer reference, v;
        QVERIFY(firstPicture(reference, &rgb32()));
        // The first tile is coloured: red and blue swapped would show.
        const QRgb tile = reference.at(kTiles[0].x(), kTiles[0].y());
        QVERIFY(qAbs(qRed(tile) - qBlue(tile)) > 40);
        QVERIFY(firstPicture(v, &vnc_formats()[size_t(format)].format));
        for (const QPoint& p : kTiles)
            QVERIFY2(same_colour(v.at(p.x(), p.y()), reference.at(p.x(), p.y()), v.format),
                     qPrintable(QString("at %1,%2: %3 instead of %4")
                                    .arg(p.x())
                                    .arg(p.y())
                                    .arg(v.at(p.x(), p.y()), 6, 16)
                                    .arg(reference.at(p.x(), p.y()), 6, 16)));
    }

    void viewersAskingForTheCursorLeaveBeforeAPageChange()
    {
        RawViewer stays;
        QVERIFY(stays.connect("127.0.0.1", kVncPort) && stays.setFormat(rgb32()) &&
                stays.setEncodings({0, -239, -240}) && stays.request(false) && stays.update());
        const QRgb home = stays.at(kTiles[0].x(), kTiles[0].y());
        // The picture the viewer that stays is sent shows the home page, or not.
        auto showsHome = [&stays, home](bool shown) {
            for (int i = 0; i < 100; ++i) {
                if ((stays.at(kTiles[0].x(), kTiles[0].y()) == home) == shown)
                    return true;
                if (!stays.request(true))
                    return false;
                stays.update(100);
            }
            return false;
        };
        for (int i = 0; i < 6; ++i) {
            RawViewer v;
            QVERIFY(v.connect("127.0.0.1", kVncPort) && v.setFormat(rgb32()) && v.setEncodings({0, -239}) &&
                    v.request(false) && v.update());
            v.close(i % 2 == 0);
            if (i % 3 != 2)
                continue;
            // OK on the home page opens the main window, BACK returns.
            QFile keypad(root.path() + "/sim/keypad");
            QVERIFY(keypad.open(QIODevice::Append) && keypad.write(i == 2 ? "OK\n" : "BACK\n") > 0);
            keypad.close();
            QVERIFY(showsHome(i != 2));
        }
        QVERIFY(alive(program));
        RawViewer late;
        QVERIFY(firstPicture(late, &rgb32()));
    }

    void aMenuPageFillsTheScreenAndTheCaptureShowsIt()
    {
        QVERIFY(panelShows("127.0.0.1"));
        RawViewer v;
        QVERIFY(firstPicture(v, &rgb32()));
        // From the home page to the main window, then into the settings.
        QVERIFY(press(v, root.path(), "OK"));
        const std::vector<QRgb> mainWindow = picture(v);
        QVERIFY(press(v, root.path(), "RIGHT RIGHT RIGHT OK"));
        // The page lies over the whole screen: it changes every 80 x 60 part
        // of it.
        constexpr int kWide = 80, kHigh = 60;
        for (int y = 0; y < v.height; y += kHigh) {
            for (int x = 0; x < v.width; x += kWide) {
                bool changed = false;
                for (int i = 0; i < kWide * kHigh && !changed; ++i)
                    changed = v.at(x + i % kWide, y + i / kWide) !=
                              mainWindow[size_t((y + i / kWide) * v.width + x + i % kWide)];
                QVERIFY2(changed, qPrintable(QString("the part at %1,%2 still shows the main window").arg(x).arg(y)));
            }
        }
        const QImage capture = pcCapture().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(capture.size(), QSize(v.width, v.height));
        for (int y = 0; y < v.height; ++y)
            for (int x = 0; x < v.width; ++x)
                QVERIFY2(capture.pixel(x, y) == v.at(x, y), qPrintable(QString("differs at %1,%2").arg(x).arg(y)));
        QVERIFY(press(v, root.path(), "BACK BACK"));
    }

    void aSecondProgramSaysItCannotServeTheScreen()
    {
        QTemporaryDir secondRoot;
        const QString output = secondRoot.filePath("output");
        ProgramStart how;
        how.vnc = true;
        pid_t second = start_program(exe, secondRoot.path().toStdString(), output.toStdString(), how);
        QVERIFY(second > 0);
        const QByteArray line = "zevQ64N: cannot serve VNC port 5900 on 127.0.0.1: bind: Address already in use\n";
        for (int waited = 0; waited < 10000 && !readHostFile(output).contains(line); waited += 50)
            usleep(50000);
        stop_program(second);
        QVERIFY(readHostFile(output).contains(line));
    }

    void listensOnlyOnTheAskedAddress_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("hideDescriptors");
        QTest::addColumn<QString>("served");
        QTest::addColumn<QString>("other");
        QTest::newRow("loopback") << QStringList() << false << "127.0.0.1"
                                  << "127.0.0.2";
        QTest::newRow("loopback, descriptors unlisted") << QStringList() << true << "127.0.0.1"
                                                        << "127.0.0.2";
        QTest::newRow("IPv6 loopback") << QStringList{"--vnc-listen=::1"} << false << "::1"
                                       << "127.0.0.1";
    }
    void listensOnlyOnTheAskedAddress()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, hideDescriptors);
        QFETCH(QString, served);
        QFETCH(QString, other);
        if (served.contains(':') && !board::sim::isOwnAddress("::1"))
            QSKIP("no IPv6 loopback here");
        if (!args.isEmpty() || hideDescriptors)
            start(args, hideDescriptors);
        QVERIFY(program > 0);
        if (!panelShows(served.toStdString())) {
            int status = 0;
            if (waitpid(program, &status, WNOHANG) == program && WIFEXITED(status) && WEXITSTATUS(status) == 126) {
                program = -1;
                QSKIP("no mount namespace here");
            }
            QFAIL("no picture where asked");
        }
        RawViewer o;
        QVERIFY(!o.connect(other.toStdString(), kVncPort, 1000));
        QVERIFY(alive(program));
    }

    void anAddressNotThisMachinesIsRefusedAtStart()
    {
        stop_program(program);
        const QString output = root.filePath("refused");
        ProgramStart how;
        how.vnc = true;
        how.args = {"--vnc-listen=192.0.2.1"};
        program = start_program(exe, root.path().toStdString(), output.toStdString(), how);
        int status = 0;
        pid_t ended = 0;
        for (int i = 0; i < 100 && (ended = waitpid(program, &status, WNOHANG)) == 0; ++i)
            usleep(100000);
        if (ended != program)
            QFAIL("still running");
        program = -1;
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 1);
        QCOMPARE(readHostFile(output),
                 QByteArray("zevQ64N: --vnc-listen=192.0.2.1 refused: not an address of this machine\n"));
    }
};

int main(int argc, char** argv)
{
    // Before any thread exists (see own_network).
    if (!network_for_fixed_ports())
        return 1;
    QCoreApplication app(argc, argv);
    TestE2eVncPanel t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_e2e_vnc_panel.moc"
