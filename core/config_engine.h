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
    // The longest barcode stored, in UTF-8 bytes: far more than any serial
    // text, and well inside what the settings file reads back.
    static constexpr int kMaxBarcodeBytes = 4096;
    // Path of the settings file as the system names it.
    static const char* kFile;

    // Re-reads the file (tests and the factory reset use it). Items the
    // file holds and the box can use are kept wherever they stand: past
    // lines that do not parse or are too long, under a group line that lost
    // a bracket, and, in a file with none of them in group "config", in the
    // group they are in. Items missing, not numbers where numbers belong, or
    // network values the set-IP command would refuse take their factory
    // defaults, and the file is then written again with what is in effect;
    // a warning says what was kept. A file that cannot be read, or that
    // leads out of the data root, is left as it is: the box runs on the
    // factory defaults and stores nothing until a load reads it.
    void load();
    // Replaces every unusable address, mask, gateway or command port by its
    // factory default and stores the settings when one was.
    void keep_usable();

  private:
    ConfigEngine();
    // Writes every item, and keeps what else the file holds; false, with
    // the file as it was, when it cannot be written or read back, or while
    // its settings could not be read.
    bool save();
    // keep_usable on the values under the lock: false when one was replaced.
    bool usable_values();
    // Changes the values, saves them and, when the file was not written,
    // puts the old values back.
    bool store(const std::function<void(QVariant* values)>& change);
    void deriveDeviceId();
    // One store at a time: a store that puts its old values back would
    // otherwise undo another one told it was saved.
    QMutex store_mutex_;
    QMutex mutex_;
    QVariant values_[ConfigItem::ItemCount];
    // The last load could not read the file: the values are not the stored
    // ones, and must not replace them.
    bool unread_ = false;
};
