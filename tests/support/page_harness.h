// The page tests' harness: the world a page lives in (a simulated board with
// factory settings, the main window where the pages return to it), the
// panel's keys, and every front-panel page in the five languages in the
// states worth looking at, for the page-text test and the renderer.
#pragma once

#include <functional>
#include <initializer_list>

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <QtTest>

#include "core/global.h"
#include "core/zevrampara.h"
#include "sim_fixture.h"
#include "ui/shell/pagepattern.h"

class MainWindow;

// One test program's world, made before its first case and gone after its
// last: a simulated board on a fresh data root with the settings and the
// parameter image loaded and, where the pages return to it, the main window.
class PageHarness
{
  public:
    PageHarness();
    ~PageHarness();
    PageHarness(const PageHarness&) = delete;
    PageHarness& operator=(const PageHarness&) = delete;

    SimFixture& sim() { return sim_; }
    // The main window (g_mainwindow), made on the first call.
    MainWindow* main_window();

    // Before a case: English among the factory languages, no change waiting
    // for the video processor, the key lock off.
    static void reset();

  private:
    SimFixture sim_;
    MainWindow* main_ = nullptr;
};

// The parameter image the pages show and edit.
u8* img();
// Window i's enable, source and flags words.
void put_window(int i, u16 enable, u16 source, u16 flags = 0);
// The timing a source reports (0 0 0: no signal).
void put_timing(int source, u16 w, u16 h, u16 rate);

// The panel's keys by their letter codes, as the pages take them on release.
enum PanelCode : int { kLeft = 'S', kRight = 'R', kOk = 'Q', kBack = 'O', kMode = 'M' };

inline void release_key(QWidget* w, int key)
{
    QKeyEvent e(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// Key releases in a row.
inline void release_keys(QWidget* w, std::initializer_list<int> keys)
{
    for (int key : keys)
        release_key(w, key);
}

// The texts of the labels inside w, in the order they were made.
QStringList label_texts(QWidget* w);

// Opens a page as its opener does: made without a parent, its pointer set.
template <class T, u8 Id> T* open_page(PagePointer<T, Id>& pointer)
{
    T* page = new T(nullptr);
    pointer = page;
    return page;
}

// Back on a page opened over the page that opens it gives the keys to that
// page; with that page closed, to the page's own parent.
template <class T, u8 Id, class Opener, u8 OpenerId>
void check_back_to_opener(PagePointer<T, Id>& page, PagePointer<Opener, OpenerId>& opener, u8 parentId)
{
    Opener* open = open_page(opener);
    release_key(open_page(page), kBack);
    QCOMPARE(g_page_focus.load(), OpenerId);
    QVERIFY(page == nullptr);
    opener = nullptr;
    delete open;
    release_key(open_page(page), kBack);
    QCOMPARE(g_page_focus.load(), parentId);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A page that does nothing, standing in for one a test does not look at
// (the user-mode page, the home page).
class StubPage : public QWidget, public PageView
{
  public:
    void language_changed() override {}
    void syncUpdate(int) override {}
};
PageView* make_stub_page();

// Short names of the five languages, by language number.
extern const char* const kPageLanguages[5];

// Called with the settled page, the scene's name ("imagelayout_crop") and
// the language.
using PageVisit = std::function<void(QWidget* page, const QString& scene, int lang)>;

// Builds every scene in each language and hands it to visit; returns the
// number of scenes that could not be set up. The caller makes the
// QApplication and the harness first.
int walk_pages(const PageVisit& visit);
