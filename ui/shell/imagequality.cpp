#include "ui/shell/imagequality.h"

#include "ui/settings/quality.h"
#include "ui/settings/temperature.h"
#include "ui/shell/menu_tiles.h"
#include "ui/shell/pages.h"
#include "ui/shell/textfit.h"
#include "ui_imagequality.h"

namespace
{
enum Text { kTitle, kQuality, kTemperature, kTextCount };
const PageText kTexts[kTextCount] = {
    {{"图像效果", "Image quality", "Изображение", "Chất lượng hình ảnh", "圖像效果"}},
    {{"画质", "Quality", "Качество", "Chất lượng", "畫質"}},
    {{"色温", "Temperature", "Оттенок", "Độ màu", "色溫"}},
};
} // namespace

ImageQuality::ImageQuality(QWidget* parent)
    : ZevPage(parent, PageId::ImageQuality, PageId::Option), ui(new Ui_ImageQuality)
{
    style_normal = kTileNormal;
    style_focused = kTileFocused;
    ui->setupUi(this);
    para_init();
    language_changed();
    menulist_init();
}

ImageQuality::~ImageQuality()
{
    delete ui;
}

void ImageQuality::menulist_init()
{
    menu_list = {ui->Button_quality, ui->Button_temperature};
    ZevPage::menulist_init();
}

void ImageQuality::language_changed()
{
    set_fitted(ui->label_title, page_text(kTexts[kTitle]));
    set_fitted(
        {{ui->Button_quality, page_text(kTexts[kQuality])}, {ui->Button_temperature, page_text(kTexts[kTemperature])}});
}

void ImageQuality::on_row_ok(int row)
{
    if (row == 0)
        on_Button_quality_clicked();
    else
        on_Button_temperature_clicked();
}

void ImageQuality::on_Button_quality_clicked()
{
    open_page(g_quality);
}

void ImageQuality::on_Button_temperature_clicked()
{
    open_page(g_temperature);
}
