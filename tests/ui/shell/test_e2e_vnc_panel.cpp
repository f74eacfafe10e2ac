// The running program's VNC screen as viewers meet it, the PC's capture of
// it and the address it listens on; the program lives through all of it.
#include <QtTest>

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include "link/pc_frames.h"
#include "support/namespaces.h"
#include "support/net_helpers.h"
#include "support/sim_fixture.h"
#include "support/vnc_viewer.h"

Q_DECLARE_METATYPE(VncFormat)

namespace
{
// Inside the home page's window tiles 1, 2, 5 and 6.
const QPoint kTiles[] = {{40, 110}, {200, 110}, {40, 215}, {200, 215}};
const VncFormat kRgb32{32, 24, 0, {255, 255, 255}, {16, 8, 0}};
const std::vector<int32_t> kCursor{0, -239};
// Keysyms of the panel's keys OK, RIGHT and BACK.
constexpr uint8_t kOk = 'q', kRight = 'r', kBack = 'o';

// A viewer with its first picture; format null: the server's own.
bool firstPicture(RawViewer& v, const VncFormat* format = &kRgb32, const std::vector<int32_t>& encodings = {0})
{
    return v.connect("127.0.0.1", kVncPort) && (!format || v.setFormat(*format)) && v.setEncodings(encodings) &&
           v.request(false) && v.update();
}

// Up to 30 s until the home page shows to viewers that never ask for a
// pixel format.
bool panelShows()
{
    for (QDeadlineTimer left(30000); !left.hasExpired(); usleep(100000)) {
        RawViewer v;
        if (firstPicture(v, nullptr) && v.picture.pixel(kTiles[0]) != qRgb(0, 0, 0))
            return true;
    }
    return false;
}

// Presses keys; true once the viewer's picture changed and the panel is
// through its changes (no update for half a second).
bool press(RawViewer& v, std::initializer_list<uint8_t> keys)
{
    const QImage before = v.picture.copy();
    for (uint8_t k : keys)
        if (!v.key(k))
            return false;
    for (int i = 0; i < 200; ++i)
        if (!v.request(true) || (!v.update(500) && v.picture != before))
            return v.picture != before;
    return false;
}

// The PC tool's screen capture: a read at 0x800000 grabs the screen into
// /123.png, which the tool then reads from 0x800080.
QImage pcCapture(const QString& root)
{
    QFile::remove(root + "/123.png");
    const int fd = tcp_connect(5005);
    if (fd < 0)
        return {};
    put(fd, wire(with_bcc(request(kBox, 0x61, ram_rest(0x800000, 16)))));
    const bool answered = replies(fd, 1, 10000).size() == 1;
    close(fd);
    return answered ? QImage(root + "/123.png").convertToFormat(QImage::Format_RGB32) : QImage();
}
} // namespace

class TestE2eVncPanel : public QObject
{
    Q_OBJECT
    QTemporaryDir root;
    pid_t program = -1;
    int status = 0;

    // With no desktop, so on VNC; hiding its descriptors from the program
    // as where /proc is not mounted.
    void start(const std::vector<std::string>& args, bool hideDescriptors)
    {
        stop_program(program);
        ProgramStart how;
        how.args = args;
        how.env = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
        how.prepare = [hideDescriptors] {
            return !hideDescriptors || (unshare_allowed(CLONE_NEWNS) == 0 &&
                                        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                                        mount("none", "/proc/self/fd", "tmpfs", 0, nullptr) == 0);
        };
        program = start_program(qgetenv("ZEV_PROGRAM").toStdString(), root.path().toStdString(),
                                root.filePath("output").toStdString(), how);
    }
    // Once true, status tells how it ended.
    bool ended()
    {
        if (program > 0 && waitpid(program, &status, WNOHANG) == program)
            program = -1;
        return program < 0;
    }

  private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("ZEV_PROGRAM"))
            QSKIP("ZEV_PROGRAM does not name the built program");
        start({}, false);
        // The first viewers it meets never ask for a pixel format.
        QVERIFY(panelShows());
        // Its start line says where the panel is, and nothing follows it.
        const QString out = readHostFile(root.filePath("output"));
        QVERIFY2(out.startsWith("zevQ64N on ") && out.count('\n') == 1 &&
                     out.endsWith(", VNC 127.0.0.1:5900 (no desktop found: the front panel is there, e.g. \"vncviewer "
                                  "127.0.0.1:5900\")\n"),
                 qPrintable(out));
    }
    void cleanup()
    {
        if (program > 0)
            QVERIFY(!ended());
    }
    void cleanupTestCase() { stop_program(program); }

    void everyFormatShowsThePanelsColours_data()
    {
        QTest::addColumn<VncFormat>("format");
        QTest::newRow("none asked") << VncFormat{};
        QTest::newRow("rgb32") << kRgb32;
        QTest::newRow("bgr32") << VncFormat{32, 24, 0, {255, 255, 255}, {0, 8, 16}};
        QTest::newRow("rgb24 in the high bytes of 32") << VncFormat{32, 24, 0, {255, 255, 255}, {24, 16, 8}};
        QTest::newRow("bgr565 big-endian") << VncFormat{16, 16, 1, {31, 63, 31}, {0, 5, 11}};
        QTest::newRow("rgb565") << VncFormat{16, 16, 0, {31, 63, 31}, {11, 5, 0}};
    }
    void everyFormatShowsThePanelsColours()
    {
        QFETCH(VncFormat, format);
        const QImage capture = pcCapture(root.path());
        RawViewer v;
        QVERIFY(!capture.isNull() && firstPicture(v, format.bits ? &format : nullptr));
        // The first tile is coloured: red and blue swapped would show.
        QVERIFY(qAbs(qRed(capture.pixel(kTiles[0])) - qBlue(capture.pixel(kTiles[0]))) > 40);
        // Each part of each tile's colour within a step of the format.
        for (const QPoint& p : kTiles) {
            const QRgb got = v.picture.pixel(p), want = capture.pixel(p);
            const QString where =
                QString("%1, not %2, at %3,%4").arg(got, 0, 16).arg(want, 0, 16).arg(p.x()).arg(p.y());
            for (int i = 0, shift = 16; i < 3; ++i, shift -= 8)
                QVERIFY2(qAbs(int(got >> shift & 255) - int(want >> shift & 255)) <= 255 / v.format.max[i] + 1,
                         qPrintable(where));
        }
    }

    // Through page changes, beside a viewer that stopped reading and viewers
    // asking for the cursor shape that leave before each change.
    void keysOpenAMenuPageOverTheScreenAndTheCaptureIsIt()
    {
        RawViewer v, stuck;
        QVERIFY(firstPicture(v, &kRgb32, kCursor));
        // About 20 MB of pictures asked for and never read: more than the
        // sockets hold.
        QVERIFY(stuck.connect("127.0.0.1", kVncPort) && stuck.setEncodings({0}));
        for (int i = 0; i < 64; ++i)
            QVERIFY(stuck.request(false));
        auto leave = [] {
            RawViewer gone;
            return firstPicture(gone, &kRgb32, kCursor);
        };
        // From the home page to the main window, then into the settings.
        QVERIFY(leave() && press(v, {kOk}));
        const QImage mainWindow = v.picture.copy();
        QVERIFY(leave() && press(v, {kRight, kRight, kRight, kOk}));
        // The page lies over the whole screen: it changes every 80 x 60 part.
        for (int part = 0; part < 16; ++part) {
            const QRect r(part % 4 * 80, part / 4 * 60, 80, 60);
            QVERIFY2(v.picture.copy(r) != mainWindow.copy(r), qPrintable(QString("at %1,%2").arg(r.x()).arg(r.y())));
        }
        QCOMPARE(v.picture.size(), QSize(320, 240));
        QCOMPARE(pcCapture(root.path()), v.picture);
        QVERIFY(leave() && press(v, {kBack, kBack}));
    }

    // Asked in an encoding that divides by the rectangle's sides, then the
    // page changes under the request.
    void requestsOfNoPixelsOrPastTheScreenLeaveItServing_data()
    {
        QTest::addColumn<int32_t>("encoding");
        QTest::addColumn<QRect>("asked");
        QTest::newRow("zlib, width 0") << 6 << QRect(10, 0, 0, 240);
        QTest::newRow("zlib, height 0") << 6 << QRect(0, 10, 320, 0);
        QTest::newRow("zlib, left of it past the screen") << 6 << QRect(320, 0, 100, 240);
        QTest::newRow("zlib, all of it at the end") << 6 << QRect(65535, 65535, 65535, 65535);
        QTest::newRow("zlib, reaching past the screen") << 6 << QRect(300, 200, 1000, 1000);
        QTest::newRow("ultra, width 0") << 9 << QRect(10, 0, 0, 240);
    }
    void requestsOfNoPixelsOrPastTheScreenLeaveItServing()
    {
        QFETCH(int32_t, encoding);
        QFETCH(QRect, asked);
        RawViewer v, hostile;
        QVERIFY(firstPicture(v));
        QVERIFY(hostile.connect("127.0.0.1", kVncPort) && hostile.setEncodings({encoding}) &&
                hostile.request(false, asked));
        QVERIFY(press(v, {kOk}) && press(v, {kBack}));
    }

    // Also where the program cannot list its own descriptors, as without
    // /proc.
    void listensOnlyOnTheAskedAddress()
    {
        RawViewer other, again;
        QVERIFY(!other.connect("127.0.0.2", kVncPort));
        start({}, true);
        const bool shows = panelShows();
        if (!shows && ended() && WEXITSTATUS(status) == 126)
            QSKIP("no mount namespace here");
        QVERIFY(shows);
        QVERIFY(!again.connect("127.0.0.2", kVncPort));
    }

    void anAddressNotThisMachinesIsRefusedAtStart()
    {
        // A documentation address no machine has.
        start({"--vnc-listen=192.0.2.1"}, false);
        QTRY_VERIFY_WITH_TIMEOUT(ended(), 10000);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 1);
        QCOMPARE(readHostFile(root.filePath("output")),
                 QByteArray("zevQ64N: --vnc-listen=192.0.2.1 refused: not an address of this machine\n"));
    }
};

ZEV_FIXED_PORTS_TEST_MAIN(TestE2eVncPanel)

#include "test_e2e_vnc_panel.moc"
