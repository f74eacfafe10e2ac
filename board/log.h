// Diagnostics go through Qt's logging categories, one per subsystem. Debug
// lines are off unless asked for ("--verbose", or QT_LOGGING_RULES such as
// "zev.ledout.debug=true"); warnings always go out. The board layer's
// category and the writers are here, below every layer that uses them.
#pragma once

#include <string>

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcBoard)

namespace zevlog
{

// printf-style lines. The line breaks at either end of a text (they kept it
// apart from its neighbours on a shared standard output) are dropped: every
// message is a line of its own.
void debug(const QLoggingCategory& category, const char* format, ...) Q_ATTRIBUTE_FORMAT_PRINTF(2, 3);
void warning(const QLoggingCategory& category, const char* format, ...) Q_ATTRIBUTE_FORMAT_PRINTF(2, 3);

// A warning in perror's form: the text, ": " and the reason errno holds.
void warnErrno(const QLoggingCategory& category, const char* text);

// The same line as a text: "step: " and the reason errno holds.
std::string errnoText(const char* step);

} // namespace zevlog
