#pragma once
// Turns the operating system's requests to stop (Ctrl-C, a plain kill) into
// something an event loop can wait on. The signal handler only writes one
// byte into a pipe; the program watches the pipe's read end and ends itself
// in an orderly way on its own thread.

namespace platform {

// Installs the handlers for SIGINT and SIGTERM (once per process) and
// returns the descriptor that becomes readable when one of them arrives;
// -1 when the pipe could not be made.
int StopSignalDescriptor();

// Reads away the pending bytes on the descriptor so that it stops being
// readable. Never blocks.
void DrainStopSignals();

}  // namespace platform
