#include "ledout/fpga_jobs.h"

#include <QMutexLocker>

SharedPath g_kqfile_name;

namespace fpga_jobs
{
namespace
{
QMutex g_mutex;
Hooks g_hooks;
QStringList g_lines;
u8 g_flag = 0;
} // namespace

void install(const Hooks& hooks)
{
    QMutexLocker lock(&g_mutex);
    g_hooks = hooks;
}

Hooks hooks()
{
    QMutexLocker lock(&g_mutex);
    return g_hooks;
}

void Progress::begin(bool smartMapping)
{
    smart_ = smartMapping;
    last_ = -1;
    unanswered_ = cut_ = failed_ = false;
}

void Progress::step(int percent)
{
    if (percent < 0)
        percent = 0;
    if (percent > 99)
        percent = 99;
    if (percent != last_)
        send(percent);
}

void Progress::end()
{
    // The page learns how the job ended before its bar closes and its keys
    // are free again.
    const JobEnd how = cut_ ? JobEnd::Cut : failed_ ? JobEnd::Failed : unanswered_ ? JobEnd::Unanswered : JobEnd::Whole;
    const Hooks h = hooks();
    const auto& tell = smart_ ? h.smart_mapping_end : h.recovery_end;
    if (tell)
        tell(how);
    send(100);
    last_ = -1;
    unanswered_ = cut_ = failed_ = false;
}

void Progress::send(int percent)
{
    last_ = percent;
    const Hooks h = hooks();
    const auto& f = smart_ ? h.smart_mapping_progress : h.recovery_progress;
    if (f)
        f(percent);
}

QStringList results()
{
    QMutexLocker lock(&g_mutex);
    return g_lines;
}

u8 result_flag()
{
    QMutexLocker lock(&g_mutex);
    return g_flag;
}

void set_results(const QStringList& lines, u8 flag)
{
    std::function<void(const QStringList&, u8)> deliver;
    {
        QMutexLocker lock(&g_mutex);
        g_lines = lines;
        g_flag = flag;
        deliver = g_hooks.recovery_results;
    }
    if (deliver)
        deliver(lines, flag);
}
} // namespace fpga_jobs

QString SharedPath::get() const
{
    QMutexLocker lock(&mutex_);
    return path_;
}

void SharedPath::set(const QString& path)
{
    QMutexLocker lock(&mutex_);
    path_ = path;
}
