#include "board/sim/sim_board.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

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
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Node* nd = node(fd);
        if (!nd || nd->failing || n == 0)
            return -1;
        dev = nd->dev;
    }
    return dev->transfer(xfers, n);
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
        std::printf("\n can't open /dev/msys");
        return 255;
    }
    mapped_ = true;
    return 0;
}

void SimPads::write16(uint32_t offset, uint16_t value)
{
    std::vector<Listener> ls;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!mapped_)
            return;
        regs_[offset] = value;
        ls = listeners_;
    }
    for (auto& l : ls)
        l(offset, value);
}

uint16_t SimPads::read16(uint32_t offset)
{
    std::vector<std::function<void(uint32_t)>> ls;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ls = readListeners_;
    }
    for (auto& l : ls)
        l(offset);
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = regs_.find(offset);
    return it == regs_.end() ? 0 : it->second;
}

std::vector<uint8_t> SimPads::uniqueId()
{
    return {0x5A, 0x45, 0x56, 0x51, 0x36, 0x34, 0x4E, 0x01};
}

void SimPads::listen(Listener l)
{
    std::lock_guard<std::mutex> lock(mutex_);
    listeners_.push_back(std::move(l));
}

void SimPads::listenReads(std::function<void(uint32_t offset)> l)
{
    std::lock_guard<std::mutex> lock(mutex_);
    readListeners_.push_back(std::move(l));
}

// ---- I2C ----

void SimI2c::attach(const std::string& bus, uint16_t addr, I2cDevice* dev)
{
    std::lock_guard<std::mutex> lock(mutex_);
    devices_[{bus, addr}] = dev;
}

int SimI2c::open(const std::string& path)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (path.rfind("/dev/i2c-", 0) != 0)
        return -1;
    for (size_t i = 0; i < buses_.size(); ++i)
        if (buses_[i] == path)
            return kI2cFdBase + int(i);
    buses_.push_back(path);
    return kI2cFdBase + int(buses_.size() - 1);
}

int SimI2c::rdwr(int fd, I2cMsg* msgs, unsigned n)
{
    std::lock_guard<std::mutex> lock(mutex_);
    size_t b = size_t(fd - kI2cFdBase);
    if (fd < kI2cFdBase || b >= buses_.size())
        return -1;
    for (unsigned i = 0; i < n; ++i) {
        auto it = devices_.find({buses_[b], msgs[i].addr});
        if (it == devices_.end())
            return -1; // no acknowledge
        bool ok = (msgs[i].flags & kI2cRead) ? it->second->read(msgs[i].buf, msgs[i].len)
                                             : it->second->write(msgs[i].buf, msgs[i].len);
        if (!ok)
            return -1;
    }
    return int(n);
}

// ---- MTD ----

int SimMtd::open(const std::string& path)
{
    std::string host = paths_.resolve(path);
    int fd = ::open(host.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0)
        return fd;
    QDir().mkpath(QFileInfo(QString::fromStdString(host)).absolutePath());
    fd = ::open(host.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    std::vector<uint8_t> blank(kEraseSize, 0xFF);
    for (uint32_t off = 0; off < kSize; off += kEraseSize)
        if (::pwrite(fd, blank.data(), blank.size(), off) != long(blank.size())) {
            ::close(fd);
            return -1;
        }
    return fd;
}

int SimMtd::close(int fd)
{
    return fd < 0 ? -1 : ::close(fd);
}

int SimMtd::getInfo(int fd, MtdInfo* info)
{
    if (fd < 0)
        return -1;
    info->size = kSize;
    info->erasesize = kEraseSize;
    info->writesize = kWriteSize;
    return 0;
}

int SimMtd::unlock(int fd, uint32_t offset, uint32_t length)
{
    return (fd < 0 || offset % kEraseSize || uint64_t(offset) + length > kSize) ? -1 : 0;
}

int SimMtd::erase(int fd, uint32_t offset, uint32_t length)
{
    if (fd < 0 || offset % kEraseSize || length % kEraseSize || uint64_t(offset) + length > kSize)
        return -1;
    std::vector<uint8_t> blank(length, 0xFF);
    return ::pwrite(fd, blank.data(), length, offset) == long(length) ? 0 : -1;
}

long SimMtd::pwrite(int fd, const uint8_t* data, uint32_t length, uint32_t offset)
{
    if (fd < 0 || uint64_t(offset) + length > kSize)
        return -1;
    std::vector<uint8_t> cur(length);
    if (::pread(fd, cur.data(), length, offset) != long(length))
        return -1;
    for (uint32_t i = 0; i < length; ++i)
        cur[i] &= data[i];
    return ::pwrite(fd, cur.data(), length, offset);
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

bool copyRecursive(const QString& from, const QString& to)
{
    QFileInfo fi(from);
    if (fi.isDir()) {
        if (!QDir().mkpath(to))
            return false;
        for (const QFileInfo& e : QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
            if (!copyRecursive(e.absoluteFilePath(), to + "/" + e.fileName()))
                return false;
        return true;
    }
    QFile::remove(to);
    return QFile::copy(from, to);
}

} // namespace

bool SimShell::confined(const std::string& p, std::string* host) const
{
    if (p.empty() || p[0] != '/')
        return false;
    QString root = QDir::cleanPath(QString::fromStdString(paths_.root()));
    QString full = QDir::cleanPath(root + QString::fromStdString(p));
    if (full != root && !full.startsWith(root + "/"))
        return false;
    *host = full.toStdString();
    return true;
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

    auto expand = [&](const std::string& p, std::vector<std::string>* out) {
        std::string host;
        if (!confined(p, &host))
            return false;
        if (host.find_first_of("*?[") == std::string::npos) {
            out->push_back(host);
            return true;
        }
        glob_t g;
        if (::glob(host.c_str(), 0, nullptr, &g) == 0) {
            for (size_t i = 0; i < g.gl_pathc; ++i) {
                std::string h = g.gl_pathv[i];
                std::string root = QDir::cleanPath(QString::fromStdString(paths_.root())).toStdString();
                if (h.rfind(root + "/", 0) == 0)
                    out->push_back(h);
            }
        }
        globfree(&g);
        return true;
    };

    if (prog == "mkdir") {
        for (auto& a : args) {
            std::string h;
            if (!confined(a, &h) || !QDir().mkpath(QString::fromStdString(h)))
                return kFailStatus;
        }
        return args.empty() ? kFailStatus : 0;
    }
    if (prog == "rm") {
        bool ok = !args.empty();
        for (auto& a : args) {
            std::vector<std::string> hs;
            if (!expand(a, &hs)) {
                ok = false;
                continue;
            }
            for (auto& h : hs) {
                QString q = QString::fromStdString(h);
                QFileInfo fi(q);
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
        const std::string& mode = args[0];
        bool ok = true;
        for (size_t i = 1; i < args.size(); ++i) {
            std::vector<std::string> hs;
            if (!expand(args[i], &hs) || hs.empty()) {
                ok = false;
                continue;
            }
            for (auto& h : hs) {
                struct stat st;
                if (::stat(h.c_str(), &st) != 0) {
                    ok = false;
                    continue;
                }
                mode_t m = st.st_mode & 07777;
                if (mode.find('+') != std::string::npos && mode.find('x') != std::string::npos)
                    m |= 0111;
                else if (mode.find_first_not_of("01234567") == std::string::npos)
                    m = mode_t(std::strtol(mode.c_str(), nullptr, 8));
                if (::chmod(h.c_str(), m) != 0)
                    ok = false;
            }
        }
        return ok ? 0 : kFailStatus;
    }
    // cp and mv
    if (args.size() < 2)
        return kFailStatus;
    std::string dstHost;
    if (!confined(args.back(), &dstHost))
        return kFailStatus;
    QString dst = QString::fromStdString(dstHost);
    std::vector<std::string> sources;
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (!expand(args[i], &sources))
            return kFailStatus;
    if (sources.empty())
        return kFailStatus;
    bool ok = true;
    for (auto& s : sources) {
        QString src = QString::fromStdString(s);
        QFileInfo sfi(src);
        if (!sfi.exists()) {
            ok = false;
            continue;
        }
        QString target = QFileInfo(dst).isDir() ? dst + "/" + sfi.fileName() : dst;
        if (prog == "mv") {
            if (QFileInfo(target).exists() && !QFileInfo(target).isDir())
                QFile::remove(target);
            if (std::rename(src.toLocal8Bit().constData(), target.toLocal8Bit().constData()) != 0)
                ok = false;
        } else {
            if (sfi.isDir() && !recursive) {
                ok = false;
                continue;
            }
            if (!copyRecursive(src, target))
                ok = false;
        }
    }
    return ok ? 0 : kFailStatus;
}

int SimShell::system(const std::string& command)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back(command);
    }
    std::vector<std::string> parts;
    if (!splitSimple(command, &parts))
        return 0; // a board pipeline: recorded, not run
    int status = 0;
    for (auto& p : parts) {
        std::vector<std::string> argv = tokenize(p);
        if (argv.empty())
            continue;
        if (isFileCommand(argv[0]))
            status = runFileCommand(argv);
        else
            status = 0; // a board command: recorded, never run on the host
    }
    return status;
}

std::string SimShell::popen(const std::string& command, int, bool* ok)
{
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(command);
    if (ok)
        *ok = true;
    for (auto it = replies_.rbegin(); it != replies_.rend(); ++it)
        if (command.rfind(it->first, 0) == 0)
            return it->second;
    return std::string();
}

std::vector<std::string> SimShell::recorded() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
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

// ---- board ----

SimBoard::SimBoard(const std::string& root)
    : paths_(QDir::cleanPath(QString::fromStdString(root)).toStdString()), mtd_(paths_), shell_(paths_)
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

} // namespace board::sim
