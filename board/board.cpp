#include "board/board.h"
#include "board/log.h"

#include <cstdlib>
#include <mutex>

namespace board
{

namespace
{
// The worker threads never stop, so the board outlives them: it is never
// destroyed at exit (a board replaced by another is).
std::unique_ptr<Board>& g_board = *new std::unique_ptr<Board>();
} // namespace

std::string Paths::resolve(const std::string& p) const
{
    return shown(p);
}

std::string Paths::shown(const std::string& p) const
{
    if (p.empty() || p[0] != '/')
        return p;
    return root() + p;
}

bool Paths::refuses(const std::string&) const
{
    return false;
}

Board& current()
{
    if (!g_board) {
        // Reaching here is a programming error: main installs the board first.
        qCCritical(lcBoard, "no board installed");
        std::abort();
    }
    return *g_board;
}

void install(std::unique_ptr<Board> b)
{
    g_board = std::move(b);
}

bool installed()
{
    return g_board != nullptr;
}

std::string path(const std::string& p)
{
    return current().paths().resolve(p);
}

QString path(const QString& p)
{
    return QString::fromStdString(current().paths().resolve(p.toStdString()));
}

std::string shownPath(const std::string& p)
{
    return installed() ? current().paths().shown(p) : p;
}

bool leadsOut(const std::string& p)
{
    return current().paths().refuses(p);
}

} // namespace board
