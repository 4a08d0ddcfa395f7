#include "core/config_engine.h"

#include "core/global.h"
#include "core/utils.h"
#include "platform/platform.h"
#include "platform/soc.h"

#include <array>

QMap<QString, ConfigItem::ConfigName> _itemMap;
ConfigEngine* ConfigEngine::p_config = nullptr;

namespace {

constexpr uint8_t kNumber = 1;
constexpr uint8_t kText = 0;
const QString kPrefix = QStringLiteral("config/");

struct ItemDef {
    const char* key;
    uint8_t type;
    int numberDefault;
    const char* textDefault;  // used instead of numberDefault when set
};

constexpr std::array<ItemDef, ConfigItem::ConfigNameCount> kItems = {{
    {"config/TcpPort", kNumber, 5005, nullptr},
    {"config/UdpPort", kNumber, 5008, nullptr},
    {"config/IPAddress", kText, 0, "192.168.1.199"},
    {"config/SubNetMask", kText, 0, "255.255.255.0"},
    {"config/GateWay", kText, 0, "192.168.1.1"},
    {"config/MAC", kText, 0, "FF:FF:FF:FF:FF:FF"},
    {"config/Barcode", kText, 0, " "},
    {"config/WifiIPAddress", kText, 0, "192.168.22.101"},
    {"config/EDIDCheck", kText, 0, "Once"},
    {"config/SourceCheck", kNumber, 255, nullptr},
    {"config/ImageLayoutPassword", kText, 0, "No"},
    {"config/iVorcloudserverip", kText, 0, " "},
    {"config/iVorcloudserverport", kNumber, 0, " "},
    {"config/iVorclouduserip", kText, 0, " "},
    {"config/iVorcloudcontrollername", kText, 0, " "},
    {"config/ZelMaxPixel_UINT", kNumber, 20971520, nullptr},
    {"config/usbupgradedir", kText, 0, "ZEL-T71"},
    {"config/ZelLCDLang", kNumber, 65567, nullptr},
}};

QVariant defaultOf(const ItemDef& def)
{
    return def.textDefault ? QVariant(QString::fromLatin1(def.textDefault)) : QVariant(def.numberDefault);
}

// ---- device id ------------------------------------------------------------------------------
// Each character of the id is one formula over nibbles of the identity words U, V, W.
enum Nibble : uint8_t { U0, U1, U2, U3, V0, V1, V2, V3, W0, W1, W2, W3 };
enum class Op : uint8_t { Take, Half, Odd, Mod3, Div3 };
struct PidDigit {
    Op op;
    Nibble a, b, c;  // Take uses a; Half and Odd use a + b; Mod3 and Div3 use a + b + c
};

constexpr std::array<PidDigit, 32> kPidDigits = {{
    {Op::Take, U3, U3, U3}, {Op::Take, V3, V3, V3}, {Op::Take, W3, W3, W3}, {Op::Take, V1, V1, V1},
    {Op::Take, W1, W1, W1}, {Op::Take, W0, W0, W0}, {Op::Take, W2, W2, W2}, {Op::Odd, U3, V3, U0},
    {Op::Half, W3, V1, U0}, {Op::Take, V0, V0, V0}, {Op::Take, V2, V2, V2}, {Op::Half, W0, W1, U0},
    {Op::Half, V3, U3, U0}, {Op::Odd, W0, W1, U0},  {Op::Odd, W3, V1, U0},  {Op::Take, U2, U2, U2},
    {Op::Take, U1, U1, U1}, {Op::Odd, W2, V0, U0},  {Op::Odd, V2, U2, U0},  {Op::Odd, U1, U0, U0},
    {Op::Half, U1, U0, U0}, {Op::Mod3, W3, V3, U3}, {Op::Div3, W3, V3, U3}, {Op::Mod3, U3, V2, U2},
    {Op::Div3, U3, V2, U2}, {Op::Mod3, V1, W2, U1}, {Op::Div3, V1, W2, U1}, {Op::Mod3, W1, V0, U0},
    {Op::Div3, W1, V0, U0}, {Op::Half, V2, U2, U0}, {Op::Half, W2, V0, U0}, {Op::Take, U0, U0, U0},
}};

unsigned nibble(const uint16_t words[3], Nibble n)
{
    return (words[n / 4] >> (4 * (n % 4))) & 0xF;
}

unsigned pidValue(const uint16_t words[3], const PidDigit& d)
{
    unsigned a = nibble(words, d.a), b = nibble(words, d.b), c = nibble(words, d.c);
    switch (d.op) {
    case Op::Take: return a;
    case Op::Half: return (a + b) >> 1;
    case Op::Odd: return (a + b) & 1;
    case Op::Mod3: return (a + b + c) % 3;
    case Op::Div3: return (a + b + c) / 3;
    }
    return 0;
}

char hexChar(unsigned v)
{
    if (v < 10)
        return static_cast<char>('0' + v);
    if (v < 16)
        return static_cast<char>('a' + v - 10);
    return '0';
}

}  // namespace

// ---- ConfigItem ---------------------------------------------------------------------------------

ConfigItem::ConfigItem(const QString& key_, ConfigName id_, const QVariant& defaultValue_, bool noWrite_,
                       uint8_t type_, const QString& fileName_, QSettings& settings)
    : key(key_), id(id_), defaultValue(defaultValue_), noWrite(noWrite_), type(type_), fileName(fileName_)
{
    _itemMap.insert(key, id);
    QVariant stored = settings.value(key);
    if (!stored.toString().isEmpty()) {
        value = stored;
        return;
    }
    // Read once more through a fresh view of the file before falling back to the default.
    QSettings again(platform::rootPath(fileName), QSettings::IniFormat);
    stored = again.value(key);
    if (!stored.toString().isEmpty()) {
        value = stored;
        settings.setValue(key, value);
        return;
    }
    if (!defaultValue.toString().isEmpty()) {
        value = defaultValue;
        if (!noWrite)
            settings.setValue(key, value);
    }
}

// ---- ConfigEngine -------------------------------------------------------------------------------

ConfigEngine::ConfigEngine(QObject* parent) : QObject(parent)
{
    const QString file = QString::fromLatin1(kConfigFile);
    platform::makeParentDirs(kConfigFile);
    QSettings settings(platform::rootPath(file), QSettings::IniFormat);
    // Synchronous writes for the settings file.
    Utils::system_mutex(QStringLiteral("chattr +S %1").arg(file));
    for (int id = 0; id < ConfigItem::ConfigNameCount; ++id) {
        const ItemDef& def = kItems[id];
        items.push_back(std::make_unique<ConfigItem>(QString::fromLatin1(def.key),
                                                     static_cast<ConfigItem::ConfigName>(id), defaultOf(def),
                                                     false, def.type, file, settings));
    }
    settings.sync();
}

void ConfigEngine::buildPid(const uint16_t words[3], char pid[33])
{
    for (size_t k = 0; k < kPidDigits.size(); ++k)
        pid[k] = hexChar(pidValue(words, kPidDigits[k]));
    pid[32] = '\0';
}

ConfigEngine* ConfigEngine::pInstance()
{
    if (!p_config) {
        p_config = new ConfigEngine();
        uint16_t words[3] = {0, 0, 0};
        // Without the identity words the device id stays empty; the settings load all the same.
        if (platform::soc().read(words)) {
            ZEL_DEBUG("\n mmap uuid161= %#x ,%#X ,%#x \n", words[0], words[1], words[2]);
            buildPid(words, g_pid);
            for (int k = 0; k < 32; ++k)
                ZEL_DEBUG(" %#x ", g_pid[k]);
        } else {
            g_pid[0] = '\0';
        }
    }
    loadGlobals();
    return p_config;
}

void ConfigEngine::loadGlobals()
{
    Utils::getIPAddress();
    QSettings launcher(platform::rootPath(QString::fromLatin1(kLauncherFile)), QSettings::IniFormat);
    launcher.beginGroup(QStringLiteral("app-1"));
    QString appPath = launcher.value(QStringLiteral("app_path")).toString();
    launcher.endGroup();
    g_update_status = appPath == QLatin1String(kLauncherAppPath) ? 1 : 0;
    factoryage_log.clear();
}

bool ConfigEngine::validId(int id) const
{
    return id >= 0 && static_cast<size_t>(id) < items.size();
}

QVariant ConfigEngine::read_config_variant(ConfigItem::ConfigName id)
{
    if (!validId(id))
        return QVariant();
    std::lock_guard<std::mutex> lock(valueMutex_);
    return items[id]->value;
}

void ConfigEngine::write_config_variant(ConfigItem::ConfigName id, QVariant value)
{
    write_config_variants({{id, std::move(value)}});
}

void ConfigEngine::write_config_variants(const QList<QPair<ConfigItem::ConfigName, QVariant>>& values)
{
    std::lock_guard<std::mutex> lock(valueMutex_);
    QString fileName;
    for (const auto& [id, value] : values) {
        if (!validId(id))
            continue;
        items[id]->value = value;
        if (!items[id]->noWrite && !items[id]->fileName.isEmpty())
            fileName = items[id]->fileName;
    }
    if (fileName.isEmpty())
        return;
    platform::makeParentDirs(fileName.toStdString());
    // QSettings replaces the file through a temporary file on sync: all values land together.
    QSettings settings(platform::rootPath(fileName), QSettings::IniFormat);
    settings.setAtomicSyncRequired(true);
    for (const auto& [id, value] : values)
        if (validId(id) && !items[id]->noWrite && items[id]->fileName == fileName)
            settings.setValue(_itemMap.key(id, items[id]->key), value);
    settings.sync();
}

ConfigItem::ConfigName ConfigEngine::strToItem(QString key)
{
    if (!key.startsWith(kPrefix))
        key.prepend(kPrefix);
    return _itemMap.value(key, ConfigItem::TcpPort);
}

bool ConfigEngine::containsItemStr(QString key)
{
    if (!key.startsWith(kPrefix))
        key.prepend(kPrefix);
    return _itemMap.contains(key);
}

ConfigItem* ConfigEngine::getConfigItem(QString key)
{
    if (!containsItemStr(key))
        return nullptr;
    int id = strToItem(key);
    return validId(id) ? items[id].get() : nullptr;
}
