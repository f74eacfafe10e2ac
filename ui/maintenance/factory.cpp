#include "ui/maintenance/factory.h"

#include <QMutexLocker>

#include "link/message_deal.h"
#include "ui/shell/pages.h"
#include "ui/shell/textfit.h"
#include "ui_factory.h"

namespace
{
enum Text { kTitle, kReset, kDone, kTextCount };
const PageText kTexts[kTextCount] = {
    {{"工厂设置", "Factory", "Системные настройки", "Khôi phục cài đặt gốc", "工廠設置"}},
    {{"恢复出厂设置", "Restore factory settings", "Сброс к заводским", "Khôi phục cài đặt gốc", "恢複出廠設置"}},
    {{"已恢复出厂设置", "Factory settings restored", "Заводские настройки восстановлены", "Đã khôi phục cài đặt gốc",
      "已恢複出廠設置"}},
};
// The PC's factory-reset register action: image defaults and user modes.
constexpr u8 kResetImage = 0x01;
} // namespace

factory::factory(QWidget* parent) : ZevPage(parent, PageId::factory, PageId::AdvancedOption), ui(new Ui_factory)
{
    ui->setupUi(this);
    set_key_hints(ui->label_note_OK, ui->label_note_back);
    menulist_init();
    language_changed();
}

factory::~factory()
{
    delete ui;
}

void factory::menulist_init()
{
    menu_list = {ui->Button_reset};
    ZevPage::menulist_init();
}

void factory::language_changed()
{
    set_fitted(ui->label_title, page_text(kTexts[kTitle]));
    set_fitted(ui->Button_reset, page_text(kTexts[kReset]));
    set_fitted(ui->label_state, done_ ? page_text(kTexts[kDone]) : QString());
}

void factory::on_Button_reset_clicked()
{
    {
        // One command at a time with the PC's handlers.
        QMutexLocker lock(&message_deal::command_mutex);
        message_deal().RegUpdate10(kResetImage);
    }
    done_ = true;
    language_changed();
}
