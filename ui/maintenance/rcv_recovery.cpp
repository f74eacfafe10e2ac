#include "ui/maintenance/rcv_recovery.h"

#include <QPushButton>

#include "ledout/fpga_manage.h"
#include "ui/maintenance/maintenance_jobs.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/pages.h"
#include "ui/shell/textfit.h"
#include "ui_rcv_recovery.h"

namespace
{
enum Text { kTitle, kQuery, kRecovery, kHead, kTextCount };
const PageText kTexts[kTextCount] = {
    {{"接收卡自恢复", "Rcv self-recovery", "Самовосстановление", "Thẻ nhận tự phục hồi", "接收卡自恢複"}},
    {{"查询", "Query", "Запрос", "Truy vấn", "查詢"}},
    {{"恢复", "Recovery", "Восстановить", "Phục hồi", "恢複"}},
    {{"屏/网口/卡号/卡数", "Screen/Port/Card/Cards", "Экран/Порт/Карта/Карт", "Màn/Cổng/Thẻ/Số thẻ",
      "屏/網口/卡號/卡數"}},
};
// Result lines shown at once; later ones are summed up as "...".
constexpr int kShownLines = 5;
} // namespace

std::atomic<int> g_rcv_recovery_pages{0};

rcv_recovery::rcv_recovery(QWidget* parent)
    : ZevPage(parent, PageId::rcv_recovery, PageId::AdvancedOption), ui(new Ui_rcv_recovery)
{
    ui->setupUi(this);
    note_ = JobEndNote(ui->label_job_end);
    set_key_hints(ui->label_note_OK, ui->label_note_back);
    ++g_rcv_recovery_pages;
    menulist_init();
    language_changed();
}

rcv_recovery::~rcv_recovery()
{
    --g_rcv_recovery_pages;
    delete ui;
}

void rcv_recovery::menulist_init()
{
    menu_list = {ui->Button_query, ui->Button_recovery};
    set_row_style(1, false);
    ZevPage::menulist_init();
}

void rcv_recovery::language_changed()
{
    set_fitted(ui->label_title, page_text(kTexts[kTitle]));
    set_fitted({{ui->Button_query, page_text(kTexts[kQuery])}, {ui->Button_recovery, page_text(kTexts[kRecovery])}});
    set_fitted(ui->label_head, page_text(kTexts[kHead]));
    show_results();
    note_.refresh();
}

void rcv_recovery::syncUpdate(int code)
{
    ZevPage::syncUpdate(code);
    show_results();
}

void rcv_recovery::show_results()
{
    QStringList shown = result_flag ? result_list.mid(0, kShownLines) : QStringList();
    if (result_flag && result_list.size() > kShownLines)
        shown << "...";
    set_fitted(ui->label_result, shown.join('\n'));
}

void rcv_recovery::result_clear()
{
    result_list.clear();
    result_flag = 0;
    show_results();
}

void rcv_recovery::result_add(const QString& line)
{
    result_list << line;
    result_flag = 1;
    show_results();
}

void rcv_recovery::show_job_end(fpga_jobs::JobEnd how)
{
    note_.set(how);
}

void rcv_recovery::keyReleaseEvent(QKeyEvent* event)
{
    // While the note of the last job shows, a key only takes it away, as on
    // the smart-mapping page.
    if (!g_qround_bar && note_.take_key())
        return;
    ZevPage::keyReleaseEvent(event);
}

void rcv_recovery::post(u8 job)
{
    if (post_job_with_bar(this, job))
        show_job_end(fpga_jobs::JobEnd::Whole);
}

void rcv_recovery::menulist_back_page()
{
    if (g_qround_bar)
        return;
    back_to(PageId::AdvancedOption);
}

void rcv_recovery::menulist_sel_right()
{
    if (!g_qround_bar)
        move_focus(1);
}

void rcv_recovery::menulist_sel_left()
{
    if (!g_qround_bar)
        move_focus(-1);
}

void rcv_recovery::menulist_button_ok_page()
{
    post(ui_select == 0 ? JOB_RCV_CHECK : JOB_RCV_RECOVERY);
}

void rcv_recovery::on_Button_query_clicked()
{
    post(JOB_RCV_CHECK);
}

void rcv_recovery::on_Button_recovery_clicked()
{
    post(JOB_RCV_RECOVERY);
}
