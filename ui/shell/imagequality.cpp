#include "ui/shell/imagequality.h"

#include "ui/settings/quality.h"
#include "ui/settings/temperature.h"
#include "ui/shell/pages.h"
#include "ui_imagequality.h"

namespace
{
// The title, then the tiles in row order.
const PageText kTexts[] = {
    {{"图像效果", "Image quality", "Изображение", "Chất lượng hình ảnh", "圖像效果"}},
    {{"画质", "Quality", "Качество", "Chất lượng", "畫質"}},
    {{"色温", "Temperature", "Оттенок", "Độ màu", "色溫"}},
};
} // namespace

ImageQuality::ImageQuality(QWidget* parent)
    : MenuTilePage(parent, PageId::ImageQuality, PageId::Option, Look::Plain), ui(new Ui_ImageQuality)
{
    ui->setupUi(this);
    para_init();
    menulist_init();
    language_changed();
}

ImageQuality::~ImageQuality()
{
    delete ui;
}

void ImageQuality::menulist_init()
{
    set_tiles<ImageQuality>({{ui->Button_quality, &ImageQuality::on_Button_quality_clicked},
                             {ui->Button_temperature, &ImageQuality::on_Button_temperature_clicked}});
}

void ImageQuality::language_changed()
{
    set_texts(ui->label_title, kTexts);
}

void ImageQuality::on_Button_quality_clicked()
{
    open_page(g_quality);
}

void ImageQuality::on_Button_temperature_clicked()
{
    open_page(g_temperature);
}
