#include "ui/shell/lockwindow.h"

#include <cstdio>
#include <optional>

#include <QCoreApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QPushButton>

#include "core/alias.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/pages.h"
#include "ui/shell/panellook.h"
#include "ui/shell/sourceinfo.h"
#include "ui/shell/textfit.h"
#include "ui/shell/window_show.h"
#include "ui_lockwindow.h"
#include "core/logging.h"

namespace
{
const PageText kLedSize = {{"LED屏:%d x %d", "LED size:%d x %d", "Размер LED:%d x %d", "Led:%d x %d", "LED屏:%d x %d"}};
const PageText kNoSignal = {{"无信号", "No signal", "Нет сигнала", "Không có tín hiệu", "無信號"}};
const PageText kBlack = {{"黑屏", "Black", "Черный", "Quay lại", "黑屏"}};
const PageText kClose = {{"未开启", "Close", "Откл", "Đóng", "未開啟"}};
// The page and its tiles are coloured by palettes, not style sheets: the
// tiles move from one home page to the next, and a widget under a style
// sheet is styled anew, at length, each time it changes parents.
const QColor kPageBackground(16, 16, 28);
const QColor kNumberBackground[6] = {0x867AE9, 0xEBA83A, 0x005A8D, 0xFF96AD, 0x39A9CB, 0xFC5404};
constexpr int kNumberPixels = 20;

void set_colour(QWidget* w, QPalette::ColorRole role, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(role, colour);
    w->setPalette(p);
}

const u8* img()
{
    return ZevRamPara::p_zevrampara_config;
}

// The caller holds an ImageReadLock.
int audio_word_offset()
{
    int index = img()[Img::kAudioLayer];
    return ZevRamPara::layerOffset(index > 5 ? 0 : index) + Img::kLayerAudio;
}

QLabel* add_icon(QWidget* parent, const QRect& rect, const char* path)
{
    QLabel* icon = new QLabel(parent);
    icon->setGeometry(rect);
    icon->setPixmap(panel_pixmap(path));
    icon->setScaledContents(true);
    icon->show();
    return icon;
}

// Adds the icon when wanted and it is missing, removes it when unwanted.
void set_icon(QLabel*& icon, bool wanted, QWidget* parent, const QRect& rect, const char* path)
{
    if (wanted && !icon) {
        icon = add_icon(parent, rect, path);
    } else if (!wanted && icon) {
        delete icon;
        icon = nullptr;
    }
}

// What the six tiles show now: the windows' sources, timings, black and
// freeze, and the window the keypad addresses, in the current language.
LockWindow::TileLooks tile_looks()
{
    LockWindow::TileLooks looks;
    ImageReadLock lock;
    const u16 blackout = ZevRamPara::img16(Img::kBlackout);
    // The alias file is read once for the six windows, and only when one
    // shows a source of its own.
    std::optional<AliasNames> aliases;
    for (int i = 0; i < 6; ++i) {
        LockWindow::TileLook& t = looks[size_t(i)];
        const int layer = ZevRamPara::layerOffset(i);
        t.current = i == g_image_current;
        t.enabled = i == 0 || ZevRamPara::img16(layer + Img::kLayerEnable) == 1;
        if (!t.enabled) {
            t.state = page_text(kClose);
            continue;
        }
        short isCrop = 0;
        char cropIndex = 0;
        const u8 s = ZevRamPara::ZevGetImageSource(img(), u8(i), &isCrop, &cropIndex, 0);
        const QString name = sourceinfo::get_source_name_by_sourceid(s);
        const int at = Img::kSourceTiming + 6 * (s < kSourceCount ? s : 0);
        int w = s < kSourceCount ? ZevRamPara::img16(at) : 0;
        int h = s < kSourceCount ? ZevRamPara::img16(at + 2) : 0;
        const int rate = s < kSourceCount ? ZevRamPara::img16(at + 4) : 0;
        if (!isCrop) {
            if (!aliases)
                aliases.emplace();
            ALIAS_PARA alias;
            t.name = aliases->get(&alias, "source", s) ? QString::fromStdString(alias.name) : name;
        } else {
            ZevRamPara::ZevCropSourceInit();
            const int n = ZevRamPara::ZevGetSourceNum(s, u8(cropIndex) + 1);
            CROP_PARA crop;
            int entry = Img::kCropCount;
            if (s < kSourceCount)
                ZevRamPara::ZevGetCropPara(s, n, &crop, &entry);
            if (entry < Img::kCropCount) {
                t.name = name + QString::asprintf("_Crop%d", ((crop.id >> 8) & 0x7F) + 1);
                w = crop.width;
                h = crop.height;
            } else {
                // The crop is gone: the plain source name, and no input.
                t.name = name;
                w = h = 0;
            }
        }
        const u16 flags = ZevRamPara::img16(layer + Img::kLayerFlags);
        t.freeze = flags & 2;
        if (blackout == 1) {
            t.state = page_text(kBlack);
        } else {
            t.state =
                rate == 0 || w == 0 || h == 0 ? page_text(kNoSignal) : QString::asprintf("%dx%d@%dHz", w, h, rate);
            if (flags & 1)
                t.state = page_text(kBlack);
            t.freeze = t.freeze || blackout == 2;
        }
    }
    return looks;
}

// The widgets of the home page closed last, under one body, with its
// layout object and what its tiles show: the next home page takes them and
// redraws only what differs (nothing, when neither the language nor the
// values changed meanwhile), rather than build the form, the tiles and their
// pictures again.
struct ParkedPage {
    QWidget* body = nullptr;
    Ui_LockWindow* ui = nullptr;
    QFrame* frame = nullptr;
    LockWindow::Tiles tiles;
    LockWindow::TileLooks looks;
    QString title;
};
void drop_parked();

ParkedPage& parked()
{
    static ParkedPage p;
    static const bool dropped_at_exit = (qAddPostRoutine(drop_parked), true);
    (void)dropped_at_exit;
    return p;
}

void drop_parked()
{
    ParkedPage& p = parked();
    delete p.body;
    delete p.ui;
    p = ParkedPage();
}
} // namespace

LockWindow::LockWindow(QWidget* parent) : ZevPage(parent, PageId::LockWindow, PageId::MainWindow), ui(nullptr)
{
    set_colour(this, QPalette::Window, kPageBackground);
    set_colour(this, QPalette::WindowText, Qt::white);
    ParkedPage& p = parked();
    if (p.ui) {
        ui = p.ui;
        body = p.body;
        tile_frame = p.frame;
        tiles_ = p.tiles;
        shown_ = p.looks;
        setWindowTitle(p.title);
        resize(body->size());
        body->setParent(this);
        body->show();
        p = ParkedPage();
        connect(ui->main_Button, &QPushButton::clicked, this, &LockWindow::on_main_Button_clicked);
    } else {
        ui = new Ui_LockWindow;
        ui->setupUi(this);
        ui->main_Button->setIcon(panel_icon(":/png/menu_status.png"));
        ui->main_Button->setIconSize(QSize(20, 20));
        ui->main_Button->hide();
        const std::pair<QLabel*, const char*> icons[] = {{ui->label_ip, ":/png/ip.png"},
                                                         {ui->label_LED_icon, ":/png/LED.png"},
                                                         {ui->label_bright_icon, ":/png/bright.png"},
                                                         {ui->label_contrast_icon, ":/png/contrast.png"}};
        for (const auto& i : icons) {
            i.first->setPixmap(panel_pixmap(i.second));
            i.first->setScaledContents(true);
        }
        // One body holds the form, in its stacking order, and the tiles:
        // the one widget that moves to the next home page.
        body = new QWidget(this);
        body->setGeometry(rect());
        // Its own colours, the page's: it finds them unchanged on the next page.
        body->setPalette(palette());
        const QObjectList form = children();
        for (QObject* child : form)
            if (child != body && child->isWidgetType())
                static_cast<QWidget*>(child)->setParent(body);
        ui->label_volume->hide();
        build_tiles();
    }
    ui->widget->installEventFilter(this);
    tile_frame->installEventFilter(this);
    // Over the main window, wherever the desktop put it.
    if (MainWindow* w = g_mainwindow)
        move(w->pos());
    // The language's texts build the tiles: once, not before them as well.
    para_init();
    ip_changed();
    language_changed();
    if (debugOn())
        zevlog::debug(lcUi(), "\n LockWindow::LockWindow ");
}

LockWindow::~LockWindow()
{
    ui->widget->removeEventFilter(this);
    tile_frame->removeEventFilter(this);
    // A page torn down half built leaves nothing for the next; its
    // children outlive the layout object while the dialog tears down.
    if (!shown_) {
        delete ui;
        return;
    }
    drop_parked();
    body->setParent(nullptr);
    parked() = {body, ui, tile_frame, tiles_, *shown_, windowTitle()};
}

// Sets a text unless the widget shows it already.
static void show_text(QWidget* w, const QString& text)
{
    if (fitted_text(w) != text)
        set_fitted(w, text);
}

void LockWindow::set_led_size()
{
    // The longer texts (Russian, five-digit sizes) get a smaller font
    // rather than run under the address; a text shown already is left as
    // it is (a new page sets it for its values and again for its language).
    u16 w, h;
    {
        ImageReadLock lock;
        w = ZevRamPara::img16(Img::kLedWidth);
        h = ZevRamPara::img16(Img::kLedHeight);
    }
    show_text(ui->label_input, QString::asprintf(page_text(kLedSize).toUtf8().constData(), w, h));
}

void LockWindow::set_volume_icon(bool on)
{
    ui->label_volume_icon->setPixmap(panel_pixmap(on ? ":/png/volume_open.png" : ":/png/volume_close.png"));
    ui->label_volume_icon->setScaledContents(true);
}

void LockWindow::para_init()
{
    set_led_size();
    short bright, contrast;
    {
        ImageReadLock lock;
        bright = short(ZevRamPara::img16(Img::kBrightness));
        contrast = short(ZevRamPara::img16(Img::kContrast));
    }
    show_text(ui->label_bright, QString::asprintf("%d", bright));
    show_text(ui->label_contrast, QString::asprintf("%d", contrast));
    set_volume_icon(volume_check());
}

bool LockWindow::volume_check()
{
    ImageReadLock lock;
    return ZevRamPara::img16(audio_word_offset()) & 0x8000;
}

void LockWindow::ip_changed()
{
    show_text(ui->label_IPaddr, Utils::net_identity().ip);
}

void LockWindow::language_changed()
{
    set_led_size();
    image_init();
}

void LockWindow::image_init()
{
    show_tiles(tile_looks());
    number_label = tiles_[5].number;
    name_label = tiles_[5].name;
    state_label = tiles_[5].state;
}

void LockWindow::build_tiles()
{
    tile_frame = new QFrame(body);
    tile_frame->setGeometry(0, 74, 320, 160);
    QFont font;
    font.setPixelSize(10);
    for (int i = 0; i < 6; ++i) {
        const int x0 = 155 * (i % 2), y0 = 50 * (i / 2);
        TileLabels& l = tiles_[size_t(i)];
        l = TileLabels();
        l.number = new QLabel(tile_frame);
        l.number->setGeometry(x0 + 10, y0 + 10, 40, 40);
        set_colour(l.number, QPalette::Window, kNumberBackground[i]);
        set_colour(l.number, QPalette::WindowText, Qt::black);
        l.number->setAutoFillBackground(true);
        l.number->setFont(panel_font(kNumberPixels));
        l.number->setAlignment(Qt::AlignCenter);
        set_fitted(l.number, QString::asprintf("%d", i + 1));
        l.name = new QLabel(tile_frame);
        l.name->setGeometry(x0 + 55, y0 + 13, 100, 15);
        l.name->setFont(font);
        l.state = new QLabel(tile_frame);
        l.state->setFont(font);
    }
    shown_.reset();
}

void LockWindow::show_tiles(const TileLooks& looks)
{
    if (shown_ && *shown_ == looks)
        return;
    std::vector<FitItem> names, states;
    current_label = freeze_label = nullptr;
    for (int i = 0; i < 6; ++i) {
        const TileLook& t = looks[size_t(i)];
        TileLabels& l = tiles_[size_t(i)];
        const TileLook* was = shown_ ? &(*shown_)[size_t(i)] : nullptr;
        const int x0 = 155 * (i % 2), y0 = 50 * (i / 2);
        set_icon(l.current, t.current, l.number, QRect(28, 0, 12, 12), ":/png/osd_yes.png");
        if (!was || was->enabled != t.enabled) {
            if (t.enabled) {
                l.state->setGeometry(x0 + 55, y0 + 28, 100, 12);
            } else {
                l.state->setGeometry(x0 + 55, y0 + 20, 40, 15);
                if (was)
                    set_fitted(l.name, QString());
            }
        }
        if (t.enabled)
            names.push_back({l.name, t.name});
        states.push_back({l.state, t.state});
        set_icon(l.freeze, t.freeze, l.number, QRect(0, 0, 16, 16), ":/png/freeze.png");
        if (l.current)
            current_label = l.current;
        if (l.freeze)
            freeze_label = l.freeze;
    }
    set_fitted(names);
    set_fitted(states);
    shown_ = looks;
}

void LockWindow::syncUpdate()
{
    if (ZevRamPara::ZevLanguageChanged())
        language_changed();
    // Each value shown again when it differs from the shadow.
    auto differs = [](int off) { return ZevRamPara::img16(off) != ZevRamPara::shadow16(off); };
    auto changed = [&](int off, int* now) {
        *now = short(ZevRamPara::img16(off));
        return differs(off);
    };
    int bright, contrast, volume;
    bool size, brightChanged, contrastChanged, volumeChanged;
    {
        ImageReadLock lock;
        size = differs(Img::kLedWidth) || differs(Img::kLedHeight);
        brightChanged = changed(Img::kBrightness, &bright);
        contrastChanged = changed(Img::kContrast, &contrast);
        volumeChanged = changed(audio_word_offset(), &volume);
    }
    if (size)
        set_led_size();
    if (brightChanged)
        set_fitted(ui->label_bright, QString::asprintf("%d", bright));
    if (contrastChanged)
        set_fitted(ui->label_contrast, QString::asprintf("%d", contrast));
    if (volumeChanged)
        set_volume_icon(volume & 0x8000);
    image_init();
    ip_changed();
}

void LockWindow::leave_to_main()
{
    close_page();
    g_page_focus = PageId::MainWindow;
    if (MainWindow* w = g_mainwindow) {
        w->language_changed();
        w->show();
    }
}

bool LockWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != ui->widget && watched != tile_frame)
        return ZevPage::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
        leave_to_main();
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::ContextMenu:
        // The whole page is one button: its parts take no input of their own.
        return true;
    default:
        // Painting, showing and deletion go on as usual.
        return false;
    }
}

void LockWindow::on_main_Button_clicked()
{
    leave_to_main();
}

void LockWindow::keyPressEvent(QKeyEvent* event)
{
    switch (panel_key(event->key())) {
    case PanelKey::Ok:
        qCDebug(lcUi, "this is OK button[LockWindow], addr = (g_page_focus) %p\n",
                static_cast<void*>(PageRegistry::at(PageId::MainWindow)));
        break;
    case PanelKey::Back:
        qCDebug(lcUi, "this is back button[LockWindow][Press]\n");
        break;
    default:
        break;
    }
}

void LockWindow::keyReleaseEvent(QKeyEvent* event)
{
    const int key = event->key();
    qCDebug(lcUi, "in LockWindow keyReleaseEvent event %#x", unsigned(key));
    switch (panel_key(key)) {
    case PanelKey::Left:
        qCDebug(lcUi, "this is left-code [LockWindow][Release]");
        break;
    case PanelKey::Right:
        qCDebug(lcUi, "this is right-code [LockWindow][Release]");
        break;
    case PanelKey::Back:
        qCDebug(lcUi, "this is back button[LockWindow][Release]");
        break;
    case PanelKey::Ok:
        qCDebug(lcUi, "this is ok button[LockWindow][Release]");
        leave_to_main();
        break;
    case PanelKey::Mode:
        qCDebug(lcUi, "this is mode-code [LockWindow][Release]");
        if (!mode_jump())
            return;
        break;
    case PanelKey::None:
        break;
    }
    keyboard.update_usb_keyEvent(key);
}

void open_home_page()
{
    // A home page already open takes the keys again rather than hide under
    // a second one that would hold its pointer.
    LockWindow* home = g_lockwindow;
    if (home) {
        home->syncUpdate();
        g_page_focus = PageId::LockWindow;
        home->show();
        home->raise();
        return;
    }
    home = new LockWindow(nullptr);
    g_lockwindow = home;
    g_page_focus = PageId::LockWindow;
    show_painted_once(home);
}

void show_home_at_start()
{
    LockWindow* home = new LockWindow(nullptr);
    g_lockwindow = home;
    MainWindow* w = g_mainwindow;
    if (w) {
        w->show();
        home->move(w->pos());
    }
    g_page_focus = PageId::LockWindow;
    home->show();
    if (w && g_numberkeyboard)
        g_numberkeyboard->setGeometry(w->x() + 160, w->y(), 160, 240);
}
