// The panel on the VNC screen: keys reach the page that has them as the
// panel's own keyboard gives them; a touch clicks what lies under it, where
// the screen shows it, and nothing under a modal window.
#include <QtTest>

#include <QDialog>
#include <QPushButton>

#include "core/global.h"
#include "support/net_helpers.h"
#include "support/vnc_viewer.h"
#include "ui/shell/pages.h"
#include "ui/shell/panel_screen.h"
#include "ui/shell/vnc_panel.h"

namespace
{
class Swatch : public QWidget, public PageView
{
  public:
    Swatch(QColor colour, QRect at)
    {
        setWindowFlags(Qt::FramelessWindowHint);
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, colour);
        setPalette(p);
        setGeometry(at);
    }
    void language_changed() override {}
    void syncUpdate(int) override {}
    QList<int> pressed, released;

  protected:
    void keyPressEvent(QKeyEvent* e) override { pressed << e->key(); }
    void keyReleaseEvent(QKeyEvent* e) override { released << e->key(); }
};

class Modal : public QDialog
{
  public:
    Modal()
    {
        setWindowFlags(Qt::FramelessWindowHint);
        setGeometry(200, 0, 100, 60);
        setModal(true);
    }
    int keys = 0;

  protected:
    void keyReleaseEvent(QKeyEvent*) override { ++keys; }
};

const QRect kScreen(0, 0, PanelScreen::kWidth, PanelScreen::kHeight);
const QRgb kRed = qRgb(200, 0, 0);

// Runs the event loop until done() or about 5 s have passed.
template <typename F> bool until(F done)
{
    for (int i = 0; i < 500 && !done(); ++i)
        QTest::qWait(10);
    return done();
}
} // namespace

class TestVncPanel : public QObject
{
    Q_OBJECT
    VncPanel* panel = nullptr;
    RawViewer viewer;

  private slots:
    void initTestCase()
    {
        auto* screen = new PanelScreen(qApp);
        panel = new VncPanel(*screen, screen);
        QCOMPARE(panel->listen("127.0.0.1", 0), std::string());
        QVERIFY(viewer.connect("127.0.0.1", panel->port()));
        QVERIFY(viewer.setEncodings({0}) && viewer.request(false));
    }

    void keysReachThePageThatHasThem_data()
    {
        QTest::addColumn<uint>("keysym");
        QTest::addColumn<int>("key");
        QTest::newRow("letter") << 0x71u << int(Qt::Key_Q);
        QTest::newRow("capital") << 0x53u << int(Qt::Key_S);
        QTest::newRow("F4") << 0xFFC1u << int(Qt::Key_F4);
        QTest::newRow("F6") << 0xFFC3u << int(Qt::Key_F6);
        QTest::newRow("Stop") << 0x1008FF28u << int(Qt::Key_Stop);
        QTest::newRow("PowerOff") << 0x1008FF2Au << int(Qt::Key_PowerOff);
        QTest::newRow("shift alone") << 0xFFE1u << 0;
    }
    void keysReachThePageThatHasThem()
    {
        QFETCH(uint, keysym);
        QFETCH(int, key);
        Swatch page(kRed, kScreen);
        PageRegistry::set(PageId::Option, &page);
        g_page_focus = PageId::Option;
        // A key after it shows where the first one went.
        QVERIFY(viewer.key(keysym) && viewer.key(0x6D));
        const bool done = until([&] { return page.released.contains(Qt::Key_M); });
        PageRegistry::set(PageId::Option, nullptr);
        QVERIFY(done);
        const QList<int> want = key ? QList<int>{key, Qt::Key_M} : QList<int>{Qt::Key_M};
        QCOMPARE(page.pressed, want);
        QCOMPARE(page.released, want);
    }

    void aTouchClicksWhatLiesUnderIt()
    {
        Swatch window(kRed, kScreen);
        QPushButton button(&window);
        button.setGeometry(100, 100, 80, 40);
        int clicks = 0;
        connect(&button, &QPushButton::clicked, [&clicks] { ++clicks; });
        window.show();
        QVERIFY(viewer.pointer(1, 120, 120) && viewer.pointer(1, 125, 118) && viewer.pointer(0, 125, 118));
        QVERIFY(until([&] { return clicks == 1; }));

        // Under a modal window a touch is lost; the key after it, which
        // the modal window takes, tells when it would have come.
        Modal modal;
        modal.show();
        QVERIFY(viewer.pointer(1, 120, 120) && viewer.pointer(0, 120, 120) && viewer.key(0x6D));
        QVERIFY(until([&] { return modal.keys == 1; }));
        QCOMPARE(clicks, 1);
        modal.hide();
        QVERIFY(viewer.pointer(1, 120, 120) && viewer.pointer(0, 120, 120));
        QVERIFY(until([&] { return clicks == 2; }));
    }
};

int main(int argc, char** argv)
{
    // Before any thread exists; the host's loopback serves as well.
    own_network();
    QApplication app(argc, argv);
    TestVncPanel t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_vnc_panel.moc"
