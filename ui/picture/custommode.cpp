#include "ui/picture/custommode.h"

#include <algorithm>

#include <QComboBox>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>

#include "core/alias.h"
#include "core/logging.h"
#include "core/omenu.h"
#include "core/zevrampara.h"
#include "ui/shell/textfit.h"
#include "ui/shell/pages.h"
#include "ui/shell/panellook.h"
#include "ui/shell/sourceinfo.h"
#include "ui/shell/syncupdate.h"
#include "ui/shell/zevcontrol.h"
#include "ui_custommode.h"
#include "video/c331_manage.h"

namespace
{
enum Text {
    Title,
    Delete,
    Use,
    Using,
    Blank,
    Item,
    DefaultName,
    NamePrefix,
    LedSize,
    LineAudioOff,
    LineAudioOn,
    More,
    On,
    Off,
    FontSize,
    Spacing,
    TextPos,
    Speed,
    EffectStatic,
    EffectUp,
    EffectDown,
    EffectLeft,
    EffectRight,
};

// zh, en, ru, vn, tw. The OSD details stay English in Russian and Vietnamese.
const PageText kTexts[] = {
    {{"用户模式", "User mode", "Слот", "Chế độ người dùng", "用戶模式"}},
    {{"删除", "Delete", "Удалить", "Xoá bỏ", "删除"}},
    {{"调用", "Invoke", "Вызвать", "Dùng", "調用"}},
    {{"使用中\u00AD", "Using", "Использовать", "sử dụng", "使用中\u00AD"}},
    {{"未保存用户模式数据", "Usermode does not exist", "Данные не сохранены", "Chế độ không được lưu",
      "未保存用戶模式數據"}},
    {{"用户模式%1", "MODE %1", "Слот %1", "Chế độ %1", "用戶模式%1"}},
    {{"名称:用户模式%1", "Name:Mode%1", "Название:Слот%1", "Tên:Chế độ%1", "名稱:用戶模式%1"}},
    {{"名称:", "Name:", "Название:", "Tên:", "名稱:"}},
    {{"LED参数:%1x%2", "LED size:%1x%2", "Размер LED:%1x%2", "Kích thước LED:%1x%2", "LED參數:%1x%2"}},
    {{"亮度:%1 对比度:%2 音量:关闭", "Bri:%1 CTRST:%2 Volume:OFF", "Яркость:%1 Контраст:%2 Громкость:Откл",
      "Độ sáng:%1 Tương phản:%2 Âm:đóng", "亮度:%1 對比度:%2 音量:關閉"}},
    {{"亮度:%1 对比度:%2 音量:开启", "Bri:%1 CTRST:%2 Volume:ON", "Яркость:%1 Контраст:%2 Громкость:Вкл",
      "Độ sáng:%1 Tương phản:%2 Âm:Mở", "亮度:%1 對比度:%2 音量:開啟"}},
    {{"更多", "More", "Больше", "Nhiều hơn", "更多"}},
    {{"开启", "ON", "Вкл", "Mở", "開啟"}},
    {{"关闭", "OFF", "Откл", "Đóng", "關閉"}},
    {{"字体大小:", "font size:", "font size:", "font size:", "字體大小:"}},
    {{"字-行间距 [h:", "space [h:", "space [h:", "space [h:", "字-行間距 [h:"}},
    {{"字幕坐标[x:", "char[x:", "char[x:", "char[x:", "字幕坐標[x:"}},
    {{"速度:", "speed:", "speed:", "speed:", "速度:"}},
    {{"特技:静止", "effect:static", "effect:static", "effect:static", "特技:靜止"}},
    {{"特技:上移", "effect:move up", "effect:move up", "effect:move up", "特技:上移"}},
    {{"特技:下移", "effect:move down", "effect:move down", "effect:move down", "特技:下移"}},
    {{"特技:左移", "effect:move left", "effect:move left", "effect:move left", "特技:左移"}},
    {{"特技:右移", "effect:move right", "effect:move right", "effect:move right", "特技:右移"}},
};

QString text(Text t)
{
    return page_text(kTexts[t]);
}

const char* const kPreviewStyle = "background-color: #10101C;color: #FFFFFF;";

PageView* (*g_home_factory)() = nullptr;

// The slot the summary shows; a value written elsewhere beyond the 16 slots
// reads as slot 0.
int mode_slot()
{
    u8 s = g_mode_select;
    return s < kUserModeCount ? s : 0;
}

// A copy of a stored mode, with whether it is stored and in use, taken under
// the apply mutex: the PC links write the slots and the image meanwhile.
struct StoredMode {
    USER_MODE_SLOT slot;
    bool saved;
    bool in_use;
};
StoredMode stored_mode(int s)
{
    StoredMode m;
    C331Lock lock;
    m.slot = ZevRamPara::user_mode[s];
    m.saved = ZevRamPara::ZevUserModeSaved(s);
    m.in_use = ZevRamPara::img16(Img::kCurrentMode) == s + 1;
    return m;
}

// A field of a stored mode by its image offset (at least 896).
u8 stored8(const StoredMode& m, int offset)
{
    return m.slot[2 + offset - Img::kModeStart];
}
u16 stored16(const StoredMode& m, int offset)
{
    return u16(stored8(m, offset) | (stored8(m, offset + 1) << 8));
}
} // namespace

PageView* CustomMode::create()
{
    return new CustomMode(nullptr);
}

void CustomMode::set_home_page_factory(HomeFactory factory)
{
    g_home_factory = factory;
}

CustomMode::CustomMode(QWidget* parent)
    : QWidget(parent, Qt::WindowFlags()), ui(new Ui_CustomMode),
      style_button_focused("background-color: #212435;color: rgb(255, 255, 255);border:1px solid rgb(255, 171, 84);"),
      style_button_normal("background-color: #212435;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);")
{
    shell_resources_init();
    ui->setupUi(this);
    preview_font.setPixelSize(10);
    ui->lineEdit->setReadOnly(true);
    ui->label_blank->hide();
    int m;
    {
        C331Lock lock;
        m = ZevRamPara::ZevGetCurrentModeIndex();
    }
    g_mode_select = u8(m ? m - 1 : 0);
    selector_ = new zevcontrol(QRect(19, 0, 100, 22), QRect(0, 0, 20, 22), QRect(118, 0, 20, 22), this);
    selector_->setGeometry(3, 28, 320, 24);
    init();
    lcd_para_init();
    image_para_init();
    menulist_init();
    ui->Button_use->setStyleSheet(style_button_normal);
    language_changed();
}

CustomMode::~CustomMode()
{
    if (PageRegistry::at(PageId::CustomMode) == static_cast<PageView*>(this))
        PageRegistry::set(PageId::CustomMode, nullptr);
    delete ui;
}

void CustomMode::init()
{
    QStringList items;
    for (int i = 1; i <= kUserModeCount; ++i)
        items << text(Item).arg(i);
    selector_->setFocusPolicy(Qt::NoFocus);
    selector_->combo()->setFocusPolicy(Qt::NoFocus);
    selector_->combo()->addItems(items);
    selector_->combo()->setCurrentIndex(mode_slot());
    fit_combos({selector_->combo()});
}

void CustomMode::lcd_para_init()
{
    int s = mode_slot();
    const StoredMode stored = stored_mode(s);
    int width = short(stored16(stored, Img::kLedWidth));
    int height = short(stored16(stored, Img::kLedHeight));
    int bri = short(stored16(stored, Img::kBrightness));
    int con = short(stored16(stored, Img::kContrast));
    // A stored audio window beyond the six windows has no audio word.
    u8 a = stored8(stored, Img::kAudioLayer);
    bool audio = a < kSourceCount && (stored16(stored, ZevRamPara::layerOffset(a) + Img::kLayerAudio) & 0x8000);

    ALIAS_PARA alias;
    QString name = get_json_alias_para(&alias, "usermode", s) ? text(NamePrefix) + QString::fromStdString(alias.name)
                                                              : text(DefaultName).arg(s + 1);
    set_fitted({{ui->label_ID, QString::asprintf("ID:%d", s + 1)},
                {ui->label_name, name},
                {ui->label_LED, text(LedSize).arg(width).arg(height)},
                {ui->label_brightness, text(audio ? LineAudioOn : LineAudioOff).arg(bri).arg(con)}});
    ui->label_using->setVisible(stored.in_use);
}

void CustomMode::image_para_init()
{
    delete preview_area;
    preview_area = nullptr;
    std::fill(std::begin(preview_labels), std::end(preview_labels), nullptr);
    int s = mode_slot();
    const StoredMode stored = stored_mode(s);
    if (!stored.saved) {
        for (QWidget* w : {static_cast<QWidget*>(ui->label_LED), static_cast<QWidget*>(ui->label_brightness),
                           static_cast<QWidget*>(ui->Button_delete), static_cast<QWidget*>(ui->Button_use),
                           static_cast<QWidget*>(ui->label_using), static_cast<QWidget*>(ui->Button_more)})
            w->hide();
        ui->label_blank->show();
        more_hidden = 1;
        return;
    }
    ui->label_LED->show();
    ui->label_brightness->show();
    ui->Button_delete->show();
    ui->Button_use->show();
    ui->label_blank->hide();
    ui->label_using->setVisible(stored.in_use);
    if (stored16(stored, Img::kOsdMenuFlag)) {
        ui->Button_more->show();
        more_hidden = 0;
    } else {
        ui->Button_more->hide();
        more_hidden = 1;
    }
    preview_area = new QWidget(ui->frame);
    preview_area->setGeometry(3, 61, 285, 90);
    preview_area->setMinimumSize(50, 60);
    if (edit_flag == 1 && more_hidden == 0 && button_index == 2)
        draw_osd(s);
    else
        draw_windows(s);
    preview_area->show();
}

QLabel* CustomMode::preview_label(int x, int y, int w, int h)
{
    QLabel* label = new QLabel(preview_area);
    label->setGeometry(x, y, w, h);
    label->setFont(preview_font);
    preview_labels[0] = preview_labels[1];
    preview_labels[1] = preview_labels[2];
    preview_labels[2] = label;
    return label;
}

void CustomMode::draw_windows(int slot)
{
    const StoredMode s = stored_mode(slot);
    std::vector<FitItem> names, geometries;
    for (int i = 0; i < kSourceCount; ++i) {
        bool right = i >= 3;
        int b = 16 + 30 * (i % 3);
        int o = ZevRamPara::layerOffset(i);
        QLabel* chip = preview_label(right ? 145 : 0, b - 14, 24, 24);
        set_fitted(chip, QString::asprintf("%d", i + 1));
        chip->setAlignment(Qt::AlignCenter);
        color_fill(chip, char(i));

        u16 w = stored16(s, o + Img::kLayerSource);
        u8 source = u8(w);
        QString crop;
        if (w & 0x8000) {
            u8 k = u8(w);
            // A crop index beyond the table names no source.
            source = k < Img::kCropCount ? stored8(s, Img::kCropTable + Img::kCropSize * k) : 0xFF;
            crop = QString::asprintf("_Crop%d", k + 1);
        }
        // One pixel up and two taller than the line's 12, so an underscore
        // in the name is not cut.
        QLabel* name = preview_label(right ? 171 : 24, b - 15, 100, 14);
        name->setStyleSheet(kPreviewStyle);
        names.push_back({name, sourceinfo::get_source_name_by_sourceid(source) + crop + " " +
                                   text(stored16(s, o + Img::kLayerEnable) ? On : Off)});
        QLabel* geo = preview_label(right ? 171 : 24, b, 140, 12);
        geo->setStyleSheet(kPreviewStyle);
        geometries.push_back({geo, QString("[%1,%2]%3x%4")
                                       .arg(stored16(s, o + Img::kLayerX))
                                       .arg(stored16(s, o + Img::kLayerY))
                                       .arg(stored16(s, o + Img::kLayerW))
                                       .arg(stored16(s, o + Img::kLayerH))});
    }
    set_fitted(names);
    set_fitted(geometries);
}

void CustomMode::draw_osd(int s)
{
    OSD_LIST list;
    get_json_omenu_para(ZevRamPara::modeMenuPath(s).c_str(), &list);
    const OMENU_PARA& m = list.menu[0];
    auto u = [](int v) { return QString::number(u32(v)); };
    Text effect = m.effect == 2   ? EffectUp
                  : m.effect == 3 ? EffectDown
                  : m.effect == 4 ? EffectLeft
                  : m.effect == 5 ? EffectRight
                                  : EffectStatic;
    QString details = "osd [x:" + u(m.x) + "," + "y:" + u(m.y) + "," + "w:" + u(m.w) + "," + "h:" + u(m.h) + "] " +
                      text(FontSize) + u(m.fontw) + "*" + u(m.fonth) + "\n" + text(Spacing) + u(m.wordspace) +
                      ",v:" + u(m.verticalspace) + "] " + text(TextPos) + u(m.startx) + "," + "y:" + u(m.starty) +
                      "] " + text(Speed) + u(m.speed) + "," + text(effect);
    QLabel* label = preview_label(2, 56, 300, 30);
    label->setStyleSheet(kPreviewStyle);
    label->setFrameShape(QFrame::NoFrame);
    set_fitted(label, details);

    QString back = QString::fromStdString(m.back_color).mid(2);
    QString fore = QString::fromStdString(m.font_color).mid(2);
    QStringList lines = QString::fromStdString(m.texts).split("\n");
    if (lines.size() > 3)
        lines = lines.mid(0, 3);
    QLabel* box = preview_label(6, 2, 300, 50);
    box->setFrameShape(QFrame::NoFrame);
    box->setStyleSheet("background-color:#" + back + ";color:#" + fore + ";");
    set_fitted(box, lines.join("\n"));
}

void CustomMode::color_fill(QLabel* label, char window)
{
    static const char* const kColour[6] = {"#D5E5FF", "#D4FC79", "#FC9D79", "#7E9AC9", "#32CC4C", "#4777FF"};
    u8 w = u8(window);
    label->setStyleSheet(QString("background-color: %1;").arg(w < 6 ? kColour[w] : "#CCCCCC"));
}

void CustomMode::menulist_init()
{
    ui_select = u8(mode_slot());
    edit_flag = 0;
    button_index = 0;
    selector_focus = selector_;
    selector_->set_box_default();
}

void CustomMode::language_changed()
{
    set_fitted(ui->label_title, text(Title));
    set_fitted(ui->label_blank, text(Blank));
    set_fitted({{ui->Button_use, text(Use)}, {ui->Button_delete, text(Delete)}, {ui->Button_more, text(More)}});
    // The badge grows to the right for the longer translations, as far as
    // the frame allows.
    int badge = QFontMetrics(panel_font(base_pixel_size(ui->label_using), true)).horizontalAdvance(text(Using)) + 6;
    int room = ui->frame->width() - ui->label_using->x() - 2;
    ui->label_using->resize(qBound(60, badge, room), ui->label_using->height());
    set_fitted(ui->label_using, text(Using));
}

void CustomMode::syncUpdate()
{
    if (ZevRamPara::ZevLanguageChanged())
        language_changed();
}

void CustomMode::zev_button_mode_clicked()
{
    g_mode_select = ui_select;
    lcd_para_init();
    image_para_init();
}

void CustomMode::zev_button_selinfo(char mode, char index)
{
    QWidget* buttons[3] = {ui->Button_use, ui->Button_delete, ui->Button_more};
    u8 i = u8(index);
    if (mode == 0) {
        if (i < 3)
            buttons[i]->setStyleSheet(style_button_focused);
        zev_button_mode_clicked();
    } else if (mode == 1) {
        if (i < 3)
            buttons[i]->setStyleSheet(style_button_normal);
    } else if (mode == 2) {
        for (QWidget* b : buttons)
            b->setStyleSheet(style_button_normal);
    }
}

bool CustomMode::get_mode_status()
{
    return stored_mode(mode_slot()).saved;
}

void CustomMode::on_Button_use_clicked()
{
    const int s = mode_slot();
    c331_apply_if(1, [s] { return ZevRamPara::recall_mode(s); });
}

void CustomMode::on_Button_delete_clicked()
{
    int s = mode_slot();
    if (!stored_mode(s).saved)
        return;
    // A delete that fails waits and is tried again, as the PC's does.
    {
        C331Lock lock;
        ZevRamPara::empty_mode_slot(s);
    }
    SyncUpdate::pInstance()->store_mode(s);
    lcd_para_init();
    image_para_init();
}

void CustomMode::close_self()
{
    setAttribute(Qt::WA_DeleteOnClose, true);
    close();
    if (PageRegistry::at(PageId::CustomMode) == static_cast<PageView*>(this))
        PageRegistry::set(PageId::CustomMode, nullptr);
}

void CustomMode::slot_Button_back_clicked()
{
    close_self();
    if (PageView* main = PageRegistry::at(PageId::MainWindow))
        main->language_changed();
    g_page_focus = PageId::MainWindow;
}

void CustomMode::back_to_home()
{
    g_mode_shortcut_key = 0;
    if (!g_home_factory) {
        slot_Button_back_clicked();
        return;
    }
    close_self();
    PageView* home = g_home_factory();
    PageRegistry::set(PageId::LockWindow, home);
    g_page_focus = PageId::LockWindow;
    if (QWidget* w = dynamic_cast<QWidget*>(home))
        w->show();
}

void CustomMode::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F6)
        qCDebug(lcUi, "this is OK button(CustomMode)[Press]\n");
    else if (event->key() == Qt::Key_PowerOff)
        qCDebug(lcUi, "this is back button(CustomMode)[Press]\n");
}

void CustomMode::keyReleaseEvent(QKeyEvent* event)
{
    int key = event->key();
    u8 last = u8(2 - more_hidden);
    switch (panel_key(key)) {
    case PanelKey::Left:
        qCDebug(lcUi, "this is left-code [CustomMode][Release] ui_select=%#x", ui_select);
        if (edit_flag == 0) {
            selector_focus->set_box_default();
            ui_select = ui_select == 0 ? kUserModeCount - 1 : ui_select - 1;
            selector_->set_boxindexsel(char(ui_select));
            zev_button_mode_clicked();
        } else {
            zev_button_selinfo(1, char(button_index));
            button_index = button_index == 0 || button_index > last ? last : button_index - 1;
            zev_button_selinfo(0, char(button_index));
        }
        break;
    case PanelKey::Right:
        qCDebug(lcUi, "this is right-code [CustomMode][Release] ui_select=%#x", ui_select);
        if (edit_flag == 0) {
            selector_focus->set_box_default();
            ui_select = ui_select + 1 >= kUserModeCount ? 0 : ui_select + 1;
            selector_->set_boxindexsel(char(ui_select));
            zev_button_mode_clicked();
        } else {
            zev_button_selinfo(1, char(button_index));
            button_index = button_index + 1 > last ? 0 : button_index + 1;
            zev_button_selinfo(0, char(button_index));
        }
        break;
    case PanelKey::Ok:
        qCDebug(lcUi, "this is OK button(CustomMode)[Release]\n");
        if (edit_flag == 0) {
            if (get_mode_status()) {
                edit_flag = 1;
                selector_focus->set_box_modify();
                button_index = 0;
                zev_button_selinfo(0, 0);
            }
        } else {
            edit_flag = 0;
            selector_focus->set_box_default();
            if (button_index == 0)
                on_Button_use_clicked();
            else if (button_index == 1)
                on_Button_delete_clicked();
            zev_button_selinfo(2, 0);
        }
        break;
    case PanelKey::Back:
        qCDebug(lcUi, "this is back button(CustomMode)[Release]\n");
        if (edit_flag == 0) {
            if (g_mode_shortcut_key == 0)
                slot_Button_back_clicked();
            else
                back_to_home();
        } else {
            edit_flag = 0;
            selector_focus->set_box_default();
            zev_button_selinfo(2, 0);
            zev_button_mode_clicked();
        }
        break;
    case PanelKey::Mode:
        qCDebug(lcUi, "this is mode-code [CustomMode][Release]");
        break;
    case PanelKey::None:
        break;
    }
    // The page is deleted only after this event, so the hand-off still runs.
    keyboard.update_usb_keyEvent(key);
}
