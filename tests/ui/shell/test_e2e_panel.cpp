// The running program on the simulated board: user modes saved by a PC tool
// right after another change of the image, and keys played on the panel
// while a tip covers the page.
#include <QtTest>

#include <chrono>
#include <csignal>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

#include "link/pc_frames.h"
#include "support/net_helpers.h"

namespace
{
Bytes write_image(u32 offset, const Bytes& data)
{
    return wire(with_bcc(request(kBox, 0x60, ram_rest(offset, u16(data.size()), data))));
}
// Register 11, bit 1: apply the image.
Bytes apply()
{
    return wire(with_bcc(request(kBox, 0xA0, {11, 0x02, 0, 0x02})));
}
} // namespace

class TestE2ePanel : public QObject
{
    Q_OBJECT
    QTemporaryDir root;
    pid_t program = -1;

    QString mode_file(int slot) const { return root.path() + "/data/modes/custom_mode" + QString::number(slot + 1); }

  private slots:
    void initTestCase()
    {
        QByteArray path = qgetenv("ZEV_PROGRAM");
        if (path.isEmpty())
            QSKIP("ZEV_PROGRAM does not name the built program");
        program = start_serving_program(path.toStdString(), root.path().toStdString(), true);
        QVERIFY(program > 0);
    }
    void cleanupTestCase() { stop_program(program); }

    void aSaveRightAfterAnotherChangeIsWritten()
    {
        struct Row {
            int slot;
            int gapUs; // between the change's apply and the save
        } rows[] = {{0, 0}, {1, 125}, {2, 250}, {3, 375}, {4, 500}, {5, 750}, {6, 1000}};
        int c = tcp_connect(5005, true);
        QVERIFY(c >= 0);
        for (const Row& row : rows) {
            // The panel has written the last save and its image by now, so the
            // change below is taken up at once.
            QTest::qWait(300);
            QFile::remove(mode_file(row.slot));
            // A change of the brightness, applied; then the save.
            put(c, cat({write_image(2176, {u8(20 + row.slot), 0}), apply()}));
            QCOMPARE(replies(c, 2, 2000).size(), size_t(2));
            std::this_thread::sleep_for(std::chrono::microseconds(row.gapUs));
            put(c, cat({write_image(866, {0, 0, u8(row.slot + 1), 0}), apply()}));
            std::vector<Bytes> r = replies(c, 2, 2000);
            QCOMPARE(r.size(), size_t(2));
            QCOMPARE(r[0][10], u8(0));
            QCOMPARE(r[1][10], u8(0));
            // Told done: the slot's file is written and the request cleared
            // (the first once the panel runs, some seconds after the links).
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(mode_file(row.slot)), 8000);
            QTRY_COMPARE_WITH_TIMEOUT(
                [&] {
                    put(c, wire(with_bcc(request(kBox, 0x61, ram_rest(868, 2)))));
                    std::vector<Bytes> w = replies(c, 1, 1000);
                    return w.size() == 1 && w[0].size() > 12 ? int(w[0][11] | w[0][12] << 8) : -1;
                }(),
                0, 3000);
        }
        close(c);
    }

    // After the saves above: the panel runs.
    void keysPlayedUnderATipReachNoPage()
    {
        // Home, main window, source choice: window 1, its first source, apply
        // (the done tip shows); three backs while the tip is up.
        QFile keys(root.path() + "/sim/keypad");
        QVERIFY(keys.open(QIODevice::Append));
        keys.write("OK RIGHT OK OK OK OK BACK BACK BACK\n");
        keys.close();
        // The tip stays 3 s; the page under it must still be there after.
        QTest::qWait(4000);
        QCOMPARE(waitpid(program, nullptr, WNOHANG), 0);
        int c = tcp_connect(5005, true);
        put(c, tagged(0x5C));
        std::vector<Bytes> r = replies(c, 1, 2000);
        QCOMPARE(r.size(), size_t(1));
        QCOMPARE(tag_of(r[0]), u8(0x5C));
        close(c);
    }
};

ZEV_FIXED_PORTS_TEST_MAIN(TestE2ePanel)

#include "test_e2e_panel.moc"
