// The smart-mapping wizard: the operator gives the output port, the route of
// the cards, the cabinet grid and the origin, and posts the receiving-card
// jobs (send the positions, load a scan-parameter file, store the cards'
// parameters, switch the mapping display). While a job runs its progress bar
// covers the page and the keys are ignored; a job that did not finish says
// why until the next key.
#pragma once

#include <QStringList>

#include "ledout/fpga_jobs.h"
#include "ui/maintenance/maintenance_jobs.h"
#include "ui/shell/pagepattern.h"

class QLineEdit;
class Ui_SmartMapping;

class SmartMapping : public ZevPage
{
    Q_OBJECT
  public:
    explicit SmartMapping(QWidget* parent);
    ~SmartMapping() override;

    void para_init() override;
    void menulist_init() override;
    void language_changed() override;
    // Codes 100 to 103 (USB stick, file transfer) list the scan files again.
    void syncUpdate(int code) override;
    // Closes the page and returns to the option page; refused while the
    // progress bar is open.
    void Button_back_clicked();
    void slot_Button_back_clicked() override { Button_back_clicked(); }

    // The scan-parameter files offered for loading (board paths).
    const QStringList& scan_files() const { return files_; }

    // How the job the page posted ended: cards that did not answer or the
    // time bound are told over the page until the next key, which does
    // nothing else; a whole job leaves the page as it is.
    void show_job_end(fpga_jobs::JobEnd how);

  signals:
    void sig_qround_bar_update(int percent);

  public slots:
    void on_Button_send_clicked();
    void on_Button_load_clicked();
    void on_Button_save_clicked();
    void on_Button_mapping_clicked();
    void on_Button_file_clicked();
    void show_numberkeyboard_ui(QString name);
    void confirmString(QString text);

  protected:
    void keyReleaseEvent(QKeyEvent* event) override;
    void on_row_ok(int row) override;

  private:
    void list_scan_files();
    void show_file();
    // Posts a job under the bar; the note of the last job goes with it.
    void post(u8 job);
    QLineEdit* field(int row) const;

    Ui_SmartMapping* ui;
    QStringList files_;
    JobEndNote note_{nullptr};
};
