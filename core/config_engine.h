// The persistent settings: 18 items in group "config" of
// "/data/configs/tcpip.ini".
#pragma once

#include <functional>
#include <initializer_list>
#include <utility>

#include <QMutex>
#include <QString>
#include <QVariant>

namespace ConfigItem
{
enum ConfigName {
    TcpPort = 0,
    UdpPort,
    IPAddress,
    SubNetMask,
    GateWay,
    MAC,
    Barcode,
    WifiIPAddress,
    EDIDCheck,
    SourceCheck,
    usbupgradedir,
    Nubocloudserverip,
    Nubocloudserverport,
    Nuboclouduserip,
    Nubocloudcontrollername,
    ZevMaxPixel,
    Nubocloudenable,
    ZevLCDLang,
    ItemCount
};
}

class ConfigEngine
{
  public:
    static ConfigEngine* pInstance();
    static ConfigEngine* p_config;

    QVariant read_config_variant(ConfigItem::ConfigName item);
    // Stores the items in the settings file; false when the file did not
    // reach the disk, and then every item keeps its old value.
    bool write_config_variant(ConfigItem::ConfigName item, const QVariant& value);
    bool write_config_variants(std::initializer_list<std::pair<ConfigItem::ConfigName, QVariant>> items);

    static const char* keyName(ConfigItem::ConfigName item);
    static QVariant defaultValue(ConfigItem::ConfigName item);
    // Path of the settings file as the system names it.
    static const char* kFile;

    // Re-reads the file (tests and the factory reset use it).
    void load();

  private:
    ConfigEngine();
    bool save();
    // Changes the values, saves them and, when the file was not written,
    // puts the old values back.
    bool store(const std::function<void(QVariant* values)>& change);
    void deriveDeviceId();
    // One store at a time: a store that puts its old values back would
    // otherwise undo another one told it was saved.
    QMutex store_mutex_;
    QMutex mutex_;
    QVariant values_[ConfigItem::ItemCount];
};
