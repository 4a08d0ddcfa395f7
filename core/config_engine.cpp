#include "core/config_engine.h"

#include <QFileInfo>

#include <cstdio>

#include "core/alerts.h"
#include "core/file_store.h"
#include "core/global.h"
#include "core/utils.h"
#include "platform/platform.h"
#include "platform/soc.h"

#include <algorithm>
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

// ---- checks of the stored values ------------------------------------------------------------
// A setting whose stored value the box cannot use takes its default at start. The address,
// mask and gateway are checked as one set: each that fails on its own first, then the set.
enum class Check : uint8_t { HostAddress, Netmask, Port, PortOrBlank, Byte, PixelCount, LanguageMask };
struct SettingCheck {
    ConfigItem::ConfigName id;
    Check check;
};

constexpr SettingCheck kSettingChecks[] = {
    {ConfigItem::TcpPort, Check::Port},
    {ConfigItem::UdpPort, Check::Port},
    {ConfigItem::IPAddress, Check::HostAddress},
    {ConfigItem::SubNetMask, Check::Netmask},
    {ConfigItem::WifiIPAddress, Check::HostAddress},
    {ConfigItem::SourceCheck, Check::Byte},
    {ConfigItem::iVorcloudserverport, Check::PortOrBlank},
    {ConfigItem::ZelMaxPixel_UINT, Check::PixelCount},
    {ConfigItem::ZelLCDLang, Check::LanguageMask},
};

constexpr qlonglong kMaxPort = 65535;
constexpr qlonglong kMaxByte = 255;
constexpr qlonglong kMaxPixels = 0x7FFFFFFF;
constexpr qlonglong kOfferedLanguages = 0x1F;   // at least one of languages 0-4
constexpr qlonglong kMaxLanguageMask = 0xFFFFFFFF;

bool numberIn(const QVariant& v, qlonglong lo, qlonglong hi)
{
    bool ok = false;
    const qlonglong n = v.toString().trimmed().toLongLong(&ok);
    return ok && n >= lo && n <= hi;
}

bool usable(Check check, const QVariant& v)
{
    switch (check) {
    case Check::HostAddress: return Utils::isHostAddress(v.toString());
    case Check::Netmask: return Utils::isNetmask(v.toString());
    case Check::Port: return numberIn(v, 1, kMaxPort);
    case Check::PortOrBlank: return v.toString().trimmed().isEmpty() || numberIn(v, 0, kMaxPort);
    case Check::Byte: return numberIn(v, 0, kMaxByte);
    case Check::PixelCount: return numberIn(v, 1, kMaxPixels);
    case Check::LanguageMask:
        return numberIn(v, 1, kMaxLanguageMask) && (v.toString().trimmed().toLongLong() & kOfferedLanguages) != 0;
    }
    return false;
}

// A hidden scratch copy of an INI file of the system holding `bytes`, for QSettings to work on:
// QSettings would block on a FIFO and fail on a folder, and replaces files in its own way. The
// system path of the copy; `whole`, when given, tells whether it holds all of `bytes` (a copy
// that does not is removed).
std::string scratchCopy(const std::string& systemPath, const char* use, const std::string& bytes,
                        bool* whole = nullptr)
{
    const std::string scratch = filestore::temp_path(systemPath + use);
    const bool written = filestore::write_scratch(scratch, bytes);
    if (whole)
        *whole = written;
    return scratch;
}

// What Qt can read of a settings file: without a UTF-8 byte-order mark, NUL bytes, "#" comment
// lines and lines that are neither a group, a key with its value, a ";" comment nor blank. Qt
// reports a format error for each of these although it reads every key around them, and the file
// is the user's settings all the same. A file Qt wrote itself comes back unchanged.
std::string readableIni(std::string bytes)
{
    static const std::string kBom = "\xEF\xBB\xBF";
    if (bytes.compare(0, kBom.size(), kBom) == 0)
        bytes.erase(0, kBom.size());
    bytes.erase(std::remove(bytes.begin(), bytes.end(), '\0'), bytes.end());
    std::string kept;
    kept.reserve(bytes.size());
    size_t from = 0;
    while (from < bytes.size()) {
        size_t end = bytes.find('\n', from);
        end = end == std::string::npos ? bytes.size() : end + 1;
        const std::string line = bytes.substr(from, end - from);
        from = end;
        const size_t first = line.find_first_not_of(" \t\r\n");
        const size_t last = line.find_last_not_of(" \t\r\n");
        const bool keep = first == std::string::npos || line[first] == ';' ||
                          (line[first] == '[' ? line[last] == ']' : line[first] != '#' && line.find('=') != std::string::npos);
        if (keep)
            kept += line;
    }
    return kept;
}

// True when Qt reads `bytes` as an INI file.
bool iniParses(const std::string& systemPath, const std::string& bytes)
{
    const std::string scratch = platform::rootPath(scratchCopy(systemPath, ".check", bytes));
    bool ok;
    {
        QSettings settings(QString::fromStdString(scratch), QSettings::IniFormat);
        settings.allKeys();   // the status tells of every line only once the keys were asked for
        ok = settings.status() == QSettings::NoError;
    }
    std::remove(scratch.c_str());
    return ok;
}

// True when Qt reads `bytes` as exactly the keys and values of `values`.
bool iniHolds(const std::string& systemPath, const std::string& bytes, const QMap<QString, QVariant>& values)
{
    bool whole = false;
    const std::string scratch = platform::rootPath(scratchCopy(systemPath, ".check", bytes, &whole));
    bool same = whole;
    if (whole) {
        QSettings settings(QString::fromStdString(scratch), QSettings::IniFormat);
        const QStringList keys = settings.allKeys();
        same = keys.size() == values.size();
        for (const QString& key : keys) {
            const QVariant back = settings.value(key), want = values.value(key);
            same = same && values.contains(key) && (back == want || back.toString() == want.toString());
        }
    }
    std::remove(scratch.c_str());
    return same;
}

// Writes every key Qt reads of `bytes` as a whole new settings file; false when it is not written.
bool storeReadable(const std::string& bytes)
{
    const std::string system = ConfigEngine::kConfigFile;
    bool whole = false;
    const std::string from = platform::rootPath(scratchCopy(system, ".check", readableIni(bytes), &whole));
    if (!whole)
        return false;   // the file stays as it is
    const std::string toSystem = scratchCopy(system, ".clean", std::string());
    const std::string to = platform::rootPath(toSystem);
    std::remove(to.c_str());
    {
        QSettings in(QString::fromStdString(from), QSettings::IniFormat);
        QSettings out(QString::fromStdString(to), QSettings::IniFormat);
        out.setAtomicSyncRequired(false);   // a scratch file, written in place
        for (const QString& key : in.allKeys())
            out.setValue(key, in.value(key));
        out.sync();
    }
    std::string clean;
    bool ok = filestore::read_whole(toSystem, clean, filestore::kMaxTextFile) == filestore::Found::File;
    std::remove(from.c_str());
    std::remove(to.c_str());
    return ok && filestore::write_atomic(system, reinterpret_cast<const unsigned char*>(clean.data()), clean.size()) == 0;
}

// Settings the box keeps for itself (the record that its start-up EDID work is done): storing
// them is no save of the user's settings.
bool userSettingIn(const QList<QPair<ConfigItem::ConfigName, QVariant>>& values)
{
    for (const auto& value : values)
        if (value.first != ConfigItem::EDIDCheck)
            return true;
    return false;
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
    // Read once more through a fresh view of the file before falling back to the default (only a
    // file: QSettings would wait on a FIFO left in its place).
    const QString real = platform::rootPath(fileName);
    if (QFileInfo(real).isFile())
        stored = QSettings(real, QSettings::IniFormat).value(key);
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
    // Synchronous writes for the settings file.
    Utils::system_mutex(QStringLiteral("chattr +S %1").arg(file));
    auto load = [&] {
        // Missing or empty keys get their defaults written.
        edit_ini(file, [&](QSettings& settings) {
            for (int id = 0; id < ConfigItem::ConfigNameCount; ++id) {
                const ItemDef& def = kItems[id];
                items.push_back(std::make_unique<ConfigItem>(QString::fromLatin1(def.key),
                                                             static_cast<ConfigItem::ConfigName>(id), defaultOf(def),
                                                             false, def.type, file, settings));
            }
        });
        repairSettings();
    };
    // A file that cannot be read as settings would keep every later write from reaching it. One
    // that reads is the user's settings: what Qt reads of it is kept and stored cleanly.
    std::string bytes, why;
    const filestore::Found found = filestore::read_whole(kConfigFile, bytes, filestore::kMaxTextFile, &why);
    if (found == filestore::Found::Unusable) {
        filestore::set_aside(kConfigFile, why, "the file is replaced by the defaults", load);
    } else if (found == filestore::Found::File &&
               (readableIni(bytes) != bytes || !iniParses(kConfigFile, readableIni(bytes)))) {
        filestore::set_aside(kConfigFile, "cannot be read as settings as it stands",
                             "the settings it holds are used and stored again", [&] {
                                 storeReadable(bytes);
                                 load();
                             });
    } else {
        load();
    }
}

bool ConfigEngine::edit_ini(const QString& systemPath, const std::function<void(QSettings&)>& edit)
{
    const std::string system = systemPath.toStdString();
    std::string before;
    const filestore::Found found = filestore::read_whole(system, before, filestore::kMaxTextFile);
    const bool existed = found == filestore::Found::File;
    bool whole = false;
    const std::string scratchSystem = scratchCopy(system, ".edit", readableIni(before), &whole);
    const std::string scratch = platform::rootPath(scratchSystem);
    // A folder or a FIFO in its place is not replaced, nor a file whose copy did not take all of it.
    bool ok = found != filestore::Found::Unusable && whole;
    if (!existed)
        std::remove(scratch.c_str());
    // Every key the new file must hold, with its value: what QSettings read of the file and the
    // edit. A write the disk did not take can leave QSettings' own copy short without a word.
    QMap<QString, QVariant> values;
    {
        QSettings settings(QString::fromStdString(scratch), QSettings::IniFormat);
        settings.setAtomicSyncRequired(false);   // the scratch copy is written in place
        edit(settings);
        for (const QString& key : settings.allKeys())
            values.insert(key, settings.value(key));
        settings.sync();
        ok = settings.status() == QSettings::NoError && ok;
    }
    std::string bytes;
    ok = filestore::read_whole(scratchSystem, bytes, filestore::kMaxTextFile) == filestore::Found::File && ok;
    std::remove(scratch.c_str());
    if (ok && existed && bytes == before)
        return true;   // nothing changed: the flash is not written for it
    ok = ok && iniHolds(system, bytes, values) &&
         filestore::write_atomic(system, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == 0;
    if (!ok)
        std::fprintf(stderr, "zelT71N: cannot write the settings file %s\n", qPrintable(platform::rootPath(systemPath)));
    return ok;
}

void ConfigEngine::repairSettings()
{
    // All replacements land in one write of the file at the end (the address, mask and gateway
    // together); the checks below see each one in memory at once.
    Values fixes;
    for (const SettingCheck& c : kSettingChecks)
        if (!usable(c.check, items[c.id]->value))
            takeDefault(c.id, fixes);
    auto fault = [this] {
        return Utils::checkNetwork(items[ConfigItem::IPAddress]->value.toString(),
                                   items[ConfigItem::SubNetMask]->value.toString(),
                                   items[ConfigItem::GateWay]->value.toString());
    };
    // An address that is its network's own or broadcast address under the mask: the pair is
    // wrong, and the box is found again at its default address.
    if (fault() == Utils::NetFault::Address) {
        takeDefault(ConfigItem::IPAddress, fixes);
        takeDefault(ConfigItem::SubNetMask, fixes);
    }
    // A gateway off the network: the default when it fits, else the network's first host. The
    // address the box is known at is kept.
    if (fault() == Utils::NetFault::Gateway) {
        const QString address = items[ConfigItem::IPAddress]->value.toString();
        const QString mask = items[ConfigItem::SubNetMask]->value.toString();
        const QString fallback = items[ConfigItem::GateWay]->defaultValue.toString();
        replace(ConfigItem::GateWay,
                Utils::checkNetwork(address, mask, fallback) == Utils::NetFault::None
                    ? fallback
                    : Utils::firstOtherHost(address, mask),
                fixes);
    }
    if (!fixes.isEmpty())
        store(fixes, false);
}

void ConfigEngine::takeDefault(ConfigItem::ConfigName id, Values& fixes) { replace(id, items[id]->defaultValue, fixes); }

void ConfigEngine::replace(ConfigItem::ConfigName id, const QVariant& value, Values& fixes)
{
    ConfigItem* item = items[id].get();
    if (item->value.toString() == value.toString())
        return;
    // Printed whatever the debug switch: the box starts on another value than its file holds.
    std::fprintf(stderr, "settings: %s=\"%s\" cannot be used, %s=\"%s\" is used and stored\n",
                 qPrintable(item->key), qPrintable(item->value.toString()), qPrintable(item->key),
                 qPrintable(value.toString()));
    item->value = value;
    fixes.append({id, value});
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
    // The launcher's own file: read only when it is a file (QSettings would wait on a FIFO), and
    // left where it is whatever it holds.
    QString appPath;
    const QString launcherFile = platform::rootPath(QString::fromLatin1(kLauncherFile));
    if (QFileInfo(launcherFile).isFile()) {
        QSettings launcher(launcherFile, QSettings::IniFormat);
        launcher.beginGroup(QStringLiteral("app-1"));
        appPath = launcher.value(QStringLiteral("app_path")).toString();
        launcher.endGroup();
    }
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

bool ConfigEngine::write_config_variant(ConfigItem::ConfigName id, QVariant value)
{
    return write_config_variants({{id, std::move(value)}});
}

bool ConfigEngine::write_config_variants(const QList<QPair<ConfigItem::ConfigName, QVariant>>& values)
{
    return store(values, true);
}

bool ConfigEngine::store(const Values& values, bool userSave)
{
    std::lock_guard<std::mutex> lock(valueMutex_);
    QString fileName;
    for (const auto& [id, value] : values)
        if (validId(id) && !items[id]->noWrite && !items[id]->fileName.isEmpty())
            fileName = items[id]->fileName;
    // One replacement of the file: all values land together.
    const bool stored = fileName.isEmpty() || edit_ini(fileName, [&](QSettings& settings) {
        for (const auto& [id, value] : values)
            if (validId(id) && !items[id]->noWrite && items[id]->fileName == fileName)
                settings.setValue(_itemMap.key(id, items[id]->key), value);
    });
    report_store(stored);
    // Memory follows the file: a value a restart would not find is never read back or acted on.
    if (!stored)
        return false;
    for (const auto& [id, value] : values)
        if (validId(id))
            items[id]->value = value;
    if (userSave && userSettingIn(values))
        filestore::saved(fileName.toStdString());
    return true;
}

void ConfigEngine::report_store(bool stored)
{
    const std::string file = platform::rootPath(kConfigFile);
    if (stored)
        alerts::clear(alerts::kSettingsFileNotWritten, "the settings file " + file + " is written again");
    else
        alerts::raise(alerts::kSettingsFileNotWritten,
                      "the settings file " + file + " cannot be written: setting changes are refused");
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
