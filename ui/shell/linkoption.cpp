#include "ui/shell/linkoption.h"

#include "ui/settings/linkcom.h"
#include "ui/settings/linkwlan.h"
#include "ui/shell/menu_pages.h"
#include "ui/shell/pages.h"
#include "ui_linkoption.h"

namespace
{
// The title, then the tiles in row order.
const PageText kTexts[] = {
    {{"通讯设置", "Communication", "Подключение", "Cài đặt giao tiếp", "通訊設置"}},
    {{"串口连接", "Serial port", "COM-порт", "Cài đặt cổng\n nối tiếp", "串口連接"}},
    {{"网口设置", "Net connect", "Сетевое по\nдключение", "Cài đặt\ncổng mạng", "網口設置"}},
    {{"USB升级", "USB UPDATE", "Обновление\nчерез USB", "Sử dụng ổ USB\nđể cập nhập", "USB昇級"}},
};
} // namespace

LinkOption::LinkOption(QWidget* parent)
    : MenuTilePage(parent, PageId::LinkOption, PageId::Option, Look::Plain), ui(new Ui_LinkOption)
{
    ui->setupUi(this);
    para_init();
    menulist_init();
    language_changed();
}

LinkOption::~LinkOption()
{
    delete ui;
}

void LinkOption::menulist_init()
{
    set_tiles<LinkOption>({{ui->Button_com, &LinkOption::on_Button_linkcom_clicked},
                           {ui->Button_wlan, &LinkOption::on_Button_linkwlan_clicked},
                           {ui->Button_usb, &LinkOption::on_Button_firmware_usbgrade_clicked}});
}

void LinkOption::language_changed()
{
    set_texts(ui->label_title, kTexts);
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
