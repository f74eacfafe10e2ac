// The one pattern every front-panel page follows (menu, picture, settings and
// maintenance pages alike). How to build a page on it:
//
//   class Option : public ZevPage {
//       Q_OBJECT
//   public:
//       explicit Option(QWidget* parent)
//           : ZevPage(parent, PageId::Option, PageId::MainWindow), ui(new Ui_Option)
//       {
//           ui->setupUi(this);          // form in resources/option.ui
//           set_key_hints(ui->label_note_OK, ui->label_note_back);
//           menulist_init();
//           language_changed();
//       }
//       ~Option() override { delete ui; }
//       void menulist_init() override
//       {
//           menu_list = {ui->input_cut, ui->image_layout};
//           ZevPage::menulist_init();
//       }
//       void language_changed() override { ui->label_title->setText(page_text(kTexts[0])); }
//   protected:
//       void on_row_ok(int row) override { if (row == 0) open_page(g_inputcut); }
//   private:
//       Ui_Option* ui;
//   };
//
// The menus of tiles build on MenuTilePage (menu_tiles.h), which keeps
// each tile's opener and the look of a tile that cannot be opened now.
//
// What the base does for every page:
// - Keys act on release (keyReleaseEvent); each navigation key has a letter
//   code (USB keypad) and a function-key code; every handled key ends in the
//   keypad hand-off (zev_keyboard::update_usb_keyEvent), except MODE refused
//   by the key lock. Presses only trace.
// - Focus is a style sheet swapped by the page (row_style); no widget takes
//   Qt focus.
// - Left/right walk menu_list with wrap-around; OK on a value row (one whose
//   value_edit() is a line edit) enters edit mode, elsewhere on_row_ok runs.
// - Edit mode: left/right step sel_value within value_range() and apply it at
//   once, dropped while the previous apply is pending; OK keeps the value,
//   Back restores and re-applies the value from before the edit. OK and Back
//   always take effect.
// - Back closes the page (delete on close), clears its pointer, refreshes the
//   parent's texts and gives the keys to the parent, in one go on the GUI
//   thread. Escape and other ways around the pattern never close a page.
// - MODE closes this page and the open menu pages below it and opens the
//   user-mode page.
// - Texts: one table per page, one row per text with the five languages as
//   columns; page_text() picks the column by the language rule with the
//   English fall-back, lang_icon() the icon variant.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <vector>

#include <QDialog>
#include <QIcon>
#include <QPixmap>
#include <QString>

#include "core/global.h"
#include "ui/shell/zev_keyboard.h"

class QLabel;
class QLineEdit;
class QKeyEvent;

// Page ids held in g_page_focus.
namespace PageId
{
enum : u8 {
    LockWindow = 0,
    MainWindow = 1,
    MachineState = 2,
    InputChoose = 3,
    CustomMode = 4,
    Option = 5,
    OutputSet = 6,
    InputCut = 7,
    EDIDset = 8,
    ImageLayout = 9,
    LinkOption = 10,
    ImageQuality = 11,
    AdvancedOption = 12,
    ledset = 13,
    netset = 14,
    lcdshow = 15,
    test_chart = 16,
    othersetup = 17,
    factory = 18,
    quality = 19,
    temperature = 20,
    linkcom = 21,
    linkwlan = 22,
    factoryage = 23,
    SmartMapping = 24,
    rcv_recovery = 25,
    firmware_usbgrade = 26,
    Count = 27
};
}

// Navigation keys: each has a letter code and a function-key code.
enum class PanelKey { None, Left, Right, Ok, Mode, Back };
PanelKey panel_key(int code);

// What the shell asks of every page that can have the keys.
class PageView
{
  public:
    virtual ~PageView() = default;
    // Sets every text and icon for the current language.
    virtual void language_changed() = 0;
    // The refresh SyncUpdate::para_sync calls while the page has the keys.
    virtual void syncUpdate(int code) = 0;
};

// The live page of each id. Written only through the page pointers below and
// the pattern, all on the GUI thread.
class PageRegistry
{
  public:
    static PageView* at(u8 id);
    static void set(u8 id, PageView* page);

    // The user-mode page lives with the picture screens; they install how to
    // create it. Until then MODE and the main window's user-mode button do
    // nothing.
    using Factory = PageView* (*)();
    static void set_user_mode_factory(Factory factory);
    static bool user_mode_available();
    // Creates the user-mode page into g_custommode, gives it the keys (id 4)
    // and shows it. False when no user-mode page can be made.
    static bool open_user_mode_page();
};

// A page's global pointer (g_option, g_quality ...): reads and writes the
// registry slot of its id, so the pointer and what para_sync dispatches to
// can never disagree. Used like a plain T*.
template <class T, u8 Id> class PagePointer
{
  public:
    PagePointer() = default;
    PagePointer(const PagePointer&) = delete;
    PagePointer& operator=(T* page)
    {
        PageRegistry::set(Id, page);
        return *this;
    }
    PagePointer& operator=(std::nullptr_t)
    {
        PageRegistry::set(Id, nullptr);
        return *this;
    }
    T* get() const { return static_cast<T*>(PageRegistry::at(Id)); }
    operator T*() const { return get(); }
    T* operator->() const { return get(); }
    explicit operator bool() const { return PageRegistry::at(Id) != nullptr; }
    bool operator==(std::nullptr_t) const { return PageRegistry::at(Id) == nullptr; }
    bool operator!=(std::nullptr_t) const { return PageRegistry::at(Id) != nullptr; }
    static constexpr u8 id = Id;
};

// One text of a page in the five languages: zh, en, ru, vn, tw.
struct PageText {
    const char* lang[5];
};

// Index of the text set to show: the language when its bit in
// g_lcd_lang_valid is set, else 1 (English, which needs no bit).
int ui_language();
QString page_text(const PageText& text);
// ":/png/" with the language prefix ("", "en_", "ru_", "vn_", "tn_") and name.
QString lang_icon(const char* name);
// The picture and the icon of a compiled-in image file, each decoded once:
// pages built again and again (the home page, the main window's language
// refresh) take them from here instead of reading the PNG every time.
QPixmap panel_pixmap(const QString& path);
QIcon panel_icon(const QString& path);

// Registers the compiled-in page icons (":/png/...") and sets the panel
// font (panellook.h); safe to call often.
void shell_resources_init();

// The key-lock word of the image: MODE and the hot keys are refused while set.
bool key_locked();
// True while the video processor has not yet taken the previous change.
bool apply_pending();

class ZevPage : public QDialog, public PageView
{
    Q_OBJECT
  public:
    ZevPage(QWidget* parent, u8 pageId, u8 parentId);
    ~ZevPage() override;

    u8 page_id() const { return page_id_; }
    u8 parent_id() const { return parent_id_; }

    // Refresh: pages that need the code override syncUpdate(int); menu
    // pages keep the default, which re-applies the texts after a language
    // change.
    void syncUpdate(int code) override;
    virtual void syncUpdate();
    virtual void para_init() {}
    // Pages fill menu_list first, then call this: row 0 focused, no edit.
    virtual void menulist_init();

    // Only the pattern closes a page: Escape and close events from outside
    // are refused.
    void reject() override;

  public slots:
    virtual void slot_Button_back_clicked();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

    // Key actions, overridable per page; the defaults are the pattern's.
    virtual void key_left();
    virtual void key_right();
    virtual void key_ok();
    virtual void key_back();
    // Codes that are no navigation key; the hand-off follows anyway.
    virtual void key_other(int) {}
    // OK on a row that is no value row (open a child, run an action).
    virtual void on_row_ok(int) {}

    // Value rows: the line edit that shows the row's value, or null.
    virtual QLineEdit* value_edit(int) { return nullptr; }
    virtual void value_range(int row, int* min, int* max);
    // Writes the value of the row into the image and asks for the apply
    // (typically with c331_apply).
    virtual void apply_value(int, int) {}

    // Style of a row widget: focused or not (pages with unavailable rows
    // override to grey them).
    virtual QString row_style(int row, bool focused) const;
    void move_focus(int step);
    void set_row_style(int row, bool focused);

    // Edit mode.
    void edit_begin();
    void edit_step(int delta);
    void edit_accept();
    void edit_cancel();

    // Opens a child page modally over this one.
    template <class T, u8 Id> void open_page(PagePointer<T, Id>& pointer)
    {
        T* page = new T(nullptr);
        pointer = page;
        g_page_focus = Id;
        page->exec();
    }
    // Closes this page (delete on close) and clears its pointer.
    void close_page();
    // Back: close, refresh the parent's texts, give it the keys.
    void back_to(u8 parentId);
    // MODE: false when refused by the key lock (then no hand-off).
    bool mode_jump();
    // Pages closed after this one by MODE, nearest first; the default is
    // the chain of open pages through which this page was reached.
    virtual std::vector<u8> mode_close_chain() const;
    // Closes the open page of an id the pattern's way.
    static void close_page_id(u8 id);

    // The key-hint labels at the bottom of the page.
    void set_key_hints(QLabel* ok, QLabel* back);
    // Name written into the key traces (the class name by default).
    virtual const char* trace_name() const;

    u8 ui_select = 0;
    u8 edit_flag = 0;
    int sel_value = 0;
    int sel_value_saved = 0;
    QWidget* focus_widget = nullptr;
    QString style_normal;
    QString style_focused;
    QString style_edit;
    std::vector<QWidget*> menu_list;
    zev_keyboard keyboard;

  private:
    bool closing_ = false;
    u8 page_id_;
    u8 parent_id_;
};
