// The persistent settings: 18 items in group "config" of
// "/data/configs/tcpip.ini".
#pragma once

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
    void write_config_variant(ConfigItem::ConfigName item, const QVariant& value);

    static const char* keyName(ConfigItem::ConfigName item);
    static QVariant defaultValue(ConfigItem::ConfigName item);
    // Path of the settings file as the system names it.
    static const char* kFile;

    // Re-reads the file (tests and the factory reset use it).
    void load();

  private:
    ConfigEngine();
    void save();
    void deriveDeviceId();
    QMutex mutex_;
    QVariant values_[ConfigItem::ItemCount];
};
