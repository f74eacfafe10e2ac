// The logging categories of the subsystems above the board (board/log.h
// has the board's and the writers), and the start-up switch for debug lines.
#pragma once

#include <string>
#include <vector>

#include "board/log.h"

Q_DECLARE_LOGGING_CATEGORY(lcCore)
Q_DECLARE_LOGGING_CATEGORY(lcVideo)
Q_DECLARE_LOGGING_CATEGORY(lcChips)
Q_DECLARE_LOGGING_CATEGORY(lcLedout)
Q_DECLARE_LOGGING_CATEGORY(lcLink)
Q_DECLARE_LOGGING_CATEGORY(lcRemote)
Q_DECLARE_LOGGING_CATEGORY(lcUi)

namespace zevlog
{

// Puts the line sink in front of the message handler, and reads and removes
// "--verbose" from args; with it the debug lines of every zev.* category go
// out. QT_LOGGING_RULES still has the last word, so it can turn single
// categories on without the flag, or off with it.
void configure(std::vector<char*>& args);

// Warns "<path under the data root> <what>" about a stored file the box
// cannot use whole (path as the system names it: "/data/..."), saying what
// it did about it. Once a run for each file and text: a file read again and
// again is named once.
void stored_file(const QLoggingCategory& category, const std::string& path, const std::string& what);
// Forgets the files already named, as a new run does (for tests).
void forget_stored_files();

} // namespace zevlog
