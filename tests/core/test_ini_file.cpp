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
    // What QSettings writes of values.
    QByteArray written(const QVariantMap& values)
    {
        const QString path = file(QByteArray());
        {
            QSettings s(path, QSettings::IniFormat);
            for (auto v = values.begin(); v != values.end(); ++v)
                s.setValue(v.key(), v.value());
        }
        return readHostFile(path);
    }

  private slots:
    // Texts QSettings writes of one value, or a hand or other firmware may
    // leave: the box reads the keys and values QSettings reads, and writes
    // them back so that QSettings still reads the same; of one value it
    // writes byte for byte what QSettings writes.
    void textsAsQSettingsHasThem_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("key"); // the one value's, empty for a text
        QTest::addColumn<QVariant>("value");
        const auto value = [&](const char* tag, const QString& key, const QVariant& v) {
            QTest::newRow(tag) << written({{key, v}}) << key << v;
        };
        const auto text = [](const char* tag, const QByteArray& t) {
            QTest::newRow(tag) << t << QString() << QVariant();
        };
        value("number", "config/TcpPort", 5005);
        value("empty", "config/Nubocloudserverip", "");
        value("single blank", "config/Barcode", " ");
        value("blanks around", "config/Barcode", "  a b  ");
        value("quotes and backslashes", "config/Barcode", "\"\\x41\\\"");
        value("two at signs", "config/Barcode", "@@Invalid()");
        value("at form", "config/Barcode", "@ByteArray(x)");
        value("NUL then digits", "config/Barcode", QString("a") + QChar(0) + "12f");
        value("control then hex digits", "config/Barcode", QChar(0x1F) + QString("Ab9"));
        value("non-ASCII", "config/Barcode",
              QString::fromUtf8("SN\x01"
                                "42 \"q\" \\ caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 ;,=\t\n"));
        value("longest barcode", "config/Barcode", QString(4096, QChar(0x1F)));
        value("list", "others/list", QStringList{"a", " b, c ", "", "@d"});
        value("empty list", "others/list", QStringList{});
        value("bytes", "others/bytes", QByteArray("x\0)y", 4));
        value("key of no group", "top", 1);
        value("odd key", QString::fromUtf8("a b/c%d\\e\xC3\xA9"), "v");
        value("group named General", "General/x", "v");
        text("comments and blanks", "; note\n\n[config]\r\n  a = 1 ; why\nb=\"x;y\"  \n\tc=\"  \"\n");
        text("general groups", "x=1\n[General]\ny=2\n[%General]\nz=3\n[config]\nw=4\n");
        text("UTF-8 mark", "\xEF\xBB\xBF[config]\nname=caf\xC3\xA9\n");
        text("escaped keys", "[a%20b]\nc%25d=1\nx\\y=2\n%U20ACe=3\n");
        text("escapes", "v=\\101\\x42\\x\\q\\\\\nw=tail\\");
        text("lists", "l=a , \"b, c\" ,d,\nm=@@a, b\n");
        text("at forms", "a=@ByteArray(x\\0y)\nb=@String(q)\nc=@Invalid()\nd=@@e\ne=@f\n");
        text("group without its closing bracket", "[config\nA=1\n[x] y\nB=2\n");
        text("repeated key", "[config]\nA=1\n[other]\nB=2\n[config]\nA=3\n");
        text("kinds the box never reads", written({{"kinds/rect", QRect(1, 2, 3, 4)},
                                                   {"kinds/date", QDate(2024, 1, 2)},
                                                   {"kinds/variants", QVariantList{1, "a"}}}));
    }
    void textsAsQSettingsHasThem()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QSettings theirs(file(text), QSettings::IniFormat);
        ini_file::Keys keys;
        const bool whole = !ini_file::decode(text, &keys).any();
        QStringList all = theirs.allKeys();
        all.sort();
        QCOMPARE(keys.keys(), all);
        for (const QString& k : all)
            QVERIFY2(keys.value(k).userType() >= QMetaType::User || same(keys.value(k), theirs.value(k)),
                     qPrintable(k));
        QByteArray written;
        QVERIFY(ini_file::encode(keys, &written));
        QSettings back(file(written), QSettings::IniFormat);
        QCOMPARE(back.status(), QSettings::NoError);
        for (const QString& k : all)
            QVERIFY2(back.value(k) == theirs.value(k) || same(back.value(k), theirs.value(k)), qPrintable(k));
        if (key.isEmpty())
            return;
        QVERIFY(whole);
        QVERIFY2(same(theirs.value(key), value), qPrintable(theirs.value(key).toString()));
        QByteArray one;
        QVERIFY(ini_file::encode({{key, value}}, &one));
        QCOMPARE(one, text);
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "test_ini_file.moc"
