#include "ui/shell/outputset.h"

#include "core/zevrampara.h"
#include "ui/settings/ledset.h"
#include "ui/settings/netset.h"
#include "ui/shell/pages.h"
#include "ui/shell/textfit.h"
#include "ui_outputset.h"

namespace
{
// The title, the tiles in row order, then the size line.
enum Text { kSize = 3, kTextCount };
const PageText kTexts[kTextCount] = {
    {{"输出设置", "Output Seeting", "Выход", "Thông số đầu ra", "輸出設置"}},
    {{"LED设置", "LED Setting", "Настройки\nLED", "Cài đặt\nLED", "LED設置"}},
    {{"网口输出", "Port output", "Настройка\nLAN", "Cài đặt\ncổng MẠNG", "網口輸出"}},
    {{"当前设置LED屏宽高为: %dx%d", "LED Screen can be set:%dx%d", "Текущий размер LED (px): %dx%d",
      "Gợi ý: Kích thước màn hình LED hiện tại::%dx%d", "當前設置LED屏寬高爲: %dx%d"}},
};
} // namespace

OutputSet::OutputSet(QWidget* parent)
    : MenuTilePage(parent, PageId::OutputSet, PageId::Option, Look::Plain), ui(new Ui_OutputSet)
{
    ui->setupUi(this);
    set_key_hints(ui->label_note_OK, ui->label_note_back);
    menulist_init();
    language_changed();
}

OutputSet::~OutputSet()
{
    delete ui;
}

void OutputSet::menulist_init()
{
    set_tiles<OutputSet>({{ui->Button_ledset, &OutputSet::on_Button_ledset_clicked},
                          {ui->Button_lanset, &OutputSet::on_Button_lanset_clicked}});
}

void OutputSet::language_changed()
{
    set_texts(ui->label_title, kTexts);
    const QByteArray size = page_text(kTexts[kSize]).toUtf8();
    unsigned w, h;
    {
        C331Lock lock;
        w = ZevRamPara::img16(Img::kLedWidth);
        h = ZevRamPara::img16(Img::kLedHeight);
    }
    set_fitted(ui->label_info, QString::asprintf(size.constData(), w, h));
}

void OutputSet::on_Button_ledset_clicked()
{
    open_page(g_ledset);
}

void OutputSet::on_Button_lanset_clicked()
{
    open_page(g_netset);
}
