// Every file the box reads at start, damaged as a flash or a careless hand
// damages one (a folder in its place, emptied, cut in half, 20 MB of noise):
// the box still serves the PC tool, shows its panel and lives on, and every
// other file stays as it was. The starts run side by side, each in a data
// root and a network namespace of its own.
#include <QtTest>

#include <deque>
#include <map>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>

#include "link/pc_frames.h"
#include "support/net_helpers.h"
#include "support/sim_fixture.h"

namespace
{
// Host paths under the data root of what the box reads at start.
const char* const kFiles[] = {
    "data/configs/tcpip.ini",
    "data/configs/led_load_config.ini",
    "data/ram_device_info",
    "data/modes/custom_mode1",
    "data/configs/alias.json",
    "data/configs/cloud_setinfo",
    "data/configs/cloud_barcode",
    "data/configs/cloud_cafile",
    "etc/rtl_hostapd_2G.conf",
    "sim/inputs",
    "sim/cards",
    "sim/faults",
    "sim/usb",
    "sim/c331_flash.bin",
    "sim/fpga_flash.bin",
};
const char* const kDamages[] = {"folder", "empty", "cut in half", "20 MB of noise"};
// Settings no interface or server can take, stored by hand or by an older
// program: the box starts on its factory address and ports instead.
const char* const kSettingsFile = "data/configs/tcpip.ini";
const char* const kUnusable[][2] = {
    {"IPAddress", "224.0.0.1"}, {"IPAddress", "0.0.0.0"}, {"SubNetMask", "0.0.0.0"},
    {"TcpPort", "abc"},         {"TcpPort", "99999"},     {"TcpPort", "10002"},
};
const char* const kFactoryAddress = "ifconfig eth0 192.168.0.199 netmask 255.255.255.0 up";
// Logs of the simulated board, which every start adds to, and the screen
// capture the check asks for.
const QStringList kLogs = {"sim/commands", "sim/commands.old", "sim/keypad_leds", "123.png"};
// Starts at once: each sleeps through most of its start-up.
constexpr int kParallel = 16;

// How one start went, as its checker's exit code says.
enum Step { Fine, NoNetwork, NeverServed, WrongAddress, DiedBeforePanel, NoPanel, NoCapture, DiedAfterPanel };
const char* const kStepText[] = {
    "",
    "no network namespace of its own",
    "port 5005 never served",
    "eth0 was not given the factory address alone",
    "the program ended before its panel showed",
    "the panel never showed",
    "the panel never answered a screen capture",
    "the program ended after its panel showed",
};

bool alive(pid_t pid)
{
    return waitpid(pid, nullptr, WNOHANG) == 0;
}

// The screen capture goes through the panel's event loop: an answer with a
// picture shows the loop ran past everything queued at start.
bool panel_answers_capture()
{
    const int fd = tcp_connect(5005);
    if (fd < 0)
        return false;
    put(fd, wire(with_bcc(request(kBox, 0x61, ram_rest(0x800000, 16)))));
    const std::vector<Bytes> r = replies(fd, 1, 10000);
    close(fd);
    // The capture's length stands at header bytes 12 to 15.
    return r.size() == 1 && r[0].size() > 27 && (r[0][23] | r[0][24] | r[0][25] | r[0][26]) != 0;
}

// Waits up to ms for ready(), watching that pid lives on; false when it
// ended.
template <typename Ready> bool wait_while_alive(pid_t pid, int ms, Ready ready)
{
    for (int waited = 0; waited < ms && !ready(); waited += 50) {
        if (!alive(pid))
            return false;
        usleep(50000);
    }
    return alive(pid);
}

// Runs in a child of its own: starts the program on root and checks it once
// its panel shows (it lights the keypad LEDs then) and once the access
// point, started a second later, has its address.
Step check_start(const std::string& program, const std::string& root)
{
    if (!own_network())
        return NoNetwork;
    pid_t pid = start_serving_program(program, root);
    if (pid <= 0)
        return NeverServed;
    const QString leds = QString::fromStdString(root + "/sim/keypad_leds");
    const QString commands = QString::fromStdString(root + "/sim/commands");
    static const QRegularExpression apUp("^ifconfig wlan0 \\d", QRegularExpression::MultilineOption);
    Step step = Fine;
    bool shown = false;
    static const QRegularExpression wired("^ifconfig eth0 \\d.*$", QRegularExpression::MultilineOption);
    QStringList addresses;
    for (auto m = wired.globalMatch(readHostFile(commands)); m.hasNext();)
        addresses << m.next().captured();
    if (addresses != QStringList{kFactoryAddress})
        step = WrongAddress;
    else if (!wait_while_alive(pid, 30000, [&] { return shown = QFileInfo(leds).size() > 0; }))
        step = DiedBeforePanel;
    else if (!shown)
        step = NoPanel;
    // The access point stays down when its files cannot be written: the
    // wait then ends at its bound, after the start has tried.
    else if (!wait_while_alive(pid, 10000, [&] { return apUp.match(readHostFile(commands)).hasMatch(); }))
        step = DiedAfterPanel;
    else if (!panel_answers_capture())
        step = NoCapture;
    else if (!alive(pid))
        step = DiedAfterPanel;
    stop_program(pid);
    return step;
}

QByteArray noise(qint64 size)
{
    std::mt19937_64 random(size);
    QByteArray out(int(size), 0);
    for (int i = 0; i + 8 <= out.size(); i += 8) {
        const uint64_t v = random();
        std::memcpy(out.data() + i, &v, 8);
    }
    return out;
}

bool damage(const QString& path, const QString& how)
{
    const QByteArray was = readHostFile(path);
    if (!QFile::remove(path))
        return false;
    if (how == "folder")
        return QDir().mkpath(path);
    if (how == "empty")
        return writeHostFile(path, QByteArray());
    if (how == "cut in half")
        return writeHostFile(path, was.left(was.size() / 2));
    if (how.contains('=')) {
        if (!writeHostFile(path, was))
            return false;
        QSettings s(path, QSettings::IniFormat);
        s.setValue("config/" + how.section('=', 0, 0), how.section('=', 1));
        s.sync();
        return s.status() == QSettings::NoError;
    }
    return writeHostFile(path, noise(20 * 1000 * 1000));
}

// Every file of a data root by its path under the root, logs left out.
std::map<QString, QByteArray> files_of(const QString& root)
{
    std::map<QString, QByteArray> out;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = QDir(root).relativeFilePath(path);
        if (!kLogs.contains(name) && !it.fileInfo().isSymLink())
            out[name] = readHostFile(path);
    }
    return out;
}

// The files the box needs to read them all at start, as a user leaves them.
void furnish(const QString& root)
{
    auto at = [&](const char* path) { return root + "/" + path; };
    const QByteArray image = readHostFile(at("data/ram_device_info"));
    QByteArray mode = QByteArray("\xAA\xAA") + image.mid(2 + 896 - 768);
    mode.append(4096 - mode.size(), '\0');
    const QByteArray setinfo = R"({"deviceid":"dev1","serverip":"127.0.0.1","serverport":1})";
    const QByteArray barcode = "0123456789AB";
    const QByteArray ca = "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n";
    auto le16 = [](int v) { return QByteArray(1, char(v)) + QByteArray(1, char(v >> 8)); };
    QVERIFY(writeHostFile(at("data/modes/custom_mode1"), mode));
    QVERIFY(writeHostFile(at("data/configs/alias.json"),
                          R"({"namelist":{"source":[{"id":2,"valid":"on","name":"Camera"}]}})"));
    QVERIFY(writeHostFile(at("data/configs/cloud_setinfo"), "\xAA" + le16(setinfo.size() + 2) + setinfo));
    QVERIFY(writeHostFile(at("data/configs/cloud_barcode"), "\xAA" + le16(barcode.size() + 2) + barcode));
    QVERIFY(
        writeHostFile(at("data/configs/cloud_cafile"), QByteArray("\xAA\x65\x00", 3) + le16(ca.size()) + le16(0) + ca));
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
    std::string program_;
    QString base_;
    std::map<QString, QByteArray> baseFiles_;
    // What went wrong with each row's start; empty when nothing did.
    std::map<QString, QString> verdicts_;

    pid_t launch(const std::string& root)
    {
        const pid_t child = fork();
        if (child == 0)
            _exit(check_start(program_, root));
        return child;
    }

    // The row's verdict, once its start is over and its root compared.
    QString judge(const QString& file, const QString& root, int status)
    {
        if (!WIFEXITED(status) || WEXITSTATUS(status) > DiedAfterPanel)
            return "the checker itself failed";
        if (WEXITSTATUS(status) != Fine)
            return kStepText[WEXITSTATUS(status)];
        const std::map<QString, QByteArray> now = files_of(root);
        for (const auto& f : baseFiles_) {
            if (f.first == file)
                continue;
            auto it = now.find(f.first);
            if (it == now.end())
                return f.first + " is gone";
            if (it->second != f.second)
                return f.first + " changed";
        }
        return QString();
    }

  private slots:
    void initTestCase()
    {
        program_ = qgetenv("ZEV_PROGRAM").toStdString();
        if (program_.empty())
            QSKIP("ZEV_PROGRAM does not name the built program");
        // A first start lays out the data root.
        base_ = dir_.filePath("base");
        int status = 0;
        QCOMPARE(waitpid(launch(base_.toStdString()), &status, 0) > 0 && WIFEXITED(status), true);
        if (WEXITSTATUS(status) == NoNetwork)
            QSKIP("no network namespace can be had: the starts cannot run side by side");
        QCOMPARE(QString(kStepText[WEXITSTATUS(status)]), QString());
        furnish(base_);
        if (QTest::currentTestFailed())
            return;
        for (const QString& log : kLogs)
            QFile::remove(base_ + "/" + log);
        baseFiles_ = files_of(base_);
        for (const char* file : kFiles)
            QVERIFY2(baseFiles_.count(file), file);

        std::deque<std::pair<QString, QString>> pending{{"untouched", ""}};
        for (const char* file : kFiles)
            for (const char* how : kDamages)
                pending.emplace_back(file, how);
        for (const auto& value : kUnusable)
            pending.emplace_back(kSettingsFile, QString("%1=%2").arg(value[0], value[1]));
        std::map<pid_t, std::pair<QString, QString>> running;
        int serial = 0;
        while (!pending.empty() || !running.empty()) {
            while (!pending.empty() && running.size() < size_t(kParallel)) {
                const auto row = pending.front();
                pending.pop_front();
                const QString root = dir_.filePath(QString::number(serial++));
                QCOMPARE(QProcess::execute("cp", {"-a", "--sparse=always", base_, root}), 0);
                if (!row.second.isEmpty())
                    QVERIFY(damage(root + "/" + row.first, row.second));
                running[launch(root.toStdString())] = {row.first + " " + row.second, root};
            }
            int status = 0;
            pid_t done;
            while ((done = waitpid(-1, &status, 0)) < 0 && errno == EINTR) {
            }
            QVERIFY(done > 0 && running.count(done));
            const QString tag = running[done].first, root = running[done].second;
            running.erase(done);
            verdicts_[tag] = judge(tag.section(' ', 0, 0), root, status);
            QDir(root).removeRecursively();
        }
    }

    void startSurvivesTheDamage_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::newRow("untouched") << "untouched ";
        for (const char* file : kFiles)
            for (const char* how : kDamages)
                QTest::addRow("%s %s", file, how) << QString("%1 %2").arg(file, how);
        for (const auto& value : kUnusable)
            QTest::addRow("%s %s=%s", kSettingsFile, value[0], value[1])
                << QString("%1 %2=%3").arg(kSettingsFile, value[0], value[1]);
    }
    void startSurvivesTheDamage()
    {
        QFETCH(QString, tag);
        QVERIFY(verdicts_.count(tag));
        QVERIFY2(verdicts_[tag].isEmpty(), qPrintable(verdicts_[tag]));
    }
};

QTEST_GUILESS_MAIN(TestE2eStartupFiles)
#include "test_e2e_startup_files.moc"
