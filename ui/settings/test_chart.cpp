#include "ui/settings/test_chart.h"

#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "core/zevrampara.h"
#include "ui/settings/settings_rows.h"
#include "ui/shell/textfit.h"
#include "ui/shell/pages.h"
#include "ui_test_chart.h"
#include "video/c331_manage.h"

namespace
{
const PageText kTitle = {{"测试图", "Test pattern", "Тестовый образец", "Biểu đồ kiểm tra", "測試圖"}};
const PageText kItems[8] = {
    {{"红色", "Red", nullptr, nullptr, "紅色"}},           {{"绿色", "Green", nullptr, nullptr, "綠色"}},
    {{"蓝色", "Blue", nullptr, nullptr, "藍色"}},          {{"白色", "White", nullptr, nullptr, "白色"}},
    {{"黑色", "Black", nullptr, nullptr, "黑色"}},         {{"色带", "Colour bar", nullptr, nullptr, "色帶"}},
    {{"竖线", "Vertical line", nullptr, nullptr, "豎線"}}, {{"横线", "Horizontal line", nullptr, nullptr, "橫線"}},
};
// Russian and Vietnamese number the items instead of naming them.
const PageText kNumbered = {{nullptr, nullptr, "Тест %d", "Kiểm tra %d", nullptr}};
const PageText kClose = {{"关闭测试图", "Close", "Закрыть", "Đóng", "關閉測試圖"}};

constexpr int kCloseRow = 8;
} // namespace

test_chart::test_chart(QWidget* parent) : ZevPage(parent, PageId::test_chart, PageId::Option), ui(new Ui_test_chart)
{
    style_normal = "color: rgb(255, 255, 255);";
    style_focused = "border:1px solid rgb(255,171,84);";
    ui->setupUi(this);
    QLabel* pictures[8] = {ui->label_test1, ui->label_test2, ui->label_test3, ui->label_test4,
                           ui->label_test5, ui->label_test6, ui->label_test7, ui->label_test8};
    for (int k = 0; k < 8; ++k)
        pictures[k]->setPixmap(QPixmap(QString(":/png/img_test%1.png").arg(k + 1)));
    menulist_init();
    language_changed();
}

test_chart::~test_chart()
{
    delete ui;
}

void test_chart::menulist_init()
{
    menu_list = {ui->label_test1, ui->label_test2, ui->label_test3, ui->label_test4,     ui->label_test5,
                 ui->label_test6, ui->label_test7, ui->label_test8, ui->Button_closetest};
    ZevPage::menulist_init();
}

void test_chart::language_changed()
{
    set_fitted(ui->label_testimage, page_text(kTitle));
    QLabel* captions[8] = {ui->label_red,   ui->label_green, ui->label_blue,  ui->label_white,
                           ui->label_black, ui->label_color, ui->label_hline, ui->label_wline};
    const int lang = ui_language();
    std::vector<FitItem> items;
    for (int k = 0; k < 8; ++k) {
        const char* text = kItems[k].lang[lang];
        items.push_back({captions[k], text ? QString::fromUtf8(text) : QString::asprintf(kNumbered.lang[lang], k + 1)});
    }
    // The eight captions in one size.
    set_fitted(items);
    set_fitted(ui->Button_closetest, page_text(kClose));
}

QString test_chart::row_style(int row, bool focused) const
{
    if (row == kCloseRow)
        return focused ? "color: rgb(255, 255, 255); background-color:rgb(0,0,0);border:1px solid rgb(255,171,84);"
                       : "color: rgb(255, 255, 255);background-color:rgb(0,0,0);border:1px solid rgb(255,255,255);";
    return ZevPage::row_style(row, focused);
}

void test_chart::key_ok()
{
    if (ui_select == kCloseRow)
        slot_Button_back_clicked();
    else
        slot_Button_on_clicked();
}

void test_chart::key_back()
{
    slot_Button_back_clicked();
}

void test_chart::slot_Button_on_clicked()
{
    if (ui_select < kCloseRow)
        c331_apply(1, [this] { ZevRamPara::p_zevrampara_config[Img::kTestPattern] = u8(ui_select + 1); });
}

void test_chart::slot_Button_back_clicked()
{
    c331_apply(1, [] { ZevRamPara::p_zevrampara_config[Img::kTestPattern] = 0; });
    back_to(PageId::Option);
}
