// Shell commands. On the board system()/popen(); on the simulated board every command is
// journaled to $ZEL_ROOT/var/log/commands.log and answered from a script, and nothing that
// changes the machine ever runs.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/bounded_log.h"

namespace platform {

class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    // Runs a command like system(): returns the raw wait status (0 success, 256 for exit code 1),
    // or -1 when it could not be started.
    virtual int run(const std::string& command) = 0;
    // Runs a command like popen(cmd, "r") and returns its standard output; ok=false when the
    // pipe could not be opened.
    virtual std::string capture(const std::string& command, bool* ok = nullptr) = 0;
};

// The board: the real shell.
class ShellCommandRunner : public CommandRunner {
public:
    int run(const std::string& command) override;
    std::string capture(const std::string& command, bool* ok = nullptr) override;
};

// The simulated board's runner. Each command is appended to the journal file as one line,
// "YYYY-MM-DD HH:MM:SS.mmm command" in local time; a journal file that has reached
// kJournalFileLimit bytes is renamed to "commands.log.1" (replacing the previous one) and a new
// one started, so the journal never takes more than about twice that. Commands are matched
// against scripted answers by prefix (the longest matching prefix wins); unscripted commands
// succeed with no output. The daemons the system starts ("hostapd", "udhcpd", "udhcpc",
// "wpa_supplicant") are only remembered, so "pidof" answers for them until a "kill" naming them.
// The wired interface's hardware address is remembered too: "ifconfig eth0 hw ether <mac>" sets
// it and "ifconfig eth0 | grep HWaddr ..." prints it (kSimMac until set).
// File commands ("cp", "rm", "mv", "chmod", "dos2unix", "sed", "sync", "mkdir") act in-process,
// and only on paths inside the root; everything else is only journaled.
class SimCommandRunner : public CommandRunner {
public:
    struct Answer {
        int status = 0;        // raw wait status returned by run()
        std::string output;    // returned by capture()
    };

    static constexpr const char* kSimMac = "00:11:22:33:44:55";

    SimCommandRunner();
    int run(const std::string& command) override;
    std::string capture(const std::string& command, bool* ok = nullptr) override;

    void script(const std::string& prefix, Answer answer);
    void clearScript();
    // The commands seen so far, in order: at most the last kJournalLimit of them.
    static constexpr size_t kJournalLimit = 4096;
    static constexpr uintmax_t kJournalFileLimit = 1024 * 1024;
    std::vector<std::string> journal() const;
    void clearJournal();
    std::string journalPath() const;

private:
    Answer answerFor(const std::string& command);
    bool scripted(const std::string& command, Answer* answer) const;
    bool interfaceCommand(const std::string& command, Answer* answer);
    void record(const std::string& command);
    int runFileCommand(const std::string& command, bool* handled);
    bool daemonCommand(const std::string& command, Answer* answer);

    mutable std::mutex m_;
    std::vector<std::pair<std::string, Answer>> script_;
    // Bounded: the running system issues commands for as long as it runs.
    BoundedLog<std::string> journal_{kJournalLimit};
    std::vector<std::string> daemons_;  // "running" daemons, by name
    std::string mac_ = kSimMac;         // eth0's hardware address
};

}  // namespace platform
