#include "ui/shell/linkoption.h"

#include "ui/settings/linkcom.h"
#include "ui/settings/linkwlan.h"
#include "ui/shell/menu_pages.h"
#include "ui/shell/menu_tiles.h"
#include "ui/shell/pages.h"
#include "ui/shell/textfit.h"
#include "ui_linkoption.h"

namespace
{
enum Text { kTitle, kSerial, kNet, kUsb, kTextCount };
const PageText kTexts[kTextCount] = {
    {{"通讯设置", "Communication", "Подключение", "Cài đặt giao tiếp", "通訊設置"}},
    {{"串口连接", "Serial port", "COM-порт", "Cài đặt cổng\n nối tiếp", "串口連接"}},
    {{"网口设置", "Net connect", "Сетевое по\nдключение", "Cài đặt\ncổng mạng", "網口設置"}},
    {{"USB升级", "USB UPDATE", "Обновление\nчерез USB", "Sử dụng ổ USB\nđể cập nhập", "USB昇級"}},
};
} // namespace

LinkOption::LinkOption(QWidget* parent) : ZevPage(parent, PageId::LinkOption, PageId::Option), ui(new Ui_LinkOption)
{
    style_normal = kTileNormal;
    style_focused = kTileFocused;
    ui->setupUi(this);
    para_init();
    language_changed();
    menulist_init();
}

LinkOption::~LinkOption()
{
    delete ui;
}

void LinkOption::menulist_init()
{
    menu_list = {ui->Button_com, ui->Button_wlan, ui->Button_usb};
    ZevPage::menulist_init();
}

void LinkOption::language_changed()
{
    set_fitted(ui->label_title, page_text(kTexts[kTitle]));
    set_fitted({{ui->Button_com, page_text(kTexts[kSerial])},
                {ui->Button_wlan, page_text(kTexts[kNet])},
                {ui->Button_usb, page_text(kTexts[kUsb])}});
}

void LinkOption::on_row_ok(int row)
{
    if (row == 0)
        on_Button_linkcom_clicked();
    else if (row == 1)
        on_Button_linkwlan_clicked();
    else
        on_Button_firmware_usbgrade_clicked();
}

void LinkOption::on_Button_linkcom_clicked()
{
    open_page(g_linkcom);
}

void LinkOption::on_Button_linkwlan_clicked()
{
    open_page(g_linkwlan);
}

void LinkOption::on_Button_firmware_usbgrade_clicked()
{
    open_menu_page(PageId::firmware_usbgrade);
}
