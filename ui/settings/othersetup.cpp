#include "ui/settings/othersetup.h"

#include <QComboBox>

#include "core/utils.h"
#include "core/zevrampara.h"
#include "remote/q64_wifi_config.h"
#include "ui/settings/settings_rows.h"
#include "ui/shell/textfit.h"
#include "ui/shell/pages.h"
#include "ui_othersetup.h"
#include "video/c331_manage.h"

namespace
{
enum Text {
    kTitle,
    kVolume,
    kSwitch,
    kProjection,
    kWifi,
    kDbd,
    kImage,
    kOff,
    kOn,
    kSeamless,
    kFade,
    kClickOk,
    kTextCount
};
const PageText kTexts[kTextCount] = {
    {{"其它设置", "Other Settings", "Другие настройки", "Cài đặt khác", "其它設置"}},
    {{"音量", "Volume", "Звук", "âm thanh", "音量"}},
    {{"切换特效", "Switch mode", "Эффект", "Hiệu ứng", "切換特效"}},
    {{"投屏设备", "Projection", "Радиоприбор", "Cài đặt Thiết bị", "投屏設備"}},
    {{"WIFI状态", "Wifi state", "WiFi статус", "Trạng thái wifi", "WIFI狀態"}},
    {{"点对点", "DBD", "Пиксель к пикселю", "Điểm tới điểm", "點對點"}},
    {{"画面%d", "image%d", "Канал%d", "Hình ảnh%d", "畫麵%d"}},
    {{"关闭", "OFF", "Откл", "Đóng", "關閉"}},
    {{"开启", "ON", "Вкл", "Mở", "開啟"}},
    {{"无缝快切", "Seamless", "Быстро", "Chuyển đổi ngay", "無縫快切"}},
    {{"淡入淡出", "Fade", "Плавно", "và ngoài", "淡入淡出"}},
    {{"点击切换", "Click OK", "Нажмите ОК", "Đồng ý", "點擊切換"}},
};

enum Row { kRowImage, kRowVolume, kRowSwitch, kRowProjection, kRowWifi, kRowDbd, kRows };
constexpr int kWindows = 6; // windows that can carry the audio
constexpr int kSwitchEffect = 2118;
constexpr int kPointToPoint = 2114;
constexpr int kFadeParams = 2816;
constexpr int kWindowVolume = 20;
constexpr int kWindowAudio = 21;

u8* img()
{
    return ZevRamPara::p_zevrampara_config;
}

int layer(int i)
{
    return Img::kLayer + Img::kLayerSize * i;
}

// Caller holds the apply mutex.
bool enabled(int i)
{
    return ZevRamPara::img16(layer(i) + Img::kLayerEnable) != 0;
}

QString list_style(const char* border)
{
    return QString(
               "QComboBox{\ncolor:rgb(255,255,255);\nborder:1px solid %1;\n}\nQComboBox:drop-down{\n\twidth:0px;\n}")
        .arg(border);
}
} // namespace

othersetup::othersetup(QWidget* parent)
    : ZevPage(parent, PageId::othersetup, PageId::AdvancedOption), ui(new Ui_othersetup)
{
    ui->setupUi(this);
    menulist_init();
    language_changed();
    para_init();
}

othersetup::~othersetup()
{
    delete ui;
}

QComboBox* othersetup::list(int row) const
{
    return static_cast<QComboBox*>(menu_list[size_t(row)]);
}

void othersetup::menulist_init()
{
    menu_list = {ui->ImageVolume, ui->volume_state, ui->switch_state, ui->mode_state, ui->wifi_state, ui->dbd_state};
    ZevPage::menulist_init();
    edit_value = saved_value = 0;
    ui->ImageVolume->setCurrentIndex(0);
}

QString othersetup::row_style(int, bool focused) const
{
    return list_style(focused ? kBorderFocused : kBorderNormal);
}

void othersetup::language_changed()
{
    set_fitted(ui->label_other, page_text(kTexts[kTitle]));
    set_fitted({{ui->label_name_volume, page_text(kTexts[kVolume])},
                {ui->label_name_switch, page_text(kTexts[kSwitch])},
                {ui->label_name_mode, page_text(kTexts[kProjection])},
                {ui->label_wifi, page_text(kTexts[kWifi])},
                {ui->label_name_DBD, page_text(kTexts[kDbd])}});
}

void othersetup::para_init()
{
    const QString off = page_text(kTexts[kOff]);
    const QString on = page_text(kTexts[kOn]);

    // One copy under the apply mutex: the PC links write the image.
    int audio;
    bool windowOn[kWindows];
    bool volume, fade, wifiOff, dbd = false;
    {
        C331Lock lock;
        for (int i = 0; i < kWindows; ++i)
            windowOn[i] = enabled(i);
        audio = ZevRamPara::img16(Img::kAudioLayer);
        if (audio < 0 || audio >= kWindows || !windowOn[audio]) {
            // A stored window that cannot carry the audio is repaired to 0,
            // without asking for an apply.
            ZevRamPara::put16(img(), Img::kAudioLayer, 0);
            audio = 0;
        }
        volume = img()[layer(audio) + kWindowAudio] & 0x80;
        fade = ZevRamPara::img16(kSwitchEffect);
        wifiOff = ZevRamPara::img16(Img::kWifiOff);
        for (int i = 0; i < Img::kLayerCount; ++i)
            dbd = dbd || (img()[layer(i) + Img::kLayerP2p] && img()[layer(i) + Img::kLayerEnable]);
        dbd = dbd || ZevRamPara::img16(kPointToPoint);
    }
    ui->ImageVolume->clear();
    const QByteArray format = page_text(kTexts[kImage]).toUtf8();
    for (int i = 0; i < kWindows; ++i) {
        if (!windowOn[i])
            continue;
        ui->ImageVolume->addItem(QString::asprintf(format.constData(), i + 1), i);
        if (i == audio)
            ui->ImageVolume->setCurrentIndex(ui->ImageVolume->count() - 1);
    }
    if (ui->ImageVolume->findData(audio) < 0)
        ui->ImageVolume->setCurrentIndex(-1);
    counts[kRowImage] = u8(ui->ImageVolume->count());

    ui->volume_state->clear();
    ui->volume_state->addItems({off, on});
    ui->volume_state->setCurrentIndex(volume ? 1 : 0);

    ui->switch_state->clear();
    ui->switch_state->addItems({page_text(kTexts[kSeamless]), page_text(kTexts[kFade])});
    ui->switch_state->setCurrentIndex(fade ? 1 : 0);

    ui->mode_state->clear();
    ui->mode_state->addItem(page_text(kTexts[kClickOk]));

    ui->wifi_state->clear();
    ui->wifi_state->addItems({on, off});
    ui->wifi_state->setCurrentIndex(wifiOff ? 1 : 0);

    ui->dbd_state->clear();
    ui->dbd_state->addItems({off, on});
    ui->dbd_state->setCurrentIndex(dbd ? 1 : 0);
    fit_combos({ui->ImageVolume, ui->volume_state, ui->switch_state, ui->mode_state, ui->wifi_state, ui->dbd_state});
}

void othersetup::syncUpdate()
{
    if (!ZevRamPara::ZevLanguageChanged())
        return;
    language_changed();
    if (edit_flag) {
        edit_flag = 0;
        set_row_style(ui_select, true);
    }
    para_init();
}

void othersetup::step(int delta)
{
    const int n = counts[ui_select];
    if (n == 0)
        return; // an empty image list has nothing to step through
    edit_value = u8((edit_value + delta + n) % n);
    list(ui_select)->setCurrentIndex(edit_value);
}

void othersetup::key_left()
{
    if (edit_flag)
        step(-1);
    else
        move_focus(-1);
}

void othersetup::key_right()
{
    if (edit_flag)
        step(1);
    else
        move_focus(1);
}

void othersetup::key_ok()
{
    if (!edit_flag && ui_select != kRowProjection) {
        edit_flag = 1;
        const int current = list(ui_select)->currentIndex();
        edit_value = saved_value = u8(current < 0 ? 0 : current);
        list(ui_select)->setStyleSheet(list_style(kBorderEditing));
        return;
    }
    edit_flag = 0;
    set_row_style(ui_select, true);
    on_button_box_clicked();
}

void othersetup::key_back()
{
    if (!edit_flag)
        return slot_Button_back_clicked();
    edit_flag = 0;
    list(ui_select)->setCurrentIndex(saved_value < counts[ui_select] ? saved_value : 0);
    set_row_style(ui_select, true);
}

void othersetup::on_button_box_clicked()
{
    switch (ui_select) {
    case kRowVolume:
        apply_volume();
        break;
    case kRowSwitch:
        apply_switch_effect();
        break;
    case kRowWifi:
        apply_wifi();
        break;
    case kRowDbd:
        apply_point_to_point();
        break;
    default:
        break;
    }
}

void othersetup::apply_volume()
{
    const int k = ui->ImageVolume->currentIndex();
    if (k > 5)
        return;
    const int window = k < 0 ? -1 : ui->ImageVolume->itemData(k).toInt();
    const u8 v = edit_value;
    c331_apply(1, [&] {
        if (window < 0 || window >= kWindows || !enabled(window))
            return;
        u8* rec = img() + layer(window);
        const bool audio_on = rec[kWindowAudio] & 0x80;
        if (audio_on && v == 0) {
            ZevRamPara::put16(img(), Img::kAudioLayer, u16(window));
            rec[kWindowVolume] = 0;
            rec[kWindowAudio] = 0;
        } else if (!audio_on && v == 1) {
            ZevRamPara::put16(img(), Img::kAudioLayer, u16(window));
            rec[kWindowVolume] = 255;
            rec[kWindowAudio] = 0x80;
        }
    });
}

// The video-processor pass applies the change and the refresh after it saves
// the image: copying the image into the shadow here would hide the change
// from the apply.
void othersetup::apply_switch_effect()
{
    const bool fade = edit_value != 0;
    c331_apply(1, [fade] {
        img()[kSwitchEffect] = fade ? 1 : 0;
        for (int i = 0; i < Img::kLayerCount; ++i) {
            u8& flags = img()[layer(i) + Img::kLayerFlags];
            flags = fade ? u8(flags | 0x04) : u8(flags & ~0x04);
            if (fade) {
                img()[kFadeParams + 4 * i] = 60;
                img()[kFadeParams + 4 * i + 2] = 60;
            }
        }
    });
}

void othersetup::apply_wifi()
{
    if (edit_value == 0) {
        c331_apply(1, [] { img()[Img::kWifiOff] = 0; });
        if (Q64_WIFI_CONFIG::p_wifi)
            Q64_WIFI_CONFIG::p_wifi->set_wifi_reset_flag();
        return;
    }
    {
        C331Lock lock;
        img()[Img::kWifiOff] = 1;
    }
    Utils::system_mutex("kill -9 `pidof /usr/bin/hostapd /etc/rtl_hostapd_2G.conf`");
    Utils::system_mutex("kill -9 `pidof /usr/sbin/udhcpd  /etc/udhcpd.conf`");
    c331_apply(1, [] {});
}

void othersetup::apply_point_to_point()
{
    const u8 on = edit_value != 0 ? 1 : 0;
    c331_apply(1, [on] {
        img()[kPointToPoint] = on;
        for (int i = 0; i < Img::kLayerCount; ++i)
            img()[layer(i) + Img::kLayerP2p] = on;
    });
}
