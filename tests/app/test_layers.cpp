// The folders form layers that point one way: a file includes nothing from a
// layer above its own, and only the start-up in app/ sees every layer.
#include <QtTest>

#include <QDirIterator>
#include <QRegularExpression>

namespace
{
// Rank of a folder from the bottom; folders of one rank may include each
// other. -1: not part of the program (tests, tools, benchmarks).
int rank(const QString& path)
{
    static const QList<QPair<QString, int>> kRanks = {
        {"board/", 0}, {"core/", 1},   {"chips/", 2}, {"video/", 2}, {"ledout/", 2},
        {"link/", 3},  {"remote/", 4}, {"ui/", 5},    {"app/", 6},
    };
    for (const auto& r : kRanks)
        if (path.startsWith(r.first))
            return r.second;
    return -1;
}

// The includes of one source file that reach into a higher layer.
QStringList upwardIncludes(const QString& file, const QString& text)
{
    static const QRegularExpression kInclude("^\\s*#\\s*include\\s*\"([^\"]+)\"", QRegularExpression::MultilineOption);
    QStringList out;
    const int own = rank(file);
    auto it = kInclude.globalMatch(text);
    while (it.hasNext()) {
        const QString inc = it.next().captured(1);
        if (own >= 0 && rank(inc) > own)
            out << file + " -> " + inc;
    }
    return out;
}
} // namespace

class TestLayers : public QObject
{
    Q_OBJECT
  private slots:
    void checker_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("upward");
        QTest::newRow("core to ui") << "core/zevrampara.cpp"
                                    << "#include \"ui/shell/pages.h\"" << true;
        QTest::newRow("board to core") << "board/sim/x.cpp"
                                       << "  # include \"core/global.h\"" << true;
        QTest::newRow("ledout to link") << "ledout/a.cpp"
                                        << "#include \"link/uart_config.h\"" << true;
        QTest::newRow("link to remote") << "link/message_deal.cpp"
                                        << "#include \"remote/message_deal_4g.h\"" << true;
        QTest::newRow("remote to link") << "remote/uart_inout_4G.h"
                                        << "#include \"link/serial_line.h\"" << false;
        QTest::newRow("same rank") << "video/a.cpp"
                                   << "#include \"ledout/fpga_manage.h\"" << false;
        QTest::newRow("downward") << "ui/shell/a.cpp"
                                  << "#include \"board/board.h\"" << false;
        QTest::newRow("app sees all") << "app/main.cpp"
                                      << "#include \"ui/shell/pages.h\"" << false;
        QTest::newRow("system header") << "core/a.cpp"
                                       << "#include <QWidget>" << false;
    }
    void checker()
    {
        QFETCH(QString, file);
        QFETCH(QString, text);
        QFETCH(bool, upward);
        QCOMPARE(!upwardIncludes(file, text).isEmpty(), upward);
    }

    void noIncludeRunsUpward()
    {
        const QString root = QStringLiteral(ZEV_SOURCE_DIR);
        QStringList found;
        int files = 0;
        QDirIterator it(root, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString rel = QDir(root).relativeFilePath(path);
            if (rank(rel) < 0)
                continue;
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            found << upwardIncludes(rel, QString::fromUtf8(f.readAll()));
            ++files;
        }
        QVERIFY(files > 50);
        QVERIFY2(found.isEmpty(), qPrintable(found.join('\n')));
    }
};

QTEST_APPLESS_MAIN(TestLayers)
#include "test_layers.moc"
