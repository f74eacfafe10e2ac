#include "core/config_engine.h"

#include <algorithm>

#include <QCryptographicHash>
#include <QStringList>

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

// Where the file keeps an item: in group "config"; where that group lacks
// it (the group line lost, a group line before it that lost a bracket, a
// file written by hand without it), in the group it stands in, the top
// level first.
QString where(const ini_file::Keys& keys, ConfigItem::ConfigName item)
{
    const QString key = def(item).key, inConfig = "config/" + key;
    if (keys.contains(inConfig) || keys.contains(key))
        return keys.contains(inConfig) ? inConfig : key;
    for (auto it = keys.begin(); it != keys.end(); ++it)
        if (it.key().endsWith('/' + key))
            return it.key();
    return inConfig;
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
    const std::string shown = board::shownPath(kFile);
    ini_file::Keys keys;
    ini_file::Damage damage;
    ini_file::Read read = ini_file::Read::unreadable;
    const bool out = board::leadsOut(kFile);
    if (!out) {
        QMutexLocker fileLock(&Utils::_file_deal_mutex);
        read = ini_file::read(board::path(QString(kFile)), &keys, &damage);
    }
    unread_ = read == ini_file::Read::unreadable;
    if (unread_)
        zevlog::warning(lcCore(), "%s %s: factory settings for this start, the file is kept as it is", shown.c_str(),
                        out ? "leads out of the data root" : "cannot be read");
    bool complete = read == ini_file::Read::whole;
    bool kept[ConfigItem::ItemCount];
    bool moved = false;
    for (int i = 0; i < ConfigItem::ItemCount; ++i) {
        auto item = ConfigItem::ConfigName(i);
        const QVariant fallback = defaultValue(item);
        const QString at = where(keys, item);
        QVariant v = keys.value(at);
        // A value of a kind QSettings keeps for other programs is none of ours.
        bool ok = v.isValid() && v.userType() < QMetaType::User;
        // Keep the stored type of each item whatever the INI text gave back.
        if (ok && fallback.type() != QVariant::String)
            v = QVariant(v.toLongLong(&ok));
        values_[i] = ok ? v : fallback;
        kept[i] = ok;
        moved = moved || (ok && !at.startsWith("config/"));
        complete = complete && ok && at.startsWith("config/");
    }
    QVariant before[ConfigItem::ItemCount];
    std::copy(values_, values_ + ConfigItem::ItemCount, before);
    const bool usable = usable_values();
    for (int i = 0; i < ConfigItem::ItemCount; ++i)
        kept[i] = kept[i] && values_[i] == before[i];
    if (unread_ || (complete && usable))
        return;
    lock.unlock();
    const bool saved = save();
    // A file that holds fewer items than the box keeps, an older one's, is
    // no fault; every other is told in one line.
    QStringList faults;
    if (damage.cut)
        faults << QString("is over %1 KiB (what stands past that is not read)").arg(ini_file::kMaxBytes / 1024);
    if (damage.leftOut)
        faults << (damage.leftOut == 1 ? QString("has a line that does not read")
                                       : QString("has %1 lines that do not read").arg(damage.leftOut));
    if (damage.groupsMended)
        faults
            << (damage.groupsMended == 1
                    ? QString("has a group line without a bracket, taken as that group")
                    : QString("has %1 group lines without a bracket, taken as their groups").arg(damage.groupsMended));
    if (moved)
        faults << "holds the settings outside group [config]";
    if (!usable)
        faults << "holds network values the box cannot use";
    if (faults.isEmpty())
        return;
    const int count = int(std::count(kept, kept + ConfigItem::ItemCount, true));
    const QString items = count == ConfigItem::ItemCount
                              ? QString("all %1 settings kept").arg(count)
                              : QString("%1 of the %2 settings kept").arg(count).arg(int(ConfigItem::ItemCount));
    zevlog::warning(lcCore(), "%s %s: %s%s%s; %s", shown.c_str(), qPrintable(faults.join(", ")), qPrintable(items),
                    moved && saved ? " and moved into [config]" : "",
                    count == ConfigItem::ItemCount ? "" : ", the others at factory values",
                    saved ? "the file is written again" : "the file could not be written again and is kept as it is");
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
    lock.unlock();
    const bool saved = save();
    zevlog::warning(lcCore(), "%s holds network values the box cannot use: factory values taken; %s",
                    board::shownPath(kFile).c_str(),
                    saved ? "the file is written again" : "the file could not be written again and is kept as it is");
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
    // Items that stood outside group "config" move into it.
    for (int i = 0; i < ConfigItem::ItemCount; ++i)
        stored.remove(where(stored, ConfigItem::ConfigName(i)));
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
