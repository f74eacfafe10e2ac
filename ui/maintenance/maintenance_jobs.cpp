#include "ui/maintenance/maintenance_jobs.h"

#include "ledout/fpga_jobs.h"
#include "link/message_deal_file.h"
#include "ui/maintenance/firmwareupdate.h"
#include "ui/maintenance/firmware_usbgrade.h"
#include "ui/maintenance/rcv_recovery.h"
#include "ui/maintenance/smartmapping.h"
#include "ui/shell/gui_call.h"
#include "ui/shell/pagepattern.h"
#include "ui/shell/pages.h"
#include "ui/shell/textfit.h"

namespace
{
enum NoteText { kUnanswered, kCut, kFailed, kNoteTextCount };
const PageText kNoteTexts[kNoteTextCount] = {
    {{"未完成：接收卡无应答", "Not finished: cards did not answer", "Не завершено: карты не ответили",
      "Chưa xong: thẻ nhận không phản hồi", "未完成：接收卡無應答"}},
    {{"未完成：已达时间上限", "Not finished: time limit reached", "Не завершено: истёк лимит времени",
      "Chưa xong: đã hết thời gian cho phép", "未完成：已達時間上限"}},
    {{"未完成：任务出错停止", "Not finished: stopped on an error", "Не завершено: остановлено из-за ошибки",
      "Chưa xong: dừng do lỗi", "未完成：任務出錯停止"}},
};
} // namespace

void JobEndNote::set(fpga_jobs::JobEnd how)
{
    how_ = how;
    refresh();
}

void JobEndNote::refresh()
{
    using fpga_jobs::JobEnd;
    if (how_ == JobEnd::Whole) {
        label_->hide();
        return;
    }
    set_fitted(label_, page_text(kNoteTexts[how_ == JobEnd::Cut      ? kCut
                                            : how_ == JobEnd::Failed ? kFailed
                                                                     : kUnanswered]));
    label_->show();
    label_->raise();
}

bool JobEndNote::take_key()
{
    if (how_ == fpga_jobs::JobEnd::Whole)
        return false;
    set(fpga_jobs::JobEnd::Whole);
    return true;
}

void maintenance_job_progress(u8 page, int percent)
{
    gui_call([page, percent] {
        // The pointers are read here, on the GUI thread that clears them.
        switch (page) {
        case PageId::SmartMapping:
            if (SmartMapping* p = g_smartmapping)
                emit p->sig_qround_bar_update(percent);
            break;
        case PageId::rcv_recovery:
            if (rcv_recovery* p = g_rcv_recovery)
                emit p->sig_qround_bar_update(percent);
            break;
        case PageId::firmware_usbgrade:
            if (firmware_usbgrade* p = g_firmware_usbgrade)
                emit p->sig_qround_bar_update(percent);
            break;
        default:
            break;
        }
    });
}

void rcv_recovery_result_clear()
{
    gui_call([] {
        if (rcv_recovery* p = g_rcv_recovery)
            p->result_clear();
    });
}

void rcv_recovery_result_add(const QString& line)
{
    gui_call([line] {
        if (rcv_recovery* p = g_rcv_recovery)
            p->result_add(line);
    });
}

void rcv_recovery_set_results(const QStringList& lines)
{
    gui_call([lines] {
        if (rcv_recovery* p = g_rcv_recovery) {
            p->result_clear();
            for (const QString& line : lines)
                p->result_add(line);
        }
    });
}

void maintenance_job_end(u8 page, fpga_jobs::JobEnd how)
{
    gui_call([page, how] {
        if (page == PageId::SmartMapping) {
            if (SmartMapping* p = g_smartmapping)
                p->show_job_end(how);
        } else if (page == PageId::rcv_recovery) {
            if (rcv_recovery* p = g_rcv_recovery)
                p->show_job_end(how);
        }
    });
}

bool rcv_recovery_open()
{
    return g_rcv_recovery_pages.load() > 0;
}

void maintenance_install_job_hooks()
{
    fpga_jobs::Hooks h;
    h.smart_mapping_progress = [](int p) { maintenance_job_progress(PageId::SmartMapping, p); };
    h.recovery_progress = [](int p) { maintenance_job_progress(PageId::rcv_recovery, p); };
    h.smart_mapping_end = [](fpga_jobs::JobEnd how) { maintenance_job_end(PageId::SmartMapping, how); };
    h.recovery_end = [](fpga_jobs::JobEnd how) { maintenance_job_end(PageId::rcv_recovery, how); };
    h.recovery_page_open = &rcv_recovery_open;
    h.recovery_results = [](const QStringList& lines, u8) { rcv_recovery_set_results(lines); };
    h.update_start = [] { gui_call(&firmware_update_start); };
    h.update_over = [] { gui_call(&firmware_update_over); };
    fpga_jobs::install(h);
}

void smartmapping_back_queued()
{
    gui_call([] {
        if (SmartMapping* p = g_smartmapping)
            p->Button_back_clicked();
    });
}

void rcv_recovery_back_queued()
{
    gui_call([] {
        if (rcv_recovery* p = g_rcv_recovery)
            p->menulist_back_page();
    });
}

void maintenance_install_file_hooks()
{
    g_file_command_hooks.smartmapping_back = &smartmapping_back_queued;
    g_file_command_hooks.recovery_menulist_back = &rcv_recovery_back_queued;
}

bool job_can_post()
{
    return !g_qround_bar && g_send_para.job() == JOB_NONE && g_usb_grade.load() == 0;
}
