// Receiving-card self-recovery: "Query" asks the cards of every recorded
// screen whether one lost its set-up, "Recovery" sends the recorded set-up
// back to it. The page lists the cards the last query found; a job that did
// not finish says why until the next key.
#pragma once

#include <atomic>

#include <QStringList>

#include "ledout/fpga_jobs.h"
#include "ui/maintenance/maintenance_jobs.h"
#include "ui/shell/pagepattern.h"

class Ui_rcv_recovery;

class rcv_recovery : public ZevPage
{
    Q_OBJECT
  public:
    explicit rcv_recovery(QWidget* parent);
    ~rcv_recovery() override;

    void menulist_init() override;
    void language_changed() override;
    void syncUpdate(int code) override;

    // Closes the page and returns to the advanced options; refused while
    // the progress bar is open.
    void menulist_back_page();
    void slot_Button_back_clicked() override { menulist_back_page(); }
    void menulist_sel_right();
    void menulist_sel_left();
    // OK: posts the focused row's job (query 5, recovery 6) only while no
    // job is posted and no bar is open.
    void menulist_button_ok_page();

    // The result list and its flag, written by the jobs (through the GUI
    // thread): one line "screen/port/card/cards" per card found.
    void result_clear();
    void result_add(const QString& line);
    const QStringList& results() const { return result_list; }
    u8 result() const { return result_flag; }

    // How the job the page posted ended: cards that did not answer or the
    // time bound are told below the result list until the next key, which
    // does nothing else; a whole job leaves the page as it is.
    void show_job_end(fpga_jobs::JobEnd how);

  signals:
    void sig_qround_bar_update(int percent);

  public slots:
    void on_Button_query_clicked();
    void on_Button_recovery_clicked();

  protected:
    void keyReleaseEvent(QKeyEvent* event) override;
    void key_left() override { menulist_sel_left(); }
    void key_right() override { menulist_sel_right(); }
    void key_ok() override { menulist_button_ok_page(); }

  private:
    void show_results();
    // Posts a job under the bar; the note of the last job goes with it.
    void post(u8 job);

    Ui_rcv_recovery* ui;
    QStringList result_list;
    u8 result_flag = 0;
    JobEndNote note_{nullptr};
};

// Recovery pages alive, for threads that may not read the page pointer.
extern std::atomic<int> g_rcv_recovery_pages;
