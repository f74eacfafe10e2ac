#include "core/json_read.h"

#include <sstream>

#include <boost/property_tree/json_parser.hpp>

#include <QMutexLocker>
#include <QString>

#include "board/board.h"
#include "board/file_read.h"
#include "core/global.h"
#include "core/logging.h"
#include "core/utils.h"

namespace pt = boost::property_tree;

namespace json_read
{
bool depth_within(const char* text, size_t length, int maxDepth)
{
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth)
                return false;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

bool parse(const char* text, size_t length, pt::ptree& out)
{
    out.clear();
    if (!text || !depth_within(text, length)) {
        if (debugOn())
            zevlog::debug(lcCore(), "json error: nested deeper than %d levels", kMaxDepth);
        return false;
    }
    try {
        std::istringstream in(std::string(text, length));
        pt::read_json(in, out);
    } catch (const pt::ptree_error& e) {
        if (debugOn())
            zevlog::debug(lcCore(), "json error: %s", e.what());
        out.clear();
        return false;
    }
    return true;
}

bool file(const char* path, pt::ptree& out)
{
    out.clear();
    // Held while reading, so a file being written is never judged damaged.
    QMutexLocker lock(&Utils::_file_deal_mutex);
    QByteArray text;
    const board::FileRead read = board::read_whole(board::path(path), kMaxFileBytes, &text);
    // Only bytes that were read and do not parse make a file damaged; one
    // that could not be read is left for a later read.
    if (read == board::FileRead::missing)
        return false;
    if (read == board::FileRead::unreadable) {
        zevlog::stored_file(lcCore(), path, "cannot be read: it is not used, the file is kept as it is");
        return false;
    }
    if (read == board::FileRead::damaged || !parse(text.constData(), size_t(text.size()), out)) {
        const int gone = Utils::system_mutex(QString("rm -rf %1").arg(path));
        zevlog::stored_file(lcCore(), path,
                            std::string(read == board::FileRead::damaged ? "is too large" : "does not parse") +
                                (gone == 0 ? ": the file is deleted" : ": it is not used, and could not be deleted"));
        return false;
    }
    return true;
}
} // namespace json_read
