#include "sim_fixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include "board/sim/sim_models.h"
#include "board/sim/watched_file.h"
#include "core/global.h"

namespace
{
QString tempBase()
{
    QByteArray env = qgetenv("ZEV_TEST_TMP");
    QString base = env.isEmpty() ? QDir::tempPath() : QString::fromLocal8Bit(env);
    QDir().mkpath(base);
    return base + "/zevsim-XXXXXX";
}
} // namespace

SimFixture::SimFixture(bool withModels) : dir_(tempBase())
{
    // Without its own folder the board would be rooted in the host's.
    if (!dir_.isValid())
        qFatal("simulated board: no temporary folder (%s)", qPrintable(dir_.errorString()));
    root_ = QDir::cleanPath(dir_.path()).toStdString();
    auto b = std::make_unique<board::sim::SimBoard>(root_);
    board_ = b.get();
    board::install(std::move(b));
    // The simulated devices count in the program's ticks, as on the running
    // program, so a test drives both by setting the tick counter; the faults
    // file moves it on as it does there.
    board::sim::setClock([] { return G_timeTicks.load(); }, [](uint32_t ticks) { G_timeTicks += ticks; });
    if (withModels)
        board::sim::attachModels(*board_);
}

QByteArray readHostFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

bool writeHostFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool whole = f.write(data) == data.size();
    f.close();
    // A model file written here is seen by the simulated board's next look.
    board::sim::catchUpFileChanges();
    return whole;
}

const QStringList& simLogs()
{
    static const QStringList logs = {"sim/commands", "sim/commands.old", "sim/keypad_leds", "data/.zevQ64N.lock"};
    return logs;
}

std::map<QString, QByteArray> rootFiles(const QString& root)
{
    std::map<QString, QByteArray> out;
    for (QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString name = QDir(root).relativeFilePath(it.next());
        if (!simLogs().contains(name) && !it.fileInfo().isSymLink())
            out[name] = readHostFile(it.filePath());
    }
    return out;
}
