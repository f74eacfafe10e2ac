// The parameter image and user modes on disk, across restarts and power cuts.
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

#include "board/file_read.h"
#include "core/alias.h"
#include "core/logging.h"
#include "core/zevrampara.h"
#include "read_faults.h"
#include "sim_fixture.h"

namespace
{
u8* img()
{
    return ZevRamPara::p_zevrampara_config;
}
const char* kInfo = "/data/ram_device_info";
const char* kAlias = "/data/configs/alias.json";

QStringList g_warnings;
QtMessageHandler g_testlib = nullptr;
void keep_warning(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg)
        g_warnings << text;
    g_testlib(type, context, text);
}
} // namespace

class TestPersistence : public QObject
{
    Q_OBJECT
    SimFixture sim_;

    void restart() { ZevRamPara::pInstance()->load_all(); }

  private slots:
    void init()
    {
        QFile::remove(sim_.hostQ(kInfo));
        QFile::remove(sim_.hostQ(board::temporary_of(kInfo)));
        QDir(sim_.hostQ("/data/modes")).removeRecursively();
        QDir().mkpath(sim_.hostQ("/data/modes"));
    }

    void firstStartCreatesTheFileFromDefaults()
    {
        restart();
        QByteArray f = readHostFile(sim_.hostQ(kInfo));
        QCOMPARE(f.size(), 2 + 4096 - 768);
        QCOMPARE(u8(f[0]), u8(0xAA));
        QCOMPARE(u8(f[1]), u8(0xAA));
        QCOMPARE(ZevRamPara::img16(Img::kBrightness), u16(100));
        QCOMPARE(ZevRamPara::img16(Img::kContrast), u16(50));
        QCOMPARE(ZevRamPara::img16(Img::kBrightness + 8), u16(2)); // colour-temperature type
        QVERIFY(std::memcmp(img(), ZevRamPara::p_zevrampara_shadow, Img::kSize) == 0);
        // The table is laid out as the file: entry i + 2 is image byte 768 + i.
        QCOMPARE(default_para_ramlist[0], u8(0xAA));
        QCOMPARE(default_para_ramlist[2176 - 766], u8(100));
    }

    void imageRoundTripsAcrossARestart()
    {
        restart();
        for (int i = Img::kPersistStart; i < Img::kSize; ++i)
            img()[i] = u8(i * 7);
        img()[Img::kTestPattern] = 4;
        img()[100] = 9; // below 768: never persisted
        QVERIFY(ZevRamPara::save_device_info(img()));
        std::vector<u8> saved(img() + Img::kPersistStart, img() + Img::kSize);

        std::memset(img(), 0, Img::kSize);
        restart();
        QCOMPARE(int(img()[100]), 0);
        QCOMPARE(int(img()[Img::kTestPattern]), 0); // the test pattern never survives a restart
        saved[Img::kTestPattern - Img::kPersistStart] = 0;
        // Nor does a user-mode save request.
        QCOMPARE(ZevRamPara::img16(Img::kModeToSave), u16(0));
        saved[Img::kModeToSave - Img::kPersistStart] = saved[Img::kModeToSave + 1 - Img::kPersistStart] = 0;
        QVERIFY(std::equal(saved.begin(), saved.end(), img() + Img::kPersistStart));
    }

    void interruptedWriteKeepsTheOldFile()
    {
        restart();
        ZevRamPara::put16(img(), Img::kBrightness, 42);
        QVERIFY(ZevRamPara::save_device_info(img()));
        // A power cut during the next save leaves only a partial temporary file.
        QVERIFY(writeHostFile(sim_.hostQ(board::temporary_of(kInfo)), QByteArray(100, char(0x11))));
        ZevRamPara::put16(img(), Img::kBrightness, 7);
        restart();
        QCOMPARE(ZevRamPara::img16(Img::kBrightness), u16(42));
        // The next save replaces the leftover.
        QVERIFY(ZevRamPara::save_device_info(img()));
        QVERIFY(!QFile::exists(sim_.hostQ(board::temporary_of(kInfo))));
    }

    void damagedFileFallsBackToDefaultsAndIsRewritten()
    {
        QVERIFY(writeHostFile(sim_.hostQ(kInfo), QByteArray("\xAA\xAA short", 8)));
        restart();
        QCOMPARE(ZevRamPara::img16(Img::kBrightness), u16(100));
        QByteArray f = readHostFile(sim_.hostQ(kInfo));
        QCOMPARE(f.size(), 2 + 4096 - 768);

        QByteArray badMarker(2 + 4096 - 768, char(0));
        QVERIFY(writeHostFile(sim_.hostQ(kInfo), badMarker));
        restart();
        QCOMPARE(ZevRamPara::img16(Img::kBrightness), u16(100));
    }

    void userModeStoreLoadDelete()
    {
        restart();
        QCOMPARE(ZevRamPara::ZevUserModeSaved(2), 0);
        ZevRamPara::put16(img(), Img::kLedWidth, 3840);
        QCOMPARE(ZevRamPara::mode_file_write(2, 1), 1);
        QByteArray f = readHostFile(sim_.hostQ("/data/modes/custom_mode3"));
        QCOMPARE(f.size(), 4096);
        QCOMPARE(u8(f[0]), u8(0xAA));
        QCOMPARE(ZevRamPara::get16(reinterpret_cast<const u8*>(f.constData()) + 2, Img::kLedWidth - Img::kModeStart),
                 u16(3840));

        std::memset(ZevRamPara::user_mode[2], 0, kUserModeSlotSize);
        restart();
        QCOMPARE(ZevRamPara::ZevUserModeSaved(2), 1);
        QCOMPARE(ZevRamPara::get16(ZevRamPara::user_mode[2] + 2, Img::kLedWidth - Img::kModeStart), u16(3840));

        // Deleting removes the file through the shell and marks the slot empty.
        ZevRamPara::put16(ZevRamPara::user_mode[2] + 2, Img::kOsdMenuFlag - Img::kModeStart, 1);
        QVERIFY(writeHostFile(sim_.hostQ("/data/modes/MO03.json"), "{}"));
        sim_.board().simShell().clearRecorded();
        QCOMPARE(ZevRamPara::mode_file_deal(2, 1), 0);
        QCOMPARE(ZevRamPara::ZevUserModeSaved(2), 0);
        QVERIFY(!QFile::exists(sim_.hostQ("/data/modes/custom_mode3")));
        QVERIFY(!QFile::exists(sim_.hostQ("/data/modes/MO03.json")));
        auto rec = sim_.board().simShell().recorded();
        QVERIFY(std::find(rec.begin(), rec.end(), "rm  -rf  /data/modes/custom_mode3") != rec.end());
        QVERIFY(std::find(rec.begin(), rec.end(), "rm  -rf  /data/modes/MO03.json") != rec.end());
    }

    // A FIFO at the copy's temporary name is replaced, and one in the OSD
    // menu's place is no menu: neither is waited on, and the mode is saved
    // without it.
    void userModeMenuCopiedForOpZero()
    {
        restart();
        const std::string menu = sim_.host("/data/configs/omenu.json");
        QVERIFY(writeHostFile(QString::fromStdString(menu), "{\"name\":\"m\"}"));
        QCOMPARE(mkfifo(sim_.host(board::temporary_of("/data/modes/MO0b.json")).c_str(), 0644), 0);
        QCOMPARE(ZevRamPara::mode_file_write(10, 0), 1);
        QCOMPARE(readHostFile(sim_.hostQ("/data/modes/MO0b.json")), QByteArray("{\"name\":\"m\"}"));
        QVERIFY(QFile::remove(QString::fromStdString(menu)) && mkfifo(menu.c_str(), 0644) == 0);
        QCOMPARE(ZevRamPara::mode_file_write(10, 0), 1);
        QCOMPARE(readHostFile(sim_.hostQ("/data/modes/MO0b.json")), QByteArray("{\"name\":\"m\"}"));
        QVERIFY(QFile::remove(QString::fromStdString(menu)));
    }

    // A stored image or mode longer than the box writes it (a loader that
    // wrote the factory table whole) keeps its values; one whose reads fail
    // is left as it is, and the box runs on the factory values.
    void storedFileKeepsWhatReads_data()
    {
        QTest::addColumn<bool>("mode");
        QTest::addColumn<int>("extra");
        QTest::addColumn<bool>("failingReads");
        QTest::newRow("image 4,096 bytes long") << false << 4096 - 3330 << false;
        QTest::newRow("image whose reads fail") << false << 0 << true;
        QTest::newRow("image of over 2 MiB") << false << (2 << 20) << false;
        QTest::newRow("mode longer than 4,096 bytes") << true << 100 << false;
        QTest::newRow("mode of over 2 MiB") << true << (2 << 20) << false;
        QTest::newRow("mode whose reads fail") << true << 0 << true;
    }
    void storedFileKeepsWhatReads()
    {
        QFETCH(bool, mode);
        QFETCH(int, extra);
        QFETCH(bool, failingReads);
        restart();
        ZevRamPara::put16(img(), Img::kBrightness, 37);
        ZevRamPara::put16(img(), Img::kLedWidth, 1280);
        QVERIFY(mode ? ZevRamPara::mode_file_write(0, 1) == 1 : ZevRamPara::save_device_info(img()));
        const std::string path = mode ? ZevRamPara::modeFilePath(0) : kInfo;
        QByteArray file = readHostFile(sim_.hostQ(path)) + QByteArray(extra, char(0x5A));
        QVERIFY(writeHostFile(sim_.hostQ(path), file));
        fail_reads_of(failingReads ? sim_.host(path) : "");
        restart();
        fail_reads_of("");
        QCOMPARE(readHostFile(sim_.hostQ(path)), file);
        const u8* kept = mode ? ZevRamPara::user_mode[0] + 2 - Img::kModeStart : img();
        if (mode)
            QCOMPARE(ZevRamPara::ZevUserModeSaved(0), failingReads ? 0 : 1);
        if (!mode || !failingReads) {
            QCOMPARE(ZevRamPara::get16(kept, Img::kBrightness), u16(failingReads ? 100 : 37));
            QCOMPARE(ZevRamPara::get16(kept, Img::kLedWidth), u16(failingReads ? 1920 : 1280));
        }
        // Nothing is saved over an image that could not be read.
        QCOMPARE(ZevRamPara::save_device_info(img()), mode || !failingReads);
        if (!mode)
            QCOMPARE(readHostFile(sim_.hostQ(path)) == file, failingReads);
        ZevRamPara::image_file_unread = false;
    }

    // Each stored file the box cannot use whole is named once, read as
    // often as it may be, with what the box did about it; a mode cut short
    // that still holds its markers and every mode byte is a mode.
    void aFileItCannotUseIsNamedOnce_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("bytes"); // null: its reads fail
        QTest::addColumn<QString>("said");
        const QString mode = QString::fromStdString(ZevRamPara::modeFilePath(0));
        const QString replaced = "is damaged: replaced by the factory image";
        const QString empty = "is damaged: the mode shows empty, the file is kept as it is";
        const QByteArray marked("\xAA\xAA", 2);
        QTest::newRow("image cut short") << kInfo << marked + "short" << replaced;
        QTest::newRow("image with a wrong marker") << kInfo << QByteArray(2 + 4096 - 768, 0) << replaced;
        QTest::newRow("image whose reads fail")
            << kInfo << QByteArray() << "cannot be read: factory image for this start, the file is kept as it is";
        QTest::newRow("mode cut short") << mode << marked + QByteArray(998, 1) << empty;
        QTest::newRow("mode with wrong markers") << mode << QByteArray(4096, 0x11) << empty;
        QTest::newRow("mode whose reads fail")
            << mode << QByteArray() << "cannot be read: the mode shows empty, the file is kept as it is";
        QTest::newRow("mode cut to 3,300 bytes") << mode << marked + QByteArray(3298, 1) << "";
        QTest::newRow("alias file that does not parse")
            << kAlias << QByteArray("{\"namelist\":") << "does not parse: the file is deleted";
        QTest::newRow("alias file whose reads fail")
            << kAlias << QByteArray() << "cannot be read: it is not used, the file is kept as it is";
        QTest::newRow("OSD menu whose reads fail")
            << ZevRamPara::kMenuFile << QByteArray()
            << "cannot be read: modes are saved without it, the file is kept as it is";
    }
    void aFileItCannotUseIsNamedOnce()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, said);
        restart();
        const std::string file = sim_.host(path.toStdString());
        QVERIFY(writeHostFile(QString::fromStdString(file), bytes.isNull() ? QByteArray("{}") : bytes));
        fail_reads_of(bytes.isNull() ? file : "");
        zevlog::forget_stored_files();
        g_warnings.clear();
        g_testlib = qInstallMessageHandler(keep_warning);
        int written = 1;
        for (int i = 0; i < 2; ++i) {
            ALIAS_PARA alias;
            if (path == kAlias)
                get_json_alias_para(&alias, "source", 1);
            else if (path == ZevRamPara::kMenuFile)
                written &= ZevRamPara::mode_file_write(3, 0);
            else
                restart();
        }
        qInstallMessageHandler(g_testlib);
        fail_reads_of("");
        QCOMPARE(written, 1);
        const QString shown = QString::fromStdString(file);
        QCOMPARE(g_warnings.filter(shown), said.isEmpty() ? QStringList() : QStringList{shown + " " + said});
        if (path.contains("custom_mode"))
            QCOMPARE(ZevRamPara::ZevUserModeSaved(0), int(said.isEmpty()));
        QCOMPARE(QFileInfo::exists(shown), !said.contains("deleted"));
        QFile::remove(shown);
        ZevRamPara::image_file_unread = false;
    }

    void shortModeFileIsNotTaken()
    {
        QVERIFY(writeHostFile(sim_.hostQ("/data/modes/custom_mode5"), QByteArray(1000, char(0xAA))));
        restart();
        QCOMPARE(ZevRamPara::ZevUserModeSaved(4), 0);
        QCOMPARE(ZevRamPara::mode_file_write(16, 1), 0); // no slot 16
        QCOMPARE(ZevRamPara::mode_file_deal(-1, 0), 0);
    }
};

QTEST_GUILESS_MAIN(TestPersistence)
#include "test_persistence.moc"
