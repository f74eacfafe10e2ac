// Every file the box reads at start, damaged as a flash or a careless hand
// damages one, and stored network values no interface or server can take:
// the box still serves the PC tool, shows its panel and lives on; the
// settings a user stored are in effect unless the damage took them, a file
// it could not read or that holds more than it writes stays as it was, and
// every other file too; each file of the box's it cannot use whole is named
// once. On a full partition the changes it answered are stored once there
// is room. The starts run side by side, each in a namespace of its own.
#include <QtTest>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <poll.h>
#include <random>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QRegularExpression>
#include <QSettings>

#include "core/zevrampara.h"
#include "link/pc_frames.h"
#include "support/fs_helpers.h"
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
// A self-signed certificate the cloud link can take.
const QByteArray kCa = "-----BEGIN CERTIFICATE-----\n"
                       "MIIBczCCARmgAwIBAgIUPojdLnRsdqmEingigPsraKgZKREwCgYIKoZIzj0EAwIw\n"
                       "DjEMMAoGA1UEAwwDemV2MCAXDTI2MTIwODEyMjgwOVoYDzIxMjYxMTE0MTIyODA5\n"
                       "WjAOMQwwCgYDVQQDDAN6ZXYwWTATBgcqhkjOPQIBBggqhkjOPQMBBwNCAAStDGpt\n"
                       "mSYyoxT8vCBcpGiawUs5sCRqymdnSRio5ptc5xbEcSmsOQDR4ZJo/HjuEvtV52dU\n"
                       "RvpERijLeZifUrIFo1MwUTAdBgNVHQ4EFgQUUwiPBqkvKMV4gLKIxgO3ITndJmow\n"
                       "HwYDVR0jBBgwFoAUUwiPBqkvKMV4gLKIxgO3ITndJmowDwYDVR0TAQH/BAUwAwEB\n"
                       "/zAKBggqhkjOPQQDAgNIADBFAiEAj0hL1xSS2gS/x7rWCAu/n3SEzCJSat5mYy/1\n"
                       "cyZEQssCIAVYl9/qwtxDElDzno2OUwpfw4lxpbUdsh0pqqZLZzOg\n"
                       "-----END CERTIFICATE-----\n";
const QByteArray kUserBarcode = "SN-0042";
constexpr u16 kUserBrightness = 37, kUserLedWidth = 1280;

// What a start shows of the user's settings after a row's damage: 'u' the
// user's, 'f' the factory ones, '?' either (a file cut anywhere).
struct Expect {
    char net = 'u';    // eth0's address
    char code = 'u';   // the barcode
    char image = 'u';  // brightness and LED width
    bool mode = true;  // user mode 1 is stored
    bool kept = false; // the row's own file is as it was
    long ca = -1;      // the certificate size the PC is told, -1 any
    int named = -1;    // times the output names the row's own file, -1 any
    bool save = false; // a barcode the PC stores is answered as stored
};

// The box's files that it names when it cannot use them whole.
const QStringList kNamedFiles = {
    "data/ram_device_info",       "data/modes/custom_mode1",   "data/configs/alias.json", "data/configs/cloud_setinfo",
    "data/configs/cloud_barcode", "data/configs/cloud_cafile", "etc/rtl_hostapd_2G.conf"};
const QString kFull = "full partition";

Expect expect(const QString& tag)
{
    const QString file = tag.section(' ', 0, 0), how = tag.section(' ', 1);
    Expect e;
    if (tag == "first start")
        return {'f', 'f', 'f', false, false};
    // Only bytes read and found damaged may be replaced; nothing is written
    // on a full data partition, nor where a link leads out of the data root.
    const bool usable = how == "longer" || how == "over the old limit" || how == "cut to 3,300 bytes";
    e.kept = how == "reads fail" || usable || how.startsWith("full data") || how == "link out of the data root";
    // Text cut anywhere may or may not still be usable.
    if (kNamedFiles.contains(file) && !(file.startsWith("etc/") && how == "cut in half") && how != kFull)
        e.named = usable ? 0 : 1;
    // The install the row makes names it.
    if (file == "data/configs/led_load_config.ini" && how == "folder")
        e.named = 1;
    // A whole file is read without room to write anywhere; the box's items
    // are found wherever they stand, past a line too long to read.
    const bool read = how == "malformed line" || how.startsWith("group line") || how == "no group line" ||
                      how.startsWith("full") || how.contains("Barcode line");
    if (file == "data/configs/tcpip.ini") {
        e.net = how == "cut in half" ? '?' : read || how == "saves cut short" ? 'u' : 'f';
        e.code = how.contains("Barcode line") ? 'f' : how == "saves cut short" ? '?' : e.net;
        e.save = read && !e.kept;
        // Not named: it reads whole.
        e.named = how == "saves cut short" ? 0 : -1;
    }
    if (file == "data/ram_device_info")
        e.image = how == "longer" || how == kFull ? 'u' : 'f';
    if (file == "data/modes/custom_mode1")
        e.mode = how == "longer" || how == "cut to 3,300 bytes";
    e.ca = file != "data/configs/cloud_cafile" ? kCa.size() : how == "over the old limit" ? 40000 : -1;
    return e;
}

// Asks done every 50 ms, tries times at most; its last answer.
template <class F> bool wait_for(F done, int tries = 200)
{
    for (int i = 0; i < tries && !done(); ++i)
        usleep(50000);
    return done();
}

// A word the running program serves from its parameter store, -1 when it
// does not.
int word(int pc, u32 at)
{
    const Bytes r = ask(pc, request(kBox, 0x61, ram_rest(at, 2)));
    return r.size() == 3 && r[0] == 0 ? int(r[1] | r[2] << 8) : -1;
}

Bytes store_barcode(const QByteArray& code)
{
    return request(kBox, 0xA2, cat({{30, u8(code.size() + 2), 0}, Bytes(code.begin(), code.end())}));
}

// Why the running program does not show what e asks for; empty when it
// does.
QString shown(int pc, const QString& log, const Expect& e)
{
    const Bytes code = ask(pc, request(kBox, 0xA2, {31}));
    const QByteArray barcode =
        code.size() > 4 ? QByteArray(reinterpret_cast<const char*>(code.data()) + 4, int(code.size()) - 4) : "";
    const QString ip = e.net == 'u' ? kUserIp : "192.168.0.199";
    if (log.count(QRegularExpression("^ifconfig eth0 \\d", QRegularExpression::MultilineOption)) != 1 ||
        (e.net != '?' && !log.contains("\nifconfig eth0 " + ip + " netmask 255.255.255.0 up\n")))
        return "eth0 not on " + (e.net == '?' ? QString("one address") : ip) + " alone";
    if (e.code != '?' && barcode != (e.code == 'u' ? kUserBarcode : QByteArray(" ")))
        return "barcode \"" + barcode + "\"";
    const int brightness = word(pc, Img::kBrightness), width = word(pc, Img::kLedWidth);
    if (e.image != '?' &&
        (brightness != (e.image == 'u' ? kUserBrightness : 100) || width != (e.image == 'u' ? kUserLedWidth : 1920)))
        return QString("brightness %1, LED width %2").arg(brightness).arg(width);
    if ((word(pc, 0x1000) == 0xAAAA) != e.mode)
        return e.mode ? "user mode 1 lost" : "user mode 1 taken from a damaged file";
    const Bytes ca = ask(pc, request(kBox, 0xC8, {'F', '0', '0', '2'}));
    if (e.ca >= 0 && ca != cat({{0, 200, 0, 101, 0}, le32(u32(e.ca))}))
        return "certificate not served whole";
    if (e.save && ask(pc, store_barcode(kUserBarcode)) != Bytes{0, 30})
        return "the barcode not stored";
    return "";
}

// Why output does not name file (its path under the data root) times
// times; empty when it does. The cloud link reads its certificate some time
// after the start.
QString named(const QString& output, const QString& file, int times)
{
    const auto count = [&] { return int(QString(readHostFile(output)).count(file + " ")); };
    wait_for([&] { return count() >= times; });
    return count() == times ? QString() : QString("named %1 times").arg(count());
}

// On a full partition a parameter change and a user-mode save are answered
// 0 and wait, named; once there is room they are written, named, with no
// further request. Why not; empty when they are.
QString stored_when_room(int pc, const QString& root, const QString& output)
{
    for (const Bytes& r :
         {request(kBox, 0x60, ram_rest(Img::kBrightness, 2, {55, 0})),
          request(kBox, 0x60, ram_rest(Img::kModeToSave, 2, {2, 0})), request(kBox, 0xA0, {11, 0x02, 0, 0x02})})
        if (ask(pc, r) != Bytes{0})
            return "a change refused";
    const auto said = [&](const QString& what) {
        const QString out = readHostFile(output);
        return out.contains(root + "/data/ram_device_info" + what) &&
               out.contains(root + "/data/modes/custom_mode2" + what);
    };
    return !wait_for([&] { return said(" cannot be written"); }) ? "the writes that wait are not named"
           : !QFile::remove(root + "/data/filler")               ? "no room made"
           : !wait_for([&] { return said(" written"); })         ? "the writes made are not named"
                                                                 : "";
}

// An application sent while the start-up line's file cannot be read: the
// install answers failure and the old application stays. Why not; empty
// when it does.
QString install_fails(int pc, const QString& root)
{
    const Bytes app(3000, 0x5A);
    if (ask(pc, start_req("FMCU", 0, u32(app.size()))) != Bytes{0, 1, 0} ||
        ask(pc, block_req(0, app, u32(app.size()))) != Bytes{0, 2} ||
        ask(pc, end_req(digest_of(app))) != Bytes{0, 3, 0})
        return "application not received";
    if (ask(pc, request(kBox, 0xA0, {14, 0x01, 0, 0x01})) != Bytes{1})
        return "install not answered with failure";
    return readHostFile(root + "/data/app/zevQ64N") == "old" ? "" : "old application replaced";
}

// What cut writes leave, as a power loss or a kill leaves them, among the
// user's files.
const char* const kLeftovers[] = {"data/edidramtable/.0005.bin.part", "data/ram_device_info.tmp",
                                  "data/configs/.zev-ini-Ab12Cd.ini", "data/configs/.zev-ini-Ab12Cd.ini.lock",
                                  "data/configs/tcpip.ini.lock",      "data/modes/custom_mode3.tmp",
                                  "data/modes/.MO02.json.part",       "data/app/.zevQ64N2.part",
                                  "data/rcvrecovery/.KQFX.part",      "data/smartmapping/.KQFR.part",
                                  "etc/.rtl_hostapd_2G.conf.part",    "etc/network/.interfaces.part"};

// The row's own temporary folder (TMPDIR) and Qt's runtime folder, beside
// the data root; a row of a full disk gets full file systems of its own
// there, the data copied onto its own.
bool prepare(const QString& root, const QString& how)
{
    const QString aux = root + ".aux";
    const std::string tmp = (aux + "/tmp").toStdString(), run = (aux + "/run").toStdString();
    const std::string data = (root + "/data").toStdString(), kept = (aux + "/data").toStdString();
    if (!QDir().mkpath(aux + "/tmp") || ::mkdir(run.c_str(), 0700) != 0 || ::setenv("TMPDIR", tmp.c_str(), 1) != 0 ||
        ::setenv("XDG_RUNTIME_DIR", run.c_str(), 1) != 0)
        return false;
    if (how.contains("temporary folder") && !(own_partition(tmp, 64 << 10) && fill_up(tmp + "/filler")))
        return false;
    return !(how == kFull || how.startsWith("full data")) ||
           (std::system(("cp -a " + data + " " + kept).c_str()) == 0 && own_partition(data, 4 << 20) &&
            std::system(("cp -a " + kept + "/. " + data).c_str()) == 0 && fill_up(data + "/filler"));
}

// What the box left where it must leave nothing: in the stored files'
// folders what a cut write leaves (the user's "hall.tmp" is no such file,
// nor the program's hold on its data root), in the temporary folder
// anything.
QString left_behind(const QString& root)
{
    QStringList left =
        QDir(root + ".aux/tmp").entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    left.removeOne("filler");
    for (const QString& folder : {root + "/data", root + "/etc"})
        for (QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString name = QFileInfo(it.next()).fileName();
            if ((name.startsWith('.') && (name.endsWith(".part") || name.startsWith(".zev-ini-"))) ||
                (name.endsWith(".lock") && name != ".zevQ64N.lock") || (name.endsWith(".tmp") && name != "hall.tmp"))
                left << QDir(root).relativeFilePath(it.filePath());
        }
    return left.isEmpty() ? QString() : "left behind: " + left.join(", ");
}

// Stores a barcode and kills the program as the save creates its first
// file (beside the settings or in the temporary folder), three times; how
// many kills left a file behind, -1 when a save was not cut.
int cut_saves(const std::string& program, const QString& root)
{
    int cut = 0;
    for (int i = 0; i < 3 && cut >= 0; ++i) {
        pid_t pid = start_serving_program(program, root.toStdString());
        const int pc = pid > 0 ? tcp_connect(5005) : -1, watch = inotify_init1(IN_CLOEXEC);
        bool ready = pc >= 0 && watch >= 0;
        for (const QString& folder : {root + "/data/configs", root + ".aux/tmp"})
            ready = ready && inotify_add_watch(watch, QFile::encodeName(folder).constData(), IN_CREATE) >= 0;
        if (ready)
            put(pc, wire(with_bcc(store_barcode("SN-" + QByteArray::number(i)))));
        pollfd created{watch, POLLIN, 0};
        ready = ready && poll(&created, 1, 5000) == 1;
        stop_program(pid);
        cut = ready ? cut + !left_behind(root).isEmpty() : -1;
        for (int fd : {pc, watch})
            if (fd >= 0)
                close(fd);
    }
    // The next start's logs of its own.
    for (const QString& log : simLogs())
        QFile::remove(root + "/" + log);
    return cut;
}

// Runs in a child of its own: starts the program on root, waits for its
// panel (it lights the keypad's LEDs), then for the access point a second
// later (down when its files cannot be written or read). 0 when the program
// shows what the row expects, lives on, no file changed but the row's own
// where it may and nothing is left behind; 1 after a line saying what went
// wrong; 3 without a partition of its own where the row needs one.
int check_start(const std::string& program, const QString& root, const QString& tag, const Files& base)
{
    const Expect e = expect(tag);
    const QString own = tag.section(' ', 0, 0), how = tag.section(' ', 1), output = root + ".out";
    const QByteArray damaged = readHostFile(root + "/" + own);
    const bool install = own == "data/configs/led_load_config.ini" && how == "folder";
    if (!own_network() || !prepare(root, how)) {
        fprintf(stderr, "%s: no network or folders of its own\n", qPrintable(tag));
        return how.contains("full") ? 3 : 1;
    }
    QString why = (how == "reads fail" && !with_failing_reads((root + "/" + own).toStdString())) ||
                          (install && !writeHostFile(root + "/data/app/zevQ64N", "old"))
                      ? "not set up"
                  : how == "saves cut short" && cut_saves(program, root) <= 0 ? "no save cut short with a file left"
                                                                              : "";
    const auto start = [&] { return start_serving_program(program, root.toStdString(), false, output.toStdString()); };
    pid_t pid = start();
    const auto alive = [&] { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; };
    const auto log = [&] { return QString(readHostFile(root + "/sim/commands")); };
    const auto lit = [&] { return QFileInfo(root + "/sim/keypad_leds").size() > 0; };
    wait_for([&] { return !alive() || lit(); }, 600);
    wait_for([&] { return !alive() || log().contains("\nifconfig wlan0 1"); });
    int pc = pid > 0 ? tcp_connect(5005) : -1;
    why = !why.isEmpty() ? why
          : pid <= 0     ? "port 5005 never served"
          : !lit()       ? "no panel"
          : !alive()     ? "the program ended"
          : pc < 0       ? "port 5005 closed"
                         : shown(pc, log(), e);
    if (why.isEmpty() && install)
        why = install_fails(pc, root);
    if (why.isEmpty() && how == kFull) {
        why = stored_when_room(pc, root, output);
        // On disk whole: the next start has them.
        close(pc);
        stop_program(pid);
        pid = start();
        pc = pid > 0 ? tcp_connect(5005) : -1;
        if (why.isEmpty() && (pc < 0 || word(pc, Img::kBrightness) != 55 || word(pc, 0x2000) != 0xAAAA))
            why = "the changes that waited are gone after a restart";
    }
    if (why.isEmpty() && e.named >= 0)
        why = named(output, root + "/" + own, e.named);
    if (pc >= 0)
        close(pc);
    stop_program(pid);
    QFile::remove(output);
    const Files now = rootFiles(root);
    // A barcode stored goes into the cloud's copy of the identity too.
    const QString stored = e.save || how == "saves cut short" ? "data/configs/cloud_barcode" : "";
    for (const auto& f : base)
        if (why.isEmpty() && f.first != own && f.first != kRecordFlash && f.first != stored &&
            (!now.count(f.first) || now.at(f.first) != f.second))
            why = f.first + " changed or gone";
    if (why.isEmpty() && e.kept && readHostFile(root + "/" + own) != damaged)
        why = own + " replaced";
    if (why.isEmpty())
        why = left_behind(root);
    if (!why.isEmpty())
        fprintf(stderr, "%s: %s\n", qPrintable(tag), qPrintable(why));
    return why.isEmpty() ? 0 : 1;
}

// A stored value goes into a settings file of its own; a file longer than
// the box writes it, or over the certificate's old limit, ends in zeros; a
// line without its bracket goes before the file's second line; a file whose
// reads fail, a full disk or saves cut short are the checker's.
bool damage(const QString& root, const QString& tag)
{
    const QString path = root + "/" + tag.section(' ', 0, 0), how = tag.section(' ', 1);
    if (how == "reads fail" || how.startsWith("full") || how == "saves cut short")
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
    if (how.startsWith("group line") || how == "no group line")
        return writeHostFile(
            path,
            bytes.replace("[config]\n", how == "no group line" ? QByteArray() : how.section(' ', 2).toLatin1() + '\n'));
    if (how.contains("Barcode line"))
        return writeHostFile(path, bytes.replace("Barcode=SN-0042", "Barcode=" + QByteArray(70000, 'x')));
    if (how == "link out of the data root") {
        const QString outside = root + ".aux/tcpip.ini";
        return writeHostFile(outside, bytes) && QFile::remove(path) && QFile::link(outside, path);
    }
    if (how == "left by cut writes") {
        for (const char* left : kLeftovers)
            if (!writeHostFile(root + "/" + left, "cut"))
                return false;
        return true;
    }
    if (!how.contains('='))
        bytes.truncate(how == "cut in half" ? bytes.size() / 2 : how == "cut to 3,300 bytes" ? 3300 : 0);
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
    QVERIFY(writeHostFile(at("data/configs/cloud_cafile"), QByteArray("\xAA\x65\x00", 3) + char(ca.size()) +
                                                               char(ca.size() >> 8) + QByteArray(2, '\0') + ca));
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
    // A record file the user named as a leftover might be named.
    QVERIFY(writeHostFile(at("data/rcvrecovery/hall.tmp"), "the user's"));
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
        for (const char* value :
             {"IPAddress=224.0.0.1", "IPAddress=0.0.0.0", "SubNetMask=0.0.0.0", "TcpPort=abc", "TcpPort=99999",
              "TcpPort=10002", "malformed line", "reads fail", "group line [config", "group line config]",
              "no group line", "70,000-byte Barcode line first", "full temporary folder",
              "full data partition and temporary folder", "link out of the data root", "saves cut short"})
            tags << QString("data/configs/tcpip.ini ") + value;
        for (const char* tag :
             {"data/ram_device_info longer", "data/ram_device_info reads fail", "data/ram_device_info full partition",
              "data/modes/custom_mode1 longer", "data/modes/custom_mode1 reads fail",
              "data/modes/custom_mode1 cut to 3,300 bytes", "data/configs/alias.json reads fail",
              "data/configs/cloud_barcode reads fail", "data/configs/cloud_cafile over the old limit",
              "etc/rtl_hostapd_2G.conf reads fail", "data/edidramtable/.0005.bin.part left by cut writes"})
            tags << tag;
        std::map<pid_t, int> running;
        for (int next = 0; next < tags.size() || !running.empty();) {
            const QString root = dir_.filePath(QString::number(next));
            if (next < tags.size() && running.size() < 16) {
                QCOMPARE(QProcess::execute("cp", {"-a", "--sparse=always", first, root}), 0);
                QVERIFY(damage(root, tags[next]));
                running[launch(root, tags[next])] = next;
                ++next;
            } else if (const pid_t done = waitpid(-1, &status, 0); done > 0) {
                QVERIFY(running.count(done));
                QTest::newRow(qPrintable(tags[running[done]])) << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
                QDir(dir_.filePath(QString::number(running[done]))).removeRecursively();
                QDir(dir_.filePath(QString::number(running[done]) + ".aux")).removeRecursively();
                running.erase(done);
            }
        }
    }
    void startSurvivesTheDamage()
    {
        QFETCH(int, status);
        if (status == 3)
            QSKIP("no private mount can be had here");
        QVERIFY2(status == 0, "what went wrong is written above");
    }
};

QTEST_GUILESS_MAIN(TestE2eStartupFiles)
#include "test_e2e_startup_files.moc"
