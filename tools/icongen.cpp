// Draws the page icons listed in icons.list and writes the resource file
// that lists them. Usage: zev_icongen LIST OUTDIR
// A line is file|size|caption or file|size|zh|en|ru|vn|tw (written as file,
// en_file, ru_file, vn_file and tn_file), then optionally a field of
// comma-separated options. The size is WxH, or five of them separated by
// commas for the five languages. Options:
// - the ground: "on" (blue), "off" (dark with a grey border), "green", or
//   the icon's own colour when none is given;
// - "h", "v": the caption mirrored left to right, upside down;
// - "vertical": the caption reads upwards (ideographs stand one above the
//   other);
// - "group=NAME": the captions of the group's icons take one size in each
//   language, the largest at which every one fits; "lang=N" puts an icon of
//   one caption in language N's group only;
// - "shape=NAME": a drawn symbol instead of a caption (check, cross, lock,
//   unlock, tools, menu, dot, left, screen, dark_screen, speaker, mute,
//   hdmi, hdmi2, dvi);
// - "pattern=NAME": a test pattern filling the picture (red, green, blue,
//   white, black, bars, vlines, hlines).
// No caption is drawn below 9 px: a caption that does not fit at that size
// fails the build.
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>
#include <QTextStream>

namespace
{

const char* const kPrefix[5] = {"", "en_", "ru_", "vn_", "tn_"};
constexpr int kMinCaptionPixels = 9;

struct Icon {
    QString file;
    QSize size;
    QString caption;
    QStringList options;
    QString group; // with the language: "menu/2"
    int px = 0;    // caption size
};

QString option(const QStringList& options, const QString& name)
{
    for (const QString& o : options)
        if (o.startsWith(name + "="))
            return o.mid(name.size() + 1);
    return QString();
}

// A colour of its own for each image name, dark enough for white text.
QColor colour_of(const QString& name)
{
    uint h = qHash(name);
    return QColor::fromHsv(int(h % 360), 150 + int((h >> 9) % 80), 120 + int((h >> 17) % 70));
}

bool is_ideographic(const QString& text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x2E80 && c.unicode() < 0xFF00)
            return true;
    return false;
}

QFont caption_font(int px)
{
    QFont font("WenQuanYi Micro Hei");
    font.setBold(true);
    font.setPixelSize(px);
    return font;
}

// The room of a caption: the picture less its border, turned for a caption
// that reads upwards.
QSize caption_room(const Icon& icon)
{
    QSize room = icon.size - QSize(2, 2);
    return icon.options.contains("vertical") && !is_ideographic(icon.caption) ? room.transposed() : room;
}

// The caption's lines at px in the room, or empty when it does not fit:
// one line, else broken at blanks, else ideographs in even lines (never
// three on one line and one on the next).
QString caption_lines(const Icon& icon, int px, int* flags)
{
    const QFontMetrics fm(caption_font(px));
    const QRect room(QPoint(0, 0), caption_room(icon));
    const auto fits = [&](const QString& text, int f) {
        QRect need = fm.boundingRect(room, f, text);
        return need.width() <= room.width() && need.height() <= room.height();
    };
    QString text = icon.caption;
    if (icon.options.contains("vertical") && is_ideographic(text)) {
        QStringList chars;
        for (QChar c : icon.caption)
            chars << c;
        text = chars.join('\n');
    }
    *flags = Qt::AlignCenter;
    if (fits(text, *flags))
        return text;
    if (text.contains(' ')) {
        *flags |= Qt::TextWordWrap;
        return fits(text, *flags) ? text : QString();
    }
    if (!is_ideographic(text) || text.contains('\n'))
        return QString();
    for (int lines = 2; lines <= 3; ++lines) {
        const int per = (text.size() + lines - 1) / lines;
        QStringList parts;
        for (int i = 0; i < text.size(); i += per)
            parts << text.mid(i, per);
        if (fits(parts.join('\n'), *flags))
            return parts.join('\n');
    }
    return QString();
}

// The largest caption size that fits, or 0.
int largest_caption(const Icon& icon)
{
    int flags = 0;
    for (int px = icon.size.height(); px >= kMinCaptionPixels; --px)
        if (!caption_lines(icon, px, &flags).isEmpty())
            return px;
    return 0;
}

void draw_shape(QPainter& p, const QString& shape, const QRectF& box, const QColor& ink)
{
    const qreal w = box.width(), h = box.height(), x = box.x(), y = box.y();
    const qreal pen = std::max(1.5, std::min(w, h) / 9);
    p.setPen(QPen(ink, pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const auto at = [&](qreal fx, qreal fy) { return QPointF(x + fx * w, y + fy * h); };
    const auto speaker = [&] {
        QPolygonF body(
            QVector<QPointF>{at(0.15, 0.4), at(0.3, 0.4), at(0.5, 0.25), at(0.5, 0.75), at(0.3, 0.6), at(0.15, 0.6)});
        p.setBrush(ink);
        p.drawPolygon(body);
        p.setBrush(Qt::NoBrush);
    };
    if (shape == "check") {
        p.drawPolyline(QPolygonF(QVector<QPointF>{at(0.22, 0.52), at(0.42, 0.72), at(0.78, 0.3)}));
    } else if (shape == "cross") {
        p.drawLine(at(0.3, 0.3), at(0.7, 0.7));
        p.drawLine(at(0.7, 0.3), at(0.3, 0.7));
    } else if (shape == "lock" || shape == "unlock") {
        const qreal shift = shape == "unlock" ? 0.22 : 0;
        p.drawArc(QRectF(at(0.32 + shift, 0.15), at(0.68 + shift, 0.7)), 0, 180 * 16);
        if (shape == "lock")
            p.drawLine(at(0.32, 0.43), at(0.32, 0.5));
        p.drawLine(at(0.68 + shift, 0.43), at(0.68 + shift, 0.5));
        p.setBrush(ink);
        p.drawRect(QRectF(at(0.22, 0.5), at(0.78, 0.85)));
    } else if (shape == "menu") {
        for (qreal fy : {0.28, 0.5, 0.72})
            p.drawLine(at(0.2, fy), at(0.8, fy));
    } else if (shape == "tools") {
        // A gear: a ring with six teeth.
        const QPointF c = box.center();
        p.drawEllipse(c, w * 0.2, h * 0.2);
        for (int k = 0; k < 6; ++k) {
            const qreal a = k * M_PI / 3;
            p.drawLine(c + QPointF(std::cos(a) * w * 0.2, std::sin(a) * h * 0.2),
                       c + QPointF(std::cos(a) * w * 0.36, std::sin(a) * h * 0.36));
        }
    } else if (shape == "hdmi" || shape == "hdmi2") {
        if (shape == "hdmi2")
            p.setBrush(ink);
        p.drawPolygon(QPolygonF(QVector<QPointF>{at(0.15, 0.3), at(0.85, 0.3), at(0.75, 0.7), at(0.25, 0.7)}));
    } else if (shape == "dvi") {
        p.drawRect(QRectF(at(0.15, 0.3), at(0.85, 0.7)));
        p.setBrush(ink);
        for (qreal fx : {0.35, 0.5, 0.65})
            p.drawEllipse(at(fx, 0.5), pen / 2, pen / 2);
    } else if (shape == "dot") {
        p.setBrush(ink);
        p.drawEllipse(box.center(), w * 0.28, h * 0.28);
    } else if (shape == "left") {
        p.setBrush(ink);
        p.drawPolygon(QPolygonF(QVector<QPointF>{at(0.2, 0.5), at(0.8, 0.15), at(0.8, 0.85)}));
    } else if (shape == "screen" || shape == "dark_screen") {
        p.setBrush(shape == "screen" ? QColor(255, 236, 150) : QColor(0, 0, 0));
        p.drawRect(QRectF(at(0.15, 0.3), at(0.85, 0.7)));
        p.drawLine(at(0.5, 0.7), at(0.5, 0.8));
        p.drawLine(at(0.35, 0.8), at(0.65, 0.8));
    } else if (shape == "speaker") {
        speaker();
        p.drawArc(QRectF(at(0.42, 0.35), at(0.66, 0.65)), -60 * 16, 120 * 16);
        p.drawArc(QRectF(at(0.42, 0.22), at(0.84, 0.78)), -60 * 16, 120 * 16);
    } else if (shape == "mute") {
        speaker();
        p.drawLine(at(0.62, 0.4), at(0.85, 0.6));
        p.drawLine(at(0.85, 0.4), at(0.62, 0.6));
    }
}

void draw_pattern(QPainter& p, const QString& pattern, const QRect& box)
{
    static const std::map<QString, QColor> kFill = {
        {"red", Qt::red}, {"green", Qt::green}, {"blue", Qt::blue}, {"white", Qt::white}, {"black", Qt::black}};
    p.fillRect(box, Qt::black);
    if (kFill.count(pattern)) {
        p.fillRect(box, kFill.at(pattern));
    } else if (pattern == "bars") {
        const QColor bars[8] = {Qt::white, Qt::yellow, Qt::cyan, Qt::green, Qt::magenta, Qt::red, Qt::blue, Qt::black};
        for (int i = 0; i < 8; ++i)
            p.fillRect(QRectF(box.x() + box.width() * i / 8.0, box.y(), box.width() / 8.0, box.height()), bars[i]);
    } else if (pattern == "vlines" || pattern == "hlines") {
        const bool vertical = pattern == "vlines";
        const int length = vertical ? box.width() : box.height();
        for (int i = 2; i < length; i += 5)
            p.fillRect(vertical ? QRect(box.x() + i, box.y(), 2, box.height())
                                : QRect(box.x(), box.y() + i, box.width(), 2),
                       Qt::white);
    }
    // A black picture still shows its edge on the dark page.
    p.setPen(QColor(160, 160, 160));
    p.setBrush(Qt::NoBrush);
    p.drawRect(box.adjusted(0, 0, -1, -1));
}

bool draw(const QString& path, const Icon& icon)
{
    const QSize size = icon.size;
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QString pattern = option(icon.options, "pattern");
    if (!pattern.isEmpty()) {
        draw_pattern(p, pattern, image.rect());
        p.end();
        return image.save(path, "PNG");
    }
    QRectF box(0.5, 0.5, size.width() - 1.0, size.height() - 1.0);
    qreal radius = qMin(size.width(), size.height()) / 6.0;
    QColor border(255, 171, 84);
    QColor ground = colour_of(icon.file);
    if (icon.options.contains("on")) {
        ground = QColor(71, 119, 255);
    } else if (icon.options.contains("off")) {
        ground = QColor(33, 36, 53);
        border = QColor(160, 160, 160);
    } else if (icon.options.contains("green")) {
        ground = border = QColor(0, 214, 91);
    }
    p.setPen(QPen(border, 1));
    p.setBrush(ground);
    p.drawRoundedRect(box, radius, radius);
    const QColor ink = icon.options.contains("off") ? QColor(200, 200, 200) : QColor(Qt::white);
    const QString shape = option(icon.options, "shape");
    if (!shape.isEmpty()) {
        draw_shape(p, shape, box, ink);
        p.end();
        return image.save(path, "PNG");
    }
    if (icon.caption.isEmpty()) {
        p.end();
        return image.save(path, "PNG");
    }
    int flags = 0;
    const QString lines = caption_lines(icon, icon.px, &flags);
    p.setPen(ink);
    p.setFont(caption_font(icon.px));
    p.translate(size.width() / 2.0, size.height() / 2.0);
    p.scale(icon.options.contains("h") ? -1 : 1, icon.options.contains("v") ? -1 : 1);
    if (icon.options.contains("vertical") && !is_ideographic(icon.caption))
        p.rotate(-90);
    const QSize room = caption_room(icon);
    p.drawText(QRect(QPoint(-room.width() / 2, -room.height() / 2), room), flags, lines);
    p.end();
    return image.save(path, "PNG");
}

// The icons of one list line, or none (with a message) for a bad line.
std::vector<Icon> parse(const QString& line, const char* list, int line_no)
{
    QStringList f = line.split('|');
    const bool variants = f.size() >= 7;
    if (f.size() < 3 || f.size() > 8 || f.size() == 5 || f.size() == 6) {
        std::fprintf(stderr, "icongen: %s:%d: bad line\n", list, line_no);
        return {};
    }
    const int captions = variants ? 5 : 1;
    QStringList options = f.size() == 3 + captions ? f.last().split(',') : QStringList();
    QStringList sizes = f[1].split(',');
    std::vector<Icon> icons;
    for (int lang = 0; lang < captions; ++lang) {
        QStringList wh = sizes.value(sizes.size() == captions ? lang : 0).split('x');
        Icon icon;
        icon.file = QString(kPrefix[lang]) + f[0];
        icon.size = QSize(wh.value(0).toInt(), wh.value(1).toInt());
        icon.caption = f[2 + lang];
        icon.options = options;
        if (icon.size.isEmpty() || (sizes.size() != 1 && sizes.size() != captions)) {
            std::fprintf(stderr, "icongen: %s:%d: bad size\n", list, line_no);
            return {};
        }
        const QString group = option(options, "group");
        const QString lang_of = option(options, "lang");
        if (!group.isEmpty())
            icon.group = group + "/" + (lang_of.isEmpty() ? QString::number(lang) : lang_of);
        icons.push_back(icon);
    }
    return icons;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s LIST OUTDIR\n", argv[0]);
        return 2;
    }
    QFile list(QString::fromLocal8Bit(argv[1]));
    if (!list.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "icongen: cannot read %s\n", argv[1]);
        return 1;
    }
    QDir out(QString::fromLocal8Bit(argv[2]));
    if (!out.mkpath("png")) {
        std::fprintf(stderr, "icongen: cannot create %s/png\n", argv[2]);
        return 1;
    }
    std::vector<Icon> icons;
    QTextStream in(&list);
    in.setCodec("UTF-8");
    int line_no = 0;
    while (!in.atEnd()) {
        QString line = in.readLine().trimmed();
        ++line_no;
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        std::vector<Icon> parsed = parse(line, argv[1], line_no);
        if (parsed.empty())
            return 1;
        icons.insert(icons.end(), parsed.begin(), parsed.end());
    }
    // Each caption's own largest size, then one size for each group.
    std::map<QString, int> group_px;
    for (Icon& icon : icons) {
        if (icon.caption.isEmpty() || !option(icon.options, "shape").isEmpty() ||
            !option(icon.options, "pattern").isEmpty())
            continue;
        icon.px = largest_caption(icon);
        if (icon.px == 0) {
            std::fprintf(stderr, "icongen: the caption of %s does not fit at %d px\n", qPrintable(icon.file),
                         kMinCaptionPixels);
            return 1;
        }
        if (!icon.group.isEmpty())
            group_px[icon.group] = group_px.count(icon.group) ? std::min(group_px[icon.group], icon.px) : icon.px;
    }
    QStringList files;
    for (Icon& icon : icons) {
        if (!icon.group.isEmpty() && icon.px)
            icon.px = group_px[icon.group];
        if (!draw(out.filePath("png/" + icon.file), icon)) {
            std::fprintf(stderr, "icongen: cannot write %s\n", qPrintable(icon.file));
            return 1;
        }
        files << icon.file;
    }
    QFile qrc(out.filePath("icons.qrc"));
    if (!qrc.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate)) {
        std::fprintf(stderr, "icongen: cannot write icons.qrc\n");
        return 1;
    }
    QTextStream q(&qrc);
    q << "<RCC>\n  <qresource prefix=\"/png\">\n";
    for (const QString& file : files)
        q << "    <file alias=\"" << file << "\">png/" << file << "</file>\n";
    q << "  </qresource>\n</RCC>\n";
    return q.status() == QTextStream::Ok ? 0 : 1;
}
