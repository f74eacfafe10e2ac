#include "ui/settings/netset.h"

#include <QLabel>
#include <QPixmap>

#include "core/logging.h"
#include "core/zevrampara.h"
#include "ledout/fpga_manage.h"
#include "ui/settings/settings_rows.h"
#include "ui/shell/textfit.h"
#include "ui/shell/pages.h"
#include "ui_netset.h"

namespace
{
enum Text { kTitle, kWidth, kHeight, kPort, kTextCount };
const PageText kTexts[kTextCount] = {
    {{"网口输出", "Port output", "Настройка LAN", "Cài đặt cổng MẠNG", "網口輸出"}},
    {{"宽", "W", "Ширина", "Rộng", "寬"}},
    {{"高", "H", "Высота", "Cao", "高"}},
    {{"网口LED%d", "LED%d", "LED%d", "LED%d", "網口LED%d"}},
};
constexpr u8 kLastPort = 15;

u16 ram_word(unsigned address)
{
    return fpga_manage::para16(0, address);
}
} // namespace

netset::netset(QWidget* parent) : ZevPage(parent, PageId::netset, PageId::OutputSet), ui(new Ui_netset)
{
    style_normal =
        "background-color:transparent; border:1px solid rgb(255, 255, 255);border-radius:1px;padding:2px 4px";
    style_focused =
        "background-color:transparent; border:0px solid rgb(255, 255, 255);border-radius:1px;padding:2px 4px";
    ui->setupUi(this);
    ui->l_p->setPixmap(QPixmap(":/png/ltri.png"));
    ui->r_p->setPixmap(QPixmap(":/png/rtri.png"));
    initMenu();
    language_changed();
    menulist_init();
}

netset::~netset()
{
    delete ui;
}

void netset::initMenu()
{
    wlan_para_get(0);
    initWlan();
}

void netset::menulist_init()
{
    menu_list = {ui->LED1Button, ui->LED2Button, ui->LED3Button, ui->LED4Button};
    ZevPage::menulist_init();
    ui_sel = 0;
    ui_min_select = 0;
    ui->net_frame->move(24, 40);
}

QString netset::row_style(int, bool focused) const
{
    return focused ? style_focused : style_normal;
}

void netset::wlan_para_get(unsigned short port)
{
    if (port > kLastPort)
        port = 0;
    unsigned short x, y, w, h;
    fpga_manage::get_eth_param_addr(u8(port), &x, &y, &w, &h);
    ui->x_lineEdit->setText(QString::asprintf("%d", ram_word(x)));
    ui->y_lineEdit->setText(QString::asprintf("%d", ram_word(y)));
    ui->w_lineEdit->setText(QString::asprintf("%d", ram_word(w)));
    ui->h_lineEdit->setText(QString::asprintf("%d", ram_word(h)));
    QLabel* labels[4] = {ui->LED1label, ui->LED2label, ui->LED3label, ui->LED4label};
    const QByteArray format = page_text(kTexts[kPort]).toUtf8();
    std::vector<FitItem> tabs;
    for (int k = 0; k < 4; ++k)
        tabs.push_back({labels[k], QString::asprintf(format.constData(), ui_min_select + k + 1)});
    set_fitted(tabs);
}

void netset::initWlan()
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    const u16 links = fpga ? fpga->get_wlan_state() : 0;
    QLabel* icons[4] = {ui->L1label, ui->L2label, ui->L3label, ui->L4label};
    for (int k = 0; k < 4; ++k) {
        const int p = ui_min_select + k;
        const bool up = p < 16 && (links >> p & 1);
        icons[k]->setPixmap(QPixmap(up ? ":/png/online_up.png" : ":/png/offline_up.png"));
    }
}

void netset::language_changed()
{
    set_fitted(ui->label_netset, page_text(kTexts[kTitle]));
    set_fitted({{ui->x_label, "X"},
                {ui->y_label, "Y"},
                {ui->w_label, page_text(kTexts[kWidth])},
                {ui->h_label, page_text(kTexts[kHeight])}});
}

void netset::syncUpdate()
{
    if (!ZevRamPara::ZevLanguageChanged())
        return;
    language_changed();
    wlan_para_get(ui_select);
}

void netset::key_right()
{
    if (ui_sel < 3) {
        set_row_style(ui_sel, false);
        ++ui_sel;
        ++ui_select;
        focus_widget = menu_list[ui_sel];
        set_row_style(ui_sel, true);
    } else {
        if (ui_select < kLastPort)
            ++ui_select;
        ui_min_select = u8(ui_select - 3);
    }
    moved();
}

void netset::key_left()
{
    if (ui_sel > 0) {
        set_row_style(ui_sel, false);
        --ui_sel;
        --ui_select;
        focus_widget = menu_list[ui_sel];
        set_row_style(ui_sel, true);
    } else if (ui_select > 0) {
        --ui_select;
        --ui_min_select;
    }
    moved();
}

void netset::moved()
{
    ui->net_frame->move(24 + 68 * ui_sel, 40);
    qCDebug(lcUi, "\n ui_min_select=%d,ui_select=%d ui_sel=%d\n", ui_min_select, ui_select, ui_sel);
    wlan_para_get(ui_select);
    initWlan();
}
