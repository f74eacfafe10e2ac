// The settings files' INI text against Qt's own reader and writer: what the
// box writes, QSettings (older firmware, the PC's tools) reads the same, and
// what QSettings writes or reads, the box reads the same.
#include <QtTest>

#include <QDate>
#include <QRect>
#include <QSettings>

#include "core/ini_file.h"
#include "support/sim_fixture.h"

namespace
{
bool same(const QVariant& a, const QVariant& b)
{
    if (a.type() == QVariant::StringList || b.type() == QVariant::StringList)
        return a.toStringList() == b.toStringList();
    if (a.type() == QVariant::ByteArray || b.type() == QVariant::ByteArray)
        return a.type() == b.type() && a.toByteArray() == b.toByteArray();
    return a.isValid() == b.isValid() && a.toString() == b.toString();
}
} // namespace

class TestIniFile : public QObject
{
    Q_OBJECT
    QTemporaryDir dir_;
    int files_ = 0;

    // A new file each time: QSettings keeps what it read of a file by its
    // name and time.
    QString file(const QByteArray& bytes)
    {
        const QString path = dir_.filePath(QString("%1.ini").arg(++files_));
        if (!bytes.isNull())
            writeHostFile(path, bytes);
        return path;
    }

  private slots:
    // One key, written by each side and read by the other.
    void valuesRoundTripWithQSettings_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        const QString mixed = QString::fromUtf8("SN\x01"
                                                "42 \"q\" \\ caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 ;,=\t\n");
        QTest::newRow("plain") << "config/IPAddress" << QVariant("10.1.1.5");
        QTest::newRow("number") << "config/TcpPort" << QVariant(5005);
        QTest::newRow("empty") << "config/Nubocloudserverip" << QVariant("");
        QTest::newRow("single blank") << "config/Barcode" << QVariant(" ");
        QTest::newRow("blanks around") << "config/Barcode" << QVariant("  a b  ");
        QTest::newRow("separators") << "config/Barcode" << QVariant("a;b,c=d");
        QTest::newRow("quotes and backslashes") << "config/Barcode" << QVariant("\"\\x41\\\"");
        QTest::newRow("at sign") << "config/Barcode" << QVariant("@x");
        QTest::newRow("two at signs") << "config/Barcode" << QVariant("@@Invalid()");
        QTest::newRow("at form") << "config/Barcode" << QVariant("@ByteArray(x)");
        QTest::newRow("NUL then digits") << "config/Barcode"
                                         << QVariant(QString::fromLatin1("a\0"
                                                                         "12f",
                                                                         5));
        QTest::newRow("control then hex digits") << "config/Barcode"
                                                 << QVariant(QString::fromLatin1("\x1f"
                                                                                 "Ab9"));
        QTest::newRow("non-ASCII") << "config/Barcode" << QVariant(mixed);
        QTest::newRow("longest barcode") << "config/Barcode" << QVariant(QString(4096, QChar(0x1F)));
        QTest::newRow("list") << "others/list" << QVariant(QStringList{"a", " b, c ", "", "@d"});
        QTest::newRow("empty list") << "others/list" << QVariant(QStringList{});
        QTest::newRow("bytes") << "others/bytes" << QVariant(QByteArray("x\0)y", 4));
        QTest::newRow("key of no group") << "top" << QVariant(1);
        QTest::newRow("odd key") << QString::fromUtf8("a b/c%d\\e\xC3\xA9") << QVariant("v");
        QTest::newRow("group named General") << "General/x" << QVariant("v");
    }
    void valuesRoundTripWithQSettings()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QByteArray ours;
        QVERIFY(ini_file::encode({{key, value}}, &ours));
        const QVariant theirsReads = QSettings(file(ours), QSettings::IniFormat).value(key);
        QVERIFY2(same(theirsReads, value), qPrintable(theirsReads.toString()));
        const QString written = file(QByteArray());
        {
            QSettings s(written, QSettings::IniFormat);
            s.setValue(key, value);
        }
        const QByteArray theirs = readHostFile(written);
        ini_file::Keys keys;
        QVERIFY(!ini_file::decode(theirs, &keys).any());
        QCOMPARE(keys.keys(), QStringList{key});
        QVERIFY(same(keys.value(key), QSettings(file(theirs), QSettings::IniFormat).value(key)));
        // Byte for byte what QSettings writes.
        QCOMPARE(ours, theirs);
    }

    // Texts a hand or other firmware may leave: the box reads the keys and
    // values QSettings reads, and writes them back so that QSettings still
    // reads the same.
    void textsReadAsQSettingsReadsThem_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("comments and blanks")
            << QByteArray("; note\n\n[config]\r\n  a = 1 ; why\nb=\"x;y\"  \n\tc=\"  \"\n");
        QTest::newRow("general groups") << QByteArray("x=1\n[General]\ny=2\n[%General]\nz=3\n[config]\nw=4\n");
        QTest::newRow("UTF-8 mark") << QByteArray("\xEF\xBB\xBF[config]\nname=caf\xC3\xA9\n");
        QTest::newRow("escaped keys") << QByteArray("[a%20b]\nc%25d=1\nx\\y=2\n%U20ACe=3\n");
        QTest::newRow("escapes") << QByteArray("v=\\101\\x42\\x\\q\\\\\nw=tail\\");
        QTest::newRow("lists") << QByteArray("l=a , \"b, c\" ,d,\nm=@@a, b\n");
        QTest::newRow("at forms") << QByteArray("a=@ByteArray(x\\0y)\nb=@String(q)\nc=@Invalid()\nd=@@e\ne=@f\n");
        QTest::newRow("group without its closing bracket") << QByteArray("[config\nA=1\n[x] y\nB=2\n");
        QTest::newRow("repeated key") << QByteArray("[config]\nA=1\n[other]\nB=2\n[config]\nA=3\n");
        const QString kinds = file(QByteArray());
        {
            QSettings s(kinds, QSettings::IniFormat);
            s.setValue("kinds/rect", QRect(1, 2, 3, 4));
            s.setValue("kinds/date", QDate(2024, 1, 2));
            s.setValue("kinds/variants", QVariantList{1, "a"});
        }
        QTest::newRow("kinds the box never reads") << readHostFile(kinds);
    }
    void textsReadAsQSettingsReadsThem()
    {
        QFETCH(QByteArray, text);
        QSettings theirs(file(text), QSettings::IniFormat);
        ini_file::Keys keys;
        ini_file::decode(text, &keys);
        QStringList ours = keys.keys(), all = theirs.allKeys();
        ours.sort();
        all.sort();
        QCOMPARE(ours, all);
        for (const QString& key : theirs.allKeys())
            QVERIFY2(keys.value(key).userType() >= QMetaType::User || same(keys.value(key), theirs.value(key)),
                     qPrintable(key));
        QByteArray written;
        QVERIFY(ini_file::encode(keys, &written));
        QSettings back(file(written), QSettings::IniFormat);
        QCOMPARE(back.status(), QSettings::NoError);
        for (const QString& key : theirs.allKeys())
            QVERIFY2(back.value(key) == theirs.value(key) || same(back.value(key), theirs.value(key)), qPrintable(key));
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "test_ini_file.moc"
