// Network, barcode, language and cloud-settings commands (groups 0xA4, 0xA2,
// 0xC3) and the update start (0x84). Addresses, masks, MACs and ports are
// checked before they reach a file or a shell command; a refused request
// answers status 1 and changes nothing.
#include <cstdio>
#include <cstring>

#include <QByteArray>
#include <QStringList>
#include <unistd.h>

#include "core/config_engine.h"
#include "core/logMsg.h"
#include "core/net_check.h"
#include "core/utils.h"
#include "core/zevrampara.h"
#include "ledout/fpga_drv.h"
#include "ledout/fpga_manage.h"
#include "link/file_install.h"
#include "link/message_deal.h"
#include "link/message_deal_fpga.h"
#include "link/protocol_phy.h"
#include "link/message_remote.h"
#include "core/logging.h"

namespace
{
constexpr int kSub = pc::kStatus;

// Pieces of a dotted or colon text into out (at most max), decimal or hex;
// a piece that is no number gives 0. Returns the pieces written.
int put_pieces(u8* out, const QString& text, QChar sep, int base, int max)
{
    const QStringList parts = text.trimmed().split(sep);
    int n = 0;
    for (; n < parts.size() && n < max; ++n) {
        bool ok = false;
        const int v = parts[n].trimmed().toInt(&ok, base);
        out[n] = ok ? u8(v) : 0;
    }
    return n;
}

void put16(u8* out, int v)
{
    out[0] = u8(v);
    out[1] = u8(v >> 8);
}

u16 get16(const u8* in)
{
    return u16(in[0] | (in[1] << 8));
}

QString interfaces_text(const QString& ip, const QString& mask, const QString& mac)
{
    return QString("#start 180503\nauto lo\niface lo inet loopback\nauto eth0\niface eth0 inet static\n"
                   "address %1\nnetmask %2\nmetric 1\nhwaddress ether %3\n#\n#end\n")
        .arg(ip, mask, mac);
}

// Written beside the file and renamed over it: a failed write keeps the
// settings the interface comes up with.
bool write_interfaces(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    return file_install::write_file("/etc/network/interfaces", reinterpret_cast<const u8*>(bytes.constData()),
                                    size_t(bytes.size())) == file_install::Result::Installed;
}
} // namespace

int message_deal::net_eth_group(u8* body, int length)
{
    switch (body[kSub]) {
    case 0:
        return init_MAC_address(body, length);
    case 1:
        return net_ip_set(body, length);
    case 3:
        return net_eth_search(body, length);
    case 16:
        return get_device_info(body, length);
    default:
        return 0;
    }
}

int message_deal::init_MAC_address(u8* body, int length)
{
    body[pc::kData] = 0;
    body[kSub] = 1;
    if (length < 19)
        return 2;
    const u8* m = body + 13;
    if (!net_check::unicast_mac(m))
        return 2;
    const QString mac = QString::asprintf("%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    const Utils::NetIdentity id = Utils::net_identity();
    // The settings that go into the file with it must be sound too.
    if (!net_check::ipv4(id.ip) || !net_check::mask(id.mask) || !net_check::ipv4(id.gateway))
        return 2;
    if (!write_interfaces(interfaces_text(id.ip, id.mask, mac))) {
        writeLogMsg(LOG_ERROR, "write /etc/network/interfaces failed");
        return 2;
    }
    Utils::set_net_mac(mac);
    syncAndSettle();
    if (Utils::system_mutex("ifdown eth0 -f;ifup eth0 -f") != 0)
        writeLogMsg(LOG_ERROR, "Network device eth0 restart failed ... ");
    Utils::init_resteth(id.ip, id.gateway, id.mask);
    body[kSub] = 0;
    return 2;
}

int message_deal::net_ip_set(u8* body, int length)
{
    body[kSub] = 1;
    if (length < 28)
        return 1;
    const QString ip = net_check::dotted(body + 14);
    const QString mask = net_check::dotted(body + 18);
    const QString gateway = net_check::dotted(body + 22);
    const int port = get16(body + 26);
    // The box's second TCP server keeps its port.
    if (!net_check::host_address(ip, mask) || !net_check::command_port(port))
        return 1;
    const int oldPort = g_port;
    // Nothing is applied that would be lost at the next start.
    if (!ConfigEngine::pInstance()->write_config_variants({{ConfigItem::IPAddress, ip},
                                                           {ConfigItem::GateWay, gateway},
                                                           {ConfigItem::SubNetMask, mask},
                                                           {ConfigItem::TcpPort, port}}))
        return 1;
    Utils::set_net_address(ip, mask, gateway);
    g_int_tcp_port = port;
    Utils::initIPAddress();
    if (port != oldPort) {
        g_port = port;
        // The restart comes a full delay after this reply and the settings
        // written above, whatever an earlier stamp said.
        Utils::request_restart();
    } else {
        ZevRamPara::test_signal(1);
    }
    body[kSub] = 0;
    return 1;
}

int message_deal::net_eth_search(u8* body, int /*length*/)
{
    Utils::set_net_mac(
        QString::fromStdString(Utils::shell_exec("ifconfig eth0 | grep HWaddr | awk '{print $5}'", 1024)));
    const Utils::NetIdentity id = Utils::net_identity();
    std::memset(body + kSub, 0, 25);
    body[10] = 0;
    body[11] = 3;
    body[12] = 22;
    put_pieces(body + 15, id.mac, ':', 16, 6);
    put_pieces(body + 21, id.ip, '.', 10, 4);
    put_pieces(body + 25, id.mask, '.', 10, 4);
    put_pieces(body + 29, id.gateway, '.', 10, 4);
    put16(body + 33, g_port);
    return 25;
}

int message_deal::get_device_info(u8* body, int /*length*/)
{
    message_remote* remote = message_remote::installed();
    message_remote::wifi_settings wifi;
    const bool hasWifi = remote && remote->wifi(&wifi);
    const int n = hasWifi ? 394 : 233;
    std::memset(body + kSub, 0, size_t(n));
    body[10] = 0;
    body[11] = 16;
    const u8 fixed[] = {0x8D, 0x01, 0x01, 0x52, 0x8B, 0x0F, 0x0B, 0x01, 0x02};
    std::memcpy(body + 12, fixed, sizeof fixed);
    const Utils::NetIdentity id = Utils::net_identity();
    const QByteArray barcode = id.barcode.toUtf8();
    std::memcpy(body + 21, barcode.constData(), size_t(qMin(16, barcode.size())));
    std::memcpy(body + 37, g_pid, 32);
    put_pieces(body + 197, id.mac, ':', 16, 6);
    put16(body + 203, g_port);
    put_pieces(body + 205, id.ip, '.', 10, 4);
    put_pieces(body + 209, id.mask, '.', 10, 4);
    put_pieces(body + 213, id.gateway, '.', 10, 4);
    if (!hasWifi)
        return n;
    body[217] = u8(wifi.first);
    const QString& hw = wifi.ap_hwaddr;
    for (int i = 0; i < 5 && i < hw.size(); ++i) {
        bool ok = false;
        const int v = QString(hw[i]).toInt(&ok, 16);
        body[219 + i] = ok ? u8(v) : 0;
    }
    put16(body + 288, wifi.tcp_port);
    put_pieces(body + 290, wifi.ap_address, '.', 10, 4);
    put_pieces(body + 294, wifi.sta_hwaddr, ':', 16, 6);
    put16(body + 364, wifi.sta_port);
    put_pieces(body + 366, wifi.sta_address, '.', 10, 4);
    put_pieces(body + 370, wifi.sta_mask, '.', 10, 4);
    put_pieces(body + 374, wifi.sta_gateway, '.', 10, 4);
    body[378] = 24;
    std::memcpy(body + 379, Utils::cloud_property().data(), 24);
    return n;
}

// Barcode and languages.

int message_deal::barcode_group(u8* body, int length)
{
    switch (body[kSub]) {
    case 30:
        return set_barcode(body, length);
    case 31:
        return read_barcode(body, length);
    case 32:
        return set_lcd_lang_support(body, length);
    default:
        return 0;
    }
}

int message_deal::set_barcode(u8* body, int length)
{
    const int L = length >= 13 ? get16(body + 11) : 0;
    body[11] = 30;
    // The text must lie inside the frame, and be one the settings can keep.
    if (L < 3 || 13 + (L - 2) > length || L - 2 > ConfigEngine::kMaxBarcodeBytes) {
        body[kSub] = 5;
        return 2;
    }
    const QString sent = QString::fromUtf8(reinterpret_cast<const char*>(body + 13), L - 2);
    ConfigEngine* c = ConfigEngine::pInstance();
    const bool stored = c->write_config_variant(ConfigItem::Barcode, sent);
    syncAndSettle();
    const QString barcode = c->read_config_variant(ConfigItem::Barcode).toString();
    Utils::set_net_barcode(barcode);
    message_remote* remote = message_remote::installed();
    // The cloud's copy of the identity must be kept too, or the next start
    // logs in with the old one.
    const bool kept = !remote || remote->set_identity(barcode);
    body[kSub] = stored && kept && barcode == sent ? 0 : 2;
    return 2;
}

int message_deal::read_barcode(u8* body, int /*length*/)
{
    // The reply's length fields are 16 bits wide.
    const QByteArray text = Utils::net_identity().barcode.toUtf8().left(0xFFFF - 4);
    const int n = text.size();
    body[10] = 0;
    body[11] = 31;
    put16(body + 12, n + 2);
    std::memcpy(body + 14, text.constData(), size_t(n));
    return n + 4;
}

int message_deal::set_lcd_lang_support(u8* body, int length)
{
    const bool marked = length >= 18 && get16(body + 11) == 36 && body[13] == 0xAA && body[14] == 0x55;
    const u8 variant = body[15];
    const u32 bits = get16(body + 16);
    body[11] = 32;
    if (!marked) {
        body[kSub] = 5;
        return 2;
    }
    const u32 value = variant == 2 ? ((bits & 0x1E) | 0x20000) : ((bits & 0x1F) | 0x10000);
    body[kSub] = 0;
    if (value == g_lcd_lang_valid.load())
        return 2;
    // Not stored: the group's not-kept status, and the languages stay.
    if (!ConfigEngine::pInstance()->write_config_variant(ConfigItem::ZevLCDLang, value)) {
        body[kSub] = 2;
        return 2;
    }
    g_lcd_lang_valid = value;
    if (!(value & (1u << g_language.load())) && (value & 0x1F)) {
        u8 lang = 0;
        while (!(value & (1u << lang)))
            ++lang;
        g_language = lang;
        // The pages check the language under the apply mutex.
        C331Lock lock;
        ZevRamPara::p_zevrampara_config[Img::kLanguage] = lang;
    }
    ZevRamPara::test_signal(1);
    return 2;
}

// Cloud settings.

int message_deal::project_lock_group(u8* body, int length)
{
    return body[kSub] == 11 ? project_set_setproperty(body, length) : 0;
}

int message_deal::project_set_setproperty(u8* body, int length)
{
    constexpr int kKey = 12;
    constexpr int kBlock = 60;
    body[11] = 11;
    body[kSub] = 1;
    const u8* key = body + kKey;
    if (debugOn()) {
        QByteArray line("random_num para");
        for (int i = 0; i < 32 && kKey + i < length; ++i)
            line += QByteArray(" 0x") + QByteArray::number(key[i], 16);
        zevlog::debug(lcLink(), "%s", line.constData());
    }
    // Unmasked bytes of the block, read only inside the frame.
    int p = kBlock;
    bool inside = true;
    auto next = [&]() -> u8 {
        if (p >= length || length < kKey + 32) {
            inside = false;
            return 0;
        }
        const u8 v = body[p] ^ key[(p - kBlock) % 32];
        ++p;
        return v;
    };
    auto text = [&](int n) {
        QString s;
        for (int i = 0; i < n && inside; ++i)
            s.append(QChar(next()));
        return s;
    };
    next();
    next(); // total length, not used
    const QString server = text(next());
    const int lo = next();
    const int port = lo | (next() << 8);
    const QString user = text(next());
    const QString controller = text(next());
    if (!inside)
        return 3;
    // The cloud client connects to it: a dotted address and a usable port.
    if (!server.isEmpty() && (!net_check::ipv4(server) || !net_check::port(port)))
        return 3;
    // The cloud link is not pointed at settings the next start would lose.
    if (!ConfigEngine::pInstance()->write_config_variants({{ConfigItem::Nubocloudserverip, server},
                                                           {ConfigItem::Nubocloudserverport, port},
                                                           {ConfigItem::Nuboclouduserip, user},
                                                           {ConfigItem::Nubocloudcontrollername, controller}}))
        return 3;
    Utils::system_mutex("sync");
    usleep(100);
    Utils::set_cloud_settings({server, port, user, controller, 1});
    if (message_remote* remote = message_remote::installed())
        remote->cloud_server_changed();
    body[kSub] = 0;
    return 3;
}

// Update start.

int message_deal::start_update(u8* body, int length)
{
    if (protocol_phy::is_box(protocol_phy::dest(body))) {
        body[kSub] = 0;
        return 1;
    }
    if (length == 11 && !(body[kSub] & 0x02))
        return 1; // the request's byte answers
    if (length != 10 && length != 11) {
        body[kSub] = 1;
        return 1;
    }
    const int sel = body[pc::kPort] - 1;
    fpga_manage* fm = fpga_manage::p_fpga_manage;
    body[kSub] = 1;
    if (!fm || !fm->p_drv)
        return 1;
    u8 block[256];
    if (fm->p_drv->FPGA_SPI_FLASH_VBYONE_READ(FpgaFlash::kFlash0, 0x6C0001, sizeof block, block) != 1 ||
        fm->write_fpga_ram(block, 0, sizeof block, 10, 0) != 1 || fm->write_to_register(23, 0x40, 0x40, 0) != 1)
        return 1;
    fm->reset_fpga_rst(0);
    if (debugOn())
        zevlog::debug(lcLink(), "\n update ok! sel_fpga : %d valid : %d,len = %#x\n", (sel == 0 || sel == 1) ? sel : 2,
                      length == 11 ? body[kSub] : 1, unsigned(length));
    body[kSub] = 0;
    return 1;
}
