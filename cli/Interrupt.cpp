#include "cli/Interrupt.h"

#include <csignal>
#include <initializer_list>

namespace tarnwell {

namespace {

volatile std::sig_atomic_t caught = 0;

void OnSignal(int signal) { caught = signal; }

}  // namespace

void CatchInterrupts()
{
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;  // the next one is the system's again
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    // Past a file size limit a write then fails, and the run cleans up, instead of the
    // process dying with a partial output behind it.
    std::signal(SIGXFSZ, SIG_IGN);
}

int CaughtSignal() { return caught; }

RunnerControl InterruptibleControl(int jobs, std::atomic<bool>& stop, bool showProgress, std::ostream& err,
                                   const char* unit)
{
    RunnerControl control;
    control.threads = jobs;
    control.stop = &stop;
    control.progress = [&stop, &err, showProgress, unit](int done, int total) {
        if (CaughtSignal() != 0) {
            stop = true;
        }
        if (showProgress) {
            err << "\r\x1b[K" << done << '/' << total << ' ' << unit << std::flush;
        }
    };
    return control;
}

}  // namespace tarnwell
