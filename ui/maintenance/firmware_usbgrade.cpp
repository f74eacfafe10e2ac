#include "ui/maintenance/firmware_usbgrade.h"

#include "ledout/fpga_manage.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/pages.h"
#include "ui/shell/textfit.h"
#include "ui_firmware_usbgrade.h"

namespace
{
enum Text { kTitle, kNote, kUpgrade, kStarted, kBusy, kDone, kStickOut, kNoPackage, kCheckFailed, kTextCount };
const PageText kTexts[kTextCount] = {
    {{"U盘升级", "USB upgrade", "Обновление с USB", "Nâng cấp USB", "U盤升級"}},
    {{"插入存有升级包的U盘，按确认键开始升级", "Insert a USB stick with the upgrade package and press OK",
      "Вставьте USB-диск с пакетом обновления и нажмите OK", "Cắm USB có gói nâng cấp và nhấn OK",
      "插入存有升級包的U盤，按確認鍵開始升級"}},
    {{"开始升级", "Upgrade", "Обновить", "Nâng cấp", "開始升級"}},
    {{"正在升级", "Upgrading", "Идёт обновление", "Đang nâng cấp", "正在升級"}},
    {{"设备忙，请稍后再试", "Busy, try again later", "Занято, повторите позже", "Đang bận, thử lại sau",
      "設備忙，請稍後再試"}},
    {{"升级完成", "Upgrade finished", "Обновление завершено", "Nâng cấp xong", "升級完成"}},
    {{"U盘已拔出", "USB stick removed", "USB-диск извлечён", "Đã rút USB", "U盤已拔出"}},
    {{"未找到升级包", "No upgrade package found", "Пакет обновления не найден", "Không tìm thấy gói nâng cấp",
      "未找到升級包"}},
    {{"升级包校验失败", "Upgrade package check failed", "Пакет обновления не прошёл проверку",
      "Kiểm tra gói nâng cấp thất bại", "升級包校驗失敗"}},
};
} // namespace

firmware_usbgrade::firmware_usbgrade(QWidget* parent)
    : ZevPage(parent, PageId::firmware_usbgrade, PageId::LinkOption), ui(new Ui_firmware_usbgrade)
{
    ui->setupUi(this);
    set_key_hints(ui->label_note_OK, ui->label_note_back);
    menulist_init();
    language_changed();
}

firmware_usbgrade::~firmware_usbgrade()
{
    delete ui;
}

void firmware_usbgrade::menulist_init()
{
    menu_list = {ui->Button_upgrade};
    ZevPage::menulist_init();
}

void firmware_usbgrade::language_changed()
{
    set_fitted(ui->label_title, page_text(kTexts[kTitle]));
    set_fitted(ui->label_note, page_text(kTexts[kNote]));
    set_fitted(ui->Button_upgrade, page_text(kTexts[kUpgrade]));
    show_state();
}

void firmware_usbgrade::show_state()
{
    // Text of each state, in State order (none while idle).
    static const int kStateText[] = {
        -1, Text::kStarted, Text::kBusy, Text::kDone, Text::kStickOut, Text::kNoPackage, Text::kCheckFailed};
    const int t = kStateText[state_];
    set_fitted(ui->label_state, t < 0 ? QString() : page_text(kTexts[t]));
}

void firmware_usbgrade::syncUpdate(int code)
{
    ZevPage::syncUpdate(code);
    if (code == 104) {
        const u8 outcome = g_usb_grade_outcome.load();
        state_ = outcome == USB_NO_PACKAGE     ? StateNoPackage
                 : outcome == USB_CHECK_FAILED ? StateCheckFailed
                                               : StateDone;
    } else if (code == 101 && state_ != StateStarted)
        state_ = StateStickOut;
    else if ((code == 100 || code == 102) && state_ != StateStarted)
        state_ = StateIdle;
    show_state();
}

void firmware_usbgrade::menulist_sel_right()
{
    if (!g_qround_bar)
        move_focus(1);
}

void firmware_usbgrade::menulist_sel_left()
{
    if (!g_qround_bar)
        move_focus(-1);
}

void firmware_usbgrade::menulist_back_page()
{
    if (g_qround_bar)
        return;
    back_to(PageId::LinkOption);
}

bool firmware_usbgrade::post_upgrade()
{
    if (g_usb_grade.load() != 0)
        return false;
    // Step 0 only from "no job": a running job keeps its step. Jobs are
    // posted by the pages on this (the GUI) thread, so none starts between
    // the two stores; once g_usb_grade is set, posting refuses.
    u16 word = g_send_para.job_word.load();
    do {
        if ((word & 0xFF) != JOB_NONE)
            return false;
    } while (!g_send_para.job_word.compare_exchange_weak(word, u16(JOB_NONE)));
    g_usb_grade = 1;
    wake_fpga_worker();
    return true;
}

void firmware_usbgrade::on_Button_upgrade_clicked()
{
    if (g_qround_bar)
        return;
    state_ = post_upgrade() ? StateStarted : StateBusy;
    show_state();
}
