// A simulated board on a fresh data root, for one test program.
#pragma once

#include <map>
#include <string>

#include <QStringList>
#include <QTemporaryDir>

#include "board/sim/sim_board.h"

class SimFixture
{
  public:
    // Installs a simulated board rooted in a new temporary folder; with
    // models the device models are attached as at start-up.
    explicit SimFixture(bool withModels = false);
    board::sim::SimBoard& board() { return *board_; }
    std::string root() const { return root_; }
    // Host path of a board path.
    std::string host(const std::string& boardPath) const { return root_ + boardPath; }
    QString hostQ(const std::string& boardPath) const { return QString::fromStdString(host(boardPath)); }

  private:
    QTemporaryDir dir_;
    std::string root_;
    board::sim::SimBoard* board_ = nullptr;
};

// Reads a whole host file; empty when missing.
QByteArray readHostFile(const QString& path);
// Writes a whole host file, creating folders.
bool writeHostFile(const QString& path, const QByteArray& data);

// What every start writes under a data root: the simulated board's logs,
// and the lock file holding the process id.
const QStringList& simLogs();
// Every file of a data root by its path under the root, those above and
// links left out.
std::map<QString, QByteArray> rootFiles(const QString& root);
