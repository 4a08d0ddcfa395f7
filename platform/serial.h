// Serial ports through termios, with the RS-485 transmit direction on the RTS line. The same
// code serves the board and the simulated board (where "/dev/ttyS2" under the root may be a
// pseudo-terminal that refuses the modem-line ioctls; that is tolerated).
#pragma once

#include <string>

namespace platform {

// Opens a system path ("/dev/ttyS2"), raw, 8N1, at the given baud rate. -1 on failure.
int serialOpen(const std::string& devicePath, int baud);
// RS-485 direction: transmit (RTS asserted) or receive. 0, or -1 when the line refused
// (pseudo-terminals do; callers go on).
int serialSetTransmit(int fd, bool transmit);
// Waits until everything written has left the port.
void serialDrain(int fd);

}  // namespace platform
