// Draws the page icons listed in icons.list as captioned pictures and writes
// the resource file that lists them. Usage: zev_icongen LIST OUTDIR
// A line of four fields adds drawing options, comma-separated: the ground
// "on" (blue), "off" (dark with a grey border), "green" or "grey", and the
// caption turned "h" (mirrored left to right) and/or "v" (upside down).
#include <cstdio>

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <QTextStream>

namespace
{

const char* const kPrefix[5] = {"", "en_", "ru_", "vn_", "tn_"};

// A colour of its own for each image name, dark enough for white text.
QColor colour_of(const QString& name)
{
    uint h = qHash(name);
    return QColor::fromHsv(int(h % 360), 150 + int((h >> 9) % 80), 120 + int((h >> 17) % 70));
}

bool draw(const QString& path, const QString& name, QSize size, const QString& caption, const QStringList& options = {})
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF box(0.5, 0.5, size.width() - 1.0, size.height() - 1.0);
    qreal radius = qMin(size.width(), size.height()) / 6.0;
    QColor border(255, 171, 84);
    QColor ground = colour_of(name);
    if (options.contains("on")) {
        ground = QColor(71, 119, 255);
    } else if (options.contains("off")) {
        ground = QColor(33, 36, 53);
        border = QColor(160, 160, 160);
    } else if (options.contains("green")) {
        ground = border = QColor(0, 214, 91);
    } else if (options.contains("grey")) {
        ground = border = QColor(150, 150, 150);
    }
    p.setPen(QPen(border, 1));
    p.setBrush(ground);
    p.drawRoundedRect(box, radius, radius);
    p.setPen(Qt::white);
    QFont font("WenQuanYi Micro Hei");
    font.setBold(true);
    QRect area = image.rect().adjusted(1, 1, -1, -1);
    // The largest font at which the caption fits, wrapped at word breaks.
    for (int px = qMax(6, size.height() / 2); px >= 5; --px) {
        font.setPixelSize(px);
        QFontMetrics fm(font);
        QRect need = fm.boundingRect(area, Qt::AlignCenter | Qt::TextWordWrap, caption);
        if (need.width() <= area.width() && need.height() <= area.height())
            break;
    }
    p.setFont(font);
    // Mirrored captions: flip about the centre of the picture.
    bool flipH = options.contains("h"), flipV = options.contains("v");
    if (flipH || flipV) {
        p.translate(size.width() / 2.0, size.height() / 2.0);
        p.scale(flipH ? -1 : 1, flipV ? -1 : 1);
        p.translate(-size.width() / 2.0, -size.height() / 2.0);
    }
    p.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, caption);
    p.end();
    return image.save(path, "PNG");
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
    QStringList files;
    QTextStream in(&list);
    in.setCodec("UTF-8");
    int line_no = 0;
    while (!in.atEnd()) {
        QString line = in.readLine().trimmed();
        ++line_no;
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        QStringList f = line.split('|');
        QStringList wh = f.value(1).split('x');
        QSize size(wh.value(0).toInt(), wh.value(1).toInt());
        if ((f.size() < 3 || f.size() > 4) && f.size() != 7) {
            std::fprintf(stderr, "icongen: %s:%d: bad line\n", argv[1], line_no);
            return 1;
        }
        if (size.isEmpty()) {
            std::fprintf(stderr, "icongen: %s:%d: bad line\n", argv[1], line_no);
            return 1;
        }
        for (int lang = 0; lang < (f.size() == 7 ? 5 : 1); ++lang) {
            QString file = QString(kPrefix[lang]) + f[0];
            QStringList options = f.size() == 4 ? f[3].split(',') : QStringList();
            if (!draw(out.filePath("png/" + file), file, size, f[2 + lang], options)) {
                std::fprintf(stderr, "icongen: cannot write %s\n", qPrintable(file));
                return 1;
            }
            files << file;
        }
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
