#include "ui/picture/imagelayout.h"

#include <QDebug>
#include <QPixmap>

#include "core/alias.h"
#include "core/zevrampara.h"
#include "ui/shell/textfit.h"
#include "ui/shell/pages.h"
#include "ui/shell/sourceinfo.h"
#include "ui_imagelayout.h"

namespace
{
enum Text {
    Title,
    P2P,
    Wd,
    Ht,
    Mirror,
    NamePrefix,
    DefaultName,
    SourcePrefix,
    StatePrefix,
    On,
    Off,
    Combo0,
    Combo1,
    Combo2,
    Combo3
};

// zh, en, ru, vn, tw.
const PageText kTexts[] = {
    {{"画面布局", "Screen layout", "Расположение", "Bố cục màn hình", "畫麵佈局"}},
    {{"点对点", "DBD", "Пиксель к пикселю", "Điểm tới điểm", "點對點"}},
    {{"宽", "W", "Ширина", "Rộng", "寬"}},
    {{"高", "H", "Высота", "Cao", "高"}},
    {{"镜像", "mirror", "Отражение", "Ảnh phản chiếu", "鏡像"}},
    {{"名称:", "Name:", "Название:", "Tên:", "名稱:"}},
    {{"画面名称:画面%1", "Name:Image%1", "Название:Канал%1", "Tên:Hình ảnh%1", "畫麵名稱:畫麵%1"}},
    {{"信源:", "Source:", "Источник:", "Nguồn tín hiệu:", "信源:"}},
    {{"画面状态:", "Image state:", "Состояние:", "Trạng thái:", "畫麵狀態:"}},
    {{"开启", "ON", "Вкл", "Mở", "開啟"}},
    {{"关闭", "OFF", "Откл", "Đóng", "關閉"}},
    {{"点对点关闭", "OFF", "Откл", "Đóng", "點對點關閉"}},
    {{"点对点开启", "ON", "Вкл", "Mở", "點對點開啟"}},
    {{"HD3,HD4水平拼接", "HD3,HD4 Hor", "Гор HD3,HD4", "Nối ngang HD3,HD4", "HD3,HD4水平拼接"}},
    {{"HD3,HD4垂直拼接", "HD3,HD4 Ver", "Вер HD3,HD4", "Ghép dọc HD3,HD4", "HD3,HD4垂直拼接"}},
};

QString text(Text t)
{
    return page_text(kTexts[t]);
}

// The current image as a window of this page (0 when out of range).
u8 current_image()
{
    u8 c = g_image_current;
    return c < kSourceCount ? c : 0;
}
} // namespace

ImageLayout::ImageLayout(QWidget* parent)
    : ZevPage(parent, PageId::ImageLayout, PageId::Option), ui(new Ui_ImageLayout),
      style_tab("#frame_image{border:1px solid;border-left-color:rgb(255,171,84);border-right-color:rgb(255,171,84);"
                "border-top-color:rgb(255,171,84);}"),
      style_box("#frame{border:1px solid rgb(255,171,84);}")
{
    ui->setupUi(this);
    // The marker of the selected tab stands behind the tabs.
    ui->frame_image->lower();
    menulist_init();
    ui->comboBox_P2P->insertItems(ui->comboBox_P2P->count(), {text(Combo0), text(Combo1), text(Combo2), text(Combo3)});
    image_init();
    image_para_update();
    language_changed();
}

ImageLayout::~ImageLayout()
{
    delete ui;
}

void ImageLayout::menulist_init()
{
    image_shown = ui_select = current_image();
}

void ImageLayout::image_init()
{
    int i = ui_select;
    bool on = ZevRamPara::locked16(ZevRamPara::layerOffset(i) + Img::kLayerEnable) != 0;
    ui->image_state->setText(text(StatePrefix) + text(on ? On : Off));
    fit_texts({ui->image_name, ui->image_source, ui->image_state});
    ui->frame_image->setGeometry(7 + 51 * i, 39, 51, 49);
    ui->frame_image->setStyleSheet(style_tab);
}

void ImageLayout::image_para_update()
{
    int i = image_shown;
    ALIAS_PARA alias;
    ui->image_name->setText(get_json_alias_para(&alias, "win", i)
                                ? text(NamePrefix) + QString::fromStdString(alias.name)
                                : text(DefaultName).arg(i + 1));
    short isCrop = 0;
    char cropIndex = 0;
    u8 source;
    LAYER_PARA rec;
    {
        // The PC links write the image.
        C331Lock lock;
        source = ZevRamPara::ZevGetImageSource(ZevRamPara::p_zevrampara_config, u8(i), &isCrop, &cropIndex, 0);
        rec = ZevRamPara::layer_para(ZevRamPara::p_zevrampara_config, i);
    }
    ui->image_source->setText(text(SourcePrefix) + sourceinfo::get_source_name_by_sourceid(source));
    fit_texts({ui->image_name, ui->image_source, ui->image_state});
    const u8* r = reinterpret_cast<const u8*>(&rec);
    auto word = [r](int at) { return ZevRamPara::get16(r, at); };
    ui->lineEdit_X->setText(QString::number(word(Img::kLayerX)));
    ui->lineEdit_Y->setText(QString::number(word(Img::kLayerY)));
    ui->lineEdit_W->setText(QString::number(word(Img::kLayerW)));
    ui->lineEdit_H->setText(QString::number(word(Img::kLayerH)));
    mirror_select(word(Img::kLayerMirror));
    if (!(r[Img::kLayerP2p] & 1)) {
        ui->comboBox_P2P->setCurrentIndex(0);
    } else {
        u16 mode = word(Img::kLayerP2pMode);
        if (mode == 0)
            ui->comboBox_P2P->setCurrentIndex(1);
        else if (mode == 8)
            ui->comboBox_P2P->setCurrentIndex(2);
        else if (mode == 9)
            ui->comboBox_P2P->setCurrentIndex(3);
    }
    fit_combos({ui->comboBox_P2P});
    ui->frame->setStyleSheet(style_box);
}

void ImageLayout::mirror_select(int mode)
{
    if (unsigned(mode) > 3)
        return;
    QLabel* icons[4] = {ui->mirror1, ui->mirror2, ui->mirror3, ui->mirror4};
    for (int k = 0; k < 4; ++k) {
        icons[k]->setPixmap(QPixmap(QString(":/png/mirror%1_%2.png").arg(k + 1).arg(k == mode ? "on" : "off")));
        icons[k]->setScaledContents(true);
    }
}

void ImageLayout::language_changed()
{
    set_fitted(ui->label_title, text(Title));
    set_fitted({{ui->label_P2P, text(P2P)}, {ui->label_mirror, text(Mirror)}});
    ui->label_W->setText(text(Wd));
    ui->label_H->setText(text(Ht));
    flow_row({{ui->label_X, ui->lineEdit_X},
              {ui->label_Y, ui->lineEdit_Y},
              {ui->label_W, ui->lineEdit_W},
              {ui->label_H, ui->lineEdit_H}},
             3, 299);
}

void ImageLayout::syncUpdate()
{
    if (ZevRamPara::ZevLanguageChanged() == 0)
        return;
    language_changed();
    image_shown = ui_select = current_image();
    image_init();
    image_para_update();
}

void ImageLayout::step(int delta)
{
    ui_select = u8((ui_select + delta + kSourceCount) % kSourceCount);
    image_shown = ui_select;
    image_init();
    image_para_update();
    g_image_current = ui_select;
    ZevRamPara::test_signal(1);
}

void ImageLayout::key_left()
{
    step(-1);
}

void ImageLayout::key_right()
{
    step(1);
}
