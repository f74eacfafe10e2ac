#include "board/sim/sim_board.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include "board/sim/confine.h"
#include "board/sim/serial_link.h"
#include "board/log.h"

namespace board::sim
{

namespace
{
constexpr int kSpiFdBase = 1000;
constexpr int kI2cFdBase = 2000;
constexpr int kFailStatus = 1 << 8; // exit code 1 as system() reports it
} // namespace

// ---- SPI ----

void SimSpi::attach(const std::string& path, SpiDevice* dev)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& n : nodes_)
        if (n.path == path) {
            n.dev = dev;
            return;
        }
    Node n;
    n.path = path;
    n.dev = dev;
    nodes_.push_back(n);
}

int SimSpi::open(const std::string& path)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < nodes_.size(); ++i)
        if (nodes_[i].path == path && nodes_[i].dev)
            return kSpiFdBase + int(i);
    return -1;
}

SimSpi::Node* SimSpi::node(int fd)
{
    size_t i = size_t(fd - kSpiFdBase);
    if (fd < kSpiFdBase || i >= nodes_.size() || !nodes_[i].dev)
        return nullptr;
    return &nodes_[i];
}

int SimSpi::setMode(int fd, uint8_t mode)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Node* n = node(fd);
    if (!n)
        return -1;
    n->mode = mode;
    return 0;
}

int SimSpi::getMode(int fd, uint8_t* mode)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Node* n = node(fd);
    if (!n)
        return -1;
    *mode = n->mode;
    return 0;
}

int SimSpi::setBits(int fd, uint8_t bits)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Node* n = node(fd);
    if (!n)
        return -1;
    n->bits = bits;
    return 0;
}

int SimSpi::getBits(int fd, uint8_t* bits)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Node* n = node(fd);
    if (!n)
        return -1;
    *bits = n->bits;
    return 0;
}

int SimSpi::setSpeed(int fd, uint32_t hz)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Node* n = node(fd);
    if (!n)
        return -1;
    n->speed = hz;
    return 0;
}

int SimSpi::getSpeed(int fd, uint32_t* hz)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Node* n = node(fd);
    if (!n)
        return -1;
    *hz = n->speed;
    return 0;
}

int SimSpi::transfer(int fd, const SpiXfer* xfers, unsigned n)
{
    SpiDevice* dev = nullptr;
    std::shared_ptr<const std::function<void()>> access;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Node* nd = node(fd);
        if (!nd || nd->failing || n == 0)
            return -1;
        dev = nd->dev;
        access = access_;
    }
    if (access)
        (*access)();
    return dev->transfer(xfers, n);
}

void SimSpi::setAccessHook(std::function<void()> hook)
{
    std::lock_guard<std::mutex> lock(mutex_);
    access_ = hook ? std::make_shared<const std::function<void()>>(std::move(hook)) : nullptr;
}

void SimSpi::setFailing(const std::string& path, bool failing)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& n : nodes_)
        if (n.path == path)
            n.failing = failing;
}

// ---- pads ----

int SimPads::map()
{
    if (mapFails_) {
        zevlog::warning(lcBoard(), "\n can't open /dev/msys");
        return 255;
    }
    mapped_ = true;
    return 0;
}

void SimPads::write16(uint32_t offset, uint16_t value)
{
    std::shared_ptr<const std::vector<Listener>> ls;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!mapped_)
            return;
        regs_[offset] = value;
        ls = listeners_;
    }
    if (ls)
        for (const Listener& l : *ls)
            l(offset, value);
}

uint16_t SimPads::read16(uint32_t offset)
{
    std::shared_ptr<const std::vector<ReadListener>> ls;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ls = readListeners_;
    }
    if (ls)
        for (const ReadListener& l : *ls)
            l(offset);
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = regs_.find(offset);
    return it == regs_.end() ? 0 : it->second;
}

std::vector<uint8_t> SimPads::uniqueId()
{
    return {0x5A, 0x45, 0x56, 0x51, 0x36, 0x34, 0x4E, 0x01};
}

namespace
{
template <typename T>
std::shared_ptr<const std::vector<T>> adding(const std::shared_ptr<const std::vector<T>>& old, T item)
{
    auto now = std::make_shared<std::vector<T>>(old ? *old : std::vector<T>());
    now->push_back(std::move(item));
    return now;
}
} // namespace

void SimPads::listen(Listener l)
{
    std::lock_guard<std::mutex> lock(mutex_);
    listeners_ = adding(listeners_, std::move(l));
}

void SimPads::listenReads(ReadListener l)
{
    std::lock_guard<std::mutex> lock(mutex_);
    readListeners_ = adding(readListeners_, std::move(l));
}

// ---- I2C ----

SimI2c::Bus& SimI2c::busLocked(const std::string& path, size_t* index)
{
    size_t i = 0;
    while (i < buses_.size() && buses_[i].path != path)
        ++i;
    if (i == buses_.size())
        buses_.push_back(Bus{path, false, {}});
    if (index)
        *index = i;
    return buses_[i];
}

void SimI2c::attach(const std::string& bus, uint16_t addr, I2cDevice* dev)
{
    std::lock_guard<std::mutex> lock(mutex_);
    busLocked(bus).devices[addr] = dev;
}

int SimI2c::open(const std::string& path)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (path.rfind("/dev/i2c-", 0) != 0)
        return -1;
    size_t i = 0;
    busLocked(path, &i).opened = true;
    return kI2cFdBase + int(i);
}

int SimI2c::rdwr(int fd, I2cMsg* msgs, unsigned n)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t b = size_t(fd - kI2cFdBase);
    if (fd < kI2cFdBase || b >= buses_.size() || !buses_[b].opened)
        return -1;
    const std::map<uint16_t, I2cDevice*>& devices = buses_[b].devices;
    for (unsigned i = 0; i < n; ++i) {
        auto it = devices.find(msgs[i].addr);
        if (it == devices.end())
            return -1; // no acknowledge
        bool ok = (msgs[i].flags & kI2cRead) ? it->second->read(msgs[i].buf, msgs[i].len)
                                             : it->second->write(msgs[i].buf, msgs[i].len);
        if (!ok)
            return -1;
    }
    return int(n);
}

// ---- shell ----

namespace
{

std::vector<std::string> tokenize(const std::string& s)
{
    std::vector<std::string> out;
    std::string cur;
    bool have = false;
    char quote = 0;
    for (char c : s) {
        if (quote) {
            if (c == quote)
                quote = 0;
            else
                cur += c;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
            have = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (have)
                out.push_back(cur);
            cur.clear();
            have = false;
        } else {
            cur += c;
            have = true;
        }
    }
    if (have)
        out.push_back(cur);
    return out;
}

// Splits "a && b; c" into its simple commands; false when the line uses
// pipes, redirections or substitutions, which the simulation never runs.
bool splitSimple(const std::string& line, std::vector<std::string>* parts)
{
    if (line.find_first_of("|`$<>") != std::string::npos)
        return false;
    std::string cur;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == ';' || (line[i] == '&' && i + 1 < line.size() && line[i + 1] == '&')) {
            parts->push_back(cur);
            cur.clear();
            if (line[i] == '&')
                ++i;
        } else if (line[i] == '&') {
            // a trailing "&" runs the command in the background: same here
        } else {
            cur += line[i];
        }
    }
    parts->push_back(cur);
    return true;
}

bool isFileCommand(const std::string& prog)
{
    return prog == "cp" || prog == "mv" || prog == "rm" || prog == "chmod" || prog == "mkdir" || prog == "sync";
}

// Prefixes of the system paths whose files the program keeps.
bool keptPath(const std::string& p)
{
    for (const char* prefix : {"/data", "/mnt/usb1", "/etc"}) {
        const size_t n = std::strlen(prefix);
        if (p.compare(0, n, prefix) == 0 && (p.size() == n || p[n] == '/'))
            return true;
    }
    return false;
}

// Where a path that leads outside the root goes: below a device node nothing
// can be opened, created or listed.
constexpr char kNowhere[] = "/dev/null";

} // namespace

std::string SimPaths::resolve(const std::string& p) const
{
    if (p.empty() || p[0] != '/')
        return p;
    if (!keptPath(p))
        return root_ + p;
    // The cleaned text is what gets opened, so ".." cannot climb through a
    // link the way the kernel would climb it.
    std::string host = QDir::cleanPath(QString::fromStdString(root_ + p)).toStdString();
    if (p.back() == '/')
        host += '/';
    const std::string bare = host.back() == '/' ? host.substr(0, host.size() - 1) : host;
    if (bare.compare(0, root_.size() + 1, root_ + "/") != 0 || !leadsInside(root_, bare, true))
        return kNowhere + p;
    return host;
}

bool SimPaths::refuses(const std::string& p) const
{
    const std::string nowhere = std::string(kNowhere) + "/";
    return resolve(p).compare(0, nowhere.size(), nowhere) == 0;
}

bool SimShell::insideRoot(const std::string& host, bool followLast) const
{
    return leadsInside(paths_.root(), host, followLast);
}

bool SimShell::confined(const std::string& p, bool followLast, std::string* host) const
{
    if (p.empty() || p[0] != '/')
        return false;
    QString root = QDir::cleanPath(QString::fromStdString(paths_.root()));
    QString full = QDir::cleanPath(root + QString::fromStdString(p));
    if (full != root && !full.startsWith(root + "/"))
        return false;
    *host = full.toStdString();
    return insideRoot(*host, followLast);
}

// Copies a file or a folder tree; every file read and every place written
// must lead inside the root (a link inside the tree to elsewhere is not
// followed out).
bool SimShell::copyInside(const std::string& from, const std::string& to) const
{
    if (!insideRoot(from, true))
        return false;
    QString src = QString::fromStdString(from), dst = QString::fromStdString(to);
    QFileInfo fi(src);
    if (fi.isDir()) {
        if (!insideRoot(to, true) || !QDir().mkpath(dst))
            return false;
        for (const QFileInfo& e :
             QDir(src).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
            if (!copyInside(e.absoluteFilePath().toStdString(), to + "/" + e.fileName().toStdString()))
                return false;
        return true;
    }
    // The target is replaced, never written through when it is a link.
    if (!insideRoot(to, false))
        return false;
    QFileInfo ti(dst);
    if ((ti.exists() || ti.isSymLink()) && !QFile::remove(dst))
        return false;
    return QFile::copy(src, dst);
}

bool SimShell::chmodInside(const std::string& host, const std::string& mode, bool recursive) const
{
    struct stat st;
    if (!insideRoot(host, true) || ::stat(host.c_str(), &st) != 0)
        return false;
    mode_t m = st.st_mode & 07777;
    if (mode.find('+') != std::string::npos && mode.find('x') != std::string::npos)
        m |= 0111;
    else if (!mode.empty() && mode.find_first_not_of("01234567") == std::string::npos)
        m = mode_t(std::strtol(mode.c_str(), nullptr, 8));
    if (::chmod(host.c_str(), m) != 0)
        return false;
    if (!recursive || !S_ISDIR(st.st_mode))
        return true;
    bool ok = true;
    // As chmod -R: links met in the tree are not followed.
    QDir dir(QString::fromStdString(host));
    for (const QFileInfo& e : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        if (!e.isSymLink() && !chmodInside(e.absoluteFilePath().toStdString(), mode, true))
            ok = false;
    return ok;
}

int SimShell::runFileCommand(const std::vector<std::string>& argv)
{
    const std::string& prog = argv[0];
    if (prog == "sync")
        return 0;
    std::vector<std::string> opts, args;
    for (size_t i = 1; i < argv.size(); ++i) {
        if (argv[i].size() > 1 && argv[i][0] == '-')
            opts.push_back(argv[i]);
        else
            args.push_back(argv[i]);
    }
    bool recursive = false;
    for (auto& o : opts)
        if (o.find('r') != std::string::npos || o.find('R') != std::string::npos || o.find('a') != std::string::npos)
            recursive = true;

    // Expands a pattern to host paths; each match is judged on its own, so a
    // link that leads out is left alone.
    auto expand = [&](const std::string& p, bool followLast, std::vector<std::string>* out) {
        std::string host;
        if (p.empty() || p[0] != '/')
            return false;
        QString root = QDir::cleanPath(QString::fromStdString(paths_.root()));
        host = QDir::cleanPath(root + QString::fromStdString(p)).toStdString();
        if (host.compare(0, root.size() + 1, (root + "/").toStdString()) != 0)
            return false;
        if (host.find_first_of("*?[") == std::string::npos) {
            if (!insideRoot(host, followLast))
                return false;
            out->push_back(host);
            return true;
        }
        bool ok = true;
        glob_t g;
        if (::glob(host.c_str(), 0, nullptr, &g) == 0) {
            for (size_t i = 0; i < g.gl_pathc; ++i) {
                if (insideRoot(g.gl_pathv[i], followLast))
                    out->push_back(g.gl_pathv[i]);
                else
                    ok = false;
            }
        }
        globfree(&g);
        return ok;
    };

    if (prog == "mkdir") {
        for (auto& a : args) {
            std::string h;
            if (!confined(a, true, &h) || !QDir().mkpath(QString::fromStdString(h)))
                return kFailStatus;
        }
        return args.empty() ? kFailStatus : 0;
    }
    if (prog == "rm") {
        bool ok = !args.empty();
        for (auto& a : args) {
            std::vector<std::string> hs;
            if (!expand(a, false, &hs))
                ok = false;
            for (auto& h : hs) {
                QString q = QString::fromStdString(h);
                QFileInfo fi(q);
                // A link is removed itself; a folder's tree is removed
                // without following the links in it.
                if (fi.isDir() && !fi.isSymLink()) {
                    if (!recursive || !QDir(q).removeRecursively())
                        ok = false;
                } else if (fi.exists() || fi.isSymLink()) {
                    if (!QFile::remove(q))
                        ok = false;
                }
            }
        }
        return ok ? 0 : kFailStatus;
    }
    if (prog == "chmod") {
        if (args.size() < 2)
            return kFailStatus;
        bool ok = true;
        for (size_t i = 1; i < args.size(); ++i) {
            std::vector<std::string> hs;
            if (!expand(args[i], true, &hs) || hs.empty())
                ok = false;
            for (auto& h : hs)
                if (!chmodInside(h, args[0], recursive))
                    ok = false;
        }
        return ok ? 0 : kFailStatus;
    }
    // cp and mv
    if (args.size() < 2)
        return kFailStatus;
    std::string dstHost;
    if (!confined(args.back(), false, &dstHost))
        return kFailStatus;
    QString dst = QString::fromStdString(dstHost);
    std::vector<std::string> sources;
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (!expand(args[i], prog == "cp", &sources))
            return kFailStatus;
    if (sources.empty())
        return kFailStatus;
    bool ok = true;
    for (auto& s : sources) {
        QString src = QString::fromStdString(s);
        QFileInfo sfi(src);
        if (!sfi.exists() && !sfi.isSymLink()) {
            ok = false;
            continue;
        }
        QString target = QFileInfo(dst).isDir() ? dst + "/" + sfi.fileName() : dst;
        const std::string targetHost = target.toStdString();
        if (prog == "mv") {
            if (!insideRoot(targetHost, false)) {
                ok = false;
                continue;
            }
            if (QFileInfo(target).exists() && !QFileInfo(target).isDir())
                QFile::remove(target);
            if (std::rename(s.c_str(), targetHost.c_str()) != 0)
                ok = false;
        } else {
            if (sfi.isDir() && !recursive) {
                ok = false;
                continue;
            }
            if (!copyInside(s, targetHost))
                ok = false;
        }
    }
    return ok ? 0 : kFailStatus;
}

std::string SimShell::recordPath() const
{
    return paths_.root() + "/sim/commands";
}

void SimShell::record(const std::string& command)
{
    std::string line = command;
    for (char& c : line)
        if (c == '\n' || c == '\r')
            c = ' ';
    line += '\n';
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(command);
    while (log_.size() > kRecordKeep)
        log_.pop_front();
    const std::string path = recordPath();
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && st.st_size + long(line.size()) > kRecordFileLimit &&
        std::rename(path.c_str(), (path + ".old").c_str()) != 0)
        zevlog::warnErrno(lcBoard(), "simulated board: command record");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        zevlog::warnErrno(lcBoard(), "simulated board: command record");
        return;
    }
    if (::write(fd, line.data(), line.size()) != ssize_t(line.size()))
        zevlog::warnErrno(lcBoard(), "simulated board: command record");
    ::close(fd);
}

int SimShell::system(const std::string& command)
{
    record(command);
    std::vector<std::string> parts;
    if (!splitSimple(command, &parts))
        return 0; // a board pipeline: recorded, not run
    int status = 0;
    for (auto& p : parts) {
        std::vector<std::string> argv = tokenize(p);
        if (argv.empty())
            continue;
        if (isFileCommand(argv[0])) {
            status = runFileCommand(argv);
        } else if (argv[0] == "reboot") {
            Restart restart;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                restart = restart_;
            }
            // The box goes down here and comes back; a restart that fails
            // is reported, as reboot would.
            status = restart ? restart() : 0;
        } else {
            status = 0; // a board command: recorded, never run on the host
        }
    }
    return status;
}

std::string SimShell::popen(const std::string& command, int, bool* ok)
{
    record(command);
    if (ok)
        *ok = true;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = replies_.rbegin(); it != replies_.rend(); ++it)
        if (command.rfind(it->first, 0) == 0)
            return it->second;
    return std::string();
}

std::vector<std::string> SimShell::recorded() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<std::string>(log_.begin(), log_.end());
}

void SimShell::clearRecorded()
{
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
}

void SimShell::setPopenReply(const std::string& prefix, const std::string& output)
{
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[prefix] = output;
}

void SimShell::setRestart(Restart restart)
{
    std::lock_guard<std::mutex> lock(mutex_);
    restart_ = std::move(restart);
}

// ---- board ----

SimBoard::SimBoard(const std::string& root)
    : paths_(QDir::cleanPath(QString::fromStdString(root)).toStdString()), mtd_(paths_), shell_(paths_),
      keypad_(paths_.root() + "/sim"), uevents_(paths_.root(), paths_.root() + "/sim")
{
    static const char* const kFolders[] = {
        "/data/configs",
        "/data/modes",
        "/data/app",
        "/data/edidramtable",
        "/data/rcvrecovery",
        "/data/smartmapping",
        "/mnt/usb1",
        "/etc/network",
        "/dev",
        "/proc/scsi",
        "/sim",
    };
    for (const char* f : kFolders)
        QDir().mkpath(QString::fromStdString(paths_.resolve(f)));
    // The board's start command, as the factory leaves it.
    QString launch = QString::fromStdString(paths_.resolve("/data/configs/led_load_config.ini"));
    if (!QFileInfo::exists(launch)) {
        QSettings s(launch, QSettings::IniFormat);
        s.setValue("app-1/app_path", "/data/app/zevQ64N -platform linuxfb");
        s.setValue("app-1/app_name", "zevQ64N");
        s.sync();
    }
}

SimBoard::~SimBoard() = default;

bool SimBoard::linkSerial(const std::string& device, const std::string& pcName)
{
    std::string error;
    auto link = SerialLink::create(paths_.resolve(device), modelDir() + "/" + pcName, &error);
    if (!link) {
        zevlog::warning(lcBoard(), "simulated board: no serial link at %s: %s\n", paths_.shown(device).c_str(),
                        error.c_str());
        return false;
    }
    links_.push_back(std::move(link));
    return true;
}

SimBoard* active()
{
    if (!board::installed())
        return nullptr;
    return dynamic_cast<SimBoard*>(&board::current());
}

std::string defaultRoot()
{
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.zevQ64N-sim";
}

namespace
{
std::mutex g_clock_mutex;
std::function<uint32_t()> g_clock;
std::function<void(uint32_t)> g_forward;
uint32_t g_own_ahead = 0;
const auto g_clock_start = std::chrono::steady_clock::now();
} // namespace

uint32_t ticks()
{
    uint32_t ahead = 0;
    {
        std::lock_guard<std::mutex> lock(g_clock_mutex);
        if (g_clock)
            return g_clock();
        ahead = g_own_ahead;
    }
    auto since = std::chrono::steady_clock::now() - g_clock_start;
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(since).count() / 10) + ahead;
}

void setClock(std::function<uint32_t()> clock, std::function<void(uint32_t)> forward)
{
    std::lock_guard<std::mutex> lock(g_clock_mutex);
    g_clock = std::move(clock);
    g_forward = std::move(forward);
}

void forwardClock(uint32_t ticks)
{
    std::function<void(uint32_t)> forward;
    {
        std::lock_guard<std::mutex> lock(g_clock_mutex);
        if (!g_forward) {
            g_own_ahead += ticks;
            return;
        }
        forward = g_forward;
    }
    forward(ticks);
}

} // namespace board::sim
