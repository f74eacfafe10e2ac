#include "core/logging.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

#include "board/board.h"

// Debug lines are off unless asked for; warnings and errors always go out.
Q_LOGGING_CATEGORY(lcCore, "zev.core", QtInfoMsg)
Q_LOGGING_CATEGORY(lcVideo, "zev.video", QtInfoMsg)
Q_LOGGING_CATEGORY(lcChips, "zev.chips", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLedout, "zev.ledout", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLink, "zev.link", QtInfoMsg)
Q_LOGGING_CATEGORY(lcRemote, "zev.remote", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUi, "zev.ui", QtInfoMsg)

namespace zevlog
{

namespace
{
std::atomic<QtMessageHandler> g_next{nullptr};

// The stored files named so far, with what was said of them; warnings come
// from every thread.
std::mutex g_named_mutex;
std::set<std::pair<std::string, std::string>> g_named;

// Many debug texts carry line breaks at either end (they kept them apart on
// a shared standard output): each message is one line, and one that is
// only line breaks is none.
void sink(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    int first = 0, end = text.size();
    while (first < end && text[first] == '\n')
        ++first;
    while (end > first && text[end - 1] == '\n')
        --end;
    if (first < end)
        g_next.load()(type, context, text.mid(first, end - first));
}
} // namespace

void configure(std::vector<char*>& args)
{
    const QtMessageHandler previous = qInstallMessageHandler(sink);
    if (previous != sink)
        g_next = previous;
    const auto verbose = [](const char* a) { return std::strcmp(a, "--verbose") == 0; };
    const auto end = std::remove_if(args.begin(), args.end(), verbose);
    if (end == args.end())
        return;
    args.erase(end, args.end());
    QLoggingCategory::setFilterRules(QStringLiteral("zev.*.debug=true"));
}

void stored_file(const QLoggingCategory& category, const std::string& path, const std::string& what)
{
    {
        std::lock_guard<std::mutex> lock(g_named_mutex);
        if (!g_named.emplace(path, what).second)
            return;
    }
    warning(category, "%s %s", board::shownPath(path).c_str(), what.c_str());
}

void forget_stored_files()
{
    std::lock_guard<std::mutex> lock(g_named_mutex);
    g_named.clear();
}

} // namespace zevlog
