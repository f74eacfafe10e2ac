// Every file the box reads at start, damaged as a flash or a careless hand
// damages one, and stored network values no interface or server can take:
// the box still serves the PC tool on its factory address, shows its panel
// and lives on, and every other file stays as it was. The starts run side by
// side, each in a data root and a network namespace of its own.
#include <QtTest>

#include <cstdio>
#include <map>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QRegularExpression>
#include <QSettings>

#include "support/net_helpers.h"
#include "support/sim_fixture.h"

namespace
{
using Files = std::map<QString, QByteArray>;
// The FPGA's flash takes the running-time record every minute of running: a
// slow start may well change it.
const QString kRecordFlash = "sim/fpga_flash.bin";

// Runs in a child of its own: starts the program on root, waits for its
// panel (it lights the keypad's LEDs), then for the access point a second
// later (down when its files cannot be written). 0 when eth0 has the factory address alone,
// the program lives on and no file but the row's changed; 1 after a line
// saying what went wrong; 2 without a network.
int check_start(const std::string& program, const QString& root, const QString& tag, const Files& base)
{
    if (!own_network())
        return 2;
    pid_t pid = start_serving_program(program, root.toStdString());
    const auto alive = [&] { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; };
    const auto log = [&] { return QString(readHostFile(root + "/sim/commands")); };
    const auto lit = [&] { return QFileInfo(root + "/sim/keypad_leds").size() > 0; };
    for (int i = 0; i < 600 && alive() && !lit(); ++i)
        usleep(50000);
    for (int i = 0; i < 200 && alive() && !log().contains("\nifconfig wlan0 1"); ++i)
        usleep(50000);
    QString why = pid <= 0   ? "port 5005 never served"
                  : !lit()   ? "no panel"
                  : !alive() ? "the program ended"
                  : log().count(QRegularExpression("^ifconfig eth0 \\d", QRegularExpression::MultilineOption)) != 1 ||
                          !log().contains("\nifconfig eth0 192.168.0.199 netmask 255.255.255.0 up\n")
                      ? "eth0 not on the factory address alone"
                      : "";
    stop_program(pid);
    const Files now = rootFiles(root);
    for (const auto& f : base)
        if (why.isEmpty() && f.first != tag.section(' ', 0, 0) && f.first != kRecordFlash &&
            (!now.count(f.first) || now.at(f.first) != f.second))
            why = f.first + " changed or gone";
    if (!why.isEmpty())
        fprintf(stderr, "%s: %s\n", qPrintable(tag), qPrintable(why));
    return why.isEmpty() ? 0 : 1;
}

// A stored value goes into a settings file of its own.
bool damage(const QString& path, const QString& how)
{
    QByteArray bytes = how.contains('=') ? "[config]\n" + how.toLatin1() : readHostFile(path);
    if (!how.contains('='))
        bytes.truncate(how == "cut in half" ? bytes.size() / 2 : 0);
    std::mt19937 random(7);
    for (int i = how.contains("noise") ? 20000000 : 0; i > 0; --i)
        bytes += char(random());
    return QFile::remove(path) && (how == "folder" ? QDir().mkpath(path) : writeHostFile(path, bytes));
}

// The files the box needs to read them all at start, as a user leaves them.
void furnish(const QString& root)
{
    auto at = [&](const char* path) { return root + "/" + path; };
    auto record = [](const QByteArray& body) { return "\xAA" + QByteArray(1, char(body.size() + 2)) + '\0' + body; };
    const QByteArray mode = "\xAA\xAA" + readHostFile(at("data/ram_device_info")).mid(2 + 896 - 768);
    const QByteArray ca = "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n";
    QVERIFY(writeHostFile(at("data/modes/custom_mode1"), mode.leftJustified(4096, '\0')));
    QVERIFY(writeHostFile(at("data/configs/alias.json"),
                          R"({"namelist":{"source":[{"id":2,"valid":"on","name":"Camera"}]}})"));
    QVERIFY(writeHostFile(at("data/configs/cloud_setinfo"),
                          record(R"({"deviceid":"dev1","serverip":"127.0.0.1","serverport":1})")));
    QVERIFY(writeHostFile(at("data/configs/cloud_barcode"), record("0123456789AB")));
    QVERIFY(writeHostFile(at("data/configs/cloud_cafile"),
                          QByteArray("\xAA\x65\x00", 3) + char(ca.size()) + QByteArray(3, '\0') + ca));
    // A cloud server to reach, so that the certificate file is read.
    QSettings s(at("data/configs/tcpip.ini"), QSettings::IniFormat);
    s.setValue("config/Nubocloudserverip", "127.0.0.1");
    s.setValue("config/Nubocloudserverport", 1);
}
} // namespace

class TestE2eStartupFiles : public QObject
{
    Q_OBJECT
    QTemporaryDir dir_;

  private slots:
    // The starts run here, sixteen at once (each sleeps through most of its
    // start-up); a row is a start's checker's status, as it ended.
    void startSurvivesTheDamage_data()
    {
        QTest::addColumn<int>("status");
        const std::string program = qgetenv("ZEV_PROGRAM").toStdString();
        if (program.empty())
            QSKIP("ZEV_PROGRAM does not name the built program");
        Files base;
        const auto launch = [&](const QString& root, const QString& tag) {
            const pid_t child = fork();
            if (child == 0)
                _exit(check_start(program, root, tag, base));
            return child;
        };
        // A first start lays out the data root.
        const QString first = dir_.filePath("base");
        int status = 0;
        QVERIFY(waitpid(launch(first, "first start"), &status, 0) > 0 && WIFEXITED(status));
        if (WEXITSTATUS(status) == 2)
            QSKIP("no network namespace can be had: the starts cannot run side by side");
        QCOMPARE(WEXITSTATUS(status), 0);
        furnish(first);
        for (const QString& log : simLogs())
            QFile::remove(first + "/" + log);
        base = rootFiles(first);

        QStringList tags;
        for (const QString& file :
             QString("data/configs/tcpip.ini data/configs/led_load_config.ini data/ram_device_info "
                     "data/modes/custom_mode1 data/configs/alias.json data/configs/cloud_setinfo "
                     "data/configs/cloud_barcode data/configs/cloud_cafile etc/rtl_hostapd_2G.conf sim/inputs "
                     "sim/cards sim/faults sim/usb sim/c331_flash.bin sim/fpga_flash.bin")
                 .split(' ')) {
            QVERIFY2(base.count(file), qPrintable(file));
            for (const char* how : {"folder", "cut in half", "20 MB of noise"})
                tags << file + " " + how;
        }
        for (const char* value : {"IPAddress=224.0.0.1", "IPAddress=0.0.0.0", "SubNetMask=0.0.0.0", "TcpPort=abc",
                                  "TcpPort=99999", "TcpPort=10002"})
            tags << QString("data/configs/tcpip.ini ") + value;
        std::map<pid_t, int> running;
        for (int next = 0; next < tags.size() || !running.empty();) {
            const QString root = dir_.filePath(QString::number(next)), how = tags.value(next).section(' ', 1);
            if (next < tags.size() && running.size() < 16) {
                QCOMPARE(QProcess::execute("cp", {"-a", "--sparse=always", first, root}), 0);
                QVERIFY(damage(root + "/" + tags[next].section(' ', 0, 0), how));
                running[launch(root, tags[next])] = next;
                ++next;
            } else if (const pid_t done = waitpid(-1, &status, 0); done > 0) {
                QVERIFY(running.count(done));
                QTest::newRow(qPrintable(tags[running[done]])) << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
                QDir(dir_.filePath(QString::number(running[done]))).removeRecursively();
                running.erase(done);
            }
        }
    }
    void startSurvivesTheDamage()
    {
        QFETCH(int, status);
        QVERIFY2(status == 0, "what went wrong is written above");
    }
};

QTEST_GUILESS_MAIN(TestE2eStartupFiles)
#include "test_e2e_startup_files.moc"
