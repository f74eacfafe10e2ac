// The INI text as QSettings reads and writes it (its escapes, quoting,
// lists and "@" forms), without a codec as QSettings writes by default;
// lines, though, end at every line break.
#include "core/ini_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include <QStringList>

namespace ini_file
{
// A value of a kind the box never reads, kept as its INI text.
struct Verbatim {
    QByteArray text;
};
} // namespace ini_file

Q_DECLARE_METATYPE(ini_file::Verbatim)

namespace ini_file
{
namespace
{
const char kHex[] = "0123456789ABCDEF";

bool blank(char c)
{
    return c == ' ' || c == '\t';
}

bool hex_digit(uint c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A key or group name: "\" stands for "/", "%XX" and "%UXXXX" for other
// characters; the rest is Latin-1.
QString unescaped_key(const char* s, int from, int to)
{
    QString out;
    for (int i = from; i < to;) {
        const char c = s[i];
        if (c == '\\' || c != '%' || i == to - 1) {
            out += c == '\\' ? QChar('/') : QChar(QLatin1Char(c));
            ++i;
            continue;
        }
        const int first = s[i + 1] == 'U' ? i + 2 : i + 1, digits = s[i + 1] == 'U' ? 4 : 2;
        bool ok = first + digits <= to;
        const int code = ok ? QByteArray(s + first, digits).toInt(&ok, 16) : 0;
        if (!ok) {
            out += '%';
            ++i;
            continue;
        }
        out += QChar(ushort(code));
        i = first + digits;
    }
    return out;
}

void escape_key(const QString& key, QByteArray* out)
{
    for (const QChar qc : key) {
        const ushort c = qc.unicode();
        if (c == '/') {
            *out += '\\';
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
                   c == '.') {
            *out += char(c);
        } else if (c <= 0xFF) {
            *out += '%';
            *out += kHex[c / 16];
            *out += kHex[c % 16];
        } else {
            *out += "%U";
            for (int shift = 12; shift >= 0; shift -= 4)
                *out += kHex[(c >> shift) & 0xF];
        }
    }
}

void chop_blanks(QString* text, int limit)
{
    while (text->size() > limit && (text->back() == ' ' || text->back() == '\t'))
        text->chop(1);
}

// The string, or the list, a value's text stands for: quotes keep blanks
// and commas, a comma outside them makes a list, escapes as in C ("\x" with
// any number of hex digits, "\0".."\7" octal).
struct Unescaped {
    QString text;
    QStringList list;
    bool isList = false;
};
Unescaped unescape(const char* s, int i, int to, bool utf8)
{
    static const char kCodes[][2] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'},  {'r', '\r'}, {'t', '\t'},
                                     {'v', '\v'}, {'"', '"'},  {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    Unescaped u;
    QString& out = u.text;
    bool inQuotes = false, quoted = false, chop = true;
    int keep = 0; // blanks before here are the value's own
    while (i < to && blank(s[i]))
        ++i;
    while (i < to) {
        const char c = s[i];
        if (c == '\\') {
            if (++i >= to) {
                chop = false;
                break;
            }
            const char e = s[i++];
            const auto* code =
                std::find_if(std::begin(kCodes), std::end(kCodes), [&](const char* k) { return k[0] == e; });
            const bool hex = e == 'x' && i < to && hex_digit(uchar(s[i])), octal = e >= '0' && e <= '7';
            if (code != std::end(kCodes)) {
                out += QChar(QLatin1Char((*code)[1]));
            } else if (hex || octal) {
                uint value = octal ? uint(e - '0') : 0;
                for (; i < to && (hex ? hex_digit(uchar(s[i])) : s[i] >= '0' && s[i] <= '7'); ++i)
                    value = hex ? value * 16 + uint(std::strchr(kHex, std::toupper(s[i])) - kHex)
                                : value * 8 + uint(s[i] - '0');
                out += QChar(ushort(value));
                chop = i < to;
            } else if (e == 'x' && i >= to) {
                chop = false;
            }
            keep = out.size();
        } else if (c == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                while (i < to && blank(s[i]))
                    ++i;
                keep = out.size();
            }
        } else if (c == ',' && !inQuotes) {
            if (!quoted)
                chop_blanks(&out, keep);
            u.isList = true;
            u.list.append(out);
            out.clear();
            quoted = false;
            for (++i; i < to && blank(s[i]);)
                ++i;
            keep = 0;
        } else {
            int j = i + 1;
            while (j < to && s[j] != '\\' && s[j] != '"' && s[j] != ',')
                ++j;
            out += utf8 ? QString::fromUtf8(s + i, j - i) : QString::fromLatin1(s + i, j - i);
            i = j;
        }
    }
    if (chop && !quoted)
        chop_blanks(&out, keep);
    if (u.isList)
        u.list.append(out);
    return u;
}

QVariant verbatim(const char* s, int from, int to)
{
    return QVariant::fromValue(Verbatim{QByteArray(s + from, to - from).trimmed()});
}

// The value a text stands for; "@" forms other than strings, byte arrays
// and the empty value are kept as their text.
QVariant value_of(const char* s, int from, int to, bool utf8)
{
    const Unescaped u = unescape(s, from, to, utf8);
    if (u.isList) {
        QStringList list = u.list;
        for (QString& item : list) {
            if (item.startsWith("@@"))
                item.remove(0, 1);
            else if (item.startsWith('@'))
                return verbatim(s, from, to);
        }
        return list;
    }
    const QString& t = u.text;
    if (t.startsWith('@') && t.endsWith(')')) {
        if (t.startsWith("@ByteArray("))
            return t.mid(11, t.size() - 12).toLatin1();
        if (t.startsWith("@String("))
            return t.mid(8, t.size() - 9);
        if (t == "@Invalid()")
            return QVariant();
        for (const char* form : {"@Variant(", "@DateTime(", "@Rect(", "@Size(", "@Point("})
            if (t.startsWith(form))
                return verbatim(s, from, to);
    }
    return t.startsWith("@@") ? t.mid(1) : t;
}

// The text QSettings stores for a value of a simple kind.
bool text_of(const QVariant& v, QString* text)
{
    switch (v.type()) {
    case QVariant::Invalid:
        *text = "@Invalid()";
        return true;
    case QVariant::ByteArray: {
        const QByteArray a = v.toByteArray();
        *text = "@ByteArray(" + QString::fromLatin1(a.constData(), a.size()) + ")";
        return true;
    }
    case QVariant::String:
    case QVariant::LongLong:
    case QVariant::ULongLong:
    case QVariant::Int:
    case QVariant::UInt:
    case QVariant::Bool:
    case QVariant::Double:
        *text = v.toString();
        if (text->contains(QChar::Null))
            *text = "@String(" + *text + ")";
        else if (text->startsWith('@'))
            text->prepend('@');
        return true;
    default:
        return false;
    }
}

void escape_string(const QString& text, QByteArray* out)
{
    const int start = out->size();
    bool quotes = false, escapeDigit = false;
    for (const QChar qc : text) {
        const uint c = qc.unicode();
        quotes = quotes || c == ';' || c == ',' || c == '=';
        // A digit after a numeric escape would be read as part of it.
        if (escapeDigit && hex_digit(c)) {
            *out += "\\x" + QByteArray::number(c, 16);
            continue;
        }
        escapeDigit = false;
        const char* code = c == '\0'   ? "\\0"
                           : c == '\a' ? "\\a"
                           : c == '\b' ? "\\b"
                           : c == '\f' ? "\\f"
                           : c == '\n' ? "\\n"
                           : c == '\r' ? "\\r"
                           : c == '\t' ? "\\t"
                           : c == '\v' ? "\\v"
                           : c == '"'  ? "\\\""
                           : c == '\\' ? "\\\\"
                                       : nullptr;
        if (code) {
            *out += code;
            escapeDigit = c == '\0';
        } else if (c <= 0x1F || c >= 0x7F) {
            *out += "\\x" + QByteArray::number(c, 16);
            escapeDigit = true;
        } else {
            *out += char(c);
        }
    }
    if (quotes || (start < out->size() && (out->at(start) == ' ' || out->back() == ' '))) {
        out->insert(start, '"');
        *out += '"';
    }
}

bool escape_value(const QVariant& v, QByteArray* out)
{
    if (v.userType() == qMetaTypeId<Verbatim>()) {
        *out += v.value<Verbatim>().text;
        return true;
    }
    QString text;
    if (v.type() != QVariant::StringList) {
        if (!text_of(v, &text))
            return false;
        escape_string(text, out);
        return true;
    }
    const QStringList list = v.toStringList();
    if (list.isEmpty())
        *out += "@Invalid()";
    for (int i = 0; i < list.size(); ++i) {
        if (i)
            *out += ", ";
        text_of(list[i], &text);
        escape_string(text, out);
    }
    return true;
}

// One line from..to (its break left out) into keys; group holds the group's
// prefix ("" or "name/").
void parse_line(const char* s, int from, int to, bool utf8, QString* group, Keys* keys, Damage* d)
{
    while (from < to && blank(s[from]))
        ++from;
    if (from == to || s[from] == ';')
        return;
    // Its end: a ";" outside quotes starts a comment.
    int equals = -1, end = to;
    bool inQuotes = false;
    for (int i = from; i < to && end == to; ++i) {
        if (s[i] == '\\')
            ++i;
        else if (s[i] == '"')
            inQuotes = !inQuotes;
        else if (s[i] == '=' && !inQuotes && equals < 0)
            equals = i;
        else if (s[i] == ';' && !inQuotes)
            end = i;
    }
    if (s[from] == '[' || equals < 0) {
        // A group line; one that lost a bracket is taken as that group.
        const void* close = std::memchr(s + from, ']', size_t(end - from));
        const int nameEnd = close ? int(static_cast<const char*>(close) - s) : end;
        const bool opened = s[from] == '[';
        const QByteArray name = QByteArray(s + from + opened, nameEnd - from - opened).trimmed();
        // Without its opening bracket, only a line that ends in the closing
        // one is a group line.
        if (name.isEmpty() || (!opened && QByteArray(s + nameEnd, end - nameEnd).trimmed() != "]")) {
            ++d->leftOut;
            return;
        }
        d->groupsMended += opened && close ? 0 : 1;
        if (qstricmp(name.constData(), "general") == 0)
            group->clear();
        else if (qstricmp(name.constData(), "%general") == 0)
            *group = QString::fromLatin1(name.mid(1)) + '/';
        else
            *group = unescaped_key(name.constData(), 0, name.size()) + '/';
        return;
    }
    int keyEnd = equals;
    while (keyEnd > from && blank(s[keyEnd - 1]))
        --keyEnd;
    const QString key = unescaped_key(s, from, keyEnd);
    if (key.isEmpty()) {
        ++d->leftOut;
        return;
    }
    keys->insert(*group + key, value_of(s, equals + 1, end, utf8));
}
} // namespace

Damage decode(const QByteArray& bytes, Keys* keys)
{
    keys->clear();
    Damage d;
    const char* s = bytes.constData();
    const int n = bytes.size();
    // QSettings reads a file that starts with UTF-8's mark as UTF-8.
    const bool utf8 = bytes.startsWith("\xEF\xBB\xBF");
    QString group;
    for (int at = utf8 ? 3 : 0; at < n;) {
        int end = at;
        while (end < n && s[end] != '\n' && s[end] != '\r')
            ++end;
        if (size_t(end - at) > kMaxLine)
            ++d.leftOut;
        else
            parse_line(s, at, end, utf8, &group, keys, &d);
        at = end + 1;
    }
    return d;
}

bool encode(const Keys& keys, QByteArray* out)
{
    out->clear();
    // Groups in order, the keys of no group first as [General].
    QMap<QString, QByteArray> groups;
    for (auto it = keys.begin(); it != keys.end(); ++it) {
        const int slash = it.key().indexOf('/');
        QByteArray& lines = groups[slash < 0 ? QString() : it.key().left(slash)];
        escape_key(it.key().mid(slash + 1), &lines);
        lines += '=';
        if (!escape_value(it.value(), &lines))
            return false;
        lines += '\n';
    }
    for (auto it = groups.begin(); it != groups.end(); ++it) {
        QByteArray head;
        escape_key(it.key(), &head);
        head = head.isEmpty()                               ? QByteArray("[General]")
               : qstricmp(head.constData(), "general") == 0 ? QByteArray("[%General]")
                                                            : '[' + head + ']';
        *out += (it == groups.begin() ? QByteArray() : QByteArray("\n")) + head + '\n' + it.value();
    }
    return true;
}
} // namespace ini_file
