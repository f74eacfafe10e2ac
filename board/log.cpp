#include "board/log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

Q_LOGGING_CATEGORY(lcBoard, "zev.board", QtInfoMsg)

namespace zevlog
{

namespace
{
std::string format(const char* fmt, va_list args)
{
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, args);
    std::string text(n > 0 ? size_t(n) : 0, '\0');
    if (n > 0)
        std::vsnprintf(&text[0], text.size() + 1, fmt, again);
    va_end(again);
    return text;
}

std::string line(std::string text)
{
    const size_t first = text.find_first_not_of('\n');
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of('\n') - first + 1);
}

void write(QtMsgType type, const QLoggingCategory& category, const char* fmt, va_list args)
{
    if (!category.isEnabled(type))
        return;
    const std::string text = line(format(fmt, args));
    if (type == QtDebugMsg)
        QMessageLogger().debug(category, "%s", text.c_str());
    else
        QMessageLogger().warning(category, "%s", text.c_str());
}
} // namespace

void debug(const QLoggingCategory& category, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    write(QtDebugMsg, category, fmt, args);
    va_end(args);
}

void warning(const QLoggingCategory& category, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    write(QtWarningMsg, category, fmt, args);
    va_end(args);
}

std::string errnoText(const char* step)
{
    const int error = errno;
    return line(step) + ": " + std::strerror(error);
}

void warnErrno(const QLoggingCategory& category, const char* text)
{
    const std::string message = errnoText(text);
    warning(category, "%s", message.c_str());
}

} // namespace zevlog
