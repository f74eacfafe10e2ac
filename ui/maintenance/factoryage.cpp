#include "ui/maintenance/factoryage.h"

#include "core/zevrampara.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/pages.h"
#include "ui/shell/textfit.h"
#include "ui_factoryage.h"

namespace
{
enum Text { kTitle, kHead, kCounts, kTextCount };
const PageText kTexts[kTextCount] = {
    {{"工厂老化", "Aging log", "Журнал старения", "Nhật ký lão hóa", "工廠老化"}},
    {{"时间  R42  R40  R43", "Time  R42  R40  R43", "Время  R42  R40  R43", "Thời gian  R42  R40  R43",
      "時間  R42  R40  R43"}},
    {{"R42变化", "R42 steps", "Шаги R42", "Bước R42", "R42變化"}},
};
// Newest lines that fit the list.
constexpr int kShownLines = 7;
} // namespace

factoryage::factoryage(QWidget* parent)
    : ZevPage(parent, PageId::factoryage, PageId::AdvancedOption), ui(new Ui_factoryage)
{
    ui->setupUi(this);
    set_key_hints(ui->label_note_OK, ui->label_note_back);
    language_changed();
}

factoryage::~factoryage()
{
    delete ui;
}

void factoryage::language_changed()
{
    set_fitted(ui->label_title, page_text(kTexts[kTitle]));
    set_fitted(ui->label_head, page_text(kTexts[kHead]));
    set_fitted(ui->label_count_title, page_text(kTexts[kCounts]));
    update_agelog();
}

void factoryage::update_agelog()
{
    const int n = factoryage_log.size();
    set_fitted(ui->label_log, factoryage_log.mid(n > kShownLines ? n - kShownLines : 0).join('\n'));
    set_fitted(ui->label_count, QString("1-2:%1  3-4:%2  5-9:%3\n10-19:%4  20+:%5")
                                    .arg(factoryage_log_diff3)
                                    .arg(factoryage_log_diff5)
                                    .arg(factoryage_log_diff10)
                                    .arg(factoryage_log_diff20)
                                    .arg(factoryage_log_diffmore));
}

void factoryage::slot_Button_back_clicked()
{
    close_page();
    if (ZevRamPara::ZevLanguageChanged() == 1)
        if (PageView* parent = PageRegistry::at(PageId::AdvancedOption))
            parent->language_changed();
    g_page_focus = PageId::AdvancedOption;
}
