// One look on every platform, and every text of the shell whole in every
// language.
#include <QtTest>

#include <QFontInfo>
#include <QFrame>
#include <QLabel>
#include <QStyle>
#include <QTimer>

#include "page_harness.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/pages.h"
#include "ui/shell/panellook.h"
#include "ui/shell/textfit.h"
#include "ui/shell/tip.h"
#include "ui_mainwindow.h"

namespace
{
// The letters of the label's text, in its own font, inside its rectangle;
// no soft hyphen left to be drawn.
bool text_fits(QLabel* label)
{
    label->ensurePolished();
    QRect box = label->contentsRect();
    QRect need = drawn_rect(label, label->font(), label->text());
    if (!box.contains(need))
        qWarning("\"%s\" needs %dx%d in %dx%d", qPrintable(label->text()), need.width(), need.height(), box.width(),
                 box.height());
    return box.contains(need) && !label->text().contains(QChar(QChar::SoftHyphen));
}
} // namespace

class TestPanelLook : public QObject
{
    Q_OBJECT
    PageHarness harness;
    MainWindow* w = harness.main_window();

  private slots:
    void initTestCase() { g_lcd_lang_valid = 0x1F; }

    void styleAndFontAreTheApplicationsOwn()
    {
        QCOMPARE(qApp->style()->objectName(), QString("windows"));
        QLabel* ip = w->form()->label_IPaddr;
        ip->ensurePolished();
        // 9 points as the board draws them, whatever the platform's dpi.
        QCOMPARE(ip->font().pixelSize(), 13);
        QCOMPARE(QFontInfo(ip->font()).family(), QString(kPanelFontFamily));
        w->form()->machinestate->ensurePolished();
        QCOMPARE(w->form()->machinestate->font().pixelSize(), panel_pixels(25));
        QVERIFY(w->form()->machinestate->font().bold());
    }

    void fittingAndShownTexts()
    {
        QCOMPARE(fitting_pixels("OK", QSize(65, 30), 15, 8, false), 15);
        const char* tip3 = "USB driver is connected,please wait...";
        QCOMPARE(fitting_pixels(tip3, QSize(200, 100), 15, 8, true), 15);
        QVERIFY(fitting_pixels(tip3, QSize(200, 100), 15, 8, false) < 15);
        QCOMPARE(fitting_pixels(QString(200, 'W'), QSize(20, 10), 15, 8, true), 8);
        QCOMPARE(shown_text(QString::fromUtf8("使用中\u00AD")), QString::fromUtf8("使用中"));
    }

    void tipTextsAreWholeInEveryLanguage()
    {
        for (int lang = 0; lang < 5; ++lang) {
            g_language = u8(lang);
            for (int code : {3, 4, 5}) {
                bool fits = false;
                QTimer::singleShot(0, [&] {
                    QLabel* l = g_tip->content()->findChild<QLabel*>();
                    fits = l && text_fits(l);
                    g_tip->hide();
                });
                g_tip->tip_create(code);
                g_tip_flag = 0;
                QVERIFY2(fits, qPrintable(QString("tip %1, language %2").arg(code).arg(lang)));
            }
        }
    }

    void gridLabelsAreWholeInEveryLanguage()
    {
        for (int s = 0; s < 3; ++s)
            ZevRamPara::user_mode[s][0] = ZevRamPara::user_mode[s][1] = 0xAA;
        ZevRamPara::put16(ZevRamPara::p_zevrampara_config, Img::kCurrentMode, 2);
        w->on_tools_clicked();
        for (int lang = 0; lang < 5; ++lang) {
            g_language = u8(lang);
            for (int tool = 0; tool < 2; ++tool) {
                tool ? w->on_toolButton4_clicked() : w->on_toolButton3_clicked();
                int shown = 0;
                for (QLabel* l : w->mode_grid()->findChildren<QLabel*>()) {
                    if (l->isHidden() || l->text().isEmpty())
                        continue;
                    ++shown;
                    QVERIFY2(text_fits(l), qPrintable(QString("language %1").arg(lang)));
                }
                // The title, 16 numbers and the in-use label.
                QCOMPARE(shown, 18);
            }
        }
        w->on_tools_clicked();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

QTEST_MAIN(TestPanelLook)
#include "test_panellook.moc"
