// Interrupt: SIGINT, SIGTERM and SIGHUP end a command-line run at the next frame instead of
// killing the process mid-write, so the output is emptied and the exit status says why.
#pragma once

namespace tarnwell {

// Installs the handlers; a second signal of the same kind kills the process as usual. A
// file size limit makes writes fail rather than kill the process.
void CatchInterrupts();

// The signal caught so far, or 0.
int CaughtSignal();

}  // namespace tarnwell
