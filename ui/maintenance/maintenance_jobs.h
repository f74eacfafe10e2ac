// What the FPGA worker and the PC file commands reach of the maintenance
// pages. Each entry may be called from any thread: the call runs later on the
// GUI thread and does nothing when its page has been closed in between.
// Start-up hands them to the lower layers' hooks.
#pragma once

#include <QLabel>
#include <QString>
#include <QStringList>

#include "core/global.h"
#include "ledout/fpga_jobs.h"
#include "ledout/fpga_manage.h"
#include "ui/shell/QRoundProgressBar.h"

// Progress of the job a page posted (page: PageId::SmartMapping,
// rcv_recovery or firmware_usbgrade): emits that page's
// sig_qround_bar_update(percent); 100 or more closes the bar.
void maintenance_job_progress(u8 page, int percent);
// How that job ended, for the smart-mapping or recovery page to tell.
void maintenance_job_end(u8 page, fpga_jobs::JobEnd how);

// The recovery page's result list: the check job clears it when it starts
// and adds one line per card that lost its set-up; the recovery job clears
// it.
void rcv_recovery_result_clear();
void rcv_recovery_result_add(const QString& line);
// The check job's whole result list (the flag is 1 with lines, 0 without).
void rcv_recovery_set_results(const QStringList& lines);
// Whether a recovery page is open; safe from any thread.
bool rcv_recovery_open();

// The note of a page that runs card jobs (smart mapping, card recovery)
// when its job did not finish: cards that did not answer, or the time
// bound, told over the page in its language until the next key, which does
// nothing else; a whole job shows nothing.
class JobEndNote
{
  public:
    explicit JobEndNote(QLabel* label) : label_(label) {}
    void set(fpga_jobs::JobEnd how);
    // Shows the note again, in the language now chosen.
    void refresh();
    // A key while the note shows only takes it away: true when it did.
    bool take_key();

  private:
    QLabel* label_;
    fpga_jobs::JobEnd how_ = fpga_jobs::JobEnd::Whole;
};

// Hands the worker's job hooks the pages' progress, results and the update
// page.
void maintenance_install_job_hooks();

// SmartMapping::Button_back_clicked and rcv_recovery::menulist_back_page.
void smartmapping_back_queued();
void rcv_recovery_back_queued();

// Puts the two page hooks above into the file commands' hooks.
void maintenance_install_file_hooks();

// True while a page may post a job: no bar open, no job posted, no USB
// upgrade running.
bool job_can_post();

// Opens the round bar over page, connects the page's progress signal to it
// and posts job (step 0). False, with no bar left open, when a bar or a job
// is already there.
template <class Page> bool post_job_with_bar(Page* page, u8 job)
{
    if (!job_can_post())
        return false;
    QRoundProgressBar::create_qround_bar(page);
    QObject::disconnect(page, &Page::sig_qround_bar_update, nullptr, nullptr);
    QObject::connect(page, &Page::sig_qround_bar_update, g_qround_bar, &QRoundProgressBar::para_sync);
    if (g_send_para.post(job))
        return true;
    // Another poster was first: no job of this page would close the bar.
    g_qround_bar->para_sync(100);
    return false;
}
