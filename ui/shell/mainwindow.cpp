#include "ui/shell/mainwindow.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include <QDateTime>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "core/before_stop.h"
#include "core/logging.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ui/shell/gui_call.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/menu_pages.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/pages.h"
#include "ui/shell/syncupdate.h"
#include "ui/shell/panellook.h"
#include "ui/shell/textfit.h"
#include "ui/shell/tip.h"
#include "ui/shell/usbserver.h"
#include "ui_mainwindow.h"
#include "ledout/fpga_manage.h"
#include "video/c331_manage.h"
#include "ui/maintenance/factoryage.h"
#include "ui/maintenance/firmwareupdate.h"

u32 G_factoryage_ticks = 0;
std::atomic<u32> g_delay_usbserver{0};
QFrame* g_mode[16] = {};
QStringList factoryage_log;
u32 factoryage_log_diff3 = 0;
u32 factoryage_log_diff5 = 0;
u32 factoryage_log_diff10 = 0;
u32 factoryage_log_diff20 = 0;
u32 factoryage_log_diffmore = 0;

namespace
{
const PageText kGridTitle[] = {
    {{"用户模式调用", "User mode invocation", "Загрузка настроек", "Điều chỉnh chế độ", "用戶模式調用"}},
    {{"用户模式保存", "User mode save", "Сохранение настроек", "Chế độ lưu", "用戶模式保存"}},
};
const PageText kUsing = {{"使用中\u00AD", "Using", "Использовать", "sử dụng", "使用中\u00AD"}};
const char* const kSavedFrame = "background-color: #212435;border-radius:5px;";
const char* const kEmptyFrame = "background-color: #B2B2B2;border-radius:5px;";
const char* const kClickedFrame = "background-color: #00D65B;border-radius:5px;";
constexpr int kAgelogMax = 3360;
constexpr u32 kAgePeriod = 17999;
constexpr u32 kRebootDelay = 300;
constexpr int kTickMs = 10;
// The tick's timer, once it has run: wake_tick reaches it from any thread.
std::atomic<QTimer*> g_tick_timer{nullptr};

u8* img()
{
    return ZevRamPara::p_zevrampara_config;
}

// A button keeps an icon it shows already: no repaint for the same picture.
void set_icon(QPushButton* button, const QString& path)
{
    const QIcon icon = panel_icon(path);
    if (button->icon().cacheKey() != icon.cacheKey())
        button->setIcon(icon);
}
} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui(new Ui_MainWindow),
      style_big_normal("background-color: rgb(33, 36, 53);border:2px;border-radius:10px;padding:2px 4px"),
      style_small_normal("background-color: rgb(33, 36, 53);border:1px;border-radius:1px;padding:1px 1px"),
      style_big_focused(
          "background-color: rgb(33, 36, 53);border:2px solid rgb(255,171,84);border-radius:10px;padding:2px 4px;"),
      style_small_focused(
          "background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);border-radius:1px;padding:1px 1px"),
      style_grid("#widget_mode{background-color: rgb(255, 255, 255);border:1px groove gray;border-radius:1px;}"),
      style_slot_normal("background-color:transparent;"),
      style_slot_focused("background-color:transparent;border-radius:5px;border:2px solid rgb(255,171,84);")
{
    shell_resources_init();
    ui->setupUi(this);
    ui->widget->hide();
    grid_font.setPointSize(9);
    mode_init();
    widget_mode->hide();
    pointer_label = new QLabel(this);
    pointer_label->setPixmap(QPixmap(":/png/pointer.png"));
    pointer_label->setScaledContents(true);
    pointer_label->hide();
    ui->label_IP->setPixmap(QPixmap(":/png/ip.png"));
    set_icon(ui->Button_lock, ":/png/unlock.png");
    set_icon(ui->tools, ":/png/tools.png");
    set_icon(ui->toolButton3, lang_icon("uncall.png"));
    set_icon(ui->toolButton4, lang_icon("unsave.png"));
    if (!g_numberkeyboard) {
        g_numberkeyboard = new NumberKeyboard(nullptr);
        g_numberkeyboard->setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    }
    if (!g_tip)
        g_tip = new TIP(nullptr);
    menulist_init();
    language_changed();
}

MainWindow::~MainWindow()
{
    if (PageRegistry::at(PageId::MainWindow) == static_cast<PageView*>(this))
        PageRegistry::set(PageId::MainWindow, nullptr);
    std::memset(g_mode, 0, sizeof g_mode);
    delete ui;
}

void MainWindow::menulist_init()
{
    QWidget* list[10] = {ui->machinestate, ui->inputchoose, ui->custommode,  ui->option,      ui->Button_lock,
                         ui->tools,        ui->toolButton1, ui->toolButton2, ui->toolButton3, ui->toolButton4};
    for (int i = 0; i < 10; ++i)
        menu_list[i] = list[i];
    l_call_state = l_save_state = 0;
    ui_select = 0;
    l_mode_cursor = 0;
    l_focus_widget = ui->machinestate;
    l_focus_widget->setStyleSheet(style_big_focused);
}

void MainWindow::language_changed()
{
    const QSize big(64, 64);
    set_icon(ui->machinestate, lang_icon("machinestate.png"));
    ui->machinestate->setIconSize(big);
    set_icon(ui->inputchoose, lang_icon("inputchoose.png"));
    int lang = ui_language();
    ui->inputchoose->setIconSize(lang == 2 || lang == 3 ? QSize(96, 76) : big);
    set_icon(ui->custommode, lang_icon("custommode.png"));
    ui->custommode->setIconSize(big);
    set_icon(ui->option, lang_icon("option.png"));
    ui->option->setIconSize(big);
    set_icon(ui->toolButton3, lang_icon(l_call_state ? "call.png" : "uncall.png"));
    set_icon(ui->toolButton4, lang_icon(l_save_state ? "save.png" : "unsave.png"));
    para_init();
    ip_changed();
}

int MainWindow::audio_window() const
{
    // An index outside the six windows names no layer: window 0 carries it.
    u16 w = ZevRamPara::img16(Img::kAudioLayer);
    return w > 5 ? 0 : w;
}

void MainWindow::para_init()
{
    u16 blackout, keyLock;
    bool audioOn;
    {
        ImageReadLock lock;
        blackout = ZevRamPara::img16(Img::kBlackout);
        audioOn = img()[ZevRamPara::layerOffset(audio_window()) + Img::kLayerAudio + 1] & 0x80;
        keyLock = ZevRamPara::img16(Img::kKeyLock);
    }
    set_icon(ui->toolButton1, blackout == 1 ? ":/png/closeled.png" : ":/png/uncloseled.png");
    set_icon(ui->toolButton2, audioOn ? ":/png/unslience.png" : ":/png/slience.png");
    if (keyLock == 1) {
        set_icon(ui->Button_lock, ":/png/lock.png");
        l_lock_state = 1;
    } else {
        set_icon(ui->Button_lock, ":/png/unlock.png");
        l_lock_state = 0;
    }
}

void MainWindow::ip_changed()
{
    set_fitted(ui->label_IPaddr, Utils::net_identity().ip);
}

void MainWindow::syncUpdate()
{
    if (ZevRamPara::ZevLanguageChanged())
        language_changed();
    bool same;
    {
        ImageReadLock lock;
        const int audio = ZevRamPara::layerOffset(audio_window()) + Img::kLayerAudio;
        same = ZevRamPara::img16(Img::kBlackout) == ZevRamPara::shadow16(Img::kBlackout) &&
               ZevRamPara::img16(audio) == ZevRamPara::shadow16(audio) &&
               ZevRamPara::img16(Img::kKeyLock) == ZevRamPara::shadow16(Img::kKeyLock);
    }
    if (!same)
        para_init();
    ip_changed();
    // A mode stored or deleted meanwhile shows in the open grid at once.
    if ((l_call_state || l_save_state) && widget_mode && !widget_mode->isHidden())
        show_grid();
}

void MainWindow::on_machinestate_clicked()
{
    mode_window_close();
    open_menu_page(PageId::MachineState);
}

void MainWindow::on_inputchoose_clicked()
{
    mode_window_close();
    open_menu_page(PageId::InputChoose);
}

void MainWindow::on_custommode_clicked()
{
    mode_window_close();
    if (!PageRegistry::open_user_mode_page())
        page_unavailable(PageId::CustomMode);
}

void MainWindow::on_option_clicked()
{
    mode_window_close();
    open_menu_page(PageId::Option);
}

void MainWindow::on_Button_lock_clicked()
{
    u16 v;
    {
        // The video processor has nothing to apply: the refresh persists it.
        C331Lock lock;
        v = u16((ZevRamPara::img16(Img::kKeyLock) + 1) & 1);
        ZevRamPara::put16(img(), Img::kKeyLock, v);
    }
    l_lock_state = u8(v);
    set_icon(ui->Button_lock, v ? ":/png/lock.png" : ":/png/unlock.png");
    ZevRamPara::ram_para_save();
}

void MainWindow::on_tools_clicked()
{
    if (ui->widget->isHidden()) {
        // Styled while the tool bar is still hidden: a tile keeps its big style.
        l_focus_widget->setStyleSheet(position_style(ui_select, false));
        ui->widget->show();
        ui_select = 0;
        l_mode_cursor = 0;
        l_focus_widget = ui->toolButton1;
        l_focus_widget->setStyleSheet(style_small_focused);
        return;
    }
    delete_grid();
    pointer_label->hide();
    l_call_state = l_save_state = 0;
    l_mode_cursor = 0;
    set_icon(ui->toolButton3, lang_icon("uncall.png"));
    set_icon(ui->toolButton4, lang_icon("unsave.png"));
    ui->widget->hide();
    l_focus_widget->setStyleSheet(style_small_normal);
    ui_select = 5;
    l_focus_widget = ui->tools;
    l_focus_widget->setStyleSheet(style_small_focused);
}

void MainWindow::on_toolButton1_clicked()
{
    u16 v = 0;
    c331_apply(1, [&] {
        v = u16((ZevRamPara::img16(Img::kBlackout) + 1) & 1);
        ZevRamPara::put16(img(), Img::kBlackout, v);
    });
    set_icon(ui->toolButton1, v == 1 ? ":/png/closeled.png" : ":/png/uncloseled.png");
}

void MainWindow::on_toolButton2_clicked()
{
    bool on = false;
    c331_apply(1, [&] {
        u16 w = ZevRamPara::img16(Img::kAudioLayer);
        int layer = 0;
        if (w < 6 && (ZevRamPara::img16(ZevRamPara::layerOffset(w)) & 1))
            layer = w;
        int o = ZevRamPara::layerOffset(layer) + Img::kLayerAudio;
        on = img()[o + 1] & 0x80;
        if (layer == 0)
            ZevRamPara::put16(img(), Img::kAudioLayer, 0);
        img()[o] = on ? 0 : 255;
        img()[o + 1] = on ? 0 : 0x80;
    });
    set_icon(ui->toolButton2, on ? ":/png/slience.png" : ":/png/unslience.png");
}

// Call and save exclude each other: entering one leaves the other, whose
// button shows it off again. False when the mode is already on.
bool MainWindow::enter_mode(u8& mode, u8& other, QPushButton* otherButton, const char* otherOffIcon)
{
    if (mode == 1)
        return false;
    mode = 1;
    if (other) {
        other = 0;
        set_icon(otherButton, lang_icon(otherOffIcon));
    }
    l_focus_widget->setStyleSheet(style_small_normal);
    return true;
}

void MainWindow::on_toolButton3_clicked()
{
    if (!enter_mode(l_call_state, l_save_state, ui->toolButton4, "unsave.png"))
        return;
    int index = ZevRamPara::ZevUserModeIndex(char(l_mode_cursor), 2);
    if (index > 15) {
        l_mode_cursor = 0;
    } else {
        l_mode_cursor = u8(index);
        set_icon(ui->toolButton3, lang_icon("call.png"));
    }
    show_grid();
}

void MainWindow::on_toolButton4_clicked()
{
    if (!enter_mode(l_save_state, l_call_state, ui->toolButton3, "uncall.png"))
        return;
    int index = ZevRamPara::ZevUserModeIndex(char(l_mode_cursor), 2);
    if (index > 15) {
        l_mode_cursor = 0;
    } else {
        l_mode_cursor = u8(index);
        set_icon(ui->toolButton4, lang_icon("save.png"));
    }
    show_grid();
}

void MainWindow::on_usermodesel_clicked(char dir)
{
    if (l_save_state) {
        if (dir == 1)
            l_mode_cursor = u8((l_mode_cursor + 1) % 16);
        else
            l_mode_cursor = u8((l_mode_cursor + 15) % 16);
    } else {
        int index = ZevRamPara::ZevUserModeIndex(char(l_mode_cursor), dir);
        l_mode_cursor = index > 15 ? 0 : u8(index);
    }
    show_grid();
}

// A stored mode into the image: false when the slot holds none.
bool MainWindow::recall(int slot)
{
    return c331_apply_if(1, [slot] { return ZevRamPara::recall_mode(slot); });
}

void MainWindow::zev_button_mode_clicked()
{
    QObject* button = sender();
    if (!button)
        return;
    bool ok = false;
    int slot = button->objectName().toInt(&ok);
    if (!ok || slot < 0 || slot > 15)
        return;
    u8 previous = g_mode_select;
    if (previous < 16 && g_mode[previous]) {
        bool saved;
        {
            C331Lock lock;
            saved = ZevRamPara::ZevUserModeSaved(previous);
        }
        g_mode[previous]->setStyleSheet(saved ? kSavedFrame : kEmptyFrame);
    }
    g_mode_select = u8(slot);
    if (l_save_state) {
        // The slot takes the image as it stands now; the refresh after the
        // apply writes its file.
        c331_apply(1, [slot] { ZevRamPara::save_mode(slot); });
        l_save_state = 0;
        on_toolButton4_clicked();
        tip_on_sync = 1;
    } else if (l_call_state && recall(slot)) {
        l_call_state = 0;
        l_mode_cursor = u8(slot);
        on_toolButton3_clicked();
        tip_on_sync = 1;
    }
    if (g_mode[slot])
        g_mode[slot]->setStyleSheet(kClickedFrame);
}

void MainWindow::on_deletewidgetmode_clicked()
{
    l_call_state = l_save_state = 0;
    set_icon(ui->toolButton4, lang_icon("unsave.png"));
    set_icon(ui->toolButton3, lang_icon("uncall.png"));
    if (widget_mode)
        widget_mode->hide();
    pointer_label->hide();
}

void MainWindow::on_toolusermode_clicked()
{
    if (l_call_state || l_save_state) {
        l_call_state = l_save_state = 0;
        set_icon(ui->toolButton4, lang_icon("unsave.png"));
        set_icon(ui->toolButton3, lang_icon("uncall.png"));
    }
    if (widget_mode)
        widget_mode->hide();
    pointer_label->hide();
}

void MainWindow::mode_window_close()
{
    if (!widget_mode)
        return;
    l_call_state = l_save_state = 0;
    widget_mode->hide();
    pointer_label->hide();
}

void MainWindow::delete_grid()
{
    if (!widget_mode)
        return;
    // The grid may be deleted from the click of one of its own buttons.
    widget_mode->hide();
    widget_mode->deleteLater();
    widget_mode = nullptr;
    std::memset(g_mode, 0, sizeof g_mode);
    std::memset(mode_buttons, 0, sizeof mode_buttons);
}

void MainWindow::mode_init()
{
    delete_grid();
    widget_mode = new QWidget(this);
    widget_mode->setObjectName("widget_mode");
    widget_mode->setStyleSheet(style_grid);
    widget_mode->setAttribute(Qt::WA_StyledBackground, true);
    mode_title = new QLabel(widget_mode);
    mode_title->setGeometry(10, 5, 210, 28);
    mode_title->setStyleSheet("background-color: rgb(255, 255, 255);");
    mode_title->setFont(grid_font);
    bool tool = l_call_state || l_save_state;
    int current;
    bool savedSlots[16];
    {
        C331Lock lock;
        current = ZevRamPara::img16(Img::kCurrentMode);
        for (int s = 0; s < 16; ++s)
            savedSlots[s] = ZevRamPara::ZevUserModeSaved(s);
    }
    std::vector<FitItem> numbers;
    for (int s = 0; s < 16; ++s) {
        int x = 15 + 63 * (s % 4), y = 33 + 45 * (s / 4);
        bool saved = savedSlots[s];
        mode_frame = new QFrame(widget_mode);
        mode_frame->setGeometry(x, y, 50, 40);
        mode_frame->setStyleSheet(saved ? kSavedFrame : kEmptyFrame);
        g_mode[s] = mode_frame;
        mode_number = new QLabel(widget_mode);
        mode_number->setGeometry(x, y, 12, 12);
        mode_number->setAlignment(Qt::AlignCenter);
        mode_number->setStyleSheet("background-color: #4777FF;color: #FFFFFF;border-radius:3px;");
        mode_number->setFont(grid_font);
        numbers.push_back({mode_number, QString::asprintf("%d", s + 1)});
        mode_icon = new QLabel(mode_frame);
        mode_icon->setGeometry(17, 12, 16, 16);
        mode_icon->setPixmap(QPixmap(saved ? ":/png/mode_exist.png" : ":/png/mode_blank.png"));
        mode_icon->setScaledContents(true);
        mode_using = new QLabel(mode_frame);
        mode_using->setStyleSheet("color: rgb(255, 255, 255);");
        mode_using->setFont(grid_font);
        mode_using->hide();
        if (s + 1 == current) {
            // A word longer than the label takes the lower half of the
            // slot, on two lines, and the icon moves up.
            const QString word = page_text(kUsing);
            if (QFontMetrics(panel_font(kMinTextPixels)).horizontalAdvance(word) <= 36) {
                mode_icon->setGeometry(17, 7, 16, 16);
                mode_using->setGeometry(7, 23, 36, 17);
            } else {
                mode_icon->setGeometry(17, 2, 16, 16);
                mode_using->setGeometry(1, 17, 48, 23);
                mode_using->setAlignment(Qt::AlignCenter);
            }
            set_fitted(mode_using, word);
            mode_using->show();
        }
        mode_button_ = new QPushButton(widget_mode);
        mode_button_->setObjectName(QString::number(s));
        mode_button_->setGeometry(x, y, 50, 40);
        mode_button_->setFocusPolicy(Qt::NoFocus);
        // Flat, so the transparent style shows the slot beneath instead of a bevel.
        mode_button_->setFlat(true);
        bool cursor = tool && s == l_mode_cursor && (saved || l_save_state);
        mode_button_->setStyleSheet(cursor ? style_slot_focused : style_slot_normal);
        connect(mode_button_, &QPushButton::clicked, this, &MainWindow::zev_button_mode_clicked);
        mode_buttons[s] = mode_button_;
    }
    set_fitted(numbers);
}

void MainWindow::show_grid()
{
    mode_init();
    widget_mode->setGeometry(11, 6, 270, 230);
    set_fitted(mode_title, page_text(kGridTitle[l_save_state ? 1 : 0]));
    widget_mode->show();
    widget_mode->raise();
    pointer_label->setGeometry(281, l_save_state ? 188 : 148, 9, 12);
    pointer_label->show();
    pointer_label->raise();
}

QString MainWindow::position_style(int position, bool focused) const
{
    if (ui->widget->isVisible() || position >= 4)
        return focused ? style_small_focused : style_small_normal;
    return focused ? style_big_focused : style_big_normal;
}

void MainWindow::move_focus(int position)
{
    bool tools = !ui->widget->isHidden();
    l_focus_widget->setStyleSheet(l_focus_widget == ui->machinestate || l_focus_widget == ui->inputchoose ||
                                          l_focus_widget == ui->custommode || l_focus_widget == ui->option
                                      ? style_big_normal
                                      : style_small_normal);
    ui_select = u8(position);
    l_focus_widget = menu_list[tools ? 6 + position : position];
    bool big = !tools && position < 4;
    l_focus_widget->setStyleSheet(big ? style_big_focused : style_small_focused);
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F6)
        qCDebug(lcUi, "this is OK button(MainWindow)[Press]\n");
    else if (event->key() == Qt::Key_PowerOff)
        qCDebug(lcUi, "this is back button(MainWindow)[Press]\n");
}

void MainWindow::keyReleaseEvent(QKeyEvent* event)
{
    int key = event->key();
    qCDebug(lcUi, "in MainWindow keyReleaseEvent event %#x", unsigned(key));
    bool tools = !ui->widget->isHidden();
    bool tool_active = l_call_state || l_save_state;
    switch (panel_key(key)) {
    case PanelKey::Right:
        qCDebug(lcUi, "this is right-code [MainWindow][Release] ui_select=%#x", ui_select);
        if (!tools)
            move_focus(ui_select >= 5 ? 0 : ui_select + 1);
        else if (!tool_active)
            move_focus(ui_select >= 3 ? 0 : ui_select + 1);
        else
            on_usermodesel_clicked(1);
        break;
    case PanelKey::Left:
        qCDebug(lcUi, "this is left-code [MainWindow][Release] ui_select=%#x", ui_select);
        if (!tools)
            move_focus(ui_select == 0 ? 5 : ui_select - 1);
        else if (!tool_active)
            move_focus(ui_select == 0 ? 3 : ui_select - 1);
        else
            on_usermodesel_clicked(0);
        break;
    case PanelKey::Ok:
        qCDebug(lcUi, "this is OK button(MainWindow)[Release],g_lockwindow=%p\n",
                static_cast<void*>(PageRegistry::at(PageId::LockWindow)));
        if (!tools) {
            if (debugOn())
                zevlog::debug(lcUi(), "\n ishidden ui_select = %#x ,l_lock_state = %#x l_call_state=%#x\n", ui_select,
                              l_lock_state, l_call_state);
            if (ui_select == 0)
                on_machinestate_clicked();
            else if (ui_select == 1)
                on_inputchoose_clicked();
            else if (ui_select == 2)
                on_custommode_clicked();
            else if (ui_select == 3)
                on_option_clicked();
            else if (ui_select == 4)
                on_Button_lock_clicked();
            else if (ui_select == 5)
                on_tools_clicked();
        } else {
            if (debugOn())
                zevlog::debug(lcUi(), "\n unhidden ui_select = %#x ,l_lock_state = %#x ,l_call_state=%#x\n", ui_select,
                              l_lock_state, l_call_state);
            if (tool_active) {
                if (mode_buttons[l_mode_cursor])
                    mode_buttons[l_mode_cursor]->click();
            } else if (ui_select == 0) {
                on_toolButton1_clicked();
            } else if (ui_select == 1) {
                on_toolButton2_clicked();
            } else if (ui_select == 2) {
                on_toolButton3_clicked();
            } else if (ui_select == 3) {
                on_toolButton4_clicked();
            }
        }
        break;
    case PanelKey::Mode:
        qCDebug(lcUi, "this is mode-code [MainWindow][Release]");
        if (ZevRamPara::locked16(Img::kKeyLock) != 0)
            return;
        if (PageRegistry::user_mode_available()) {
            g_mode_shortcut_key = 1;
            on_custommode_clicked();
        }
        break;
    case PanelKey::Back:
        qCDebug(lcUi, "this is back button(MainWindow)[Release]\n");
        if (!tools) {
            mode_window_close();
            open_home_page();
        } else if (tool_active) {
            on_deletewidgetmode_clicked();
            l_focus_widget = menu_list[6 + ui_select];
            l_focus_widget->setStyleSheet(style_small_focused);
        } else {
            ui->widget->hide();
            l_focus_widget->setStyleSheet(style_small_normal);
            ui_select = 5;
            l_focus_widget = ui->tools;
            l_focus_widget->setStyleSheet(style_small_focused);
            on_toolusermode_clicked();
        }
        break;
    case PanelKey::None:
        break;
    }
    keyboard.update_usb_keyEvent(key);
}

void MainWindow::slot_update_timer_ticks()
{
    ++G_timeTicks;
    tick_work();
}

void MainWindow::tick_work()
{
    if (g_update_flag && g_move_update)
        g_move_update->update_time_deal();
    if (g_tip_flag && g_tip)
        g_tip->tip_outtime_deal();
    if (g_app_reset_flag && Utils::getTimeSpace(G_reboot_tickTicks) >= kRebootDelay)
        before_stop::reboot();
    if (Utils::getTimeSpace(G_factoryage_ticks) > kAgePeriod) {
        G_factoryage_ticks = G_timeTicks;
        fpga_manage* fpga = fpga_manage::p_fpga_manage;
        if (fpga && pc_cmd_valid == 0 && fpga->get_fpga_status())
            getagelog();
        if (factoryage* page = g_factoryage)
            page->update_agelog();
        G_factoryage_ticks = G_timeTicks;
    }
    if (g_delay_usbserver == 0 && G_timeTicks >= UsbServer::kGateTick)
        g_delay_usbserver = 1;
    if (SyncUpdate* sync = SyncUpdate::p_SyncUpdate; sync && sync->ticks_to_retry() == 0)
        sync->retry_writes();
}

void MainWindow::clock_tick()
{
    // The first call comes one period after the event loop started.
    if (!G_timeTicks.following())
        G_timeTicks.follow_clock(TickCounter::Clock::now() - TickCounter::kPeriod);
    tick_work();
    auto* timer = qobject_cast<QTimer*>(sender());
    if (!timer)
        return;
    if (g_tick_timer.exchange(timer) != timer)
        connect(timer, &QObject::destroyed, [timer] {
            QTimer* expected = timer;
            g_tick_timer.compare_exchange_strong(expected, nullptr);
        });
    // Every 10 ms while a tip, the update page or a restart waits on the
    // tick; else only when the USB gate, the next ageing sample or the next
    // try of a write that waits for room is due. Whoever starts one of these
    // wakes the timer (wake_tick).
    int next = kTickMs;
    if (!g_update_flag && !g_tip_flag && !g_app_reset_flag) {
        const u32 aged = Utils::getTimeSpace(G_factoryage_ticks);
        u32 ticks = aged > kAgePeriod ? 0 : kAgePeriod + 1 - aged;
        const u32 now = G_timeTicks.load();
        if (g_delay_usbserver == 0)
            ticks = std::min(ticks, UsbServer::kGateTick > now ? UsbServer::kGateTick - now : 0);
        if (const SyncUpdate* sync = SyncUpdate::p_SyncUpdate)
            ticks = std::min(ticks, sync->ticks_to_retry());
        next = std::max(int(ticks) * kTickMs, kTickMs);
    }
    if (timer->interval() != next)
        timer->setInterval(next);
}

void MainWindow::wake_tick()
{
    QTimer* timer = g_tick_timer.load();
    // Before its first run the timer turns every 10 ms anyway.
    if (!timer)
        return;
    // Looked up again on the GUI thread, which clears it when the timer goes.
    gui_call([] {
        QTimer* timer = g_tick_timer.load();
        if (timer && timer->interval() > kTickMs)
            timer->start(kTickMs);
    });
}

void MainWindow::update_start()
{
    firmware_update_start();
}

void MainWindow::update_over()
{
    firmware_update_over();
}

void MainWindow::getagelog()
{
    QString time;
    {
        QMutexLocker lock(&Utils::_system_mutex);
        time = QDateTime::currentDateTime().toString("MM-dd hh:mm");
    }
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    fpga->read_from_register(40, 0);
    fpga->read_from_register(42, 0);
    fpga->read_from_register(43, 0);
    agelog_add(time, fpga_manage::shadow_reg(0, 42), fpga_manage::shadow_reg(0, 40), fpga_manage::shadow_reg(0, 43));
}

void MainWindow::agelog_add(const QString& time, int reg42, int reg40, int reg43)
{
    factoryage_log.append(time + " " + QString::number(reg42) + " " + QString::number(reg40) + " " +
                          QString::number(reg43));
    while (factoryage_log.size() > kAgelogMax)
        factoryage_log.removeFirst();
    if (factoryage_log.size() < 2)
        return;
    QStringList older = factoryage_log[factoryage_log.size() - 2].split(' ', Qt::SkipEmptyParts);
    QStringList newer = factoryage_log.last().split(' ', Qt::SkipEmptyParts);
    if (older.size() < 3 || newer.size() < 3)
        return;
    int previous = older[2].toInt(), now = newer[2].toInt();
    int d = now - previous + (previous > now ? 256 : 0);
    if (d <= 0)
        return;
    if (d <= 2)
        ++factoryage_log_diff3;
    else if (d <= 4)
        ++factoryage_log_diff5;
    else if (d <= 9)
        ++factoryage_log_diff10;
    else if (d <= 19)
        ++factoryage_log_diff20;
    else
        ++factoryage_log_diffmore;
}
