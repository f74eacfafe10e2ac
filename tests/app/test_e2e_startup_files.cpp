// Every file the box reads at start, damaged as a flash or a careless hand
// damages one, and stored network values no interface or server can take:
// the box still serves the PC tool, shows its panel and lives on; the
// settings a user stored are in effect unless the damage took them, a file
// it could not read or that holds more than it writes stays as it was, and
// every other file too. The starts run side by side, each in a data root and
// a network namespace of its own.
#include <QtTest>

#include <cstdio>
#include <map>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QRegularExpression>
#include <QSettings>

#include "core/zevrampara.h"
#include "link/pc_frames.h"
#include "support/net_helpers.h"
#include "support/read_faults.h"
#include "support/sim_fixture.h"

namespace
{
using Files = std::map<QString, QByteArray>;
// The FPGA's flash takes the running-time record every minute of running: a
// slow start may well change it.
const QString kRecordFlash = "sim/fpga_flash.bin";

// The user's settings: an address, a barcode, a brightness and an LED width.
const char* kUserIp = "10.1.1.5";
const QByteArray kCa = "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n";
const QByteArray kUserBarcode = "SN-0042";
constexpr u16 kUserBrightness = 37, kUserLedWidth = 1280;

// What a start shows of the user's settings after a row's damage: 'u' the
// user's, 'f' the factory ones, '?' either (a file cut anywhere).
struct Expect {
    char net = 'u';    // eth0's address and the barcode
    char image = 'u';  // brightness and LED width
    bool mode = true;  // user mode 1 is stored
    bool kept = false; // the row's own file is as it was
    long ca = -1;      // the certificate size the PC is told, -1 any
};

Expect expect(const QString& tag)
{
    const QString file = tag.section(' ', 0, 0), how = tag.section(' ', 1);
    Expect e;
    if (tag == "first start")
        return {'f', 'f', false, false};
    // Only bytes read and found damaged may be replaced.
    e.kept = how == "reads fail" || how == "longer" || how == "over the old limit";
    if (file == "data/configs/tcpip.ini")
        e.net = how == "cut in half" ? '?' : how == "malformed line" ? 'u' : 'f';
    if (file == "data/ram_device_info")
        e.image = how == "longer" ? 'u' : 'f';
    if (file == "data/modes/custom_mode1")
        e.mode = how == "longer";
    e.ca = file != "data/configs/cloud_cafile" ? kCa.size() : how == "over the old limit" ? 40000 : -1;
    return e;
}

// Why the running program does not show what e asks for; empty when it
// does.
QString shown(int pc, const QString& log, const Expect& e)
{
    auto word = [&](u32 at) {
        const Bytes r = ask(pc, request(kBox, 0x61, ram_rest(at, 2)));
        return r.size() == 3 && r[0] == 0 ? int(r[1] | r[2] << 8) : -1;
    };
    const Bytes code = ask(pc, request(kBox, 0xA2, {31}));
    const QByteArray barcode =
        code.size() > 4 ? QByteArray(reinterpret_cast<const char*>(code.data()) + 4, int(code.size()) - 4) : "";
    const QString ip = e.net == 'u' ? kUserIp : "192.168.0.199";
    if (log.count(QRegularExpression("^ifconfig eth0 \\d", QRegularExpression::MultilineOption)) != 1 ||
        (e.net != '?' && !log.contains("\nifconfig eth0 " + ip + " netmask 255.255.255.0 up\n")))
        return "eth0 not on " + (e.net == '?' ? QString("one address") : ip) + " alone";
    if (e.net != '?' && barcode != (e.net == 'u' ? kUserBarcode : QByteArray(" ")))
        return "barcode \"" + barcode + "\"";
    if (e.image != '?' && (word(Img::kBrightness) != (e.image == 'u' ? kUserBrightness : 100) ||
                           word(Img::kLedWidth) != (e.image == 'u' ? kUserLedWidth : 1920)))
        return QString("brightness %1, LED width %2").arg(word(Img::kBrightness)).arg(word(Img::kLedWidth));
    if ((word(0x1000) == 0xAAAA) != e.mode)
        return e.mode ? "user mode 1 lost" : "user mode 1 taken from a damaged file";
    const Bytes ca = ask(pc, request(kBox, 0xC8, {'F', '0', '0', '2'}));
    if (e.ca >= 0 && ca != cat({{0, 200, 0, 101, 0}, le32(u32(e.ca))}))
        return "certificate not served whole";
    return "";
}

// Runs in a child of its own: starts the program on root, waits for its
// panel (it lights the keypad's LEDs), then for the access point a second
// later (down when its files cannot be written or read). 0 when the program
// shows what the row expects, lives on and no file changed but the row's
// own where it may; else 1 after a line saying what went wrong.
int check_start(const std::string& program, const QString& root, const QString& tag, const Files& base)
{
    if (!own_network()) {
        fprintf(stderr, "%s: no network namespace\n", qPrintable(tag));
        return 1;
    }
    const Expect e = expect(tag);
    const QString own = tag.section(' ', 0, 0);
    const QByteArray damaged = readHostFile(root + "/" + own);
    if (tag.endsWith(" reads fail") && !with_failing_reads((root + "/" + tag.section(' ', 0, 0)).toStdString())) {
        fprintf(stderr, "%s: no library to fail reads with\n", qPrintable(tag));
        return 1;
    }
    pid_t pid = start_serving_program(program, root.toStdString());
    const auto alive = [&] { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; };
    const auto log = [&] { return QString(readHostFile(root + "/sim/commands")); };
    const auto lit = [&] { return QFileInfo(root + "/sim/keypad_leds").size() > 0; };
    for (int i = 0; i < 600 && alive() && !lit(); ++i)
        usleep(50000);
    for (int i = 0; i < 200 && alive() && !log().contains("\nifconfig wlan0 1"); ++i)
        usleep(50000);
    const int pc = pid > 0 ? tcp_connect(5005) : -1;
    QString why = pid <= 0   ? "port 5005 never served"
                  : !lit()   ? "no panel"
                  : !alive() ? "the program ended"
                  : pc < 0   ? "port 5005 closed"
                             : shown(pc, log(), e);
    if (pc >= 0)
        close(pc);
    stop_program(pid);
    const Files now = rootFiles(root);
    for (const auto& f : base)
        if (why.isEmpty() && f.first != own && f.first != kRecordFlash &&
            (!now.count(f.first) || now.at(f.first) != f.second))
            why = f.first + " changed or gone";
    if (why.isEmpty() && e.kept && readHostFile(root + "/" + own) != damaged)
        why = own + " replaced";
    if (!why.isEmpty())
        fprintf(stderr, "%s: %s\n", qPrintable(tag), qPrintable(why));
    return why.isEmpty() ? 0 : 1;
}

// A stored value goes into a settings file of its own; a file longer than
// the box writes it, or over the certificate's old limit, ends in zeros; a
// line without its bracket goes before the file's second line; a file whose
// reads fail is failed by the checker.
bool damage(const QString& path, const QString& how)
{
    if (how == "reads fail")
        return true;
    QByteArray bytes = how.contains('=') ? "[config]\n" + how.toLatin1() : readHostFile(path);
    if (how == "longer" || how == "over the old limit") {
        const int size = how == "longer" ? bytes.size() + 766 : 7 + 40000;
        if (how != "longer")
            bytes.replace(3, 4, QByteArray::fromRawData("\x40\x9c\x00\x00", 4));
        return writeHostFile(path, bytes.leftJustified(size, '\0'));
    }
    if (how == "malformed line")
        return writeHostFile(path, bytes.insert(bytes.indexOf('\n') + 1, "[hall B\n"));
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
    const QByteArray& ca = kCa;
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
    s.setValue("config/IPAddress", kUserIp);
    s.setValue("config/GateWay", "10.1.1.1");
    s.setValue("config/MAC", "02:11:22:33:44:55");
    s.setValue("config/Barcode", QString(kUserBarcode));
    QByteArray image = readHostFile(at("data/ram_device_info"));
    for (auto [offset, value] :
         {std::pair<int, u16>{Img::kBrightness, kUserBrightness}, {Img::kLedWidth, kUserLedWidth}}) {
        image[2 + offset - Img::kPersistStart] = char(value);
        image[3 + offset - Img::kPersistStart] = char(value >> 8);
    }
    QVERIFY(writeHostFile(at("data/ram_device_info"), image));
    // The access point under the user's name.
    QByteArray hostapd = readHostFile(at("etc/rtl_hostapd_2G.conf"));
    const int ssid = hostapd.indexOf("ssid=");
    QVERIFY(ssid >= 0);
    QVERIFY(writeHostFile(at("etc/rtl_hostapd_2G.conf"),
                          hostapd.replace(ssid, hostapd.indexOf('\n', ssid) - ssid, "ssid=Hall B")));
}
} // namespace

class TestE2eStartupFiles : public QObject
{
    Q_OBJECT
    QTemporaryDir dir_;

  private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("ZEV_PROGRAM"))
            QSKIP("ZEV_PROGRAM does not name the built program");
        // Asked in a child: the namespace would be this process's for good.
        const pid_t child = fork();
        if (child == 0)
            _exit(own_network() ? 0 : 2);
        int status = 0;
        QVERIFY(child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status));
        if (WEXITSTATUS(status) == 2)
            QSKIP("no network namespace can be had: the starts cannot run side by side");
    }

    // The starts run here, sixteen at once (each sleeps through most of its
    // start-up); a row is a start's checker's status, as it ended.
    void startSurvivesTheDamage_data()
    {
        QTest::addColumn<int>("status");
        const std::string program = qgetenv("ZEV_PROGRAM").toStdString();
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
                                  "TcpPort=99999", "TcpPort=10002", "malformed line", "reads fail"})
            tags << QString("data/configs/tcpip.ini ") + value;
        tags << "data/ram_device_info longer"
             << "data/ram_device_info reads fail"
             << "data/modes/custom_mode1 longer"
             << "data/modes/custom_mode1 reads fail"
             << "data/configs/alias.json reads fail"
             << "data/configs/cloud_barcode reads fail"
             << "data/configs/cloud_cafile over the old limit"
             << "etc/rtl_hostapd_2G.conf reads fail";
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
