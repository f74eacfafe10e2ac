#include "ui/maintenance/factory.h"

#include <QMutexLocker>

#include "core/zevrampara.h"
#include "link/message_deal.h"
#include "ui/settings/settings_rows.h"
#include "ui/shell/pages.h"
#include "ui/shell/textfit.h"
#include "ui_factory.h"

namespace
{
enum Text { kTitle, kReset, kDone, kLanguage, kFailed, kTextCount };
const PageText kTexts[kTextCount] = {
    {{"工厂设置", "Factory", "Системные настройки", "Khôi phục cài đặt gốc", "工廠設置"}},
    {{"恢复出厂设置", "Restore factory settings", "Сброс к заводским", "Khôi phục cài đặt gốc", "恢複出廠設置"}},
    {{"已恢复出厂设置", "Factory settings restored", "Заводские настройки восстановлены", "Đã khôi phục cài đặt gốc",
      "已恢複出廠設置"}},
    {{"语言", "Language", "Язык", "Ngôn ngữ", "語言"}},
    // The reset could not store the factory image: nothing was reset.
    {{"恢复出厂设置失败，未保存", "Reset failed, not saved", "Сброс не выполнен, не сохранено",
      "Khôi phục thất bại, chưa lưu", "恢複出廠設置失敗，未保存"}},
};
// Each language in its own words, so an operator finds it whatever the
// panel shows now.
const char* const kLanguageNames[5] = {"简体中文", "English", "Русский", "Tiếng Việt", "繁體中文"};
constexpr int kLanguageRow = 1;
constexpr const char* kGreyText = "rgb(110,110,110)";

bool language_enabled(u8 language)
{
    return g_lcd_lang_valid & (1u << language);
}
// The PC's factory-reset register action: image defaults and user modes.
constexpr u8 kResetImage = 0x01;
} // namespace

factory::factory(QWidget* parent) : ZevPage(parent, PageId::factory, PageId::AdvancedOption), ui(new Ui_factory)
{
    ui->setupUi(this);
    set_key_hints(ui->label_note_OK, ui->label_note_back);
    for (const char* name : kLanguageNames)
        ui->comboBox_lang->addItem(QString::fromUtf8(name));
    menulist_init();
    language_changed();
}

factory::~factory()
{
    delete ui;
}

void factory::menulist_init()
{
    menu_list = {ui->Button_reset, ui->comboBox_lang};
    ZevPage::menulist_init();
}

void factory::language_changed()
{
    set_fitted(ui->label_title, page_text(kTexts[kTitle]));
    set_fitted(ui->Button_reset, page_text(kTexts[kReset]));
    set_fitted(ui->label_state, result_ == Result::none   ? QString()
                                : result_ == Result::done ? page_text(kTexts[kDone])
                                                          : page_text(kTexts[kFailed]));
    set_fitted(ui->label_lang, page_text(kTexts[kLanguage]));
    // Outside an edit the list shows the language in use.
    if (!edit_flag) {
        lang_choice = u8(ui_language());
        ui->comboBox_lang->setCurrentIndex(lang_choice);
        set_row_style(kLanguageRow, ui_select == kLanguageRow);
    }
}

QString factory::row_style(int row, bool focused) const
{
    if (row != kLanguageRow)
        return ZevPage::row_style(row, focused);
    const char* text = language_enabled(lang_choice) ? "rgb(255,255,255)" : kGreyText;
    return combo_style(edit_flag ? kBorderEditing : focused ? kBorderFocused : kBorderNormal, true, text);
}

void factory::on_row_ok(int row)
{
    if (row == 0)
        on_Button_reset_clicked();
}

void factory::step_language(int delta)
{
    lang_choice = u8((lang_choice + delta + 5) % 5);
    ui->comboBox_lang->setCurrentIndex(lang_choice);
    set_row_style(kLanguageRow, true);
}

void factory::key_left()
{
    if (edit_flag)
        step_language(-1);
    else
        ZevPage::key_left();
}

void factory::key_right()
{
    if (edit_flag)
        step_language(1);
    else
        ZevPage::key_right();
}

void factory::key_ok()
{
    if (ui_select != kLanguageRow)
        return ZevPage::key_ok();
    if (!edit_flag) {
        lang_saved = lang_choice;
        edit_flag = 1;
        set_row_style(kLanguageRow, true);
        return;
    }
    // A language that is not enabled is shown greyed and cannot be taken.
    if (!language_enabled(lang_choice))
        return;
    edit_flag = 0;
    set_row_style(kLanguageRow, true);
    apply_language();
}

void factory::key_back()
{
    if (!edit_flag)
        return ZevPage::key_back();
    edit_flag = 0;
    lang_choice = lang_saved;
    ui->comboBox_lang->setCurrentIndex(lang_choice);
    set_row_style(kLanguageRow, true);
}

void factory::apply_language()
{
    {
        C331Lock lock;
        ZevRamPara::p_zevrampara_config[Img::kLanguage] = lang_choice;
    }
    ZevRamPara::test_signal(1);
}

void factory::on_Button_reset_clicked()
{
    {
        // One command at a time with the PC's handlers.
        QMutexLocker lock(&message_deal::command_mutex);
        result_ = message_deal().RegUpdate10(kResetImage) == 0 ? Result::done : Result::failed;
    }
    language_changed();
}
