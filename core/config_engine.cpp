#include "core/config_engine.h"

#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "core/alerts.h"
#include "core/file_store.h"
#include "core/global.h"
#include "core/utils.h"
#include "platform/platform.h"
#include "platform/soc.h"

#include <algorithm>
#include <array>
#include <map>
#include <mutex>

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

// QSettings keeps what it read of a file by name, and takes a file of the same size and time (to
// the millisecond) as one it read under that name as read already, its format errors unsaid. Each
// copy it reads gets a later time than the copy before it (`fd` an open copy, else `path`).
void newerThanTheLast(const std::string& path, int fd = -1)
{
    static std::mutex mutex;
    static long long lastMs = 0;
    std::lock_guard<std::mutex> lock(mutex);
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    lastMs = std::max(lastMs + 1, static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
    const timespec times[2] = {{time_t(lastMs / 1000), long(lastMs % 1000) * 1000000},
                               {time_t(lastMs / 1000), long(lastMs % 1000) * 1000000}};
    if (fd >= 0)
        ::futimens(fd, times);
    else
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
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
    newerThanTheLast(platform::rootPath(scratch));
    return scratch;
}

// A copy of `bytes` for QSettings to read, held in memory: reading the settings never depends on
// the data partition taking a file (read-only, immutable, full). Where the system has no memory
// files, a hidden scratch copy beside the file as for an edit. QSettings reads it through its name
// and takes no lock for a reading.
class ReadCopy {
public:
    ReadCopy(const std::string& systemPath, const std::string& bytes)
    {
#ifdef SYS_memfd_create
        constexpr unsigned kCloseOnExec = 1;   // MFD_CLOEXEC
        fd_ = int(::syscall(SYS_memfd_create, "zelT71N-settings", kCloseOnExec));
#endif
        if (fd_ >= 0 && written(bytes)) {
            path_ = "/proc/self/fd/" + std::to_string(fd_);
            newerThanTheLast(path_, fd_);
            if (::access(path_.c_str(), R_OK) == 0)
                return;
        }
        drop();
        scratch_ = platform::rootPath(scratchCopy(systemPath, ".check", bytes, &whole_));
        path_ = scratch_;
    }
    ~ReadCopy() { drop(); }
    ReadCopy(const ReadCopy&) = delete;
    ReadCopy& operator=(const ReadCopy&) = delete;

    bool whole() const { return whole_; }   // false: no copy holds the bytes
    QString path() const { return QString::fromStdString(path_); }

private:
    bool written(const std::string& bytes)
    {
        for (size_t at = 0; at < bytes.size();) {
            const ssize_t n = ::write(fd_, bytes.data() + at, bytes.size() - at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            at += size_t(n);
        }
        return true;
    }
    void drop()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        if (!scratch_.empty())
            std::remove(scratch_.c_str());
        scratch_.clear();
    }

    int fd_ = -1;
    bool whole_ = true;
    std::string path_, scratch_;
};

// QSettings parses a group of an INI file only when a key of it is first asked for, and a key of
// one group written at the top or under [General] ("config\Barcode=A") only when every group is:
// until then value() and contains() miss it. Every lookup comes after this.
void parseWhole(QSettings& settings) { settings.allKeys(); }

// A key QSettings writes back under another name: an empty one, or one with an empty part
// ("config/" from a line "=value", "config//x" from "\x=value"), which it writes as "config" or
// "config/x". A text holding such keys would never read back the same, so it is left out.
bool writableAsRead(const QString& key)
{
    return !key.split(QLatin1Char('/')).contains(QString());
}

// What Qt reads of an INI file: every key of every group with its value, as Qt decoded it (the
// file's byte-order mark decides how), and whether Qt found the file well-formed. Qt reads every
// key around a line it cannot take, and QSettings would then refuse to write the file.
struct IniReading {
    QSettings::Status status = QSettings::NoError;
    QList<QPair<QString, QVariant>> values;   // keys Qt cannot store again (empty ones) left out
    bool whole = true;   // false: a full disk cut the copy Qt read short, so nothing is known of it
    bool operator==(const IniReading& o) const { return values == o.values; }
};

IniReading readingOf(const std::string& systemPath, const std::string& bytes)
{
    IniReading reading;
    const ReadCopy copy(systemPath, bytes);
    reading.whole = copy.whole();
    QSettings settings(copy.path(), QSettings::IniFormat);
    for (const QString& key : settings.allKeys())
        if (writableAsRead(key))
            reading.values.append({key, settings.value(key)});
    reading.status = settings.status();   // tells of every line once the keys were asked for
    return reading;
}

// The text QSettings writes of `reading` (every value escaped as it needs, whatever the original's
// encoding); false when it could not be written.
bool textOf(const std::string& systemPath, const IniReading& reading, std::string& text)
{
    const std::string scratchSystem = scratchCopy(systemPath, ".clean", std::string());
    const std::string scratch = platform::rootPath(scratchSystem);
    bool ok;
    {
        QSettings out(QString::fromStdString(scratch), QSettings::IniFormat);
        out.setAtomicSyncRequired(false);   // a scratch file, written in place
        for (const auto& [key, value] : reading.values)
            out.setValue(key, value);
        out.sync();
        ok = out.status() == QSettings::NoError;
    }
    ok = filestore::read_whole(scratchSystem, text, filestore::kMaxTextFile) == filestore::Found::File && ok;
    std::remove(scratch.c_str());
    return ok;
}

// True when Qt reads `bytes` as exactly the keys and values of `values`.
bool iniHolds(const std::string& systemPath, const std::string& bytes, const QMap<QString, QVariant>& values)
{
    const ReadCopy copy(systemPath, bytes);
    bool same = copy.whole();
    if (same) {
        QSettings settings(copy.path(), QSettings::IniFormat);
        const QStringList keys = settings.allKeys();
        same = keys.size() == values.size();
        for (const QString& key : keys) {
            const QVariant back = settings.value(key), want = values.value(key);
            same = same && values.contains(key) && (back == want || back.toString() == want.toString());
        }
    }
    return same;
}

// The text of each INI file that QSettings is known to write back as Qt read it (by its hash): one
// asked before, or the box's own last write of the file, which QSettings wrote and which read back
// holding every key it held. A save of a file the box wrote is not asked again.
class KnownTexts {
public:
    bool known(const std::string& systemPath, const std::string& text)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = hashes_.find(systemPath);
        return it != hashes_.end() && it->second == std::hash<std::string>()(text);
    }
    void remember(const std::string& systemPath, const std::string& text)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hashes_[systemPath] = std::hash<std::string>()(text);
    }

private:
    std::mutex mutex_;
    std::map<std::string, size_t> hashes_;
};
KnownTexts writtenAsRead;

// Whether QSettings, editing a file Qt reads well-formed, writes it back as Qt read it. It does not
// always: it drops a byte-order mark and writes the rest as UTF-8, which Qt then reads as Latin-1;
// it writes a key with an empty name in a nested group ("[x\\sub]" "=value") as a line Qt cannot
// read. Asked of QSettings itself on a scratch copy; a copy or a rewrite the disk does not take
// tells nothing, and the file is taken as it stands.
bool rewritesAsRead(const std::string& systemPath, const std::string& text, const IniReading& reading)
{
    if (reading.values.isEmpty() || writtenAsRead.known(systemPath, text))
        return true;
    bool whole = false;
    const std::string scratchSystem = scratchCopy(systemPath, ".edit", text, &whole);
    const std::string scratch = platform::rootPath(scratchSystem);
    if (whole) {
        QSettings settings(QString::fromStdString(scratch), QSettings::IniFormat);
        settings.setAtomicSyncRequired(false);   // the scratch copy is written in place
        parseWhole(settings);
        const QString& key = reading.values.first().first;
        settings.setValue(key, settings.value(key));   // a change: QSettings writes the file
        settings.sync();
        whole = settings.status() == QSettings::NoError;
    }
    // QSettings ends every line it writes, and says nothing of a write a full disk cut short: a
    // rewrite that does not end a line was not written whole.
    std::string back;
    whole = whole && filestore::read_whole(scratchSystem, back, filestore::kMaxTextFile) == filestore::Found::File &&
            !back.empty() && back.back() == '\n';
    std::remove(scratch.c_str());
    if (!whole)
        return true;
    const IniReading again = readingOf(systemPath, back);
    if (!again.whole)
        return true;
    const bool same = again.status == QSettings::NoError && again == reading;
    if (same)
        writtenAsRead.remember(systemPath, text);
    return same;
}

// NUL bytes are what a power cut leaves in a text file, never its text: Qt would take them into
// the keys and values around them. In a file marked as UTF-16 they are its text.
std::string withoutNuls(std::string bytes)
{
    if (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0)
        return bytes;
    bytes.erase(std::remove(bytes.begin(), bytes.end(), '\0'), bytes.end());
    return bytes;
}

// The text a QSettings edit of an INI file starts from (without NUL bytes): the file itself when
// Qt finds it well-formed and QSettings writes it back as read; else what Qt reads of it written
// cleanly, when that reads back the same; nothing when Qt reads nothing of it. Otherwise the file
// itself again, which QSettings refuses to write: a file is never replaced by less than Qt read of
// it. `known` false: the disk could not take the copy Qt reads, so nothing may replace the file.
// `repaired`: the text is what Qt reads of the file written cleanly, not the file's own.
std::string editableText(const std::string& systemPath, const std::string& bytes, bool& known, bool& repaired)
{
    const std::string text = withoutNuls(bytes);
    const IniReading reading = readingOf(systemPath, text);
    known = reading.whole;
    repaired = false;
    if ((reading.status == QSettings::NoError && rewritesAsRead(systemPath, text, reading)) || !reading.whole)
        return text;
    if (reading.values.isEmpty())
        return std::string();
    std::string clean;
    repaired = textOf(systemPath, reading, clean) && readingOf(systemPath, clean) == reading;
    return repaired ? clean : bytes;
}

// What is said of a file whose text a clean one replaces, and of what the box does with it.
constexpr char kNotAsItStands[] = "cannot be read as settings as it stands";
constexpr char kSettingsKept[] = "the settings it holds are used and stored again";

constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";

bool startsWithMark(const std::string& text) { return text.compare(0, 3, kUtf8Mark) == 0; }

// The entries of an INI file as Qt's reader takes them apart: each entry from its first character
// to its end (a quoted part and an escaped line end go on past the end of a line, a ';' outside
// quotes ends it), and the first '=' outside quotes (npos: none). Which key and value an entry
// holds, and which group a '[' entry opens, only QSettings decides (see sourceOf).
struct IniEntry {
    size_t start, end, equals;
};

std::vector<IniEntry> iniEntries(const std::string& text)
{
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    std::vector<IniEntry> entries;
    size_t at = startsWithMark(text) ? 3 : 0;
    while (at < text.size()) {
        while (at < text.size() && space(text[at]))
            ++at;
        IniEntry e{at, text.size(), std::string::npos};
        bool quoted = false;
        for (size_t i = at; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '=' && !quoted && e.equals == std::string::npos) {
                e.equals = i;
            } else if ((c == '\n' || c == '\r' || c == ';') && !quoted) {
                e.end = i;
                break;
            } else if (c == '\\' && i + 1 < text.size()) {
                const char next = text[++i];   // an escaped line end: "\r\n" and "\n\r" count as one
                const char after = i + 1 < text.size() ? text[i + 1] : '\0';
                if ((next == '\n' && after == '\r') || (next == '\r' && after == '\n'))
                    ++i;
            } else if (c == '"') {
                quoted = !quoted;
            }
        }
        if (e.end > e.start)
            entries.push_back(e);
        at = e.end;
        if (at < text.size() && text[at] == ';')   // a comment runs to the end of its line
            at = std::min(text.find_first_of("\r\n", at), text.size());
    }
    return entries;
}

// Where each value of an INI file comes from, asked of QSettings: every entry read alone in a group
// of its own, and every group line followed by a key of its own. The two go to two probe files read
// once each, so that no group of the user's, whatever its name, meets one of the probe's. For each
// entry that holds a key, the key as Qt names it in the file (its group's prefix included) and the
// value Qt reads of it.
struct EntryReading {
    QString key;
    QVariant value;
    QString group;   // its group's name, which orders the groups as Qt merges them
};

QMap<size_t, EntryReading> sourceOf(const std::string& systemPath, const std::string& text,
                                    const std::vector<IniEntry>& entries, bool& whole)
{
    const std::string mark = startsWithMark(text) ? kUtf8Mark : "";
    std::string lines = mark, groupLines = mark;
    for (size_t n = 0; n < entries.size(); ++n) {
        const IniEntry& e = entries[n];
        const std::string entry = text.substr(e.start, e.end - e.start), tag = "zel." + std::to_string(n);
        if (text[e.start] == '[')
            groupLines += entry + "\n" + tag + "=\n";
        else if (e.equals != std::string::npos)   // a blank line after it: an escaped line end takes one
            lines += "[" + tag + "]\n" + entry + "\n\n";
    }
    auto tagOf = [](const QString& part) { return size_t(part.mid(4).toULong()); };
    QMap<size_t, EntryReading> read;
    {
        const ReadCopy copy(systemPath, lines);
        whole = copy.whole();
        QSettings settings(copy.path(), QSettings::IniFormat);
        for (const QString& key : settings.allKeys()) {
            const int slash = key.indexOf(QLatin1Char('/'));
            read.insert(tagOf(key.left(slash)), {key.mid(slash + 1), settings.value(key), QString()});
        }
    }
    QMap<size_t, QString> groups;   // the group's prefix ("config/"), by the number of its line
    {
        const ReadCopy copy(systemPath, groupLines);
        whole = whole && copy.whole();
        QSettings settings(copy.path(), QSettings::IniFormat);
        for (const QString& key : settings.allKeys()) {
            const int slash = key.lastIndexOf(QLatin1Char('/'));
            groups.insert(tagOf(key.mid(slash + 1)), key.left(slash + 1));
        }
    }
    QString group;
    for (size_t n = 0; n < entries.size(); ++n) {
        if (groups.contains(n))
            group = groups.value(n);
        else if (read.contains(n))
            read[n] = {group + read[n].key, read[n].value, group};
    }
    return read;
}

// Whether the box uses the user's text of a value rather than what Qt reads: Qt reads it as a type
// that has no text of its own (a list, "@Rect(1 2 3 4)", "@Size(3 4)", "@Invalid()", ...). A number
// is used as the number Qt reads, however it is written ("@Variant(...)" included).
bool readAsAnotherType(const QVariant& value)
{
    switch (value.userType()) {
    case QMetaType::QString: case QMetaType::QByteArray:
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::Long: case QMetaType::ULong:
    case QMetaType::LongLong: case QMetaType::ULongLong: case QMetaType::Short: case QMetaType::UShort:
    case QMetaType::Double: case QMetaType::Float:
        return false;
    default:
        return true;
    }
}

// The text the user wrote of each value in `wanted` that Qt reads as another type ("SN-42,B",
// "\"Hall, A\",left", "@Rect(1 2 3 4)"): what follows the '=' of the entry Qt takes the value from,
// up to its comment, without the blanks around it. That entry is the last one naming the key in
// the group Qt reads it from, among those Qt reads alone as the same value. A value no entry gives
// is taken as Qt's items joined by commas. `whole` false: a copy the entries were read from could
// not be written whole, so what was found says nothing.
QMap<QString, QString> userTexts(const std::string& systemPath, const std::string& text,
                                 const QMap<QString, QVariant>& wanted, bool* whole = nullptr)
{
    const std::vector<IniEntry> entries = iniEntries(text);
    bool copied = true;
    const QMap<size_t, EntryReading> read = sourceOf(systemPath, text, entries, copied);
    if (whole)
        *whole = copied;
    QMap<QString, size_t> from;
    for (auto it = read.begin(); it != read.end(); ++it) {
        const auto want = wanted.find(it->key);
        if (want == wanted.end() || !(it->value == *want))
            continue;
        const auto known = from.find(it->key);
        if (known == from.end() || !(it->group < read.value(*known).group))
            from.insert(it->key, it.key());
    }
    const bool utf8 = startsWithMark(text);
    QMap<QString, QString> texts;
    for (auto it = wanted.begin(); it != wanted.end(); ++it) {
        if (!from.contains(it.key())) {
            texts.insert(it.key(), it->toStringList().join(QLatin1Char(',')));
            continue;
        }
        const IniEntry& e = entries[from.value(it.key())];
        const QByteArray raw = QByteArray(text.data() + e.equals + 1, int(e.end - e.equals - 1)).trimmed();
        texts.insert(it.key(), utf8 ? QString::fromUtf8(raw) : QString::fromLatin1(raw));
    }
    return texts;
}

// What the INI file at a system path holds as Qt reads it (without NUL bytes), read once from the
// file itself whatever the disk can take: each key with its value; a value of one of `keys` that Qt
// reads as another type taken as the text the user wrote.
QMap<QString, QVariant> userValues(const std::string& systemPath, const QStringList& keys)
{
    QMap<QString, QVariant> values, other;
    std::string bytes;
    if (filestore::read_whole(systemPath, bytes, filestore::kMaxTextFile) != filestore::Found::File)
        return values;
    const std::string text = withoutNuls(bytes);
    for (const auto& [key, value] : readingOf(systemPath, text).values) {
        values.insert(key, value);
        if (readAsAnotherType(value) && keys.contains(key))
            other.insert(key, value);
    }
    if (!other.isEmpty()) {
        const QMap<QString, QString> texts = userTexts(systemPath, text, other);
        for (auto it = texts.begin(); it != texts.end(); ++it)
            values.insert(it.key(), *it);
    }
    return values;
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
                       uint8_t type_, const QString& fileName_, const QVariant& stored, QSettings* settings)
    : key(key_), id(id_), defaultValue(defaultValue_), noWrite(noWrite_), type(type_), fileName(fileName_)
{
    _itemMap.insert(key, id);
    if (!stored.toString().isEmpty()) {
        value = stored;
        inFile = true;
        return;
    }
    if (!defaultValue.toString().isEmpty()) {
        value = defaultValue;
        if (!noWrite && settings)
            settings->setValue(key, value);
    }
}

// ---- ConfigEngine -------------------------------------------------------------------------------

ConfigEngine::ConfigEngine(QObject* parent) : QObject(parent)
{
    const QString file = QString::fromLatin1(kConfigFile);
    platform::makeParentDirs(kConfigFile);
    // Synchronous writes for the settings file.
    Utils::system_mutex(QStringLiteral("chattr +S %1").arg(file));
    // What power cuts left of the box's own scratch copies and QSettings' locks of them goes
    // first: a lock naming this process's pid would hold the start until it went stale.
    filestore::remove_stale_temps();
    // `storing` false: the file stays as it is (no copy of it could be kept before its repair).
    auto load = [&](bool storing) {
        // The values are the file's as Qt reads it; missing or empty keys get their defaults
        // written. A value that only a default gives stays out of the file's record (inFile)
        // while the file cannot take it.
        QStringList keys;
        for (const ItemDef& def : kItems)
            keys.append(QString::fromLatin1(def.key));
        const QMap<QString, QVariant> fileValues = userValues(kConfigFile, keys);
        auto build = [&](QSettings* settings) {
            for (int id = 0; id < ConfigItem::ConfigNameCount; ++id) {
                const ItemDef& def = kItems[id];
                const QString key = QString::fromLatin1(def.key);
                items.push_back(std::make_unique<ConfigItem>(key, static_cast<ConfigItem::ConfigName>(id),
                                                             defaultOf(def), false, def.type, file,
                                                             fileValues.value(key), settings));
            }
        };
        if (!storing)
            build(nullptr);
        const bool stored = storing && editIni(
            file,
            [&](QSettings& settings, const std::string& text) {
                build(&settings);
                // The file is written (a default added, or its text repaired): with the values as used.
                const bool rewritten =
                    keptAtStart_ || std::any_of(items.begin(), items.end(), [](const auto& i) { return !i->inFile; });
                return !rewritten || keepTexts(settings, text);
            },
            keptAtStart_);
        for (auto& item : items)
            item->inFile = item->inFile || stored;
        report_store(stored);
        repairSettings();
    };
    // A file that cannot be read as settings would keep every later write from reaching it. What
    // Qt reads of one with lines it cannot take, or that QSettings would not write back as it read
    // it, is the user's settings: kept and stored cleanly (edit_ini starts from it), the file as it
    // was set aside. With no room for its copy the file stays as it is and what Qt reads of it is
    // used; a later save copies it first.
    std::string bytes, why;
    const filestore::Found found = filestore::read_whole(kConfigFile, bytes, filestore::kMaxTextFile, &why);
    auto replaceAfterCopy = [&] {
        keptAtStart_ = true;
        load(true);
    };
    if (found == filestore::Found::Unusable) {
        filestore::set_aside(kConfigFile, why, "the file is replaced by the defaults", replaceAfterCopy);
    } else if (found == filestore::Found::File) {
        const std::string text = withoutNuls(bytes);
        const IniReading reading = readingOf(kConfigFile, text);
        // A copy the disk could not take says nothing of the file: it stays as it is.
        if ((reading.status == QSettings::NoError && text == bytes && rewritesAsRead(kConfigFile, text, reading)) ||
            !reading.whole) {
            load(true);
        } else if (reading.values.isEmpty()) {
            filestore::set_aside(kConfigFile, "cannot be read as settings", "the file is replaced by the defaults",
                                 replaceAfterCopy);
        } else {
            filestore::set_aside(kConfigFile, kNotAsItStands, kSettingsKept, replaceAfterCopy, filestore::NoRoom::Use);
            if (items.empty())
                load(false);
        }
    } else {
        load(true);
    }
}

bool ConfigEngine::edit_ini(const QString& systemPath, const std::function<void(QSettings&)>& edit, bool keptAlready,
                            bool* keptAside)
{
    return editIni(
        systemPath,
        [&](QSettings& settings, const std::string&) {
            edit(settings);
            return true;
        },
        keptAlready, keptAside);
}

bool ConfigEngine::editIni(const QString& systemPath, const IniEdit& edit, bool keptAlready, bool* keptAside)
{
    const std::string system = systemPath.toStdString();
    std::string before;
    const filestore::Found found = filestore::read_whole(system, before, filestore::kMaxTextFile);
    const bool existed = found == filestore::Found::File;
    bool known = true, whole = false, repaired = false;
    const std::string scratchSystem =
        scratchCopy(system, ".edit", editableText(system, before, known, repaired), &whole);
    const std::string scratch = platform::rootPath(scratchSystem);
    // A folder or a FIFO in its place is not replaced, nor a file whose copies did not take all of it.
    bool ok = found != filestore::Found::Unusable && known && whole;
    if (!existed)
        std::remove(scratch.c_str());
    // Every key the new file must hold, with its value: what QSettings read of the file and the
    // edit. A write the disk did not take can leave QSettings' own copy short without a word.
    QMap<QString, QVariant> values;
    {
        QSettings settings(QString::fromStdString(scratch), QSettings::IniFormat);
        settings.setAtomicSyncRequired(false);   // the scratch copy is written in place
        parseWhole(settings);
        ok = edit(settings, withoutNuls(before)) && ok;
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
    ok = ok && iniHolds(system, bytes, values);
    auto store = [&] {
        ok = ok && filestore::write_atomic(system, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == 0;
    };
    // The user's text that the clean one replaces is kept and said first; with no room for its copy
    // the file stays as it is and the save is refused.
    if (ok && repaired && !keptAlready) {
        ok = false;   // until the copy is kept
        filestore::set_aside(system, kNotAsItStands, kSettingsKept, [&] { ok = true; store(); },
                             filestore::NoRoom::Leave);
        if (keptAside)
            *keptAside = ok;
    } else {
        store();
    }
    if (ok)
        writtenAsRead.remember(system, bytes);
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
    if (fixes.isEmpty())
        return;
    // The file's own values are kept (.bad) before their replacements are stored: kept already
    // when this start set the file aside; with no room for a copy nothing is stored.
    if (keptAtStart_)
        store(fixes, false);
    else
        filestore::set_aside(kConfigFile, "holds settings the box cannot use", "their defaults are used and stored",
                             [&] { store(fixes, false); }, filestore::NoRoom::Leave);
}

void ConfigEngine::takeDefault(ConfigItem::ConfigName id, Values& fixes) { replace(id, items[id]->defaultValue, fixes); }

void ConfigEngine::replace(ConfigItem::ConfigName id, const QVariant& value, Values& fixes)
{
    ConfigItem* item = items[id].get();
    if (item->value.toString() == value.toString())
        return;
    // Printed whatever the debug switch: the box starts on another value than its file holds.
    std::fprintf(stderr, "settings: %s=\"%s\" cannot be used, %s=\"%s\" is used\n",
                 qPrintable(item->key), qPrintable(item->value.toString()), qPrintable(item->key),
                 qPrintable(value.toString()));
    item->value = value;
    item->inFile = false;   // until the store takes it
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
    // The launcher's own file (an upgrade package brings it): read only when it is a file
    // (QSettings would wait on a FIFO) of the size the box reads, and left where it is whatever it
    // holds.
    QString appPath;
    const QString launcherFile = platform::rootPath(QString::fromLatin1(kLauncherFile));
    const QFileInfo launcherInfo(launcherFile);
    if (launcherInfo.isFile() && uint64_t(launcherInfo.size()) <= filestore::kMaxTextFile) {
        QSettings launcher(launcherFile, QSettings::IniFormat);
        parseWhole(launcher);
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

bool ConfigEngine::in_file(ConfigItem::ConfigName id)
{
    if (!validId(id))
        return false;
    std::lock_guard<std::mutex> lock(valueMutex_);
    return items[id]->inFile;
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
    // One replacement of the file: all values land together. A save that kept the file as it stood
    // before its clean text replaced it leaves that said until the next save.
    bool keptAside = false;
    const bool stored = fileName.isEmpty() || editIni(fileName, [&](QSettings& settings, const std::string& text) {
        if (!keepTexts(settings, text))
            return false;
        for (const auto& [id, value] : values)
            if (validId(id) && !items[id]->noWrite && items[id]->fileName == fileName)
                settings.setValue(_itemMap.key(id, items[id]->key), value);
        return true;
    }, false, &keptAside);
    report_store(stored);
    // Memory follows the file: a value a restart would not find is never read back or acted on.
    if (!stored)
        return false;
    for (const auto& [id, value] : values)
        if (validId(id)) {
            items[id]->value = value;
            items[id]->inFile = true;
        }
    if (userSave && userSettingIn(values) && !keptAside)
        filestore::saved(fileName.toStdString());
    return true;
}

bool ConfigEngine::keepTexts(QSettings& settings, const std::string& text)
{
    // QSettings writes a list back as "a, b", and a value of another type ("@Rect(1 2 3 4)") as that
    // type: the user's "SN-42,B" would come back as another text, the rectangle as no text at all.
    // The text is the file's as it stands now, which is the one the box read unless the user edited
    // the file since: then the user's new text stays, and is used from the next start.
    QMap<QString, QVariant> other;
    for (const auto& item : items)
        if (settings.contains(item->key) && readAsAnotherType(settings.value(item->key)))
            other.insert(item->key, settings.value(item->key));
    if (other.isEmpty())
        return true;
    // Where the user's texts could not be looked up (no room for the copy they are read from), the
    // file is not written: it would take other texts than the user's.
    bool whole = false;
    const QMap<QString, QString> texts = userTexts(kConfigFile, text, other, &whole);
    for (auto it = texts.begin(); whole && it != texts.end(); ++it)
        settings.setValue(it.key(), *it);
    return whole;
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
