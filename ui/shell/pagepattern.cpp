#include "ui/shell/pagepattern.h"

#include <QCoreApplication>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>

#include "core/logging.h"
#include "core/zevrampara.h"
#include "ui/shell/pages.h"
#include "ui/shell/panellook.h"
#include "video/c331_manage.h"

static void register_icons()
{
    Q_INIT_RESOURCE(zevicons);
}

void shell_resources_init()
{
    panel_look_init();
    static bool done = false;
    if (!done) {
        register_icons();
        done = true;
    }
}

namespace
{
PageView* g_registry[PageId::Count] = {};
PageRegistry::Factory g_user_mode_factory = nullptr;
} // namespace

PanelKey panel_key(int code)
{
    switch (code) {
    case 83:
    case Qt::Key_F4:
        return PanelKey::Left;
    case 82:
    case Qt::Key_F5:
        return PanelKey::Right;
    case 81:
    case Qt::Key_F6:
        return PanelKey::Ok;
    case 77:
    case Qt::Key_Stop:
        return PanelKey::Mode;
    case 79:
    case Qt::Key_PowerOff:
        return PanelKey::Back;
    default:
        return PanelKey::None;
    }
}

PageView* PageRegistry::at(u8 id)
{
    return id < PageId::Count ? g_registry[id] : nullptr;
}

void PageRegistry::set(u8 id, PageView* page)
{
    if (id < PageId::Count)
        g_registry[id] = page;
}

void PageRegistry::set_user_mode_factory(Factory factory)
{
    g_user_mode_factory = factory;
}

bool PageRegistry::open_user_mode_page()
{
    if (!g_user_mode_factory)
        return false;
    PageView* page = g_user_mode_factory();
    if (!page)
        return false;
    set(PageId::CustomMode, page);
    g_page_focus = PageId::CustomMode;
    if (QWidget* w = dynamic_cast<QWidget*>(page))
        w->show();
    return true;
}

int ui_language()
{
    u8 lang = g_language;
    u32 valid = g_lcd_lang_valid;
    if ((lang == 0 || lang == 2 || lang == 3 || lang == 4) && (valid & (1u << lang)))
        return lang;
    return 1;
}

QString page_text(const PageText& text)
{
    return shown_text(QString::fromUtf8(text.lang[ui_language()]));
}

QString lang_icon(const char* name)
{
    static const char* const kPrefix[5] = {"", "en_", "ru_", "vn_", "tn_"};
    return QString(":/png/") + kPrefix[ui_language()] + name;
}

namespace
{
// Decoded pictures by path; emptied before the application goes, while
// pictures can still be freed.
QHash<QString, QPixmap>* g_pixmaps = nullptr;
QHash<QString, QIcon>* g_icons = nullptr;

void drop_pictures()
{
    delete g_pixmaps;
    g_pixmaps = nullptr;
    delete g_icons;
    g_icons = nullptr;
}

template <typename T> T cached_picture(QHash<QString, T>*& cache, const QString& path)
{
    if (!g_pixmaps && !g_icons)
        qAddPostRoutine(drop_pictures);
    if (!cache)
        cache = new QHash<QString, T>;
    auto it = cache->find(path);
    if (it == cache->end())
        it = cache->insert(path, T(path));
    return *it;
}
} // namespace

QPixmap panel_pixmap(const QString& path)
{
    return cached_picture(g_pixmaps, path);
}

QIcon panel_icon(const QString& path)
{
    return cached_picture(g_icons, path);
}

bool key_locked()
{
    return ZevRamPara::locked16(Img::kKeyLock) != 0;
}

bool apply_pending()
{
    return c331_manage::para_update_flag != 0;
}

ZevPage::ZevPage(QWidget* parent, u8 pageId, u8 parentId)
    : QDialog(parent, Qt::WindowFlags()),
      style_normal("color:rgb(255,255,255);\nbackground-color: rgb(33, 36, 53);\nborder:1px solid rgb(255, 255, 255);"),
      style_focused("color:rgb(255,255,255);\nbackground-color: rgb(33, 36, 53);\nborder:1px solid rgb(255,171,84);"),
      style_edit("color:rgb(255,255,255);\nbackground-color: rgb(33, 36, 53);\nborder:1px solid rgb(255,0,0);"),
      page_id_(pageId), parent_id_(parentId)
{
    shell_resources_init();
}

ZevPage::~ZevPage()
{
    // The keypad's line edit must not outlive the page that holds it.
    // Compared by address only: the pointer may name a widget already gone.
    if (g_lineedit && findChildren<QLineEdit*>().contains(g_lineedit))
        g_lineedit = nullptr;
    // A newer page of the same kind may already hold the pointer.
    if (PageRegistry::at(page_id_) == static_cast<PageView*>(this))
        PageRegistry::set(page_id_, nullptr);
}

void ZevPage::syncUpdate(int)
{
    syncUpdate();
}

void ZevPage::syncUpdate()
{
    if (ZevRamPara::ZevLanguageChanged() == 1)
        language_changed();
}

void ZevPage::menulist_init()
{
    ui_select = 0;
    edit_flag = 0;
    for (size_t i = 0; i < menu_list.size(); ++i)
        set_row_style(int(i), i == 0);
    focus_widget = menu_list.empty() ? nullptr : menu_list[0];
}

void ZevPage::reject()
{
    if (closing_)
        QDialog::reject();
}

void ZevPage::slot_Button_back_clicked()
{
    back_to(parent_id_);
}

void ZevPage::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F6)
        qCDebug(lcUi, "this is OK button(%s)[Press]\n", trace_name());
    else if (event->key() == Qt::Key_PowerOff)
        qCDebug(lcUi, "this is back button(%s)[Press]\n", trace_name());
}

void ZevPage::keyReleaseEvent(QKeyEvent* event)
{
    int key = event->key();
    switch (panel_key(key)) {
    case PanelKey::Left:
        qCDebug(lcUi, "this is left-code [%s][Release] ui_select=%#x", trace_name(), ui_select);
        key_left();
        break;
    case PanelKey::Right:
        qCDebug(lcUi, "this is right-code [%s][Release] ui_select=%#x", trace_name(), ui_select);
        key_right();
        break;
    case PanelKey::Ok:
        qCDebug(lcUi, "this is OK button(%s)[Release]\n", trace_name());
        key_ok();
        break;
    case PanelKey::Mode:
        qCDebug(lcUi, "this is mode-code [%s][Release]", trace_name());
        if (!mode_jump())
            return;
        break;
    case PanelKey::Back:
        qCDebug(lcUi, "this is back button(%s)[Release]\n", trace_name());
        key_back();
        break;
    case PanelKey::None:
        key_other(key);
        break;
    }
    // The page is deleted only after this event, so the hand-off still runs.
    keyboard.update_usb_keyEvent(key);
}

void ZevPage::key_left()
{
    if (edit_flag)
        edit_step(-1);
    else
        move_focus(-1);
}

void ZevPage::key_right()
{
    if (edit_flag)
        edit_step(1);
    else
        move_focus(1);
}

void ZevPage::key_ok()
{
    if (edit_flag)
        edit_accept();
    else if (value_edit(ui_select))
        edit_begin();
    else
        on_row_ok(ui_select);
}

void ZevPage::key_back()
{
    if (edit_flag)
        edit_cancel();
    else
        slot_Button_back_clicked();
}

void ZevPage::value_range(int, int* min, int* max)
{
    *min = 0;
    *max = 100;
}

QString ZevPage::row_style(int, bool focused) const
{
    return focused ? style_focused : style_normal;
}

void ZevPage::set_row_style(int row, bool focused)
{
    if (row >= 0 && row < int(menu_list.size()) && menu_list[size_t(row)])
        menu_list[size_t(row)]->setStyleSheet(row_style(row, focused));
}

void ZevPage::move_focus(int step)
{
    int n = int(menu_list.size());
    if (n == 0)
        return;
    set_row_style(ui_select, false);
    ui_select = u8(((ui_select + step) % n + n) % n);
    focus_widget = menu_list[ui_select];
    set_row_style(ui_select, true);
}

void ZevPage::edit_begin()
{
    QLineEdit* edit = value_edit(ui_select);
    if (!edit)
        return;
    edit_flag = 1;
    sel_value = sel_value_saved = edit->text().toInt();
    edit->setStyleSheet(style_edit);
}

void ZevPage::edit_step(int delta)
{
    QLineEdit* edit = value_edit(ui_select);
    // A step while the previous one is still being applied is dropped.
    if (!edit || apply_pending())
        return;
    int min = 0, max = 0;
    value_range(ui_select, &min, &max);
    int v = sel_value + delta;
    sel_value = v < min ? min : v > max ? max : v;
    apply_value(ui_select, sel_value);
    edit->setText(QString::number(sel_value));
}

void ZevPage::edit_accept()
{
    edit_flag = 0;
    sel_value_saved = sel_value;
    apply_value(ui_select, sel_value);
    if (QLineEdit* edit = value_edit(ui_select))
        edit->setStyleSheet(style_focused);
}

void ZevPage::edit_cancel()
{
    edit_flag = 0;
    sel_value = sel_value_saved;
    apply_value(ui_select, sel_value);
    if (QLineEdit* edit = value_edit(ui_select)) {
        edit->setText(QString::number(sel_value));
        edit->setStyleSheet(style_focused);
    }
}

void ZevPage::close_page()
{
    closing_ = true;
    setAttribute(Qt::WA_DeleteOnClose, true);
    close();
    if (PageRegistry::at(page_id_) == static_cast<PageView*>(this))
        PageRegistry::set(page_id_, nullptr);
}

void ZevPage::back_to(u8 parentId)
{
    close_page();
    if (PageView* parent = PageRegistry::at(parentId))
        parent->language_changed();
    g_page_focus = parentId;
}

std::vector<u8> ZevPage::mode_close_chain() const
{
    std::vector<u8> chain;
    u8 id = parent_id_;
    while (chain.size() < PageId::Count) {
        auto* page = dynamic_cast<ZevPage*>(PageRegistry::at(id));
        if (!page)
            break;
        chain.push_back(id);
        id = page->parent_id();
    }
    return chain;
}

void ZevPage::close_page_id(u8 id)
{
    PageView* view = PageRegistry::at(id);
    if (auto* page = dynamic_cast<ZevPage*>(view)) {
        page->close_page();
    } else if (auto* widget = dynamic_cast<QWidget*>(view)) {
        widget->setAttribute(Qt::WA_DeleteOnClose, true);
        widget->close();
        PageRegistry::set(id, nullptr);
    }
}

bool ZevPage::mode_jump()
{
    if (key_locked())
        return false;
    if (!PageRegistry::user_mode_available())
        return true;
    std::vector<u8> chain = mode_close_chain();
    close_page();
    for (u8 id : chain)
        close_page_id(id);
    g_mode_shortcut_key = 1;
    PageRegistry::open_user_mode_page();
    return true;
}

void ZevPage::set_key_hints(QLabel* ok, QLabel* back)
{
    if (ok)
        ok->setPixmap(QPixmap(":/png/OK_Enter.png"));
    if (back)
        back->setPixmap(QPixmap(":/png/back_return.png"));
}

const char* ZevPage::trace_name() const
{
    return metaObject()->className();
}

bool PageRegistry::user_mode_available()
{
    return g_user_mode_factory != nullptr;
}
