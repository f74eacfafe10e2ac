// Alias and OSD-menu files: lookups, damaged files, the file lock.
#include <QtTest>

#include <thread>

#include "core/alias.h"
#include "core/json_read.h"
#include "core/omenu.h"
#include "remote/memory_json_parser.h"
#include "core/utils.h"
#include "read_faults.h"
#include "sim_fixture.h"

namespace
{
// An object holding a value nested `levels` deep in arrays.
QByteArray nested(int levels)
{
    return "{\"a\":" + QByteArray(levels - 1, '[') + "1" + QByteArray(levels - 1, ']') + "}";
}
} // namespace

class TestJsonReaders : public QObject
{
    Q_OBJECT
    SimFixture sim_;

  private slots:
    void aliasLookup()
    {
        QVERIFY(writeHostFile(sim_.hostQ("/data/configs/alias.json"), R"({"namelist":{
            "source":[{"id":2,"valid":"on","name":"Camera"},{"id":3,"valid":"off","name":"Spare"},
                      {"id":4,"valid":"on","name":""}],
            "usermode":[{"id":0,"valid":"on","name":"Morning"}]}})"));
        ALIAS_PARA a;
        QCOMPARE(get_json_alias_para(&a, "source", 2), 1);
        QCOMPARE(QString::fromStdString(a.name), QString("Camera"));
        QCOMPARE(a.id, 2);
        QCOMPARE(get_json_alias_para(&a, "source", 3), 0); // disabled
        QCOMPARE(QString::fromStdString(a.valid), QString("off"));
        QCOMPARE(get_json_alias_para(&a, "source", 4), 0); // unnamed
        QCOMPARE(get_json_alias_para(&a, "source", 9), 0); // missing item
        QCOMPARE(get_json_alias_para(&a, "crop", 0), 0);   // missing category
        QCOMPARE(get_json_alias_para(&a, "usermode", 0), 1);

        // A name longer than any label is cut whole characters at a time.
        const QString longName = QString::fromUtf8("画面").repeated(5000);
        QVERIFY(writeHostFile(
            sim_.hostQ("/data/configs/alias.json"),
            (R"({"namelist":{"source":[{"id":1,"valid":"on","name":")" + longName + R"("}]}})").toUtf8()));
        QCOMPARE(get_json_alias_para(&a, "source", 1), 1);
        QCOMPARE(QString::fromStdString(a.name), longName.left(64));
    }

    void damagedAliasFileIsDeletedUnreadableKept()
    {
        QVERIFY(writeHostFile(sim_.hostQ("/data/configs/alias.json"), "{\"namelist\": [broken"));
        ALIAS_PARA a;
        QCOMPARE(get_json_alias_para(&a, "source", 0), 0);
        QVERIFY(!QFile::exists(sim_.hostQ("/data/configs/alias.json")));
        QCOMPARE(get_json_alias_para(&a, "source", 0), 0); // missing file
        // A file whose reads fail, or a folder in its place, cannot be read:
        // it is left for a read that can, nothing thrown.
        QVERIFY(writeHostFile(sim_.hostQ("/data/configs/alias.json"), "{}"));
        fail_reads_of(sim_.host("/data/configs/alias.json"));
        QCOMPARE(get_json_alias_para(&a, "source", 0), 0);
        fail_reads_of("");
        QCOMPARE(readHostFile(sim_.hostQ("/data/configs/alias.json")), QByteArray("{}"));
        QVERIFY(QFile::remove(sim_.hostQ("/data/configs/alias.json")));
        QVERIFY(QDir().mkpath(sim_.hostQ("/data/configs/alias.json")));
        QCOMPARE(get_json_alias_para(&a, "source", 0), 0);
        QVERIFY(QFileInfo(sim_.hostQ("/data/configs/alias.json")).isDir());
        QVERIFY(QDir().rmdir(sim_.hostQ("/data/configs/alias.json")));
    }

    void readerWaitsForAWriterHoldingTheFileLock()
    {
        QString path = sim_.hostQ("/data/configs/alias.json");
        QVERIFY(writeHostFile(path, R"({"namelist":{"win":[{"id":1,"valid":"on","name":"Left"}]}})"));
        std::atomic<int> result{-1};
        {
            QMutexLocker lock(&Utils::_file_deal_mutex);
            // A writer is mid-file: a reader must not see the half-written text.
            QVERIFY(writeHostFile(path, "{\"namelist\":{\"win\":[{\"id\":1,"));
            std::thread reader([&] {
                ALIAS_PARA a;
                result = get_json_alias_para(&a, "win", 1);
            });
            QTest::qWait(50);
            QCOMPARE(result.load(), -1); // still blocked on the lock
            QVERIFY(writeHostFile(path, R"({"namelist":{"win":[{"id":1,"valid":"on","name":"Right"}]}})"));
            lock.unlock();
            reader.join();
        }
        QCOMPARE(result.load(), 1);
        QVERIFY(QFile::exists(path));
    }

    void omenuEntries()
    {
        QVERIFY(writeHostFile(sim_.hostQ("/data/modes/MO01.json"), R"({"name":"Welcome","osdcount":1,"oactcount":1,
            "menu":[{"type":0,"status":1,"pos":{"x":10,"y":20,"w":300,"h":40},
                     "act":{"effect":2,"speed":3,"staytime":4},
                     "backpara":{"enable":1,"color":"#000000"},
                     "fontpara":{"startx":1,"starty":2,"fontw":16,"fonth":32,"wordspace":1,"verticalspace":2,
                                 "color":"#FFFFFF"},
                     "texts":"Hello"}]})"));
        OSD_LIST list;
        get_json_omenu_para("/data/modes/MO01.json", &list);
        QCOMPARE(list.osdcount, 1);
        QCOMPARE(QString::fromStdString(list.name), QString("Welcome"));
        QCOMPARE(list.menu[0].x, 10);
        QCOMPARE(list.menu[0].h, 40);
        QCOMPARE(list.menu[0].speed, 3);
        QCOMPARE(list.menu[0].fonth, 32);
        QCOMPARE(QString::fromStdString(list.menu[0].h_align), QString("left"));
        QCOMPARE(QString::fromStdString(list.menu[0].font_color), QString("#FFFFFF"));
        QCOMPARE(QString::fromStdString(list.menu[0].texts), QString("Hello"));
    }

    void omenuMissingOrDamaged()
    {
        OSD_LIST list;
        list.osdcount = 5;
        get_json_omenu_para("/data/modes/MO09.json", &list);
        QCOMPARE(list.osdcount, 0);
        QVERIFY(writeHostFile(sim_.hostQ("/data/modes/MO02.json"), "not json"));
        get_json_omenu_para("/data/modes/MO02.json", &list);
        QCOMPARE(list.osdcount, 0);
        QVERIFY(!QFile::exists(sim_.hostQ("/data/modes/MO02.json")));
    }

    // The parser recurses per level: a file nested deeper than any real one
    // is one that does not parse, whoever reads it, and is deleted.
    void nestingIsBounded_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("parses");
        QTest::newRow("at the bound") << nested(json_read::kMaxDepth) << true;
        QTest::newRow("one deeper") << nested(json_read::kMaxDepth + 1) << false;
        QTest::newRow("deep brackets in a string")
            << QByteArray("{\"a\":\"" + QByteArray(5000, '[') + "\\\"[\"}") << true;
        QTest::newRow("200000 levels") << QByteArray(200000, '[') << false;
    }
    void nestingIsBounded()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, parses);
        boost::property_tree::ptree t;
        QCOMPARE(memory_json_parser::parse(text.constData(), size_t(text.size()), t), parses);
        for (const char* path : {"/data/configs/alias.json", "/data/configs/omenu.json", "/data/modes/MO03.json"}) {
            QVERIFY(writeHostFile(sim_.hostQ(path), text));
            ALIAS_PARA a;
            OSD_LIST list;
            if (QByteArray(path).contains("alias"))
                get_json_alias_para(&a, "source", 0);
            else
                get_json_omenu_para(path, &list);
            QCOMPARE(QFile::exists(sim_.hostQ(path)), parses);
        }
    }
};

QTEST_GUILESS_MAIN(TestJsonReaders)
#include "test_json_readers.moc"
