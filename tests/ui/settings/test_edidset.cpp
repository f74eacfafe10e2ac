// The EDID page: choosing a source, the edit area, Save and its refusals.
#include <QtTest>

#include <QLabel>
#include <QLineEdit>

#include "core/zevrampara.h"
#include "ui/settings/edidset.h"
#include "page_harness.h"
#include "ui/shell/pages.h"
#include "video/c331_manage.h"

namespace
{
u16 edid(int source, int field)
{
    return ZevRamPara::img16(Img::kEdid + 6 * source + 2 * field);
}
} // namespace

class TestEdidset : public QObject
{
    Q_OBJECT
    PageHarness harness;

  private slots:
    void init()
    {
        PageHarness::reset();
        for (int s = 0; s < 6; ++s)
            ZevRamPara::ZevSetEDIDPara(s, 1920, 1080, 60);
        c331_manage::para_update_flag = 0;
    }

    void sourcesWrapInListOrder()
    {
        EDIDset p(nullptr);
        release_keys(&p, {kLeft}); // HDMI1 wraps to EXT
        release_keys(&p, {kOk});
        QVERIFY(p.findChild<QLabel*>("label_edid_source")->text().endsWith("EXT"));
    }

    void saveStoresTheTypedTimingOfTheSource()
    {
        EDIDset p(nullptr);
        release_keys(&p, {kRight, kOk}); // HDMI2, source id 3
        p.findChild<QLineEdit*>("lineEdit_W")->setText("3840");
        // Rate: OK on it, toggle to 30, accept.
        release_keys(&p, {kRight, kRight, kOk, kRight, kOk});
        release_keys(&p, {kRight, kRight, kRight, kOk}); // Save
        QCOMPARE(edid(3, 0), u16(3840));
        QCOMPARE(edid(3, 2), u16(30));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(1));
        QVERIFY(!p.findChild<QWidget*>("frame_add")->isVisibleTo(&p));
    }

    void deleteAndBackStoreNothing()
    {
        EDIDset p(nullptr);
        release_keys(&p, {kOk});
        p.findChild<QLineEdit*>("lineEdit_H")->setText("720");
        release_keys(&p, {kLeft, kLeft, kLeft, kOk}); // Delete acts as Cancel
        QCOMPARE(edid(2, 1), u16(1080));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(0));
    }

    void zeroOrNonNumericSizesAreRefused_data()
    {
        QTest::addColumn<QString>("width");
        QTest::newRow("zero") << "0";
        QTest::newRow("empty") << "";
        QTest::newRow("letters") << "abc";
        QTest::newRow("too large") << "70000";
    }
    void zeroOrNonNumericSizesAreRefused()
    {
        QFETCH(QString, width);
        EDIDset p(nullptr);
        release_keys(&p, {kOk});
        p.findChild<QLineEdit*>("lineEdit_W")->setText(width);
        release_keys(&p, {kLeft, kOk}); // Save
        QCOMPARE(edid(2, 0), u16(1920));
        QCOMPARE(c331_manage::para_update_flag.load(), u8(0));
        QVERIFY(p.findChild<QWidget*>("frame_add")->isVisibleTo(&p));
    }

    void sizesAboveSignedRangeAreKept()
    {
        EDIDset p(nullptr);
        release_keys(&p, {kOk});
        p.findChild<QLineEdit*>("lineEdit_W")->setText("40000");
        release_keys(&p, {kLeft, kOk});
        QCOMPARE(edid(2, 0), u16(40000));
    }
};

QTEST_MAIN(TestEdidset)
#include "test_edidset.moc"
