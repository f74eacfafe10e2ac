#include "core/logging.h"

#include <algorithm>
#include <cstring>

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

void configure(std::vector<char*>& args)
{
    const auto verbose = [](const char* a) { return std::strcmp(a, "--verbose") == 0; };
    const auto end = std::remove_if(args.begin(), args.end(), verbose);
    if (end == args.end())
        return;
    args.erase(end, args.end());
    QLoggingCategory::setFilterRules(QStringLiteral("zev.*.debug=true"));
}

} // namespace zevlog
