// What the box answered is on disk before it reboots: the PC's requests,
// each answered 0, then at once its reboot (register 14 bit 1), with no turn
// of the GUI thread in between, which would otherwise write the files. The
// files are read at the moment "reboot" runs.
#include <QtTest>

#include <map>

#include <QDir>

#include "core/before_stop.h"
#include "core/zevrampara.h"
#include "link/message_deal.h"
#include "link/pc_frames.h"
#include "sim_fixture.h"

namespace
{
constexpr int kFileHead = 2 - Img::kPersistStart;
const Bytes kApply = request(kBox, 0xA0, {11, 0x02, 0, 0x02});
const Bytes kRewrite = request(kBox, 0xA0, {11, 0x04, 0, 0x04});
const Bytes kReset = request(kBox, 0xA0, {16, 0x01, 0, 0x01});

Bytes write_image(u32 at, const Bytes& data)
{
    return request(kBox, 0x60, ram_rest(at, u16(data.size()), data));
}
// Bytes of slot s (0-based) from offset at of its page (markers first).
Bytes write_slot(int s, u32 at, const Bytes& data)
{
    return request(kBox, 0x60, ram_rest(u32(s + 1) << 12 | at, u16(data.size()), data));
}
// A mode byte's offset in a slot's page and in its file.
constexpr u32 kSlotBrightness = 2 + Img::kBrightness - Img::kModeStart;
} // namespace

class TestBeforeStop : public QObject
{
    Q_OBJECT
    SimFixture sim;
    message_deal md;
    // The stored files as "reboot" found them: file name to bytes.
    std::map<QString, QByteArray> atReboot;
    int reboots = 0;

    QString host(const std::string& boardPath) { return sim.hostQ(boardPath); }
    bool ok(const Bytes& req)
    {
        const Reply r = send(md, req);
        return r.sent && r.status() == 0;
    }
    // Byte at of the image's file, or of slot s's file, as "reboot" found it;
    // -1 when the file was not there.
    int image_byte(int at)
    {
        const QByteArray& f = atReboot["ram_device_info"];
        return at + kFileHead < f.size() ? u8(f[at + kFileHead]) : -1;
    }
    int slot_byte(int s, u32 at)
    {
        auto it = atReboot.find(QString("custom_mode%1").arg(s + 1));
        return it != atReboot.end() && int(at) < it->second.size() ? u8(it->second[int(at)]) : -1;
    }

  private slots:
    void initTestCase()
    {
        ZevRamPara::pInstance();
        sim.board().simShell().setRestart([this] {
            ++reboots;
            atReboot.clear();
            atReboot["ram_device_info"] = readHostFile(host(ZevRamPara::kDeviceInfoFile));
            const QDir modes(host("/data/modes"));
            for (const QString& name : modes.entryList(QDir::Files))
                atReboot[name] = readHostFile(modes.filePath(name));
            return 0;
        });
    }
    void cleanupTestCase() { sim.board().simShell().setRestart(nullptr); }

    // A box as from the factory, every write made, slot 7 saved on its file.
    void init()
    {
        QVERIFY(ok(kReset));
        QVERIFY(before_stop::store_all());
        QVERIFY(ok(write_image(Img::kModeToSave, {7, 0})) && ok(kApply));
        QCOMPARE(ZevRamPara::store_saved_mode(6), 1);
        reboots = 0;
    }

    void answeredRequestsAreOnDiskAtTheReboot_data()
    {
        QTest::addColumn<QStringList>("requests");
        QTest::newRow("a change and a save") << QStringList{"brightness", "save"};
        QTest::newRow("two changes") << QStringList{"brightness", "contrast"};
        QTest::newRow("a save, then a change") << QStringList{"save", "contrast"};
        QTest::newRow("an upload and a rewrite") << QStringList{"upload", "rewrite"};
        QTest::newRow("an empty and a rewrite") << QStringList{"empty", "rewrite"};
        QTest::newRow("a change, a save and a factory reset") << QStringList{"brightness", "save", "reset"};
        QTest::newRow("a factory reset, then a change") << QStringList{"reset", "contrast"};
    }
    void answeredRequestsAreOnDiskAtTheReboot()
    {
        QFETCH(QStringList, requests);
        // What the answers promise, as the requests go.
        int brightness = ZevRamPara::locked16(Img::kBrightness), contrast = ZevRamPara::locked16(Img::kContrast);
        std::map<int, int> files = {{6, brightness}};
        const int factoryBrightness = 100, factoryContrast = 50;
        for (const QString& r : requests) {
            if (r == "brightness") {
                brightness = 90;
                QVERIFY(ok(write_image(Img::kBrightness, {90, 0})) && ok(kApply));
            } else if (r == "contrast") {
                contrast = 33;
                QVERIFY(ok(write_image(Img::kContrast, {33, 0})) && ok(kApply));
            } else if (r == "save") {
                files[2] = brightness;
                QVERIFY(ok(write_image(Img::kModeToSave, {3, 0})) && ok(kApply));
            } else if (r == "upload") {
                files[4] = 77;
                QVERIFY(ok(write_slot(4, 0, {0xAA, 0xAA})) && ok(write_slot(4, kSlotBrightness, {77, 0})));
            } else if (r == "empty") {
                files.erase(6);
                QVERIFY(ok(write_slot(6, 0, {0xFF, 0xFF})));
            } else if (r == "rewrite") {
                QVERIFY(ok(kRewrite));
            } else if (r == "reset") {
                brightness = factoryBrightness;
                contrast = factoryContrast;
                files.clear();
                QVERIFY(ok(kReset));
            }
        }
        QVERIFY(ok(kReboot));
        QCOMPARE(reboots, 1);
        QCOMPARE(image_byte(Img::kBrightness), brightness);
        QCOMPARE(image_byte(Img::kContrast), contrast);
        for (int s = 0; s < kUserModeCount; ++s) {
            const auto it = files.find(s);
            const int expected = it == files.end() ? -1 : it->second;
            QVERIFY2(
                slot_byte(s, kSlotBrightness) == expected,
                qPrintable(
                    QString("slot %1's file: %2, not %3").arg(s + 1).arg(slot_byte(s, kSlotBrightness)).arg(expected)));
        }
    }

    // A full partition: the reboot goes on, and the files it could not write
    // are named in one warning, not again at the next reboot the tick runs.
    void aStopWithoutRoomNamesWhatIsLostAndGoesOn()
    {
        const QString image = host(ZevRamPara::kDeviceInfoFile), mode = host(ZevRamPara::modeFilePath(2));
        QVERIFY(QFile::remove(image) && QDir().mkpath(image + "/in-the-way"));
        QVERIFY(QDir().mkpath(mode + "/in-the-way"));
        QVERIFY(ok(write_image(Img::kBrightness, {91, 0})) && ok(kApply));
        QVERIFY(ok(write_image(Img::kModeToSave, {3, 0})) && ok(kApply));
        const QString lost = QRegularExpression::escape(mode) + ", " + QRegularExpression::escape(image);
        QTest::ignoreMessage(
            QtWarningMsg,
            QRegularExpression(lost + " cannot be written before the stop: what waited for them is lost"));
        QVERIFY(ok(kReboot));
        QCOMPARE(before_stop::reboot(), 0);
        QCOMPARE(reboots, 2);
        QVERIFY(QDir(image).removeRecursively() && QDir(mode).removeRecursively());
        // With room again, they are written: nothing was dropped.
        QVERIFY(before_stop::store_all());
        QCOMPARE(u8(readHostFile(image)[Img::kBrightness + kFileHead]), u8(91));
        QCOMPARE(u8(readHostFile(mode)[int(kSlotBrightness)]), u8(91));
    }

    // The writes of a stop are bounded: past the limit, what is left is named
    // and the stop goes on.
    void aStopPastItsLimitNamesWhatIsLeft()
    {
        QVERIFY(ok(write_image(Img::kContrast, {21, 0})) && ok(kApply));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ram_device_info cannot be written before the stop"));
        QVERIFY(!before_stop::store_all(std::chrono::milliseconds(0)));
        QVERIFY(before_stop::store_all());
        QCOMPARE(u8(readHostFile(host(ZevRamPara::kDeviceInfoFile))[Img::kContrast + kFileHead]), u8(21));
    }
};

QTEST_MAIN(TestBeforeStop)
#include "test_before_stop.moc"
