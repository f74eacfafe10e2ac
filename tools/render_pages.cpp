// Renders each built front-panel page offscreen to PNG in the five
// languages, on a simulated board with factory settings, so the panel can be
// looked at without the hardware. Usage: zev_render_pages OUTDIR
// (the build runs it as the target "render_pages" into build/pages).
#include <cstdio>

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>

#include "page_harness.h"

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    PageHarness world;
    QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(".")) {
        std::fprintf(stderr, "render_pages: cannot create %s\n", argv[1]);
        return 1;
    }
    int unwritten = 0;
    int failed = walk_pages([&](QWidget* page, const QString& scene, int lang) {
        QString file = out.filePath(QString("%1_%2.png").arg(scene, kPageLanguages[lang]));
        if (!page->grab().save(file, "PNG")) {
            std::fprintf(stderr, "render_pages: cannot write %s\n", qPrintable(file));
            ++unwritten;
        }
    });
    std::printf("render_pages: pages written to %s\n", qPrintable(out.absolutePath()));
    return failed || unwritten ? 1 : 0;
}
