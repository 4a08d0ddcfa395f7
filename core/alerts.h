// Conditions the box cannot mend by itself and the operator must know about: settings that are
// not being saved, a data folder that cannot be written, a command port that cannot be bound, a
// settings file that refuses changes.
//
// Each condition is printed on stderr when it starts and when it ends (always, whatever the
// diagnostics switch says), and the front panel's home page shows the ones in force. Any thread
// may raise or clear a condition. A condition may be about one subject (a file): the same kind
// is then in force once per subject, each raised and cleared on its own.
#pragma once

#include <string>
#include <vector>

namespace alerts {

enum Kind {
    kSettingsNotSaved,   // the parameter file or a mode file could not be written
    kDataNotWritable,    // the data folder refused a file at start
    kTcpPortNotBound,    // the TCP command port is taken
    kUdpPortNotBound,    // the UDP command port is taken
    kSettingsFileNotWritten,   // the settings file (addresses, barcode, languages) refused a change
    kFileReplaced,       // a file found unusable was moved aside and replaced (subject: its path)
    kKindCount
};

// Starts (or restates with a new detail) a condition. `detail` is the stderr line's text; `arg`
// goes into the panel's line (a port number, 0 when none). A condition already in force with the
// same detail prints nothing again.
void raise(Kind kind, const std::string& detail, int arg = 0);
// Ends a condition; prints `ended` when it was in force.
void clear(Kind kind, const std::string& ended);
// The same for the condition about one subject (a system path such as "/data/configs/tcpip.ini").
void raise_for(Kind kind, const std::string& subject, const std::string& detail, int arg = 0);
void clear_for(Kind kind, const std::string& subject, const std::string& ended);
// raise_for for a new event (a file found unusable again): its line is printed even when the
// same condition with the same detail is in force.
void event_for(Kind kind, const std::string& subject, const std::string& detail, int arg = 0);

// In force (about any subject).
bool active(Kind kind);
bool active_for(Kind kind, const std::string& subject);

struct Active {
    Kind kind;
    int arg;
    std::string subject;   // empty for a condition about no subject
};
// The conditions in force, in the order of Kind, then of subject.
std::vector<Active> inForce();

// Forgets every condition without printing (tests start each case clean).
void reset();

}  // namespace alerts
