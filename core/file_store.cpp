#include "core/file_store.h"

#include "core/alerts.h"
#include "core/ram_layout.h"
#include "core/utils.h"
#include "platform/file_sync.h"
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace filestore {

std::function<bool(const std::string&)> before_rename;

namespace {

constexpr const char kTempSuffix[] = ".tmp";
constexpr const char kRecordSuffix[] = ".replaced";
constexpr const char kDataDir[] = "/data";
constexpr const char kProbeFile[] = "/data/.write_probe";

// The folders the system writes its files into.
constexpr const char* kDataFolders[] = {
    "/data", "/data/modes", "/data/configs", "/data/rcvrecovery", "/data/smartmapping", "/data/app",
};

// Calls `visit(folder, name)` for every entry of the folders the system writes into.
template <typename Visit>
void for_each_data_entry(Visit visit)
{
    for (const char* folder : kDataFolders) {
        DIR* d = ::opendir(platform::rootPath(folder).c_str());
        if (!d)
            continue;
        while (dirent* e = ::readdir(d))
            visit(std::string(folder), std::string(e->d_name));
        ::closedir(d);
    }
}

// Makes the missing folders above real path `path`, each synced into its parent so that a power
// cut keeps it (and what is written into it); false when one cannot be made or synced.
bool make_folders(const std::string& path)
{
    const std::string dir = platform::files::parentOf(path);
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    if (!make_folders(dir))
        return false;
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    return platform::files::syncDir(platform::files::parentOf(dir));
}

}  // namespace

std::string temp_path(const std::string& path)
{
    const std::string::size_type slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + "." + name + kTempSuffix;
}

bool is_temp_name(const std::string& name)
{
    const size_t n = sizeof kTempSuffix - 1;
    return name.size() > n + 1 && name[0] == '.' && name.compare(name.size() - n, n, kTempSuffix) == 0;
}

namespace {

// Real path `dir` as the kernel finds it, every link in it followed; a part that does not exist
// yet is kept as named, below the deepest folder that does.
std::string real_folder(const std::string& dir)
{
    if (char* real = ::realpath(dir.c_str(), nullptr)) {
        std::string found(real);
        std::free(real);
        return found;
    }
    const int err = errno;
    const std::string parent = platform::files::parentOf(dir);
    if (err != ENOENT || parent == dir || parent == ".")
        return dir;
    const std::string above = real_folder(parent);
    return (above == "/" ? std::string() : above) + dir.substr(dir.rfind('/'));
}

// Where a write of real path `path` lands: the file a link there names (through any chain of
// links), so that a file the user made a link stays one. Each link is followed as the kernel
// follows it: its folder is resolved first, and a relative target is taken from that real folder.
// A link that loops ends the chain where it is noticed, and the write replaces that link.
std::string followed(std::string path)
{
    constexpr int kMaxHops = 40;   // as the kernel's own limit on a chain of links
    for (int hop = 0; hop < kMaxHops; ++hop) {
        const std::string dir = real_folder(platform::files::parentOf(path));
        path = (dir == "/" ? std::string() : dir) + path.substr(path.rfind('/'));
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::string target(size_t(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), &target[0], target.size());
        if (n <= 0 || size_t(n) >= target.size())
            return path;
        target.resize(size_t(n));
        path = target[0] == '/' ? target : dir + "/" + target;
    }
    return path;
}

bool read_up_to(int fd, unsigned char* out, size_t capacity, size_t& got);

// Whether real path `path` is a file holding exactly the `length` bytes of `data` (read back a
// piece at a time: an application image is large).
bool holds(const std::string& path, const unsigned char* data, size_t length)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    unsigned char back[16 * 1024];
    size_t at = 0, got = 0;
    bool same = true;
    do {   // until the end of the file, one byte past `length` at least: a longer file differs
        same = read_up_to(fd, back, sizeof back, got) && got <= length - at &&
               (got == 0 || std::memcmp(back, data + at, got) == 0);
        at += got;
    } while (same && got == sizeof back);
    ::close(fd);
    return same && at == length;
}

int write_atomic_real(const std::string& path, const unsigned char* data, size_t length, mode_t mode)
{
    if (!make_folders(path))
        return 255;
    const std::string temp = temp_path(path);
    // The new content must be whole on the disk before it takes the file's name: every write,
    // the sync and the close are checked, and what the file then holds is read back.
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return 255;
    bool ok = platform::files::writeAll(fd, data, length) && platform::files::syncFile(fd, temp);
    ok = platform::files::closeWritten(fd) && ok && holds(temp, data, length);
    if (!ok) {
        ::unlink(temp.c_str());
        return 255;
    }
    if (before_rename && !before_rename(temp))
        return 255;
    if (!platform::files::rename(temp, path)) {
        ::unlink(temp.c_str());
        return 255;
    }
    // Until the folder is synced the rename itself may be lost.
    return platform::files::syncDir(platform::files::parentOf(path)) ? 0 : 255;
}

}  // namespace

int write_atomic(const std::string& systemPath, const unsigned char* data, size_t length, mode_t mode)
{
    return write_atomic_real(followed(platform::rootPath(systemPath)), data, length, mode);
}

bool write_scratch(const std::string& systemPath, const std::string& bytes)
{
    const std::string path = platform::rootPath(systemPath);
    if (!make_folders(path))
        return false;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = platform::files::writeAll(fd, bytes.data(), bytes.size()) && platform::files::syncFile(fd, path);
    ok = platform::files::closeWritten(fd) && ok &&
         holds(path, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    if (!ok)
        ::unlink(path.c_str());
    return ok;
}

namespace {

// The files the box writes into its data folders, by name: a '*' stands for any text (received
// files are named by their sender). A scratch copy is one QSettings edits
// in place (core/config_engine.cpp names them "<file>.edit", ".check" and ".clean").
struct OwnFile {
    const char* folder;
    const char* name;
    bool scratch;
};
constexpr OwnFile kOwnFiles[] = {
    {"/data", "ram_device_info", false},
    {"/data", ".write_probe", false},
    {"/data/configs", "tcpip.ini", false},
    {"/data/configs", "led_load_config.ini", false},
    {"/data/configs", "alias.json", false},
    {"/data/configs", "omenu.json", false},
    {"/data/configs", "tcpip.ini.edit", true},
    {"/data/configs", "tcpip.ini.check", true},
    {"/data/configs", "tcpip.ini.clean", true},
    {"/data/configs", "led_load_config.ini.edit", true},
    {"/data/configs", "led_load_config.ini.check", true},
    {"/data/configs", "led_load_config.ini.clean", true},
    {"/data/rcvrecovery", "JYFX*", false},
    {"/data/smartmapping", "JYFR*", false},
    {"/data/app", "zelT71N2", false},
};

// The files the box writes by a user mode's number (1 to kUserModeCount): in decimal, or in two
// lower-case hex digits.
struct NumberedFile {
    const char* folder;
    const char* format;
};
constexpr NumberedFile kNumberedFiles[] = {
    {"/data/modes", "custom_mode%u"},
    {"/data/modes", "MO%02x.json"},
};

bool numbered_file(const std::string& folder, const std::string& name)
{
    for (const NumberedFile& f : kNumberedFiles)
        for (unsigned n = 1; folder == f.folder && n <= ramaddr::kUserModeCount; ++n) {
            char own[32];
            std::snprintf(own, sizeof own, f.format, n);
            if (name == own)
                return true;
        }
    return false;
}

bool ends_with(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool matches(const std::string& name, const std::string& pattern)
{
    const size_t star = pattern.find('*');
    if (star == std::string::npos)
        return name == pattern;
    return name.size() > pattern.size() - 1 && name.compare(0, star, pattern, 0, star) == 0 &&
           ends_with(name, pattern.substr(star + 1));
}

// Whether the box writes a file of this name into `folder` (`scratch`: one QSettings edits): one of
// its files, a copy set_aside keeps of one ("<name>.bad", "<name>.bad.<n>") or its record
// (".<name>.replaced").
bool own_file(const std::string& folder, std::string name, bool scratch)
{
    if (name.size() > 1 && name[0] == '.' && ends_with(name, kRecordSuffix))
        name = name.substr(1, name.size() - 1 - (sizeof kRecordSuffix - 1));
    const size_t bad = name.rfind(".bad");
    if (bad != std::string::npos && bad > 0 &&
        (bad + 4 == name.size() || (bad + 6 == name.size() && name[bad + 4] == '.' && name[bad + 5] > '1' &&
                                    name[bad + 5] < char('1' + kKeptCopies))))
        name.erase(bad);
    return (!scratch && numbered_file(folder, name)) ||
           std::any_of(std::begin(kOwnFiles), std::end(kOwnFiles), [&](const OwnFile& f) {
               return folder == f.folder && (!scratch || f.scratch) && matches(name, f.name);
           });
}

// What a power cut can leave of the box's writes in `folder`: the temporary file of one of its files
// (".<name>.tmp"); beside a scratch copy's, QSettings' lock ("<temp>.lock") and the file it writes
// the copy through ("<temp>.XXXXXX", six letters or digits, as large as the copy).
bool own_temp(const std::string& folder, const std::string& name)
{
    constexpr size_t kRandom = 6;
    const size_t n = sizeof kTempSuffix - 1;
    const size_t at = name.rfind(kTempSuffix);
    if (name.empty() || name[0] != '.' || at == std::string::npos || at < 2)
        return false;
    const std::string file = name.substr(1, at - 1), rest = name.substr(at + n);
    if (rest.empty())
        return own_file(folder, file, false);
    auto alnum = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
    const bool saveFile = rest.size() == kRandom + 1 && rest[0] == '.' && std::all_of(rest.begin() + 1, rest.end(), alnum);
    return (rest == ".lock" || saveFile) && own_file(folder, file, true);
}

}  // namespace

int remove_stale_temps()
{
    // QSettings locks a scratch copy through "<copy>.lock", naming this process; a power cut
    // leaves it behind, and the pid it names is the box's own again at the next boot, so QSettings
    // would wait for it to go stale.
    int removed = 0;
    for_each_data_entry([&](const std::string& folder, const std::string& name) {
        if (own_temp(folder, name) &&
            ::unlink(platform::rootPath(folder + "/" + name).c_str()) == 0)
            ++removed;
    });
    return removed;
}

bool data_writable()
{
    static const unsigned char probe[] = {'o', 'k'};
    if (write_atomic(kProbeFile, probe, sizeof probe) != 0)
        return false;
    ::unlink(platform::rootPath(kProbeFile).c_str());
    platform::files::syncDir(platform::rootPath(kDataDir));
    return true;
}

namespace {

std::string error_text(int err) { return std::strerror(err); }

// Opens a regular file for reading without waiting on a FIFO or device in its place.
Found open_regular(const std::string& path, int& fd, off_t& size, std::string& why)
{
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int err = errno;
        struct stat st;
        if (err == ENOENT && ::lstat(path.c_str(), &st) != 0)
            return Found::Missing;
        why = "cannot be opened (" + error_text(err) + ")";
        return Found::Unusable;
    }
    struct stat st;
    const bool statted = ::fstat(fd, &st) == 0;
    if (!statted || !S_ISREG(st.st_mode)) {
        why = !statted ? "cannot be read (" + error_text(errno) + ")"
                       : S_ISDIR(st.st_mode) ? "is a folder, not a file" : "is not a regular file";
        ::close(fd);
        fd = -1;
        return Found::Unusable;
    }
    size = st.st_size;
    return Found::File;
}

// Reads until `capacity` bytes or the end; false on a read error.
bool read_up_to(int fd, unsigned char* out, size_t capacity, size_t& got)
{
    got = 0;
    while (got < capacity) {
        const ssize_t n = ::read(fd, out + got, capacity - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += size_t(n);
    }
    return true;
}

// A file of `size` bytes, larger than `limit`, that is at most `limit` bytes of content followed by
// NUL bytes only (what some file systems leave after a power cut): true, with the content in `out`.
// Padding is read through, not kept, up to kMaxPadding bytes.
bool padded_content(int fd, off_t size, size_t limit, std::string& out)
{
    if (uint64_t(size) > kMaxPadding)
        return false;
    out.resize(limit);
    size_t got = 0;
    if (!read_up_to(fd, reinterpret_cast<unsigned char*>(&out[0]), limit, got) || got < limit)
        return false;
    std::string rest(64 * 1024, '\0');   // not on the stack: readers run on threads with small ones
    for (;;) {
        size_t n = 0;
        if (!read_up_to(fd, reinterpret_cast<unsigned char*>(&rest[0]), rest.size(), n))
            return false;
        if (std::any_of(rest.begin(), rest.begin() + long(n), [](char c) { return c != '\0'; }))
            return false;
        if (n < rest.size())
            break;
    }
    out.resize(out.find_last_not_of('\0') + 1);   // npos + 1 == 0: nothing but NUL bytes
    return true;
}

}  // namespace

Found read_regular(const std::string& systemPath, unsigned char* out, size_t capacity, size_t& got, std::string* why)
{
    std::string reason;
    int fd = -1;
    off_t size = 0;
    got = 0;
    Found found = open_regular(platform::rootPath(systemPath), fd, size, reason);
    if (found == Found::File) {
        if (!read_up_to(fd, out, capacity, got)) {
            reason = "cannot be read (" + error_text(errno) + ")";
            found = Found::Unusable;
        }
        ::close(fd);
    }
    if (why)
        *why = reason;
    return found;
}

Found read_whole(const std::string& systemPath, std::string& out, size_t limit, std::string* why)
{
    std::string reason;
    int fd = -1;
    off_t size = 0;
    out.clear();
    Found found = open_regular(platform::rootPath(systemPath), fd, size, reason);
    if (found == Found::File) {
        size_t got = 0;
        if (size_t(size) > limit) {
            if (!padded_content(fd, size, limit, out)) {
                reason = "is " + std::to_string(size) + " bytes long, more than the " + std::to_string(limit) +
                         " a whole file may have";
                found = Found::Unusable;
                out.clear();
            }
        } else {
            // One byte more than the file had: a file that grew meanwhile is still read to its end.
            out.resize(size_t(size) + 1);
            if (read_up_to(fd, reinterpret_cast<unsigned char*>(&out[0]), out.size(), got)) {
                out.resize(got);
            } else {
                reason = "cannot be read (" + error_text(errno) + ")";
                found = Found::Unusable;
                out.clear();
            }
        }
        ::close(fd);
    }
    if (why)
        *why = reason;
    return found;
}

Found read_text_file(const std::string& systemPath, std::string& out, const std::string& instead)
{
    std::string why;
    const Found found = read_whole(systemPath, out, kMaxTextFile, &why);
    if (found != Found::Unusable)
        return found;
    set_aside(systemPath, why, instead);
    return Found::Missing;
}

long read_file(const std::string& systemPath, unsigned char* out, size_t capacity)
{
    size_t got = 0;
    return read_regular(systemPath, out, capacity, got) == Found::File ? static_cast<long>(got) : -1;
}

std::string kept_path(const std::string& path, int n)
{
    return n <= 1 ? path + ".bad" : path + ".bad." + std::to_string(n);
}

std::string bad_path(const std::string& path) { return kept_path(path, 1); }

namespace {

// The record beside a file that set_aside replaced, kept until the file is saved again: the
// number of the copy, then the line said about it. Hidden, as the temporary files are.
std::string record_path(const std::string& path)
{
    const std::string::size_type slash = path.rfind('/');
    return path.substr(0, slash + 1) + "." + path.substr(slash + 1) + kRecordSuffix;
}

}  // namespace

namespace {

// The bytes of a regular file (through links) of at most `limit` bytes, or of one whose bytes past
// `limit` are NUL padding (read_whole reads it): all of them, so that its copy is the file as it
// was. False for anything else.
bool content_of(const std::string& realPath, std::string& out, size_t limit)
{
    int fd = -1;
    off_t size = 0;
    std::string why;
    if (open_regular(realPath, fd, size, why) != Found::File)
        return false;
    size_t got = 0;
    std::string text;
    bool ok = size_t(size) <= limit || (padded_content(fd, size, limit, text) && ::lseek(fd, 0, SEEK_SET) == 0);
    if (ok) {
        const size_t most = std::max(limit, size_t(size));
        out.resize(size_t(size) + 1);
        ok = read_up_to(fd, reinterpret_cast<unsigned char*>(&out[0]), out.size(), got) && got <= most;
        out.resize(got);
    }
    ::close(fd);
    return ok;
}

// The copy a new set-aside of `path` goes to (1: "<name>.bad"): the one that already holds
// `content` (nothing is kept twice), else the first free one; when all are taken, the last, so
// the first copies, the user's oldest, are never overwritten. `same`: the copy holds it already.
int copy_for(const std::string& path, const std::string* content, bool& same)
{
    same = false;
    for (int n = 1; n <= kKeptCopies; ++n) {
        const std::string kept = kept_path(path, n);
        struct stat st;
        if (::lstat(kept.c_str(), &st) != 0)
            return n;
        std::string bytes;
        if (content && S_ISREG(st.st_mode) && size_t(st.st_size) == content->size() &&
            content_of(kept, bytes, content->size()) && bytes == *content) {
            same = true;
            return n;
        }
    }
    return kKeptCopies;
}

}  // namespace

void set_aside(const std::string& systemPath, const std::string& why, const std::string& instead,
               const std::function<void()>& replace, NoRoom noRoom)
{
    const std::string path = platform::rootPath(systemPath);
    // A file with a replacement is copied, and stays under its own name until the replacement
    // takes it: a power cut at any point leaves the user's content under the file's name or in
    // its copy. What cannot be copied (no regular file, or larger than the box reads) and a file
    // with no replacement are moved.
    std::string content;
    const bool regular = content_of(path, content, kMaxTextFile);
    bool same = false;
    int n = copy_for(path, regular ? &content : nullptr, same);
    bool copy = regular && replace;
    if (copy && !same &&
        write_atomic_real(kept_path(path, n), reinterpret_cast<const unsigned char*>(content.data()), content.size(),
                          0644) != 0) {
        if (noRoom != NoRoom::Move) {
            // No copy (no room, or a partition that takes no file): the file stays under its own
            // name. A replacement made of what it holds is tried (one the disk cannot take whole
            // leaves the file as it is, and its store says so); any other is not made, and the box
            // runs on what it uses instead without storing it.
            if (noRoom == NoRoom::Replace)
                replace();
            const char* done = noRoom == NoRoom::Replace ? "what it holds is used"
                               : noRoom == NoRoom::Use   ? "what it holds is used as it stands, nothing is stored"
                                                         : "nothing is stored";
            alerts::event_for(alerts::kFileReplaced, systemPath,
                              path + " " + why + ": left in place (no copy could be written), " + done, 0);
            return;
        }
        copy = false;   // no room for a copy: the file itself is moved
        n = copy_for(path, nullptr, same);
    }
    const std::string kept = kept_path(path, n);
    std::string moved = (copy || same ? "kept as " : "moved aside as ") + kept;
    const std::string line = path + " " + why + ": " + moved + ", " + instead;
    // A file that gets a replacement is said again at every start until it is saved: the record
    // goes to the disk before the file is moved or replaced, so a power cut after that point
    // leaves the user told where the copy is.
    if (replace) {
        const std::string record = std::to_string(n) + "\n" + line;
        write_atomic_real(record_path(path), reinterpret_cast<const unsigned char*>(record.data()), record.size(),
                          0644);
    }
    bool keptOk = true;
    if (!copy) {
        if (same) {
            // Its content is kept already: the file itself only goes out of the way.
            if (::unlink(path.c_str()) != 0)
                moved += ", but it could not be removed (" + error_text(errno) + ")";
        } else {
            // Only the last copy is ever replaced, and only when every other one is taken.
            std::error_code ec;
            std::filesystem::remove_all(kept, ec);
            keptOk = platform::files::rename(path, kept);
            if (!keptOk)
                moved = "it could not be moved aside (" + error_text(errno) + ")";
        }
        platform::files::syncDir(platform::files::parentOf(path));
    }
    if (replace)
        replace();
    if (!keptOk)
        ::unlink(record_path(path).c_str());   // nothing was kept: no copy to point at
    alerts::event_for(alerts::kFileReplaced, systemPath, path + " " + why + ": " + moved + ", " + instead,
                      keptOk ? n : 0);
}

std::string json_document(const std::string& text)
{
    size_t i = text.find_first_not_of(" \t\r\n");
    if (i == std::string::npos || (text[i] != '{' && text[i] != '['))
        return text;
    int depth = 0;
    bool inString = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;   // the escaped character is no quote
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if ((c == '}' || c == ']') && --depth == 0) {
            return text.substr(0, i + 1);
        }
    }
    return text;
}

std::string json_beyond_bounds(const std::string& text)
{
    size_t depth = 0;
    size_t stringStart = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
                if (i - stringStart > kMaxJsonString)
                    return "holds a text of " + std::to_string(i - stringStart) + " bytes, more than the " +
                           std::to_string(kMaxJsonString) + " the box reads";
            }
        } else if (c == '"') {
            inString = true;
            stringStart = i + 1;
        } else if (c == '{' || c == '[') {
            if (++depth > kMaxJsonDepth)
                return "nests deeper than the " + std::to_string(kMaxJsonDepth) + " levels the box reads";
        } else if ((c == '}' || c == ']') && depth > 0) {
            --depth;
        }
    }
    return std::string();
}

bool bounded_json_document(const std::string& systemPath, const std::string& text, const std::string& use,
                           const std::string& instead, std::string& document)
{
    document = json_document(text);
    const std::string beyond = json_beyond_bounds(document);
    if (beyond.empty())
        return true;
    set_aside(systemPath, "cannot be used as " + use + " (it " + beyond + ")", instead);
    return false;
}

void saved(const std::string& systemPath)
{
    ::unlink(record_path(platform::rootPath(systemPath)).c_str());
    alerts::clear_for(alerts::kFileReplaced, systemPath, platform::rootPath(systemPath) + " is saved again");
}

int restate_replaced()
{
    const size_t n = sizeof kRecordSuffix - 1;
    int said = 0;
    for_each_data_entry([&](const std::string& folder, const std::string& name) {
        if (name.size() <= n + 1 || name[0] != '.' || name.compare(name.size() - n, n, kRecordSuffix) != 0)
            return;
        const std::string systemPath = folder + "/" + name.substr(1, name.size() - n - 1);
        std::string record;
        if (alerts::active_for(alerts::kFileReplaced, systemPath) ||
            read_whole(folder + "/" + name, record, kMaxTextFile) != Found::File)
            return;
        const size_t nl = record.find('\n');
        const int copy = std::atoi(record.substr(0, nl).c_str());
        const std::string line = nl == std::string::npos ? platform::rootPath(systemPath) : record.substr(nl + 1);
        alerts::raise_for(alerts::kFileReplaced, systemPath, line + " (at an earlier start; not saved since)",
                          copy >= 1 && copy <= kKeptCopies ? copy : 0);
        ++said;
    });
    return said;
}

void settle_us(unsigned int usec)
{
    if (!platform::isSim())
        ::usleep(usec);
}

void sync_and_settle(unsigned int usec)
{
    Utils::system_mutex(QStringLiteral("sync"));
    settle_us(usec);
}

}  // namespace filestore
