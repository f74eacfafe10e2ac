#include "core/config_engine.h"

#include <algorithm>

#include <QCryptographicHash>

#include "board/board.h"
#include "core/global.h"
#include "core/ini_file.h"
#include "core/logging.h"
#include "core/net_check.h"
#include "core/utils.h"

ConfigEngine* ConfigEngine::p_config = nullptr;
const char* ConfigEngine::kFile = "/data/configs/tcpip.ini";

namespace
{
struct ItemDef {
    const char* key;
    QVariant def;
};

const ItemDef& def(ConfigItem::ConfigName item)
{
    static const ItemDef kItems[ConfigItem::ItemCount] = {
        {"TcpPort", 5005},
        {"UdpPort", 5008},
        {"IPAddress", "192.168.0.199"},
        {"SubNetMask", "255.255.255.0"},
        {"GateWay", "192.168.0.1"},
        {"MAC", "00:0E:C6:5A:45:56"},
        {"Barcode", " "},
        {"WifiIPAddress", "192.168.100.1"},
        {"EDIDCheck", 0},
        {"SourceCheck", 0},
        {"usbupgradedir", "ZEV-Q48 Rev.c"},
        {"Nubocloudserverip", ""},
        {"Nubocloudserverport", 0},
        {"Nuboclouduserip", ""},
        {"Nubocloudcontrollername", ""},
        {"ZevMaxPixel", 2621440},
        {"Nubocloudenable", 0},
        {"ZevLCDLang", kDefaultLcdLangValid},
    };
    return kItems[item];
}
} // namespace

const char* ConfigEngine::keyName(ConfigItem::ConfigName item)
{
    return def(item).key;
}

QVariant ConfigEngine::defaultValue(ConfigItem::ConfigName item)
{
    return def(item).def;
}

ConfigEngine* ConfigEngine::pInstance()
{
    if (!p_config) {
        p_config = new ConfigEngine();
        p_config->deriveDeviceId();
        Utils::initIPAddress();
    }
    return p_config;
}

ConfigEngine::ConfigEngine()
{
    load();
}

void ConfigEngine::load()
{
    QMutexLocker lock(&mutex_);
    ini_file::Keys keys;
    ini_file::Read read;
    {
        QMutexLocker fileLock(&Utils::_file_deal_mutex);
        read = ini_file::read(board::path(QString(kFile)), &keys);
    }
    unread_ = read == ini_file::Read::unreadable;
    if (unread_)
        zevlog::warning(lcCore(), "%s cannot be read: factory settings for this start, the file is kept as it is",
                        board::shownPath(kFile).c_str());
    else if (read == ini_file::Read::damaged || read == ini_file::Read::malformed)
        zevlog::warning(lcCore(), "%s is damaged: the settings it still holds are kept",
                        board::shownPath(kFile).c_str());
    bool complete = read == ini_file::Read::whole;
    for (int i = 0; i < ConfigItem::ItemCount; ++i) {
        auto item = ConfigItem::ConfigName(i);
        const QVariant fallback = defaultValue(item);
        QVariant v = keys.value(QString("config/") + keyName(item));
        bool ok = v.isValid();
        // Keep the stored type of each item whatever the INI text gave back.
        if (ok && fallback.type() != QVariant::String)
            v = QVariant(v.toLongLong(&ok));
        values_[i] = ok ? v : fallback;
        complete = complete && ok;
    }
    if (!usable_values()) {
        zevlog::warning(lcCore(), "unusable network settings in %s: factory values taken",
                        board::shownPath(kFile).c_str());
        complete = false;
    }
    if (!complete && !unread_) {
        lock.unlock();
        save();
    }
}

bool ConfigEngine::usable_values()
{
    auto text = [this](ConfigItem::ConfigName item) { return values_[item].toString(); };
    bool usable = true;
    auto fallBack = [&](ConfigItem::ConfigName item) {
        values_[item] = defaultValue(item);
        usable = false;
    };
    if (!net_check::canonical(text(ConfigItem::SubNetMask)) || !net_check::host_mask(text(ConfigItem::SubNetMask)))
        fallBack(ConfigItem::SubNetMask);
    if (!net_check::canonical(text(ConfigItem::IPAddress)) ||
        !net_check::host_address(text(ConfigItem::IPAddress), text(ConfigItem::SubNetMask))) {
        fallBack(ConfigItem::IPAddress);
        // A stored mask that the factory address does not fit goes with it.
        if (!net_check::host_address(text(ConfigItem::IPAddress), text(ConfigItem::SubNetMask)))
            fallBack(ConfigItem::SubNetMask);
    }
    if (!net_check::canonical(text(ConfigItem::GateWay)))
        fallBack(ConfigItem::GateWay);
    const qlonglong port = values_[ConfigItem::TcpPort].toLongLong();
    if (port > 65535 || !net_check::command_port(int(port)))
        fallBack(ConfigItem::TcpPort);
    return usable;
}

void ConfigEngine::keep_usable()
{
    QMutexLocker lock(&mutex_);
    if (usable_values())
        return;
    zevlog::warning(lcCore(), "unusable network settings in %s: factory values taken", board::shownPath(kFile).c_str());
    lock.unlock();
    save();
}

bool ConfigEngine::save()
{
    QMutexLocker lock(&mutex_);
    if (unread_)
        return false;
    QMutexLocker fileLock(&Utils::_file_deal_mutex);
    const QString file = board::path(QString(kFile));
    // Groups and keys added by hand stay, but not from past the most a
    // settings file holds; a file that cannot be read now is left alone.
    ini_file::Keys stored;
    const ini_file::Read read = ini_file::read(file, &stored);
    if (read == ini_file::Read::unreadable)
        return false;
    if (read == ini_file::Read::damaged)
        stored.clear();
    ini_file::Keys ours;
    for (int i = 0; i < ConfigItem::ItemCount; ++i)
        ours.insert(QString("config/") + keyName(ConfigItem::ConfigName(i)), values_[i]);
    return ini_file::write(file, ours, stored);
}

QVariant ConfigEngine::read_config_variant(ConfigItem::ConfigName item)
{
    if (item < 0 || item >= ConfigItem::ItemCount)
        return QVariant();
    QMutexLocker lock(&mutex_);
    return values_[item];
}

bool ConfigEngine::write_config_variant(ConfigItem::ConfigName item, const QVariant& value)
{
    if (item < 0 || item >= ConfigItem::ItemCount)
        return false;
    const int index = item;
    return store([&](QVariant* values) { values[index] = value; });
}

bool ConfigEngine::write_config_variants(std::initializer_list<std::pair<ConfigItem::ConfigName, QVariant>> items)
{
    for (const auto& it : items)
        if (it.first < 0 || it.first >= ConfigItem::ItemCount)
            return false;
    return store([&](QVariant* values) {
        for (const auto& it : items)
            values[it.first] = it.second;
    });
}

bool ConfigEngine::store(const std::function<void(QVariant* values)>& change)
{
    QMutexLocker storing(&store_mutex_);
    QVariant old[ConfigItem::ItemCount];
    {
        QMutexLocker lock(&mutex_);
        std::copy(values_, values_ + ConfigItem::ItemCount, old);
        change(values_);
    }
    if (save())
        return true;
    QMutexLocker lock(&mutex_);
    std::copy(old, old + ConfigItem::ItemCount, values_);
    return false;
}

void ConfigEngine::deriveDeviceId()
{
    std::vector<uint8_t> id = board::current().pads().uniqueId();
    QByteArray seed = id.empty() ? read_config_variant(ConfigItem::MAC).toString().toLatin1()
                                 : QByteArray(reinterpret_cast<const char*>(id.data()), int(id.size()));
    QByteArray hex = QCryptographicHash::hash(seed, QCryptographicHash::Md5).toHex().toUpper();
    qstrncpy(g_pid, hex.constData(), sizeof g_pid);
}
