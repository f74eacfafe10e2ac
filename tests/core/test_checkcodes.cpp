// Check codes, digest and tick arithmetic against their published values.
#include <QtTest>

#include <cstring>

#include "core/md5.h"
#include "core/utils.h"

class TestCheckCodes : public QObject
{
    Q_OBJECT
  private slots:
    void bccIsXorOfTheBytes()
    {
        const unsigned char frame[] = {0xA5, 0x00, 0xF1, 0x10, 0xF0, 0x5A};
        QCOMPARE(Utils::BCC(frame, 0), u8(0));
        QCOMPARE(Utils::BCC(frame, 1), u8(0xA5));
        QCOMPARE(Utils::BCC(frame, sizeof frame), u8(0xA5 ^ 0xF1 ^ 0x10 ^ 0xF0 ^ 0x5A));
    }

    void crc16ArcCheckValue()
    {
        const char* check = "123456789";
        QCOMPARE(Utils::calcCRC16(reinterpret_cast<const unsigned char*>(check), 9), u16(0xBB3D));
        QCOMPARE(Utils::calcCRC16(nullptr, 0), u16(0));
        const unsigned char one[] = {0x01};
        QCOMPARE(Utils::calcCRC16(one, 1), u16(0xC0C1));
    }

    void md5_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("digest");
        QTest::newRow("empty") << QByteArray("") << QByteArray("d41d8cd98f00b204e9800998ecf8427e");
        QTest::newRow("a") << QByteArray("a") << QByteArray("0cc175b9c0f1b6a831c399e269772661");
        QTest::newRow("abc") << QByteArray("abc") << QByteArray("900150983cd24fb0d6963f7d28e17f72");
        QTest::newRow("message digest") << QByteArray("message digest")
                                        << QByteArray("f96b697d7cb7938d525a2f31aaf161d0");
        QTest::newRow("numbers")
            << QByteArray("12345678901234567890123456789012345678901234567890123456789012345678901234567890")
            << QByteArray("57edf4a22be3c955ac49da2e2107b67a");
    }

    void md5()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, digest);
        MD5 m;
        m.reset();
        // Fed in two pieces: the digest must not depend on how data arrives.
        int half = input.size() / 2;
        m.update(input.constData(), unsigned(half));
        m.update(input.constData() + half, unsigned(input.size() - half));
        QByteArray got(reinterpret_cast<const char*>(m.digest()), 16);
        QCOMPARE(got.toHex(), digest);
        // Reset starts a new digest.
        m.reset();
        m.update("abc", 3);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(m.digest()), 16).toHex(),
                 QByteArray("900150983cd24fb0d6963f7d28e17f72"));
    }

    void timeSpaceWrapsModulo32Bits()
    {
        G_timeTicks = 150;
        QCOMPARE(Utils::getTimeSpace(100), u32(50));
        QCOMPARE(Utils::getTimeSpace(150), u32(0));
        G_timeTicks = 5;
        // Below the start: one less again, as the board has always counted.
        QCOMPARE(Utils::getTimeSpace(0xFFFFFFF0u), u32(5 - 0xFFFFFFF0u - 1));
        G_timeTicks = 0;
    }
};

QTEST_APPLESS_MAIN(TestCheckCodes)
#include "test_checkcodes.moc"
