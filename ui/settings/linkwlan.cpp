#include "ui/settings/linkwlan.h"

#include <QRegularExpression>
#include <unistd.h>

#include "board/board.h"
#include "core/config_engine.h"
#include "core/logging.h"
#include "core/net_check.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ui/settings/settings_rows.h"
#include "ui/shell/textfit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/pages.h"
#include "ui_linkwlan.h"

namespace
{
enum Text { kTitle, kAddress, kMask, kGateway, kApply, kCancel, kInvalid, kNotSaved, kTextCount };
const PageText kTexts[kTextCount] = {
    {{"网口设置", "Net connect", "Сетевое подключение", "Cài đặt cổng mạng", "網口設置"}},
    {{"IP地址", "IP", "IP-адрес", "Địa chỉ IP", "IP地址"}},
    {{"子网掩码", "Mask", "Маска", "Cài đặt mặt lạ con", "子網掩碼"}},
    {{"默认网关", "Gate", "Шлюз", "Cổng vào", "默認網關"}},
    {{"应用", "Apply", "OK", "Đồng ý", "應用"}},
    {{"取消", "Cancle", "Отмена", "Hủy bỏ", "取消"}},
    {{"地址无效，未保存", "Invalid address, not saved", "Неверный адрес, не сохранено",
      "Địa chỉ không hợp lệ, chưa lưu", "地址無效，未保存"}},
    // The settings file could not be written.
    {{"未保存", "Not saved", "Не сохранено", "Chưa lưu", "未保存"}},
};
constexpr int kFields = 12;
constexpr int kApplyRow = 12;
constexpr int kCancelRow = 13;

const char* const kWhite = "color: rgb(255, 255, 255);background-color: rgb(33, 36, 53);";
} // namespace

bool linkwlan_octets(const QStringList& parts, bool mask, QString* out)
{
    static const QRegularExpression kOctet("^\\d{1,3}$");
    if (parts.size() != 4)
        return false;
    quint32 value = 0;
    QStringList plain;
    for (const QString& p : parts) {
        if (!kOctet.match(p).hasMatch() || p.toUInt() > 255)
            return false;
        value = value << 8 | p.toUInt();
        plain << QString::number(p.toUInt());
    }
    // A contiguous mask is ones followed by zeros: its complement plus one
    // is a power of two.
    if (mask && (((~value) + 1) & ~value) != 0)
        return false;
    *out = plain.join('.');
    return true;
}

linkwlan::linkwlan(QWidget* parent) : ZevPage(parent, PageId::linkwlan, PageId::LinkOption), ui(new Ui_linkwlan)
{
    style_focused = "color: rgb(255, 255, 255); background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);";
    ui->setupUi(this);
    My_lineEdit* fields[kFields] = {ui->lineEditIp1,   ui->lineEditIp2,   ui->lineEditIp3,   ui->lineEditIp4,
                                    ui->lineEditMask1, ui->lineEditMask2, ui->lineEditMask3, ui->lineEditMask4,
                                    ui->lineEditGate1, ui->lineEditGate2, ui->lineEditGate3, ui->lineEditGate4};
    const Utils::NetIdentity id = Utils::net_identity();
    const QString* stored[3] = {&id.ip, &id.mask, &id.gateway};
    for (int r = 0; r < 3; ++r) {
        const QStringList parts = stored[r]->split('.');
        for (int k = 0; k < 4; ++k)
            fields[4 * r + k]->setText(parts.value(k));
    }
    for (My_lineEdit* field : fields)
        connect(field, &My_lineEdit::send_show, this, &linkwlan::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &linkwlan::confirmString);
    menulist_init();
    language_changed();
}

linkwlan::~linkwlan()
{
    delete ui;
}

void linkwlan::menulist_init()
{
    menu_list = {ui->lineEditIp1,   ui->lineEditIp2,   ui->lineEditIp3,   ui->lineEditIp4,   ui->lineEditMask1,
                 ui->lineEditMask2, ui->lineEditMask3, ui->lineEditMask4, ui->lineEditGate1, ui->lineEditGate2,
                 ui->lineEditGate3, ui->lineEditGate4, ui->Button_apply,  ui->Button_cancle};
    ZevPage::menulist_init();
    ui->label_invalid->clear();
}

QString linkwlan::row_style(int row, bool focused) const
{
    if (row >= kFields)
        return focused ? "color: rgb(255, 255, 255);border:1px solid rgb(255,171,84);"
                       : "color: rgb(255, 255, 255);border:1px solid rgb(255,255,255);";
    if (focused)
        return style_focused;
    // A row of four fields is drawn as one box.
    const char* edge = row % 4 == 0   ? "border-left:1px solid rgb(255, 255, 255);"
                       : row % 4 == 3 ? "border-right:1px solid rgb(255, 255, 255);"
                                      : "";
    return QString(kWhite) + "border-top:1px solid rgb(255, 255, 255);border-bottom:1px solid rgb(255, 255, 255);" +
           edge;
}

void linkwlan::language_changed()
{
    set_fitted(ui->label_wlan, page_text(kTexts[kTitle]));
    set_fitted({{ui->label_IpSet, page_text(kTexts[kAddress])},
                {ui->label_netmask, page_text(kTexts[kMask])},
                {ui->label_gateway, page_text(kTexts[kGateway])}});
    set_fitted({{ui->Button_apply, page_text(kTexts[kApply])}, {ui->Button_cancle, page_text(kTexts[kCancel])}});
    if (!ui->label_invalid->text().isEmpty())
        set_fitted(ui->label_invalid, page_text(kTexts[kInvalid]));
}

void linkwlan::key_ok()
{
    if (ui_select < kFields) {
        auto* field = static_cast<My_lineEdit*>(menu_list[ui_select]);
        emit field->send_show(field->objectName());
    } else if (ui_select == kApplyRow) {
        on_Button_net_apply_clicked();
    } else {
        slot_Button_back_clicked();
    }
}

void linkwlan::show_numberkeyboard_ui(QString)
{
    auto* field = qobject_cast<QLineEdit*>(sender());
    if (!field)
        return;
    entering_ = field->objectName();
    open_number_keyboard(field, entering_.startsWith("lineEditMask") ? "Mask" : "IP");
}

void linkwlan::confirmString(QString text)
{
    if (number_for(this))
        g_lineedit->setText(text);
}

QStringList linkwlan::row(int first) const
{
    QStringList parts;
    for (int k = 0; k < 4; ++k)
        parts << static_cast<QLineEdit*>(menu_list[size_t(first + k)])->text();
    return parts;
}

void linkwlan::on_Button_net_apply_clicked()
{
    // Nothing invalid ever reaches the settings file or a shell command, and
    // the address is one the interface can take, as the PC's set-IP demands.
    QString ip, mask, gateway;
    if (!linkwlan_octets(row(0), false, &ip) || !linkwlan_octets(row(4), true, &mask) ||
        !linkwlan_octets(row(8), false, &gateway) || !net_check::host_address(ip, mask)) {
        set_fitted(ui->label_invalid, page_text(kTexts[kInvalid]));
        return;
    }
    ui->label_invalid->clear();
    const Utils::NetIdentity id = Utils::net_identity();
    if (ip == id.ip && mask == id.mask && gateway == id.gateway)
        return;
    qCDebug(lcUi, "net apply: ip %s mask %s gateway %s", qPrintable(ip), qPrintable(mask), qPrintable(gateway));
    ConfigEngine* config = ConfigEngine::p_config;
    if (!config)
        return;
    if (!config->write_config_variants(
            {{ConfigItem::IPAddress, ip}, {ConfigItem::SubNetMask, mask}, {ConfigItem::GateWay, gateway}})) {
        set_fitted(ui->label_invalid, page_text(kTexts[kNotSaved]));
        return;
    }
    board::current().shell().system("sync");
    usleep(100);
    Utils::initIPAddress();
    ZevRamPara::test_signal(1);
}
