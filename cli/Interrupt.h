// Interrupt: SIGINT, SIGTERM and SIGHUP end a command-line run at the next frame instead of
// killing the process mid-write, so the output is emptied and the exit status says why.
#pragma once

#include <atomic>
#include <ostream>

#include "evidence/PassRunner.h"

namespace tarnwell {

// Installs the handlers; a second signal of the same kind kills the process as usual. A
// file size limit makes writes fail rather than kill the process.
void CatchInterrupts();

// The signal caught so far, or 0.
int CaughtSignal();

// A verb's control of many passes on jobs threads: a caught signal raises stop, and with
// showProgress "done/total unit" is redrawn on err.
RunnerControl InterruptibleControl(int jobs, std::atomic<bool>& stop, bool showProgress, std::ostream& err,
                                   const char* unit);

}  // namespace tarnwell
