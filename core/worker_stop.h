// The orderly end of the box's worker threads, before anything they use is destroyed.
#pragma once

// Stops the worker threads, each after those that hand it work: the commands run apart from the
// links (queued ones refused, a running erase ended between two units), the links (they wait for the
// video engine's and the LED output's replies), the video engine (it reads the inputs and drives
// the select lines of the LED output), the input poll, the LED output. The objects stay; a
// worker that does not run is passed over, so a second call does nothing. Call it on the thread
// that started the workers.
void stopWorkers();

// After stopWorkers(), on the dispatcher's thread: what the box acknowledged and its stopped
// workers had not carried out is carried out or stored, so the next start shows it. A brightness
// the LED output had not applied goes into its record; the reports the workers posted are served,
// the parameter file saved and the mode files written, those of a mode save the video engine had
// not reported yet (its pass waited for an LED-size hand-over) included.
void finishAcknowledgedWork();

// The box was asked to stop (a stop signal). Set from a signal handler, so it is safe there, and
// never cleared: every wait that can outlast a tick (the engine's LED hand-over, the start-up
// pause) ends on it, since the GUI tick those waits count no longer runs once the event loop ends.
void requestStop();
bool stopRequested();
