// The round progress bar: the one open bar, its progress protocol, what it
// draws, and a bar destroyed with its page.
#include <QtTest>

#include <cmath>

#include <QDialog>
#include <QImage>

#include "ui/shell/QRoundProgressBar.h"

namespace
{
// Colour of the ring at an angle measured clockwise from twelve o'clock.
QColor ring_at(QRoundProgressBar* bar, double degrees)
{
    QImage image = bar->grab().toImage();
    double a = degrees * M_PI / 180;
    return image.pixelColor(int(50 + 45 * std::sin(a)), int(50 - 45 * std::cos(a)));
}
bool is_blue(const QColor& c)
{
    return c.blue() > 200 && c.red() < 100;
}
} // namespace

class TestQRoundBar : public QObject
{
    Q_OBJECT
    QDialog* page = nullptr;

  private slots:
    void init()
    {
        page = new QDialog;
        page->resize(320, 240);
        QRoundProgressBar::create_qround_bar(page);
    }
    void cleanup()
    {
        delete page;
        QVERIFY(!g_qround_bar);
    }

    void opens_one_bar()
    {
        QRoundProgressBar* bar = g_qround_bar;
        QVERIFY(bar);
        QCOMPARE(bar->geometry(), QRect(120, 70, 100, 100));
        QCOMPARE(bar->parent(), page);
        bar->para_sync(40);
        QDialog other;
        QRoundProgressBar::create_qround_bar(&other);
        QCOMPARE(g_qround_bar, bar);
        QCOMPARE(bar->value(), 40.0);
    }

    void progress_data()
    {
        QTest::addColumn<int>("percent");
        QTest::addColumn<bool>("open");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << true << "0%";
        QTest::newRow("37") << 37 << true << "37%";
        QTest::newRow("-5") << -5 << true << "0%";
        QTest::newRow("99") << 99 << true << "99%";
        QTest::newRow("100") << 100 << false << "";
        QTest::newRow("250") << 250 << false << "";
    }

    void progress()
    {
        QFETCH(int, percent);
        QFETCH(bool, open);
        QRoundProgressBar* bar = g_qround_bar;
        bar->para_sync(percent);
        QCOMPARE(g_qround_bar != nullptr, open);
        QCOMPARE(bar->isHidden(), !open);
        if (open)
            QTEST(bar->valueText(), "text");
        // A closed bar takes no more progress.
        bar->para_sync(50);
        QCOMPARE(bar->value() == 50.0, open);
    }

    void draws_the_arc_clockwise_from_twelve()
    {
        QRoundProgressBar* bar = g_qround_bar;
        bar->para_sync(0);
        QVERIFY(!is_blue(ring_at(bar, 20)));
        QCOMPARE(ring_at(bar, 180), QColor("#DEE3E7"));
        bar->para_sync(37); // 133.2 degrees
        QVERIFY(is_blue(ring_at(bar, 20)));
        QVERIFY(is_blue(ring_at(bar, 120)));
        QVERIFY(!is_blue(ring_at(bar, 160)));
        QVERIFY(!is_blue(ring_at(bar, 300)));
    }

    void page_deleted_with_open_bar()
    {
        delete page;
        page = nullptr;
        QVERIFY(!g_qround_bar);
        QDialog next;
        QRoundProgressBar::create_qround_bar(&next);
        QVERIFY(g_qround_bar);
        QCOMPARE(g_qround_bar->parent(), &next);
    }
};

QTEST_MAIN(TestQRoundBar)
#include "test_qroundbar.moc"
