#include "ui/settings/temperature.h"

#include "core/zevrampara.h"
#include "ui/settings/settings_rows.h"
#include "ui/shell/textfit.h"
#include "ui/shell/pages.h"
#include "ui_temperature.h"

namespace
{
enum Text { kTitle, kType, kRed, kGreen, kBlue, kTextCount };
const PageText kTexts[kTextCount] = {
    {{"色温", "Temperature", "Температура Оттенок", "Độ màu", "色溫"}},
    {{"色温类型", "temperature type", "Выбор цвета", "Lựa chọn độ màu", "色溫類型"}},
    {{"红色", "Red", "Красный", "Màu đỏ", "紅色"}},
    {{"绿色", "Green", "Зеленый", "Màu xanh lá cây", "綠色"}},
    {{"蓝色", "Blue", "Синий", "Màu xanh da trời", "藍色"}},
};
const PageText kTypes[4] = {
    {{"自定义", "custom", "Свой", "Tùy chỉnh", "自定義"}},
    {{"偏暖", "warm", "Теплый", "Màu ấm", "偏暖"}},
    {{"自然", "nature", "Природный", "Tự nhiên", "自然"}},
    {{"偏冷", "cool", "Холодный", "Lạnh hơn", "偏冷"}},
};
constexpr int kTypeOffset = 2184;
constexpr int kGainOffsets[4] = {0, 2186, 2188, 2190};
} // namespace

temperature::temperature(QWidget* parent)
    : SteppedValuePage(parent, PageId::temperature, PageId::ImageQuality), ui(new Ui_temperature)
{
    ui->setupUi(this);
    para_init();
    menulist_init();
    language_changed();
}

temperature::~temperature()
{
    delete ui;
}

void temperature::para_init()
{
    QLineEdit* gains[3] = {ui->lineEdit_name_red, ui->lineEdit_name_green, ui->lineEdit_name_blue};
    short gain[3];
    u16 stored;
    {
        C331Lock lock;
        for (int i = 0; i < 3; ++i)
            gain[i] = short(ZevRamPara::img16(kGainOffsets[i + 1]));
        stored = ZevRamPara::img16(kTypeOffset);
    }
    for (int i = 0; i < 3; ++i)
        gains[i]->setText(QString::asprintf("%d", int(gain[i])));
    ui->comboBox_type->clear();
    for (const PageText& t : kTypes)
        ui->comboBox_type->addItem(page_text(t));
    type_choice = stored > 3 ? 0 : u8(stored);
    ui->comboBox_type->setCurrentIndex(type_choice);
    fit_combos({ui->comboBox_type});
}

void temperature::menulist_init()
{
    menu_list = {ui->comboBox_type, ui->lineEdit_name_red, ui->lineEdit_name_green, ui->lineEdit_name_blue};
    ZevPage::menulist_init();
    type_choice_saved = type_choice;
}

void temperature::language_changed()
{
    set_fitted(ui->label_temperature, page_text(kTexts[kTitle]));
    set_fitted({{ui->label_type, page_text(kTexts[kType])},
                {ui->label_name_red, page_text(kTexts[kRed])},
                {ui->label_name_green, page_text(kTexts[kGreen])},
                {ui->label_name_blue, page_text(kTexts[kBlue])}});
}

void temperature::syncUpdate()
{
    if (!ZevRamPara::ZevLanguageChanged())
        return;
    language_changed();
    para_init();
    if (ui_select == 0 && edit_flag == 1) {
        // The choice not yet accepted is dropped.
        edit_flag = 0;
        set_row_style(0, true);
    }
}

QString temperature::row_style(int row, bool focused) const
{
    if (row == 0)
        return combo_style(focused ? kBorderFocused : kBorderNormal);
    return ZevPage::row_style(row, focused);
}

QLineEdit* temperature::value_edit(int row)
{
    return row >= 1 && row <= 3 ? static_cast<QLineEdit*>(menu_list[size_t(row)]) : nullptr;
}

void temperature::apply_value(int row, int value)
{
    if (row >= 1 && row <= 3)
        write_low_byte(kGainOffsets[row], value);
}

void temperature::step_type(int delta)
{
    type_choice = u8((type_choice + delta + 4) % 4);
    ui->comboBox_type->setCurrentIndex(type_choice);
}

void temperature::key_left()
{
    if (ui_select == 0 && edit_flag)
        step_type(-1);
    else
        ZevPage::key_left();
}

void temperature::key_right()
{
    if (ui_select == 0 && edit_flag)
        step_type(1);
    else
        ZevPage::key_right();
}

void temperature::key_ok()
{
    if (ui_select != 0)
        return ZevPage::key_ok();
    if (!edit_flag) {
        type_choice_saved = type_choice;
        edit_flag = 1;
        ui->comboBox_type->setStyleSheet(combo_style(kBorderEditing));
    } else {
        edit_flag = 0;
        set_row_style(0, true);
        on_button_type_clicked();
    }
}

void temperature::key_back()
{
    if (ui_select != 0 || !edit_flag)
        return ZevPage::key_back();
    // The saved type is written and applied again, even when unchanged.
    type_choice = type_choice_saved;
    edit_flag = 0;
    set_row_style(0, true);
    on_button_type_clicked();
    ui->comboBox_type->setCurrentIndex(type_choice);
}

void temperature::on_button_type_clicked()
{
    write_low_byte(kTypeOffset, type_choice);
}
