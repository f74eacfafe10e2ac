// Fitting a text to its widget: smaller only as far as it must, never below
// 9 px, then two lines, then elided; like widgets in one size; a combo box
// by the item it shows.
#include <QtTest>

#include <QComboBox>
#include <QFontInfo>
#include <QLabel>

#include "ui/shell/pagepattern.h"
#include "ui/shell/panellook.h"
#include "ui/shell/textfit.h"

namespace
{
constexpr int kBase = 13;

QLabel* label(QWidget* parent, QSize size)
{
    auto* l = new QLabel(parent);
    l->resize(size);
    l->setAlignment(Qt::AlignCenter);
    l->setFont(panel_font(kBase));
    return l;
}

int px(QWidget* w)
{
    return QFontInfo(w->font()).pixelSize();
}
} // namespace

class TestTextFit : public QObject
{
    Q_OBJECT
    QWidget page;

  private slots:
    void initTestCase() { shell_resources_init(); }

    void oneText_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("smaller");
        QTest::newRow("fits as it is") << QSize(100, 20) << "OK"
                                       << "OK" << false;
        QTest::newRow("smaller until it fits") << QSize(60, 20) << "Parameter"
                                               << "Parameter" << true;
        QTest::newRow("soft hyphen left out") << QSize(100, 20) << "使用中\u00AD"
                                              << "使用中" << false;
        QTest::newRow("two lines at a blank") << QSize(48, 30) << "Horizontal line"
                                              << "Horizontal\nline" << true;
        QTest::newRow("after a joining sign") << QSize(32, 26) << "HDMI1_Crop2"
                                              << "HDMI1_\nCrop2" << true;
        QTest::newRow("ideographs two and two") << QSize(30, 30) << "输入选择"
                                                << "输入\n选择" << true;
        QTest::newRow("a word at a syllable") << QSize(40, 26) << "Использовать"
                                              << "Исполь-\nзовать" << true;
        QTest::newRow("elided at last") << QSize(30, 14) << "Использовать"
                                        << "Исп…" << true;
    }
    void oneText()
    {
        QFETCH(QSize, size);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(bool, smaller);
        QLabel* l = label(&page, size);
        set_fitted(l, text);
        QCOMPARE(l->text(), shown);
        QCOMPARE(px(l) < kBase, smaller);
        QVERIFY(px(l) >= kMinTextPixels);
        QVERIFY(l->contentsRect().contains(drawn_rect(l, l->font(), l->text())) || shown.endsWith("…"));
        // The whole text stays with the widget, and shows as its tip when elided.
        QCOMPARE(fitted_text(l), shown_text(text));
        QCOMPARE(l->toolTip(), shown.endsWith("…") ? shown_text(text) : QString());
        delete l;
    }

    void likeWidgetsTakeOneSize()
    {
        QLabel* a = label(&page, QSize(60, 20));
        QLabel* b = label(&page, QSize(60, 20));
        set_fitted({{a, "Short"}, {b, "Rather long"}});
        QCOMPARE(px(a), px(b));
        QVERIFY(px(a) < kBase);
        QVERIFY(b->contentsRect().contains(drawn_rect(b, b->font(), b->text())));
        // A text that comes back whole is fitted from its whole text again.
        b->resize(200, 20);
        fit_texts({a, b});
        QCOMPARE(px(b), kBase);
        delete a;
        delete b;
    }

    // A text fitted before is measured again only when something it was
    // fitted to has changed since.
    void fittedAgainWhenItsWidgetChanged_data()
    {
        QTest::addColumn<int>("change"); // 0 nothing, 1 narrower, 2 text put by hand, 3 larger font
        QTest::newRow("nothing changed") << 0;
        QTest::newRow("narrower") << 1;
        QTest::newRow("text put by hand") << 2;
        QTest::newRow("font made larger by hand") << 3;
    }
    void fittedAgainWhenItsWidgetChanged()
    {
        QFETCH(int, change);
        QLabel* l = label(&page, QSize(100, 20));
        set_fitted(l, "Parameter");
        QCOMPARE(px(l), kBase);
        if (change == 1)
            l->resize(60, 20);
        if (change == 2)
            l->setText("other");
        if (change == 3)
            l->setFont(panel_font(30));
        set_fitted(l, "Parameter");
        QCOMPARE(l->text(), QString("Parameter"));
        QCOMPARE(px(l) < kBase, change == 1);
        QVERIFY(px(l) <= kBase);
        QVERIFY(l->contentsRect().contains(drawn_rect(l, l->font(), l->text())));
        delete l;
    }

    void comboFitsTheItemItShows()
    {
        QComboBox combo(&page);
        combo.resize(80, 20);
        combo.setFont(panel_font(kBase));
        combo.addItems({"5 min", "Không bao giờ khoá"});
        fit_combos({&combo});
        const int short_px = px(&combo);
        combo.setCurrentIndex(1);
        QVERIFY(px(&combo) < short_px);
        QVERIFY(px(&combo) >= kMinTextPixels);
        combo.setCurrentIndex(0);
        QCOMPARE(px(&combo), short_px);
    }
};

QTEST_MAIN(TestTextFit)
#include "test_textfit.moc"
