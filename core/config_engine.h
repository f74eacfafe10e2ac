// The persistent settings: 18 items in group "config" of
// "/data/configs/tcpip.ini".
#pragma once

#include <functional>
#include <initializer_list>
#include <utility>

#include <QMutex>
#include <QString>
#include <QVariant>

#include "board/file_read.h"

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

    // Re-reads the file (tests and the factory reset use it). A file that
    // cannot be read whole within kMaxIniBytes, or does not parse, is
    // deleted; items missing, not numbers where numbers belong, or network
    // values the set-IP command would refuse take their factory defaults,
    // and the file is then written again with what is in effect.
    void load();
    // Replaces every unusable address, mask, gateway or command port by its
    // factory default and stores the settings when one was.
    void keep_usable();

    // Settings files hold a few hundred bytes.
    static constexpr size_t kMaxIniBytes = 64 * 1024;
    // Whether the INI file at a host path is missing, sound (read whole
    // within kMaxIniBytes and parsed) or damaged.
    static board::FileRead check_ini(const QString& hostPath);
    // QSettings takes the lock file "<file>.lock" before it writes, opening
    // one that is there to see whose it is: anything but a plain file there
    // (a FIFO would hold that open) is removed first. False when it cannot
    // be, and the write must not start.
    static bool clear_ini_lock(const QString& hostPath);

  private:
    ConfigEngine();
    // Writes every item; false, with nothing written, while the file is
    // damaged.
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
};
