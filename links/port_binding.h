// A command port that another program holds: said at once on stderr and on the home page, and
// bound as soon as it is free (the link's thread tries again on each of its steps, about once a
// second while the port is not bound).
#pragma once

#include <functional>

#include "core/alerts.h"

class PortBinding {
public:
    // `link` names the link in the messages ("TCP", "UDP").
    PortBinding(alerts::Kind kind, const char* link) : kind_(kind), link_(link) {}

    // Calls `bind` (0 bound; otherwise errno tells why) and reports the outcome when it changed.
    // True when the port is bound.
    bool attempt(int port, const std::function<int()>& bind);

private:
    alerts::Kind kind_;
    const char* link_;
};
