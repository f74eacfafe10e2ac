#include "ui/settings/linkcom.h"

#include "ui/settings/settings_rows.h"
#include "ui/shell/textfit.h"
#include "ui/shell/pages.h"
#include "ui_linkcom.h"

namespace
{
enum Text { kTitle, kBaud, kBits, kStop, kTextCount };
const PageText kTexts[kTextCount] = {
    {{"串口连接", "Serial port", "COM-порт", "Cài đặt cổng nối tiếp", "串口連接"}},
    {{"波特率", "Baud rate", "Скорость передачи", "Tốc độ truyền", "波特率"}},
    {{"数据位", "Data bits", "Биты данных", "Bit dữ liệ", "數據位"}},
    {{"停止位", "Stop bit", "Бит остановки", "Dừng bit", "停止位"}},
};
} // namespace

linkcom::linkcom(QWidget* parent) : ZevPage(parent, PageId::linkcom, PageId::LinkOption), ui(new Ui_linkcom)
{
    ui->setupUi(this);
    language_changed();
}

linkcom::~linkcom()
{
    delete ui;
}

void linkcom::language_changed()
{
    set_fitted(ui->label_com, page_text(kTexts[kTitle]));
    set_fitted({{ui->label_baud, page_text(kTexts[kBaud])},
                {ui->label_bit, page_text(kTexts[kBits])},
                {ui->label_stop, page_text(kTexts[kStop])}});
}
