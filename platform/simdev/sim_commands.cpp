#include "platform/command_runner.h"
#include "platform/clock.h"
#include "platform/platform.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace platform {

namespace {

std::vector<std::string> words(const std::string& command)
{
    std::vector<std::string> out;
    std::istringstream in(command);
    std::string w;
    while (in >> w)
        out.push_back(w);
    return out;
}

// A path a simulated file command may touch: absolute, no "..", mapped under the root.
bool simPath(const std::string& path, fs::path* out)
{
    if (path.empty() || path[0] != '/' || path.find("..") != std::string::npos)
        return false;
    if (root().empty())
        return false;  // never touch the host's own files
    *out = fs::path(rootPath(path));
    return true;
}

std::string readAll(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void writeAll(const fs::path& p, const std::string& bytes)
{
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Local time to the millisecond: "2026-12-06 23:40:01.123".
std::string timestamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t secs = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&secs, &local);
    char text[32];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(ms));
    return text;
}

bool isShellCompound(const std::string& command)
{
    return command.find_first_of(";|&<>`$") != std::string::npos;
}

// "date [-s] "Y-M-D h:m:s"..." sets the simulated board's clock (never the machine's).
void applyDate(const std::string& command)
{
    if (command.rfind("date ", 0) != 0)
        return;
    const size_t open = command.find('"');
    const size_t close = open == std::string::npos ? open : command.find('"', open + 1);
    if (close == std::string::npos)
        return;
    const QString text = QString::fromStdString(command.substr(open + 1, close - open - 1));
    const QDateTime at = QDateTime::fromString(text, "yyyy-M-d H:m:s");
    if (at.isValid())
        setSimClock(at);
}

}  // namespace

SimCommandRunner::SimCommandRunner() = default;

std::string SimCommandRunner::journalPath() const { return rootPath("/var/log/commands.log"); }

void SimCommandRunner::record(const std::string& command)
{
    std::lock_guard<std::mutex> lock(m_);
    journal_.push(command);
    if (root().empty())
        return;
    makeParentDirs("/var/log/commands.log");
    const std::string path = journalPath();
    std::error_code ec;
    if (fs::file_size(path, ec) >= kJournalFileLimit && !ec)
        fs::rename(path, path + ".1", ec);   // the older half is kept once, then dropped
    std::ofstream f(path, std::ios::app);
    f << timestamp() << ' ' << command << '\n';
}

bool SimCommandRunner::scripted(const std::string& command, Answer* answer) const
{
    std::lock_guard<std::mutex> lock(m_);
    const Answer* best = nullptr;
    size_t bestLen = 0;
    for (const auto& entry : script_) {
        if (command.compare(0, entry.first.size(), entry.first) == 0 && entry.first.size() >= bestLen) {
            best = &entry.second;
            bestLen = entry.first.size();
        }
    }
    if (best)
        *answer = *best;
    return best != nullptr;
}

bool SimCommandRunner::interfaceCommand(const std::string& command, Answer* answer)
{
    std::vector<std::string> w = words(command);
    std::lock_guard<std::mutex> lock(m_);
    if (w.size() == 5 && w[0] == "ifconfig" && w[1] == "eth0" && w[2] == "hw" && w[3] == "ether") {
        mac_ = w[4];
        *answer = Answer{};
        return true;
    }
    if (w.size() >= 4 && w[0] == "ifconfig" && w[1] == "eth0" && w[2] == "|" && w[3] == "grep" &&
        command.find("HWaddr") != std::string::npos) {
        *answer = Answer{0, mac_ + "\n"};
        return true;
    }
    return false;
}

// A scripted answer first, then the wired interface's address; anything else succeeds silently.
SimCommandRunner::Answer SimCommandRunner::answerFor(const std::string& command)
{
    Answer a;
    if (!scripted(command, &a))
        interfaceCommand(command, &a);
    return a;
}

int SimCommandRunner::runFileCommand(const std::string& command, bool* handled)
{
    *handled = false;
    if (isShellCompound(command))
        return 0;
    std::vector<std::string> w = words(command);
    if (w.empty())
        return 0;
    const std::string& verb = w[0];
    std::vector<std::string> args;
    for (size_t i = 1; i < w.size(); ++i)
        if (w[i][0] != '-')
            args.push_back(w[i]);
    std::error_code ec;
    fs::path a, b;
    if (verb == "sync") {
        *handled = true;
        return 0;
    }
    if (verb == "rm") {
        *handled = true;
        for (const auto& arg : args) {
            if (!simPath(arg, &a))
                return 256;
            fs::remove_all(a, ec);
        }
        return 0;
    }
    if (verb == "mkdir") {
        *handled = true;
        for (const auto& arg : args) {
            if (!simPath(arg, &a))
                return 256;
            fs::create_directories(a, ec);
        }
        return ec ? 256 : 0;
    }
    if (verb == "cp" || verb == "mv") {
        *handled = true;
        if (args.size() != 2 || !simPath(args[0], &a) || !simPath(args[1], &b))
            return 256;
        if (fs::is_directory(b))
            b /= a.filename();
        if (verb == "cp")
            fs::copy(a, b, fs::copy_options::overwrite_existing | fs::copy_options::recursive, ec);
        else
            fs::rename(a, b, ec);
        return ec ? 256 : 0;
    }
    if (verb == "chmod") {
        *handled = true;
        if (args.size() < 2)
            return 256;
        for (size_t i = 1; i < args.size(); ++i)
            if (!simPath(args[i], &a) || !fs::exists(a))
                return 256;
        return 0;
    }
    if (verb == "dos2unix") {
        *handled = true;
        if (args.size() != 1 || !simPath(args[0], &a) || !fs::exists(a))
            return 256;
        std::string s = readAll(a), out;
        for (size_t i = 0; i < s.size(); ++i)
            if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n'))
                out += s[i];
        writeAll(a, out);
        return 0;
    }
    if (verb == "sed" && w.size() == 4 && w[1] == "-i") {
        // The one edit the system makes: deleting UTF-8 byte-order marks.
        const std::string bomEdit = "'s/\xEF\xBB\xBF//g'";
        *handled = true;
        if (w[2] != bomEdit || !simPath(w[3], &a) || !fs::exists(a))
            return 256;
        std::string s = readAll(a);
        for (size_t pos; (pos = s.find("\xEF\xBB\xBF")) != std::string::npos;)
            s.erase(pos, 3);
        writeAll(a, s);
        return 0;
    }
    return 0;
}

bool SimCommandRunner::daemonCommand(const std::string& command, Answer* answer)
{
    static const char* const kDaemons[] = {"hostapd", "udhcpd", "udhcpc", "wpa_supplicant"};
    std::vector<std::string> w = words(command);
    if (w.empty())
        return false;
    std::lock_guard<std::mutex> lock(m_);
    auto running = [this](const std::string& name) {
        return std::find(daemons_.begin(), daemons_.end(), name) != daemons_.end();
    };
    if (w[0] == "pidof" && w.size() == 2) {
        bool up = running(w[1]);
        *answer = Answer{up ? 0 : 256, up ? "4242\n" : ""};
        return true;
    }
    if (w[0] == "kill" || w[0] == "killall") {
        for (const char* d : kDaemons)
            if (command.find(d) != std::string::npos)
                daemons_.erase(std::remove(daemons_.begin(), daemons_.end(), d), daemons_.end());
        return false;  // the status may still be scripted
    }
    for (const char* d : kDaemons)
        if (w[0] == d && !running(d))
            daemons_.push_back(d);
    return false;
}

int SimCommandRunner::run(const std::string& command)
{
    record(command);
    applyDate(command);
    Answer daemon;
    if (daemonCommand(command, &daemon))
        return daemon.status;
    bool handled = false;
    int status = runFileCommand(command, &handled);
    if (handled)
        return status;
    return answerFor(command).status;
}

std::string SimCommandRunner::capture(const std::string& command, bool* ok)
{
    record(command);
    if (ok)
        *ok = true;
    Answer daemon;
    if (daemonCommand(command, &daemon))
        return daemon.output;
    return answerFor(command).output;
}

void SimCommandRunner::script(const std::string& prefix, Answer answer)
{
    std::lock_guard<std::mutex> lock(m_);
    for (auto& entry : script_) {
        if (entry.first == prefix) {
            entry.second = std::move(answer);
            return;
        }
    }
    script_.emplace_back(prefix, std::move(answer));
}

void SimCommandRunner::clearScript()
{
    std::lock_guard<std::mutex> lock(m_);
    script_.clear();
}

std::vector<std::string> SimCommandRunner::journal() const
{
    std::lock_guard<std::mutex> lock(m_);
    return journal_.entries();
}

void SimCommandRunner::clearJournal()
{
    std::lock_guard<std::mutex> lock(m_);
    journal_.clear();
}

}  // namespace platform
