// Ctrl-C, SIGTERM and a hang-up end the console as the end of its input
// does: the line loop stops and the bus is closed in the normal flow.
//
// The signals are held back while commands run, so no bus call is cut
// short, and let through only while the console waits for input.
#pragma once

namespace end_signals {

// Installs the handlers (no SA_RESTART) and holds the signals back.
void install();

// The signal that asked the console to end, or 0. One sent while commands
// ran counts from this call on.
int received();

// Waits until `fd` has input (or an error or hang-up to report). False
// when an end signal came first or was already pending.
bool wait_for_input(int fd);

}  // namespace end_signals
