#include "core/utils.h"

#include <atomic>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "board/board.h"
#include "board/file_read.h"
#include "core/config_engine.h"
#include "core/ini_file.h"
#include "core/logMsg.h"
#include "core/logging.h"
#include "core/net_check.h"

QMutex Utils::_spi_mutex;
QMutex Utils::_c331_bnk_mutex;
QMutex Utils::_file_deal_mutex(QMutex::Recursive);
QMutex Utils::_source_hdminfo_mutex;
// Recursive: a refresh running inside a nested event loop may emit again.
QMutex Utils::_test_signal_mutex(QMutex::Recursive);
QMutex Utils::_system_mutex(QMutex::Recursive);
QMutex Utils::_led_para_init_mutex;
QMutex Utils::_bri_set_mutex;
QMutex Utils::_fpga_multicast_mutex;
QMutex Utils::_reconfig_4g_mutex;
QMutex Utils::_reconfig_device_nubocloud_mutex;
QMutex Utils::_net_identity_mutex;
QMutex Utils::_cloud_property_mutex;

u8 Utils::BCC(const unsigned char* data, unsigned int length)
{
    u8 x = 0;
    for (unsigned int i = 0; i < length; ++i)
        x ^= data[i];
    return x;
}

u16 Utils::calcCRC16(const unsigned char* data, unsigned int length)
{
    u16 crc = 0;
    for (unsigned int i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? u16((crc >> 1) ^ 0xA001) : u16(crc >> 1);
    }
    return crc;
}

namespace
{
std::atomic<void (*)()> g_tick_wake_hook{nullptr};
} // namespace

void Utils::wake_tick()
{
    if (void (*hook)() = g_tick_wake_hook.load())
        hook();
}

void Utils::set_tick_wake_hook(void (*hook)())
{
    g_tick_wake_hook.store(hook);
}

void Utils::request_restart()
{
    G_reboot_tickTicks = G_timeTicks.load();
    g_app_reset_flag = 1;
    wake_tick();
}

u32 Utils::getTimeSpace(u32 start)
{
    u32 now = G_timeTicks.load();
    if (now >= start)
        return now - start;
    return now - start - 1;
}

int Utils::system_mutex(const QString& command, int* status)
{
    QMutexLocker lock(&_system_mutex);
    int st = board::current().shell().system(command.toLatin1().toStdString());
    if (status)
        *status = st;
    return st == 0 ? 0 : 255;
}

std::string Utils::shell_exec(const std::string& command, int line_size)
{
    bool ok = false;
    std::string out = board::current().shell().popen(command, line_size, &ok);
    return ok ? out : std::string();
}

int Utils::non_region_erase(int fd, int offset, int length, int unlock)
{
    board::Mtd& mtd = board::current().mtd();
    board::MtdInfo info;
    if (fd < 0 || offset < 0 || length < 0 || mtd.getInfo(fd, &info) != 0 || info.erasesize == 0) {
        mtd.close(fd);
        return 8;
    }
    u32 blocks = (u32(length) + info.erasesize - 1) / info.erasesize;
    u32 start = u32(offset);
    for (u32 i = 0; i < blocks; ++i) {
        u32 at = start + i * info.erasesize;
        if (unlock)
            mtd.unlock(fd, at, info.erasesize);
        if (mtd.erase(fd, at, info.erasesize) != 0) {
            mtd.close(fd);
            return 8;
        }
    }
    return 0;
}

int Utils::non_region_write(int fd, unsigned char* data, int length, int offset)
{
    board::Mtd& mtd = board::current().mtd();
    board::MtdInfo info;
    if (fd < 0 || length < 0 || offset < 0 || mtd.getInfo(fd, &info) != 0 || info.writesize == 0)
        return 1;
    u32 done = 0;
    const u32 total = u32(length);
    while (done < total) {
        u32 piece = total - done < info.writesize ? total - done : info.writesize;
        long w = mtd.pwrite(fd, data + done, piece, u32(offset) + done);
        if (w != long(piece)) {
            if (debugOn())
                zevlog::debug(lcCore(), "\n nand non_region_write error %#x ,writesize=%#x,offset=%#x,size=%#x\n",
                              unsigned(w), info.writesize, unsigned(offset) + done, piece);
            return 1;
        }
        done += piece;
    }
    return 0;
}

namespace
{
// The commands are run by a root shell: only checked, canonical dotted
// quads ever reach them.
void applyWired(const QString& ip, const QString& mask, const QString& gateway)
{
    Utils::system_mutex("route del default wlan0");
    Utils::system_mutex(QString("ifconfig eth0 %1 netmask %2 up").arg(ip, mask));
    Utils::system_mutex(QString("route add -host %1 dev eth0").arg(gateway));
    Utils::system_mutex(QString("route add default gw %1 metric 100").arg(gateway));
    Utils::system_mutex(QString("ip route add default via %1 dev eth0").arg(gateway));
    Utils::system_mutex("route add -host 255.255.255.255 eth0");
    Utils::system_mutex("route del 255.255.255.255 wlan1");
}

} // namespace

int Utils::init_resteth(const QString& ip, const QString& gateway, const QString& mask)
{
    if (!net_check::canonical(ip) || !net_check::canonical(gateway) || !net_check::canonical(mask) ||
        !net_check::mask(mask))
        return 255;
    if (system_mutex("ifconfig eth0 &>/dev/null") != 0)
        return 255;
    applyWired(ip, mask, gateway);
    return 0;
}

int Utils::initIPAddress()
{
    if (system_mutex("ifconfig eth0 &>/dev/null") != 0)
        return 255;
    ConfigEngine::pInstance()->keep_usable();
    getIPAddress();
    const NetIdentity id = net_identity();
    applyWired(id.ip, id.mask, id.gateway);
    return 0;
}

void Utils::getIPAddress()
{
    ConfigEngine* c = ConfigEngine::pInstance();
    g_port = c->read_config_variant(ConfigItem::TcpPort).toInt();
    g_int_tcp_port = g_port.load();
    set_net_identity({c->read_config_variant(ConfigItem::IPAddress).toString(),
                      c->read_config_variant(ConfigItem::SubNetMask).toString(),
                      c->read_config_variant(ConfigItem::GateWay).toString(),
                      c->read_config_variant(ConfigItem::MAC).toString(),
                      c->read_config_variant(ConfigItem::Barcode).toString()});
    g_lcd_lang_valid = c->read_config_variant(ConfigItem::ZevLCDLang).toUInt();
    g_zev_max_pixel = c->read_config_variant(ConfigItem::ZevMaxPixel).toUInt();
    set_usb_grade_path(c->read_config_variant(ConfigItem::usbupgradedir).toString());
    CloudSettings cloud;
    cloud.server = c->read_config_variant(ConfigItem::Nubocloudserverip).toString();
    cloud.port = c->read_config_variant(ConfigItem::Nubocloudserverport).toInt();
    cloud.user = c->read_config_variant(ConfigItem::Nuboclouduserip).toString();
    cloud.controller = c->read_config_variant(ConfigItem::Nubocloudcontrollername).toString();
    cloud.on = cloud.server.trimmed().isEmpty() ? 0 : 1;
    set_cloud_settings(cloud);
}

Utils::CloudSettings Utils::cloud_settings()
{
    QMutexLocker lock(&_reconfig_device_nubocloud_mutex);
    return {g_Nubo_cloudserverip, g_Nubo_cloudserverport, g_Nubo_clouduserid, g_Nubo_controllername, g_Nubo_cloud};
}

void Utils::set_cloud_settings(const CloudSettings& settings)
{
    QMutexLocker lock(&_reconfig_device_nubocloud_mutex);
    g_Nubo_cloudserverip = settings.server;
    g_Nubo_cloudserverport = settings.port;
    g_Nubo_clouduserid = settings.user;
    g_Nubo_controllername = settings.controller;
    g_Nubo_cloud = settings.on;
}

Utils::NetIdentity Utils::net_identity()
{
    QMutexLocker lock(&_net_identity_mutex);
    return {g_str_ip, g_srt_mask, g_str_gateway, g_str_mac, g_str_barcode};
}

void Utils::set_net_identity(const NetIdentity& identity)
{
    QMutexLocker lock(&_net_identity_mutex);
    g_str_ip = identity.ip;
    g_srt_mask = identity.mask;
    g_str_gateway = identity.gateway;
    g_str_mac = identity.mac;
    g_str_barcode = identity.barcode;
}

void Utils::set_net_address(const QString& ip, const QString& mask, const QString& gateway)
{
    QMutexLocker lock(&_net_identity_mutex);
    g_str_ip = ip;
    g_srt_mask = mask;
    g_str_gateway = gateway;
}

void Utils::set_net_mac(const QString& mac)
{
    QMutexLocker lock(&_net_identity_mutex);
    g_str_mac = mac;
}

void Utils::set_net_barcode(const QString& barcode)
{
    QMutexLocker lock(&_net_identity_mutex);
    g_str_barcode = barcode;
}

QString Utils::usb_grade_path()
{
    QMutexLocker lock(&_net_identity_mutex);
    return g_usb_grade_path;
}

void Utils::set_usb_grade_path(const QString& path)
{
    QMutexLocker lock(&_net_identity_mutex);
    g_usb_grade_path = path;
}

Utils::CloudProperty Utils::cloud_property()
{
    CloudProperty copy;
    QMutexLocker lock(&_cloud_property_mutex);
    std::copy(std::begin(g_4G_property), std::end(g_4G_property), copy.begin());
    return copy;
}

void Utils::change_cloud_property(const std::function<void(u8* block)>& change)
{
    QMutexLocker lock(&_cloud_property_mutex);
    change(g_4G_property);
}

int Utils::read_file_at(const QString& path, uint64_t offset, void* out, size_t n, int64_t* size)
{
    QMutexLocker lock(&_file_deal_mutex);
    switch (board::read_at(board::path(path.toStdString()), offset, out, n, size)) {
    case board::FileRead::whole:
        return FILE_READ;
    case board::FileRead::missing:
        return FILE_MISSING;
    case board::FileRead::damaged:
    case board::FileRead::unreadable:
        break;
    }
    return FILE_DAMAGED;
}

void syncAndSettle()
{
    Utils::system_mutex("sync");
    usleep(100 * 1000);
}

bool Utils::install_new_app()
{
    // Everything the install needs is checked and prepared before the old
    // application is replaced: an install that fails leaves it in place.
    struct stat st {
    };
    if (::stat(board::path(std::string(kNewApp)).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        zevlog::warning(lcCore(), "%s is no file: the application is not installed", board::shownPath(kNewApp).c_str());
        return false;
    }
    const std::string startFile = board::path(std::string(kStartFile));
    // The start-up line's file as it was, put back when the move fails.
    board::FileRead before = board::FileRead::whole;
    QByteArray old;
    if (g_update_status == 0) {
        QMutexLocker lock(&_file_deal_mutex);
        // What else the file holds stays (one over its size holds nothing
        // worth keeping); a file that cannot be read is not replaced by one
        // that holds only the line.
        before = board::read_whole(startFile, ini_file::kMaxBytes, &old);
        if (before == board::FileRead::unreadable) {
            zevlog::stored_file(lcCore(), kStartFile, kStartFileUnread);
            return false;
        }
        ini_file::Keys kept;
        ini_file::decode(old, &kept);
        if (!ini_file::write(QString::fromStdString(startFile),
                             {{"app-1/app_path", "/data/app/zevQ64N -platform linuxfb"}, {"app-1/app_name", "zevQ64N"}},
                             kept)) {
            zevlog::warning(lcCore(), "%s cannot be written: the application is not installed",
                            board::shownPath(kStartFile).c_str());
            return false;
        }
    }
    system_mutex("chmod 777 -R /data/app");
    usleep(10000);
    if (system_mutex(QString("mv %1  /data/app/zevQ64N").arg(kNewApp)) == 0)
        return true;
    zevlog::warning(lcCore(), "%s cannot be moved into place: the application is not installed",
                    board::shownPath(kNewApp).c_str());
    if (g_update_status == 0) {
        // The line goes back to what it was; a file over its size had no
        // line worth keeping.
        QMutexLocker lock(&_file_deal_mutex);
        const bool back = before == board::FileRead::missing
                              ? ::unlink(startFile.c_str()) == 0 || errno == ENOENT
                              : before != board::FileRead::whole ||
                                    board::write_whole(startFile, old.constData(), size_t(old.size()));
        if (!back)
            zevlog::warning(lcCore(), "%s cannot be put back as it was", board::shownPath(kStartFile).c_str());
    }
    return false;
}
