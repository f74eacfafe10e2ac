#include "remote/q64_wifi_config.h"

#include <algorithm>

#include <QMutexLocker>
#include <QRegularExpression>

#include "board/board.h"
#include "board/file_read.h"
#include "core/config_engine.h"
#include "core/logMsg.h"
#include "core/logging.h"
#include "core/utils.h"
#include "core/wake_flag.h"
#include "core/zevrampara.h"
#include "core/net_check.h"
#include "link/udpnetmanage.h"

namespace
{
// Never destroyed: the UDP thread may still wake it while the process ends.
WakeFlag& g_wake = *new WakeFlag;

void ap_state_changed()
{
    if (udpnetManage* udp = udpnetManage::p_udpnetManage)
        udp->wifi_changed();
    Q64_WIFI_CONFIG::wake();
}
} // namespace

wifi_byte g_wifi_reset_flag{&Q64_WIFI_CONFIG::wake};

Q64_WIFI_CONFIG* Q64_WIFI_CONFIG::p_wifi = nullptr;
std::atomic<u32> Q64_WIFI_CONFIG::wifi_reset_timeticks{0};
std::atomic<u32> Q64_WIFI_CONFIG::wifi_ap_timeticks{0};
wifi_byte Q64_WIFI_CONFIG::wifi_ap_state{&ap_state_changed};

const char* Q64_WIFI_CONFIG::kHostapdConf = "/etc/rtl_hostapd_2G.conf";
const char* Q64_WIFI_CONFIG::kUdhcpdConf = "/etc/udhcpd.conf";
const char* Q64_WIFI_CONFIG::kVersion = "Q64-1.0";
const char* Q64_WIFI_CONFIG::kHostapdBase =
    "interface=wlan0\nhw_mode=g\nchannel=6\nwpa=2\nwpa_key_mgmt=WPA-PSK\nrsn_pairwise=CCMP\n";

namespace
{
constexpr u32 kStartUpTicks = 100;
constexpr u32 kResetTicks = 300;
const char* const kFactoryPassphrase = "12345678";

// The start-up waits while the byte is anything but 0; the restart takes
// Wi-Fi as off only when it is exactly 1. Read under the apply mutex: the
// panel and the PC links write it.
u8 wifi_off_byte()
{
    C331Lock lock;
    return ZevRamPara::p_zevrampara_config[Img::kWifiOff];
}
bool wifi_off()
{
    return wifi_off_byte() != 0;
}
bool wifi_switched_off()
{
    return wifi_off_byte() == 1;
}

void kill_access_point()
{
    Utils::system_mutex("kill -9 `pidof /usr/bin/hostapd /etc/rtl_hostapd_2G.conf`");
    Utils::system_mutex("kill -9 `pidof /usr/sbin/udhcpd  /etc/udhcpd.conf`");
}

// The first match of pattern's group 1 in the output of command.
QString query(const std::string& command, const QString& pattern)
{
    const QString out = QString::fromStdString(Utils::shell_exec(command, 1024));
    const QRegularExpressionMatch m = QRegularExpression(pattern).match(out);
    return m.hasMatch() ? m.captured(1) : QString();
}

// The access point's settings file as it stands (it holds a few lines);
// empty unless the result is whole.
board::FileRead hostapd_text(QByteArray* text)
{
    return board::read_whole(board::path(std::string(Q64_WIFI_CONFIG::kHostapdConf)), 64 * 1024, text);
}

bool udp_running()
{
    return Q64_WIFI_CONFIG::p_wifi && Q64_WIFI_CONFIG::wifi_ap_state.load() == 3;
}

int udp_handle(u8* data, int length, const sockaddr_in& from)
{
    return Q64_WIFI_CONFIG::p_wifi ? Q64_WIFI_CONFIG::p_wifi->wifi_AT_cmd_manage(data, length, from) : 0;
}
} // namespace

Q64_WIFI_CONFIG* Q64_WIFI_CONFIG::pInstance()
{
    if (!p_wifi) {
        auto* w = new Q64_WIFI_CONFIG();
        w->read_wifi_files();
        p_wifi = w;
        w->initialize();
    }
    return p_wifi;
}

Q64_WIFI_CONFIG::Q64_WIFI_CONFIG()
{
    for (int i = 0; i < SETTING_COUNT; ++i)
        settings_ << QString();
    settings_[FIRST] = "0";
    settings_[STA_PORT] = "5005";
}

void Q64_WIFI_CONFIG::set_wifi_reset_flag()
{
    g_wifi_reset_flag = 1;
    wifi_reset_timeticks = G_timeTicks.load();
}

int Q64_WIFI_CONFIG::read_wifi_files()
{
    QString ssid, passphrase;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        QByteArray text;
        // Its name and passphrase are the user's: the access point is not
        // started under others.
        const board::FileRead read = hostapd_text(&text);
        if (read == board::FileRead::unreadable)
            zevlog::stored_file(lcRemote(), kHostapdConf,
                                "cannot be read: the access point stays down, the file is kept as it is");
        else if (read == board::FileRead::damaged)
            zevlog::stored_file(
                lcRemote(), kHostapdConf,
                "is too large: the access point takes the factory name, the file is written again as it starts");
        for (const QByteArray& line : text.split('\n')) {
            if (line.startsWith("ssid="))
                ssid = QString::fromUtf8(line.mid(5)).trimmed();
            else if (line.startsWith("wpa_passphrase="))
                passphrase = QString::fromUtf8(line.mid(15)).trimmed();
        }
    }
    QString ap = ConfigEngine::pInstance()->read_config_variant(ConfigItem::WifiIPAddress).toString();
    if (!net_check::ipv4(ap))
        ap.clear();
    const QString hw = QString::fromStdString(Utils::shell_exec("ifconfig wlan0 | grep HWaddr", 1024)).trimmed();
    const QString staHw = query("ifconfig wlan1 | grep HWaddr", "HWaddr\\s+([0-9A-Fa-f:]{17})");
    const QString staIp = query("ifconfig wlan1 | grep 'inet addr'", "inet addr:([0-9.]+)");
    const QString staMask = query("ifconfig wlan1 | grep 'inet addr'", "Mask:([0-9.]+)");
    const QString staGw = query("route -n | grep wlan1 | grep UG", "^\\S+\\s+([0-9.]+)");

    std::lock_guard<std::mutex> lock(mutex_);
    // A board file without them: the factory name and passphrase.
    ssid_ = ssid.isEmpty() ? factory_ssid() : ssid;
    passphrase_ = passphrase.isEmpty() ? QString(kFactoryPassphrase) : passphrase;
    settings_[FIRST] = "2";
    settings_[AP_HWADDR] = hw;
    settings_[TCP_PORT] = QString::number(g_port);
    settings_[AP_ADDRESS] = ap;
    settings_[STA_HWADDR] = staHw;
    settings_[STA_ADDRESS] = staIp;
    settings_[STA_MASK] = staMask;
    settings_[STA_GATEWAY] = staGw;
    // The start-up step may have an address to start with now.
    wake();
    return 0;
}

QString Q64_WIFI_CONFIG::setting(Setting s) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_.value(s);
}

int Q64_WIFI_CONFIG::initialize()
{
    wifi_ap_timeticks = G_timeTicks.load();
    wifi_reset_timeticks = G_timeTicks.load();
    if (pthread_create(&thread_, nullptr, WiFi_Start_Thread, this) != 0) {
        writeLogMsg(LOG_ERROR, "create wifi thread failed");
        return 255;
    }
    return 0;
}

void* Q64_WIFI_CONFIG::WiFi_Start_Thread(void* arg)
{
    auto* self = static_cast<Q64_WIFI_CONFIG*>(arg);
    for (;;) {
        self->wifi_pass();
        const u32 ticks = self->ticks_to_next_step();
        if (ticks != kUntilWoken) {
            wait_for_wake(std::chrono::milliseconds(ticks * 10));
            continue;
        }
        wait_for_wake(kIdleBound);
        // Asleep, each step would have found nothing to do: their periods
        // count from the wake, as though the last of them had just run.
        wifi_ap_timeticks = G_timeTicks.load();
        wifi_reset_timeticks = G_timeTicks.load();
    }
    return nullptr;
}

void Q64_WIFI_CONFIG::wake()
{
    g_wake.wake();
}

bool Q64_WIFI_CONFIG::wait_for_wake(std::chrono::milliseconds bound)
{
    return g_wake.wait_for(bound);
}

u32 Q64_WIFI_CONFIG::ticks_to_next_step() const
{
    auto left = [](u32 since, u32 period) { return since > period ? 0u : period + 1 - since; };
    const u32 ap = left(Utils::getTimeSpace(wifi_ap_timeticks), kStartUpTicks);
    // A reset step that would change nothing waits for the next start-up
    // step, and without one for a wake: every store of what the steps read
    // wakes the thread.
    if (!reset_would_act())
        return start_up_would_act() ? std::max(1u, ap) : kUntilWoken;
    const u32 reset = left(Utils::getTimeSpace(wifi_reset_timeticks), kResetTicks);
    return std::max(1u, std::min(ap, reset));
}

bool Q64_WIFI_CONFIG::start_up_would_act() const
{
    const u8 state = wifi_ap_state.load();
    if (wifi_off() || state >= 3)
        return false;
    return state != 0 || net_check::ipv4(setting(AP_ADDRESS));
}

bool Q64_WIFI_CONFIG::reset_would_act()
{
    const u8 flag = g_wifi_reset_flag.load();
    if (flag == 1 || flag == 3)
        return true;
    return wifi_switched_off() ? flag != 2 : flag == 2;
}

void Q64_WIFI_CONFIG::wifi_pass()
{
    if (Utils::getTimeSpace(wifi_ap_timeticks) > kStartUpTicks) {
        wifi_ap_start_up();
        wifi_ap_timeticks = G_timeTicks.load();
    }
    if (Utils::getTimeSpace(wifi_reset_timeticks) > kResetTicks) {
        wifi_reset();
        wifi_reset_timeticks = G_timeTicks.load();
    }
}

void Q64_WIFI_CONFIG::wifi_ap_start_up()
{
    if (wifi_off())
        return;
    switch (wifi_ap_state.load()) {
    case 0: {
        const QString ap = setting(AP_ADDRESS);
        // No valid address of its own: the access point stays down.
        if (!net_check::ipv4(ap))
            return;
        QString ssid, passphrase;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ssid = ssid_;
            passphrase = passphrase_;
        }
        // The daemons start from files that match the address and name of
        // this start; without them the access point stays down.
        if (!write_ap_files(ssid, passphrase, ap)) {
            writeLogMsg(LOG_ERROR, "wifi: cannot write the access point files");
            return;
        }
        Utils::system_mutex(QString("ifconfig wlan0 %1").arg(ap));
        wifi_ap_state = 1;
        break;
    }
    case 1:
        Utils::system_mutex("udhcpd -fS /etc/udhcpd.conf &");
        wifi_ap_state = 2;
        break;
    case 2:
        Utils::system_mutex("/usr/bin/hostapd /etc/rtl_hostapd_2G.conf -B");
        wifi_ap_state = 3;
        break;
    default:
        break;
    }
}

void Q64_WIFI_CONFIG::wifi_reset()
{
    const u8 flag = g_wifi_reset_flag.load();
    if (flag == 1) {
        if (wifi_ap_state.load() == 3)
            kill_access_point();
        g_wifi_reset_flag = 2;
        return;
    }
    if (wifi_switched_off()) {
        if (flag != 2) {
            if (wifi_ap_state.load() == 3)
                kill_access_point();
            g_wifi_reset_flag = 2;
        }
        return;
    }
    if (flag == 2) {
        g_wifi_reset_flag = 0;
        wifi_ap_state = 0;
    } else if (flag == 3) {
        Utils::system_mutex("kill all `pidof /usr/bin/hostapd /etc/rtl_hostapd_2G.conf`");
        g_wifi_reset_flag = 2;
    }
}

bool Q64_WIFI_CONFIG::valid_ssid(const QString& ssid)
{
    const QByteArray b = ssid.toUtf8();
    if (b.isEmpty() || b.size() > 32)
        return false;
    for (char c : b)
        if (u8(c) < 0x20 || u8(c) == 0x7F || c == ',')
            return false;
    return true;
}

bool Q64_WIFI_CONFIG::valid_passphrase(const QString& passphrase)
{
    const QByteArray b = passphrase.toLatin1();
    if (b.size() < 8 || b.size() > 63 || passphrase.size() != b.size())
        return false;
    for (char c : b)
        if (u8(c) < 0x20 || u8(c) > 0x7E)
            return false;
    return true;
}

QString Q64_WIFI_CONFIG::factory_ssid() const
{
    return QString("Q64_") + QString(g_pid).right(6);
}

QByteArray Q64_WIFI_CONFIG::udhcpd_text(const QString& address)
{
    const QStringList parts = address.split('.');
    const QString net = QStringList(parts.mid(0, 3)).join('.') + '.';
    // A hundred leases in the access point's /24, clear of its own address.
    const int own = parts.value(3).toInt();
    const int first = own >= 100 && own <= 199 ? 10 : 100;
    return QString("start %1%2\nend %1%3\ninterface wlan0\nmax_leases 90\nopt subnet 255.255.255.0\nopt router %4\n")
        .arg(net)
        .arg(first)
        .arg(first + 89)
        .arg(address)
        .toLatin1();
}

bool Q64_WIFI_CONFIG::write_ap_files(const QString& ssid, const QString& passphrase, const QString& address)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    const std::string hostapd = board::path(std::string(kHostapdConf));
    QByteArray old;
    // A file that cannot be read is not replaced.
    if (hostapd_text(&old) == board::FileRead::unreadable)
        return false;
    // The board's own lines are kept; without a file that holds them the
    // access point gets the plain WPA2 set-up of wlan0.
    if (old.isEmpty())
        old = kHostapdBase;
    QByteArray out;
    for (const QByteArray& line : old.split('\n')) {
        if (!line.isEmpty() && !line.startsWith("ssid=") && !line.startsWith("wpa_passphrase="))
            out += line + "\n";
    }
    out += "ssid=" + ssid.toUtf8() + "\nwpa_passphrase=" + passphrase.toLatin1() + "\n";
    const QByteArray dhcp = udhcpd_text(address);
    return board::write_whole(hostapd, reinterpret_cast<const u8*>(out.constData()), size_t(out.size())) &&
           board::write_whole(board::path(std::string(kUdhcpdConf)), reinterpret_cast<const u8*>(dhcp.constData()),
                              size_t(dhcp.size()));
}

bool Q64_WIFI_CONFIG::set_name(const QString& ssid, const QString& passphrase)
{
    if (!write_ap_files(ssid, passphrase, setting(AP_ADDRESS)))
        return false;
    std::lock_guard<std::mutex> guard(mutex_);
    ssid_ = ssid;
    passphrase_ = passphrase;
    return true;
}

std::string Q64_WIFI_CONFIG::answer(const std::string& command)
{
    QString cmd = QString::fromUtf8(command.data(), int(command.size()));
    while (cmd.endsWith('\n') || cmd.endsWith('\r') || cmd.endsWith(QChar(0)))
        cmd.chop(1);
    const char* kOk = "OK\r\n";
    const char* kError = "ERROR\r\n";
    if (cmd == "AT+CHECKDATA") {
        std::lock_guard<std::mutex> lock(mutex_);
        return QString("+CHECKDATA:%1,%2,%3\r\nOK\r\n").arg(ssid_, passphrase_, settings_[AP_ADDRESS]).toStdString();
    }
    if (cmd.startsWith("AT+SETDATA=")) {
        const QStringList f = cmd.mid(11).split(',');
        if (f.size() != 2 || !valid_ssid(f[0]) || !valid_passphrase(f[1]) || !set_name(f[0], f[1]))
            return kError;
        set_wifi_reset_flag();
        return kOk;
    }
    if (cmd == "AT+RST") {
        set_wifi_reset_flag();
        return kOk;
    }
    if (cmd == "AT+RESTORE") {
        if (!set_name(factory_ssid(), kFactoryPassphrase))
            return kError;
        set_wifi_reset_flag();
        return kOk;
    }
    if (cmd == "AT+GETVER")
        return std::string("+GETVER:") + kVersion + "\r\nOK\r\n";
    return kError;
}

int Q64_WIFI_CONFIG::wifi_AT_cmd_manage(const u8* data, int length, const sockaddr_in& from)
{
    if (!data || length <= 0)
        return 0;
    const std::string reply = answer(std::string(reinterpret_cast<const char*>(data), size_t(length)));
    udpnetManage* udp = udpnetManage::p_udpnetManage;
    if (udp)
        udp->queue_13769_answer(reinterpret_cast<const u8*>(reply.data()), int(reply.size()), from);
    return 0;
}

void Q64_WIFI_CONFIG::attach_udp(udpnetManage* udp)
{
    if (udp)
        udp->set_wifi_side({udp_running, udp_handle});
}
