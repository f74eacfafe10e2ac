#include "core/config_engine.h"

#include <algorithm>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "board/board.h"
#include "core/global.h"
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

board::FileRead ConfigEngine::check_ini(const QString& hostPath)
{
    QByteArray text;
    const board::FileRead read = board::read_whole(hostPath.toStdString(), kMaxIniBytes, &text);
    if (read != board::FileRead::whole)
        return read;
    QSettings s(hostPath, QSettings::IniFormat);
    return s.status() == QSettings::NoError ? read : board::FileRead::damaged;
}

void ConfigEngine::load()
{
    QMutexLocker lock(&mutex_);
    const QString file = board::path(QString(kFile));
    QVariant stored[ConfigItem::ItemCount];
    board::FileRead read;
    {
        QMutexLocker fileLock(&Utils::_file_deal_mutex);
        read = check_ini(file);
        // A damaged file never reaches QSettings, which would read all of it.
        if (read == board::FileRead::whole) {
            QSettings s(file, QSettings::IniFormat);
            for (int i = 0; i < ConfigItem::ItemCount; ++i)
                stored[i] = s.value(QString("config/") + keyName(ConfigItem::ConfigName(i)));
        }
    }
    if (read == board::FileRead::damaged) {
        zevlog::warning(lcCore(), "%s is damaged: factory settings", board::shownPath(kFile).c_str());
        Utils::system_mutex(QString("rm -rf %1").arg(kFile));
    }
    bool complete = read == board::FileRead::whole;
    for (int i = 0; i < ConfigItem::ItemCount; ++i) {
        auto item = ConfigItem::ConfigName(i);
        const QVariant fallback = defaultValue(item);
        QVariant v = stored[i];
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
    if (!complete) {
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
    QMutexLocker fileLock(&Utils::_file_deal_mutex);
    QString file = board::path(QString(kFile));
    QDir().mkpath(QFileInfo(file).absolutePath());
    // QSettings would read all of a damaged file and keep what it holds.
    if (check_ini(file) == board::FileRead::damaged)
        return false;
    // QSettings writes through a temporary file that is synced and renamed,
    // so a power cut never leaves a half-written settings file.
    QSettings s(file, QSettings::IniFormat);
    s.beginGroup("config");
    for (int i = 0; i < ConfigItem::ItemCount; ++i)
        s.setValue(keyName(ConfigItem::ConfigName(i)), values_[i]);
    s.endGroup();
    s.sync();
    return s.status() == QSettings::NoError;
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
    {
        QMutexLocker lock(&mutex_);
        std::copy(old, old + ConfigItem::ItemCount, values_);
    }
    // QSettings keeps the values it could not write and writes them when it
    // next can: they must be the stored ones again.
    save();
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
