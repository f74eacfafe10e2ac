#include "ui/settings/quality.h"

#include "core/zevrampara.h"
#include "ui/settings/settings_rows.h"
#include "ui/shell/textfit.h"
#include "ui/shell/pages.h"
#include "ui_quality.h"
#include "video/c331_manage.h"

namespace
{
enum Text { kTitle, kBright, kSharpness, kContrast, kSaturation, kReset, kPressOk, kTextCount };
const PageText kTexts[kTextCount] = {
    {{"图像效果", "Image quality", "Изображение", "Chất lượng hình ảnh", "圖像效果"}},
    {{"亮度", "Brightness", "Яркость", "Độ cao", "亮度"}},
    {{"锐度", "Sharpness", "Резкость", "Độ sắc nét", "銳度"}},
    {{"对比度", "Contrast", "Контраст", "Độ tương phản", "對比度"}},
    {{"饱和度", "Saturation", "Насыщенность", "Độ bão hòa", "飽和度"}},
    {{"画质复位", "Reset", "Сбросить", "Đặt lại chất lượng hình ảnh", "畫質複位"}},
    {{"点击OK应用", "Press Ok", "Нажмите ОК", "Đồng ý", "點擊OK應用"}},
};

// Screen order differs from image order: each row names its field.
constexpr int kOffsets[4] = {2176, 2180, 2178, 2182};
constexpr int kResetRow = 4;
} // namespace

quality::quality(QWidget* parent) : SteppedValuePage(parent, PageId::quality, PageId::ImageQuality), ui(new Ui_quality)
{
    ui->setupUi(this);
    para_init();
    menulist_init();
    language_changed();
}

quality::~quality()
{
    delete ui;
}

void quality::para_init()
{
    QLineEdit* fields[4] = {ui->lineEdit_bright, ui->lineEdit_Sharpness, ui->lineEdit_Contrast,
                            ui->lineEdit_Saturation};
    short value[4];
    {
        C331Lock lock;
        for (int i = 0; i < 4; ++i)
            value[i] = short(ZevRamPara::img16(kOffsets[i]));
    }
    for (int i = 0; i < 4; ++i)
        fields[i]->setText(QString::asprintf("%d", int(value[i])));
}

void quality::menulist_init()
{
    menu_list = {ui->lineEdit_bright, ui->lineEdit_Sharpness, ui->lineEdit_Contrast, ui->lineEdit_Saturation,
                 ui->lineEdit_Reset};
    ZevPage::menulist_init();
    sel_value_saved = ui->lineEdit_bright->text().toInt();
}

void quality::language_changed()
{
    set_fitted(ui->label_quality, page_text(kTexts[kTitle]));
    set_fitted({{ui->label_bright, page_text(kTexts[kBright])},
                {ui->label_Sharpness, page_text(kTexts[kSharpness])},
                {ui->label_Contrast, page_text(kTexts[kContrast])},
                {ui->label_Saturation, page_text(kTexts[kSaturation])},
                {ui->label_reset, page_text(kTexts[kReset])}});
    set_fitted(ui->lineEdit_Reset, page_text(kTexts[kPressOk]));
}

QLineEdit* quality::value_edit(int row)
{
    return row >= 0 && row < kResetRow ? static_cast<QLineEdit*>(menu_list[size_t(row)]) : nullptr;
}

void quality::apply_value(int row, int value)
{
    if (row >= 0 && row < kResetRow)
        write_low_byte(kOffsets[row], value);
}

void quality::on_row_ok(int row)
{
    if (row == kResetRow)
        on_Button_reset_clicked();
}

void quality::on_Button_reset_clicked()
{
    // The 16 bytes hold the colour temperature too, which resets with them.
    c331_apply(1, [] { ZevRamPara::load_defaults(Img::kBrightness, Img::kQualityEnd); });
    para_init();
}
