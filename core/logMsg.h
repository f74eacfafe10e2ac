// The log sink. Errors and banners are handed here; nothing is recorded.
#pragma once

#include <string>

enum _LogType { LOG_ERROR = 1, LOG_WARNING = 2, LOG_BANNER = 3 };

void writeLogMsg(_LogType type, const std::string& text);
