// A helper program a test ran, as it ended.
#pragma once

#include <QProcess>
#include <QString>

struct ProcessRun {
    // Its exit status; -1 when it did not end by itself within the wait.
    int code = -1;
    QString out;
    QString err;
};

// Waits up to ms for the started process p and takes what it printed.
inline ProcessRun finished(QProcess& p, int ms = 60000)
{
    ProcessRun run;
    if (!p.waitForFinished(ms))
        return run;
    run.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(p.readAllStandardError());
    return run;
}
