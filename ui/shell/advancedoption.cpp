#include "ui/shell/advancedoption.h"

#include <QDir>
#include <QPointer>

#include "board/board.h"
#include "ledout/rcv_recovery_file.h"
#include "link/message_deal_file.h"
#include "ui/settings/lcdshow.h"
#include "ui/settings/othersetup.h"
#include "ui/shell/menu_pages.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/pages.h"
#include "ui/shell/textfit.h"
#include "ui_advancedoption.h"

namespace
{
// The title, then the tiles in row order.
const PageText kTexts[] = {
    {{"高级设置", "Advanced Settings", "Доп.опции", "Cài đặt nâng cao", "高級設置"}},
    {{"液晶显示", "LCD display", "ЖК\nдисплей", "Màn hình\nLCD", "液晶顯示"}},
    {{"其他设置", "Others", "Другие\nнастройки", "Khôi phục\ncài đăt gốc", "其他設置"}},
    {{"接收卡自恢复", "Rcv\nself-recovery", "Самовосст\nановление", "Thẻ nhận tự\nphục hồi", "接收卡自恢複"}},
    {{"工厂设置", "Factory", "Системные\nнастройки", "Khôi phục\ncàiđăt gốc", "工廠設置"}},
    {{"工厂老化", "Aging", "Сброс\nнастроек", "Lão hóa\nnhà máy", "工廠老化"}},
};

constexpr int kRowRecovery = 2;

const char* const kAccessCode = "9847";
// What the keypad shows before the first digit.
const char* const kCodeMask = "**********";
constexpr int kRussian = 2;

// Recovery packs in the record folder; -1 when there is no such folder.
int recovery_pack_count()
{
    rcvRecovery& reader = record_file_reader();
    if (reader.get_dir_file("/data/rcvrecovery") != 0)
        return -1;
    return reader.recovery_files().size();
}
} // namespace

AdvancedOption::AdvancedOption(QWidget* parent)
    : MenuTilePage(parent, PageId::AdvancedOption, PageId::Option, Look::Guarded), ui(new Ui_AdvancedOption)
{
    ui->setupUi(this);
    set_key_hints(ui->label_note_OK, ui->label_note_back);
    guard_tile(kRowRecovery, &rcv_recovery_valid);
    para_init();
    menulist_init();
    language_changed();
    age_access = 0;
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &AdvancedOption::confirmString);
}

AdvancedOption::~AdvancedOption()
{
    delete ui;
}

void AdvancedOption::menulist_init()
{
    set_tiles<AdvancedOption>({{ui->Button_LCDshow, &AdvancedOption::on_Button_LCDshow_clicked},
                               {ui->Button_other, &AdvancedOption::on_Button_other_clicked},
                               {ui->Button_rcv_recovery, &AdvancedOption::on_Button_rcv_recovery_clicked},
                               {ui->Button_factory, &AdvancedOption::on_Button_factory_clicked},
                               {ui->Button_age, &AdvancedOption::on_Button_age_clicked}});
}

void AdvancedOption::count_record_files()
{
    // A missing folder keeps the last answer (unavailable when never counted).
    int packs = recovery_pack_count();
    if (packs >= 0)
        rcv_recovery_valid = packs > 0 ? 1 : 0;
}

void AdvancedOption::language_changed()
{
    count_record_files();
    set_texts(ui->label_title, kTexts);
    show_guard();
}

void AdvancedOption::on_Button_LCDshow_clicked()
{
    open_page(g_lcdshow);
}

void AdvancedOption::on_Button_other_clicked()
{
    open_page(g_othersetup);
}

void AdvancedOption::on_Button_rcv_recovery_clicked()
{
    if (rcv_recovery_valid)
        open_menu_page(PageId::rcv_recovery);
}

void AdvancedOption::on_Button_factory_clicked()
{
    open_menu_page(PageId::factory);
}

void AdvancedOption::on_Button_age_clicked()
{
    if (age_access == 1) {
        open_menu_page(PageId::factoryage);
        return;
    }
    if (!g_numberkeyboard)
        return;
    // The entry is meant for no line edit: no page takes it as a field value.
    g_lineedit = nullptr;
    const bool russian = g_language == kRussian && (g_lcd_lang_valid & (1u << kRussian));
    g_numberkeyboard->label_show(russian ? QString::fromUtf8("Пароль") : QString("key"), kCodeMask);
    QPointer<AdvancedOption> alive(this);
    code_asked_ = true;
    code_accepted_ = false;
    g_numberkeyboard->exec();
    if (!alive)
        return;
    code_asked_ = false;
    // The ageing log opens once the keypad has closed, never nested in it.
    if (!code_accepted_)
        return;
    code_accepted_ = false;
    age_access = 1;
    on_Button_age_clicked();
    if (alive)
        age_access = 0;
}

void AdvancedOption::confirmString(QString entry)
{
    if (code_asked_)
        code_accepted_ = entry == QLatin1String(kAccessCode);
}

void AdvancedOption::install_file_hooks()
{
    g_file_command_hooks.advanced_language_changed = queued_refresh(PageId::AdvancedOption);
}
