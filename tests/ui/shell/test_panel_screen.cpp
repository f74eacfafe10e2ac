// The board's 320 x 240 screen where Qt's platform has none to show: a
// window's contents lie where Qt puts them on the board's framebuffer
// screen, which draws no frames (a dialog: centred less QDialog's room for a
// title bar, at each show), or where the code put them; the window shown or
// raised last is on top; the PC's screen capture is that screen's picture.
#include <QtTest>

#include <QDialog>

#include "ui/shell/panel_gui.h"
#include "ui/shell/panel_screen.h"

namespace
{
template <typename Base> class Coloured : public Base
{
  public:
    explicit Coloured(QRgb colour, QWidget* parent = nullptr) : Base(parent)
    {
        this->setAutoFillBackground(true);
        QPalette p = this->palette();
        p.setColor(QPalette::Window, QColor(colour));
        this->setPalette(p);
    }
};

// Without a frame, placed by the code.
class Swatch : public Coloured<QWidget>
{
  public:
    Swatch(QRgb colour, QRect at) : Coloured<QWidget>(colour)
    {
        setWindowFlags(Qt::FramelessWindowHint);
        setGeometry(at);
    }
};

const QRect kScreen(0, 0, PanelScreen::kWidth, PanelScreen::kHeight);
const QRgb kRed = qRgb(200, 0, 0), kBlue = qRgb(0, 0, 200), kGreen = qRgb(0, 200, 0), kBlack = qRgb(0, 0, 0);
const QPoint kNowhere(-1, -1);

// Runs the event loop until done() or about 5 s have passed.
template <typename F> bool until(F done)
{
    for (int i = 0; i < 500 && !done(); ++i)
        QTest::qWait(10);
    return done();
}

bool shows(QPoint at, QRgb colour)
{
    return until([&] { return PanelScreen::installed()->picture().pixel(at) == colour; });
}
} // namespace

class TestPanelScreen : public QObject
{
    Q_OBJECT

  private slots:
    void windowsLieWhereTheBoardPutsThem_data()
    {
        QTest::addColumn<bool>("dialog");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRect>("parent");
        QTest::addColumn<QPoint>("moved");
        QTest::addColumn<QPoint>("at");
        QTest::newRow("window") << false << QSize(320, 240) << QRect() << kNowhere << QPoint(0, 0);
        QTest::newRow("page") << true << QSize(320, 240) << QRect() << kNowhere << QPoint(0, 0);
        QTest::newRow("small") << true << QSize(200, 100) << QRect() << kNowhere << QPoint(50, 30);
        QTest::newRow("larger than the screen") << true << QSize(400, 300) << QRect() << kNowhere << QPoint(0, 0);
        QTest::newRow("moved by the code") << true << QSize(200, 100) << QRect() << QPoint(10, 20) << QPoint(10, 20);
        QTest::newRow("over its parent") << true << QSize(200, 100) << kScreen << kNowhere << QPoint(50, 30);
        QTest::newRow("over a parent in a corner")
            << true << QSize(200, 100) << QRect(200, 150, 100, 80) << kNowhere << QPoint(110, 100);
    }
    void windowsLieWhereTheBoardPutsThem()
    {
        QFETCH(bool, dialog);
        QFETCH(QSize, size);
        QFETCH(QRect, parent);
        QFETCH(QPoint, moved);
        QFETCH(QPoint, at);
        Swatch owner(kGreen, parent);
        if (!parent.isNull())
            owner.show();
        // Made with a title bar, which the board does not draw.
        std::unique_ptr<QWidget> window;
        if (dialog)
            window = std::make_unique<Coloured<QDialog>>(kBlue, parent.isNull() ? nullptr : &owner);
        else
            window = std::make_unique<Coloured<QWidget>>(kBlue);
        window->resize(size);
        if (moved != kNowhere)
            window->move(moved);
        window->show();
        QCOMPARE(window->geometry().topLeft(), at);
        QVERIFY(shows(at, kBlue));
    }

    void aDialogIsPlacedAgainAtEachShow()
    {
        QDialog dialog;
        dialog.resize(200, 100);
        dialog.show();
        QCOMPARE(dialog.geometry().topLeft(), QPoint(50, 30));
        dialog.hide();
        dialog.resize(100, 50);
        dialog.show();
        QCOMPARE(dialog.geometry().topLeft(), QPoint(100, 55));
        dialog.hide();
        dialog.move(5, 5);
        dialog.show();
        dialog.hide();
        dialog.show();
        QCOMPARE(dialog.geometry().topLeft(), QPoint(5, 5));
    }

    void theWindowShownOrRaisedLastIsOnTop()
    {
        Swatch red(kRed, kScreen), blue(kBlue, QRect(0, 0, 160, 120));
        red.show();
        QVERIFY(shows({50, 50}, kRed));
        blue.show();
        QVERIFY(shows({50, 50}, kBlue));
        QVERIFY(shows({200, 200}, kRed));
        blue.move(160, 120);
        QVERIFY(shows({200, 200}, kBlue));
        QVERIFY(shows({50, 50}, kRed));
        red.raise();
        QVERIFY(shows({200, 200}, kRed));
        blue.hide();
        red.hide();
        QVERIFY(shows({200, 200}, kBlack));
    }

    void theCaptureIsTheScreen_data()
    {
        QTest::addColumn<bool>("redFirst");
        QTest::addColumn<bool>("redShownLast");
        QTest::newRow("made red, blue; shown red, blue") << true << false;
        QTest::newRow("made red, blue; shown blue, red") << true << true;
        QTest::newRow("made blue, red; shown red, blue") << false << false;
        QTest::newRow("made blue, red; shown blue, red") << false << true;
    }
    void theCaptureIsTheScreen()
    {
        QFETCH(bool, redFirst);
        QFETCH(bool, redShownLast);
        const QRect middle(80, 60, 160, 120);
        std::unique_ptr<Swatch> red, blue;
        if (!redFirst)
            blue = std::make_unique<Swatch>(kBlue, middle);
        red = std::make_unique<Swatch>(kRed, kScreen);
        if (redFirst)
            blue = std::make_unique<Swatch>(kBlue, middle);
        (redShownLast ? blue : red)->show();
        (redShownLast ? red : blue)->show();
        QVERIFY(shows({160, 120}, redShownLast ? kRed : kBlue));

        QTemporaryDir dir;
        const QString path = dir.filePath("capture.png");
        PanelGui gui;
        QVERIFY(gui.grab_screen(path));
        const QImage capture(path);
        QCOMPARE(capture.size(), kScreen.size());
        QCOMPARE(capture.convertToFormat(QImage::Format_RGB32), PanelScreen::installed()->picture());
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    PanelScreen screen;
    TestPanelScreen t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_panel_screen.moc"
