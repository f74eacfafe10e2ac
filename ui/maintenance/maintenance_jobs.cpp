#include "ui/maintenance/maintenance_jobs.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "ledout/fpga_jobs.h"
#include "link/message_deal_file.h"
#include "ui/maintenance/firmwareupdate.h"
#include "ui/maintenance/firmware_usbgrade.h"
#include "ui/maintenance/rcv_recovery.h"
#include "ui/maintenance/smartmapping.h"
#include "ui/shell/pages.h"

namespace
{
template <class F> void on_gui(F fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app)
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}
} // namespace

void maintenance_job_progress(u8 page, int percent)
{
    on_gui([page, percent] {
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
    on_gui([] {
        if (rcv_recovery* p = g_rcv_recovery)
            p->result_clear();
    });
}

void rcv_recovery_result_add(const QString& line)
{
    on_gui([line] {
        if (rcv_recovery* p = g_rcv_recovery)
            p->result_add(line);
    });
}

void rcv_recovery_set_results(const QStringList& lines)
{
    on_gui([lines] {
        if (rcv_recovery* p = g_rcv_recovery) {
            p->result_clear();
            for (const QString& line : lines)
                p->result_add(line);
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
    h.recovery_page_open = &rcv_recovery_open;
    h.recovery_results = [](const QStringList& lines, u8) { rcv_recovery_set_results(lines); };
    h.update_start = [] { on_gui(&firmware_update_start); };
    h.update_over = [] { on_gui(&firmware_update_over); };
    fpga_jobs::install(h);
}

void smartmapping_back_queued()
{
    on_gui([] {
        if (SmartMapping* p = g_smartmapping)
            p->Button_back_clicked();
    });
}

void rcv_recovery_back_queued()
{
    on_gui([] {
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
