// What the FPGA worker's card jobs and the USB upgrade tell the pages that
// posted them. The worker cannot reach the pages itself; start-up installs
// these hooks (each is optional) and routes every call to the GUI thread.
#pragma once

#include <functional>

#include <QMutex>
#include <QString>
#include <QStringList>

#include "core/global.h"

namespace fpga_jobs
{
// How a card job ended, for its page to tell the operator.
enum class JobEnd : u8 {
    Whole,      // ran to its end (or stopped at a file it cannot play)
    Unanswered, // a wait for the cards ran out without their answer
    Cut,        // stopped at its time bound
    Failed,     // stopped on its error (a file it cannot play, no cards, ...)
};

struct Hooks {
    // Progress 0 to 100 of the smart-mapping page's job (jobs 1 to 4) and
    // of the recovery page's job (check and recovery); 100 ends the job.
    std::function<void(int)> smart_mapping_progress;
    std::function<void(int)> recovery_progress;
    // How the job ended, handed to the same page just before its 100.
    std::function<void(JobEnd)> smart_mapping_end;
    std::function<void(JobEnd)> recovery_end;
    // Whether the recovery page is open, and its new result list and flag.
    std::function<bool()> recovery_page_open;
    std::function<void(const QStringList& lines, u8 flag)> recovery_results;
    // The full-screen update page, shown and closed around a USB upgrade.
    std::function<void()> update_start;
    std::function<void()> update_over;
};

void install(const Hooks& hooks);
Hooks hooks();

// Progress of one job: emitted only when it changes; below 100 while the job
// runs, 100 only by end(), which first tells how the job ended.
class Progress
{
  public:
    // Forgets the last value and how the last job went: a new job starts.
    void begin(bool smartMapping);
    void step(int percent);
    // A wait for the cards ran out without their answer.
    void note_unanswered() { unanswered_ = true; }
    bool unanswered() const { return unanswered_; }
    // The job is stopped at its time bound.
    void note_cut() { cut_ = true; }
    // The job is stopped on its error.
    void note_failed() { failed_ = true; }
    void end();

  private:
    void send(int percent);
    bool smart_ = true;
    int last_ = -1;
    bool unanswered_ = false;
    bool cut_ = false;
    bool failed_ = false;
};

// Result list of the card check, as the recovery page shows it.
QStringList results();
u8 result_flag();
// Replaces the list and flag, and hands copies to the page.
void set_results(const QStringList& lines, u8 flag);
} // namespace fpga_jobs

// Path of the scan-parameter file chosen on the smart-mapping page (empty
// when none); the page writes it before it posts job 2.
class SharedPath
{
  public:
    QString get() const;
    void set(const QString& path);

  private:
    mutable QMutex mutex_;
    QString path_;
};
extern SharedPath g_kqfile_name;
