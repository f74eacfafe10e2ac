#include "ui/settings/lcdshow.h"

#include <QComboBox>

#include "core/zevrampara.h"
#include "ui/settings/settings_rows.h"
#include "ui/shell/textfit.h"
#include "ui/shell/pages.h"
#include "ui_lcdshow.h"

u32 g_back_to_mainwindow_time = 3000;
u32 g_auto_lock_time = 30000;

namespace
{
enum Text { kTitle, kBack, kLock, kFive, kTen, kNever, kTextCount };
const PageText kTexts[kTextCount] = {
    {{"液晶显示", "LCD display", "ЖК дисплей", "Màn hình LCD", "液晶顯示"}},
    {{"返回主界面时长", "To main interface", "Возврат к главному", "Quay lại màn hình chính", "返回主界麵時長"}},
    {{"自动锁屏", "Auto-screen lock", "Автоблокировка", "Tự đọng khoá màn hình", "自動鎖屏"}},
    {{"5分钟", "5min", "5 мин", "5 phút", "5分鐘"}},
    {{"10分钟", "10min", "10 мин", "10 phút", "10分鐘"}},
    {{"从不", "Never", "Отключить", "Không bao giờ khoá", "從不"}},
};
constexpr u32 kBackTimes[3] = {3000, 6000, 120000};
constexpr u32 kLockTimes[3] = {30000, 60000, 120000};

u8 index_of(const u32 (&times)[3], u32 value)
{
    for (u8 i = 0; i < 3; ++i)
        if (times[i] == value)
            return i;
    return 0;
}
} // namespace

lcdshow::lcdshow(QWidget* parent) : ZevPage(parent, PageId::lcdshow, PageId::AdvancedOption), ui(new Ui_lcdshow)
{
    ui->setupUi(this);
    para_init();
    menulist_init();
    language_changed();
}

lcdshow::~lcdshow()
{
    delete ui;
}

void lcdshow::para_init()
{
    ui->comboBox_back->clear();
    ui->comboBox_back->addItems({"30", "60", page_text(kTexts[kNever])});
    ui->comboBox_back->setCurrentIndex(index_of(kBackTimes, g_back_to_mainwindow_time));
    ui->comboBox_lock->clear();
    ui->comboBox_lock->addItems({page_text(kTexts[kFive]), page_text(kTexts[kTen]), page_text(kTexts[kNever])});
    ui->comboBox_lock->setCurrentIndex(index_of(kLockTimes, g_auto_lock_time));
    fit_combos({ui->comboBox_back, ui->comboBox_lock});
}

void lcdshow::menulist_init()
{
    menu_list = {ui->comboBox_back, ui->comboBox_lock};
    ZevPage::menulist_init();
    choice = index_of(kBackTimes, g_back_to_mainwindow_time);
}

void lcdshow::language_changed()
{
    set_fitted(ui->label_LCDshow, page_text(kTexts[kTitle]));
    set_fitted({{ui->label_backmainwindow, page_text(kTexts[kBack])}, {ui->label_autolock, page_text(kTexts[kLock])}});
}

void lcdshow::syncUpdate()
{
    if (!ZevRamPara::ZevLanguageChanged())
        return;
    language_changed();
    para_init();
    if (edit_flag == 1) {
        edit_flag = 0;
        set_row_style(ui_select, true);
    }
}

QString lcdshow::row_style(int, bool focused) const
{
    return combo_style(focused ? kBorderFocused : kBorderNormal, false);
}

void lcdshow::step_choice(int delta)
{
    choice = u8((choice + delta + 3) % 3);
    static_cast<QComboBox*>(focus_widget)->setCurrentIndex(choice);
}

void lcdshow::key_left()
{
    if (edit_flag)
        step_choice(-1);
    else
        move_focus(-1);
}

void lcdshow::key_right()
{
    if (edit_flag)
        step_choice(1);
    else
        move_focus(1);
}

void lcdshow::key_ok()
{
    if (!edit_flag) {
        edit_flag = 1;
        focus_widget->setStyleSheet(combo_style(kBorderEditing, false));
        return;
    }
    edit_flag = 0;
    set_row_style(ui_select, true);
    if (ui_select == 0)
        on_button_backtolock_clicked();
    else
        on_button_autolock_clicked();
}

void lcdshow::key_back()
{
    // No cancel step: Back leaves the page even while editing.
    slot_Button_back_clicked();
}

void lcdshow::on_button_backtolock_clicked()
{
    if (choice < 3)
        g_back_to_mainwindow_time = kBackTimes[choice];
}

void lcdshow::on_button_autolock_clicked()
{
    if (choice < 3)
        g_auto_lock_time = kLockTimes[choice];
}
