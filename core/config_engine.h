// The device settings kept outside the parameter image: 18 items in group "config" of
// "/data/configs/tcpip.ini", loaded at start and written back to the file on every change.
#pragma once

#include <QList>
#include <QMap>
#include <QPair>
#include <QObject>
#include <QSettings>

#include <functional>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class ConfigItem {
public:
    enum ConfigName : int {  // fixed type: ids from the wire may be out of range
        TcpPort = 0,
        UdpPort = 1,
        IPAddress = 2,
        SubNetMask = 3,
        GateWay = 4,
        MAC = 5,
        Barcode = 6,
        WifiIPAddress = 7,
        EDIDCheck = 8,
        SourceCheck = 9,
        ImageLayoutPassword = 10,
        iVorcloudserverip = 11,
        iVorcloudserverport = 12,
        iVorclouduserip = 13,
        iVorcloudcontrollername = 14,
        ZelMaxPixel_UINT = 15,
        usbupgradedir = 16,
        ZelLCDLang = 17,
        ConfigNameCount = 18
    };

    // Takes `stored` (what the file holds for the key, as Qt reads it) or, when that is missing
    // or empty, its default, which it writes into `settings` (the edit of its file), when given.
    ConfigItem(const QString& key, ConfigName id, const QVariant& defaultValue, bool noWrite,
               uint8_t type, const QString& fileName, const QVariant& stored, QSettings* settings);

    QString key;            // with the "config/" prefix
    ConfigName id;
    QVariant defaultValue;
    bool noWrite;           // false for every item: every write goes to the file
    uint8_t type;           // 1 number, 0 text
    QString fileName;       // system path of the INI file
    QVariant value;         // current value
    bool inFile = false;    // the file holds the value (false: a default the file could not take)
};

// Key text ("config/IPAddress") to setting id, filled by the item constructors.
extern QMap<QString, ConfigItem::ConfigName> _itemMap;

class ConfigEngine : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kConfigFile = "/data/configs/tcpip.ini";
    static constexpr const char* kLauncherFile = "/data/configs/led_load_config.ini";
    static constexpr const char* kLauncherAppPath = "/data/app/zelT71N -platform linuxfb";

    // First call: creates the store and derives the device id `g_pid`; every call then copies
    // the settings into their globals and reads the launcher record.
    static ConfigEngine* pInstance();
    static ConfigEngine* p_config;

    // A copy of the item's current value (an invalid QVariant for an id out of range).
    QVariant read_config_variant(ConfigItem::ConfigName id);
    // Writes the item's value to its file and then sets it, before returning. False when the file
    // could not be written: the item keeps its old value, and the home page says so until a
    // later write succeeds.
    bool write_config_variant(ConfigItem::ConfigName id, QVariant value);
    // Writes several items to their file in one replacement of the file, so that a power cut
    // leaves either all old or all new values (the address, mask and gateway together), then sets
    // them. False, with every item unchanged, when the file could not be written.
    bool write_config_variants(const QList<QPair<ConfigItem::ConfigName, QVariant>>& values);

    // Changes an INI file of the system: `edit` works on a QSettings of a hidden scratch copy, and
    // the result replaces the file through filestore::write_atomic (QSettings' own replacement
    // would leave its temporary files under names nothing cleans up, and skip the folder sync).
    // False when the file could not be written.
    // A file whose text the edit replaces by the clean text of what Qt reads of it is kept as a copy
    // first (set aside, and said; `keptAside` set), unless `keptAlready` (the start set it aside).
    static bool edit_ini(const QString& systemPath, const std::function<void(QSettings&)>& edit,
                         bool keptAlready = false, bool* keptAside = nullptr);

    // Whether the item's value is the one its file holds: false for a default that the file
    // could not take at start (a start on a data partition that cannot be written). What only
    // such a default asks for is not acted on.
    bool in_file(ConfigItem::ConfigName id);

    ConfigItem::ConfigName strToItem(QString key);
    bool containsItemStr(QString key);
    ConfigItem* getConfigItem(QString key);  // null for a key that names no item

    std::vector<std::unique_ptr<ConfigItem>> items;   // index = setting id
    FILE* fp = nullptr;         // the parameter file while the parameter model has it open

    // Builds the 32-character device id (plus terminator) from the three identity words.
    static void buildPid(const uint16_t words[3], char pid[33]);

private:
    // edit_ini whose edit is also given the text of the file as it read it (without NUL bytes), and
    // says whether the file may be written (false: the edit fails).
    using IniEdit = std::function<bool(QSettings&, const std::string& text)>;
    static bool editIni(const QString& systemPath, const IniEdit& edit, bool keptAlready = false,
                        bool* keptAside = nullptr);
    explicit ConfigEngine(QObject* parent = nullptr);
    static void loadGlobals();
    // Gives every setting whose stored value cannot be used its default, prints each
    // replacement and stores it.
    void repairSettings();
    using Values = QList<QPair<ConfigItem::ConfigName, QVariant>>;
    // Sets the item in memory, prints the replacement and adds it to `fixes` for the one write.
    void takeDefault(ConfigItem::ConfigName id, Values& fixes);
    void replace(ConfigItem::ConfigName id, const QVariant& value, Values& fixes);
    bool validId(int id) const;   // names an item
    // Gives each setting that the file holds as another type than a text (a list, "@Rect(...)")
    // the user's text of it in `text` (the file as the edit read it, so that a hand edit made while
    // the box runs stays), which QSettings then writes so that Qt reads that text back. False when
    // those texts could not be looked up: the file must not be written then.
    bool keepTexts(QSettings& settings, const std::string& text);
    // Raises or ends the home page's alert for a settings file that cannot be written.
    static void report_store(bool stored);
    // write_config_variants; `userSave` false for the box's own corrections, which leave the
    // record of a file replaced at an earlier start in place.
    bool store(const Values& values, bool userSave);

    std::mutex valueMutex_;     // item values are read and written from several threads
    bool keptAtStart_ = false;  // the start set the settings file aside: its values are kept
};
